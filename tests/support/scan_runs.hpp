#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "markers.hpp"
#include "memory_scan.hpp"
#include "reference_scan.hpp"
#include "scanner.hpp"
#include "simd_levels.hpp"
#include "version_log.hpp"

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

// What a scan printed, and the versions its report writer was told of.
struct scan_result {
    std::string lines;
    std::vector<found_version> versions;
    bool operator==(const scan_result&) const = default;
};

inline void PrintTo(const scan_result& result, std::ostream* stream) {
    *stream << ::testing::PrintToString(result.lines) << ", versions "
            << ::testing::PrintToString(result.versions);
}

inline scan_result reference_result(std::string_view image) {
    return {reference_report(image), reference_versions(image)};
}

// What was written to `output` from its start up to where it stands.
inline std::string written_to(std::FILE* output) {
    const long written = std::ftell(output);
    std::string lines(static_cast<std::size_t>(written), '\0');
    std::rewind(output);
    EXPECT_EQ(std::fread(lines.data(), 1, lines.size(), output), lines.size());
    return lines;
}

// What the scan prints and reports for `image` fed in blocks of `capacity`,
// written to `output` from its start: one file serves many scans.
inline scan_result scan_in_blocks(std::string_view image, std::size_t capacity, simd_level level,
                                  std::FILE* output) {
    std::rewind(output);
    report_writer writer{output};
    scan_result result;
    log_versions(writer, result.versions);
    scan_in_memory(std::span(reinterpret_cast<const unsigned char*>(image.data()), image.size()),
                   capacity, level, writer);
    result.lines = written_to(output);
    return result;
}


}  // namespace fwtally::testing
