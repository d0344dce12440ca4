#pragma once

// Marker images and the report lines they give, for the tests to build on.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "report_writer.hpp"

namespace fwtally::testing {

// "Qn.2345__" for n = 1..9, then round again: the window "n.2345__" matches, and
// the next marker's 'Q' ends its run of underscores and reports "n.2345".
inline std::string numbered_markers(std::size_t count) {
    std::string image;
    for (std::size_t n = 0; n < count; ++n) {
        image += "Q" + std::to_string(n % 9 + 1) + ".2345__";
    }
    return image;
}

// The report lines for these marker texts, labelled in order.
inline std::string report_lines(std::initializer_list<std::string_view> texts) {
    std::string lines;
    std::size_t index = 0;
    for (const std::string_view text : texts) {
        lines += media_labels.at(index++);
        lines += " version: ";
        lines += text;
        lines += '\n';
    }
    return lines;
}

inline const std::string seven_numbered_lines =
    report_lines({"1.2345", "2.2345", "3.2345", "4.2345", "5.2345", "6.2345", "7.2345"});

// Where the markers of the first seven lines start: each "n.2345__" one byte into
// its nine.
inline const std::vector<std::uint64_t> seven_numbered_offsets{1, 10, 19, 28, 37, 46, 55};

}  // namespace fwtally::testing
