#pragma once

// A byte-at-a-time model of the scan, written straight from its description and
// sharing no code with the scanner, to check the scanner against.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace fwtally::testing {

// The report lines for an image of at least eight bytes.
inline std::string reference_report(std::string_view image) {
    constexpr std::array<std::string_view, 7> labels{"CD-R",  "CD-RW",  "DVD-R", "DVD-RW",
                                                     "DVD+R", "DVD+RW", "DVD+R9"};
    std::array<unsigned char, 8> window{};
    for (std::size_t i = 0; i < 8; ++i) {
        window[i] = static_cast<unsigned char>(image[i]);
    }
    std::array<unsigned char, 8> held{};
    bool pending = false;
    std::size_t next = 8;
    std::size_t lines = 0;
    std::string report;
    for (;;) {
        if ((window[1] == '.' || window[2] == '.') && window[6] == '_' && window[7] == '_') {
            held = window;
            pending = true;
        }
        for (std::size_t i = 0; i < 7; ++i) {
            window[i] = window[i + 1];
        }
        const bool end_of_file = next == image.size();
        window[7] = end_of_file ? 0xFF : static_cast<unsigned char>(image[next++]);
        if (pending && window[7] != '_') {
            pending = false;
            report += labels[lines];
            report += " version: ";
            for (std::size_t i = 0; i < 6 && held[i] != '_'; ++i) {
                report += static_cast<char>(held[i]);
            }
            report += '\n';
            if (++lines == labels.size()) {
                break;
            }
        }
        if (end_of_file) {
            break;
        }
    }
    return report;
}

}  // namespace fwtally::testing
