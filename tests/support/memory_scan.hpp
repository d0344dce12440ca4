#pragma once

#include <algorithm>
#include <span>

#include "scanner.hpp"

namespace fwtally::testing {

// Scans `image` (at least eight bytes) held in memory, handing it to the scan in
// blocks of `capacity` bytes as the reading loop would. Answers true when the
// seventh line stopped the scan before the end.
inline bool scan_in_memory(std::span<const unsigned char> image, std::size_t capacity,
                           simd_level level, report_writer& writer) {
    scan_window first_window;
    std::copy_n(image.begin(), first_window.size(), first_window.begin());
    scan_state state = start_scan(first_window, level);
    for (std::size_t start = first_window.size(); start < image.size(); start += capacity) {
        if (scan_block(state, image.subspan(start, std::min(capacity, image.size() - start)),
                       writer)) {
            return true;
        }
    }
    end_scan(state, writer);
    return false;
}

}  // namespace fwtally::testing
