#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "markers.hpp"
#include "reference_scan.hpp"
#include "scanner.hpp"
#include "simd_levels.hpp"

namespace fwtally {

// Shows a level by its name in test output.
inline void PrintTo(simd_level level, std::ostream* stream) {
    *stream << testing::simd_level_name(level);
}

}  // namespace fwtally

namespace fwtally::testing {

// The capacities that put a block boundary at every position of a short image,
// on both sides of a 64-byte chunk, and the capacity the tool uses.
inline const std::vector<std::size_t> block_capacities{1, 7, 8, 9, 64, default_block_capacity};

struct scan_run {
    std::string output;
    std::vector<found_version> versions;  // as the report writer's observer saw them
    scan_end end;
    long position_after;  // where the image stood when the scan returned
};

// Names tests parameterised by level after it, so that test lists show each level.
inline std::string simd_level_test_name(const ::testing::TestParamInfo<simd_level>& info) {
    return simd_level_name(info.param);
}

// Runs scan_markers over `image` (at least eight bytes) held in a temporary file.
scan_run scan_image(std::string_view image, std::size_t block_capacity, simd_level level);

}  // namespace fwtally::testing
