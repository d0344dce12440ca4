#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

namespace fwtally {

// The n-th marker found in the image is printed with the n-th label; nothing in
// the marker itself says which medium it belongs to.
inline constexpr std::array<std::string_view, 7> media_labels{
    "CD-R", "CD-RW", "DVD-R", "DVD-RW", "DVD+R", "DVD+RW", "DVD+R9"};

inline constexpr std::size_t marker_length = 8;

// A copy of the scan window that last matched the marker pattern.
using held_marker = std::array<unsigned char, marker_length>;

// Told of each version as its line is printed: the line's index, the version's
// bytes and the offset of its marker's first byte in the image.
using version_observer = void (*)(void* context, std::size_t index,
                                  std::span<const unsigned char> version, std::uint64_t offset);

struct report_writer {
    std::FILE* output;
    std::size_t report_index = 0;  // lines printed so far
    // For callers that show versions on their own, such as the browser page.
    version_observer observer = nullptr;
    void* observer_context = nullptr;
    // Called before each line is written, for a caller that must first make sure
    // the bytes behind the line are really the image's; where they are not, it
    // leaves by a jump, before anything is written.
    void (*before_line)() = nullptr;
};

// Prints "LABEL version: TEXT\n", TEXT being the marker's bytes before its first
// underscore (at most six), written raw, and tells the observer, if any, of TEXT
// and `offset`, where the marker starts in the image. Answers true once the
// seventh line is out. Write errors are left in the stream's error state for the
// caller to check.
bool report_version(report_writer& writer, const held_marker& marker, std::uint64_t offset);

}  // namespace fwtally
