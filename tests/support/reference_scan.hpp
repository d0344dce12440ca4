#pragma once

// A byte-at-a-time model of the scan, written straight from its description and
// sharing no code with the scanner, to check the scanner against.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace fwtally::testing {

// A version as reported: its bytes and the image offset of its marker's first byte.
struct found_version {
    std::string text;
    std::uint64_t offset;
    bool operator==(const found_version&) const = default;
};

inline void PrintTo(const found_version& version, std::ostream* stream) {
    *stream << '"' << version.text << "\" at " << version.offset;
}

// The versions reported for an image of at least eight bytes, in order.
inline std::vector<found_version> reference_versions(std::string_view image) {
    std::array<unsigned char, 8> window{};
    for (std::size_t i = 0; i < 8; ++i) {
        window[i] = static_cast<unsigned char>(image[i]);
    }
    std::array<unsigned char, 8> held{};
    std::uint64_t held_offset = 0;
    bool pending = false;
    std::size_t next = 8;  // the window holds the bytes before this offset
    std::vector<found_version> versions;
    for (;;) {
        if ((window[1] == '.' || window[2] == '.') && window[6] == '_' && window[7] == '_') {
            held = window;
            held_offset = next - 8;
            pending = true;
        }
        for (std::size_t i = 0; i < 7; ++i) {
            window[i] = window[i + 1];
        }
        const bool end_of_file = next == image.size();
        window[7] = end_of_file ? 0xFF : static_cast<unsigned char>(image[next++]);
        if (pending && window[7] != '_') {
            pending = false;
            std::string text;
            for (std::size_t i = 0; i < 6 && held[i] != '_'; ++i) {
                text += static_cast<char>(held[i]);
            }
            versions.push_back({text, held_offset});
            if (versions.size() == 7) {
                break;
            }
        }
        if (end_of_file) {
            break;
        }
    }
    return versions;
}

// The report lines for an image of at least eight bytes.
inline std::string reference_report(std::string_view image) {
    constexpr std::array<std::string_view, 7> labels{"CD-R",  "CD-RW",  "DVD-R", "DVD-RW",
                                                     "DVD+R", "DVD+RW", "DVD+R9"};
    std::string report;
    std::size_t line = 0;
    for (const found_version& version : reference_versions(image)) {
        report += labels[line++];
        report += " version: ";
        report += version.text;
        report += '\n';
    }
    return report;
}

}  // namespace fwtally::testing
