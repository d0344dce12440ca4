#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string_view>

namespace fwtally {

// The n-th marker found in the image is printed with the n-th label; nothing in
// the marker itself says which medium it belongs to.
inline constexpr std::array<std::string_view, 7> media_labels{
    "CD-R", "CD-RW", "DVD-R", "DVD-RW", "DVD+R", "DVD+RW", "DVD+R9"};

inline constexpr std::size_t marker_length = 8;

// A copy of the scan window that last matched the marker pattern.
using held_marker = std::array<unsigned char, marker_length>;

struct report_writer {
    std::FILE* output;
    std::size_t report_index = 0;  // lines printed so far
};

// Prints "LABEL version: TEXT\n", TEXT being the marker's bytes before its first
// underscore (at most six), written raw. Answers true once the seventh line is out.
// Write errors are left in the stream's error state for the caller to check.
bool report_version(report_writer& writer, const held_marker& marker);

}  // namespace fwtally
