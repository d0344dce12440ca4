#include <gtest/gtest.h>

#include <string>

#include "report_writer.hpp"
#include "temporary_file.hpp"

namespace fwtally::testing {
namespace {

using namespace std::string_literals;

held_marker marker_of(std::string_view bytes) {
    held_marker marker{};
    std::copy_n(bytes.begin(), marker.size(), marker.begin());
    return marker;
}

struct text_case {
    std::string marker;
    std::string text;
};

TEST(ReportVersion, PrintsTheMarkerBytesBeforeTheFirstUnderscore) {
    const std::vector<text_case> cases{
        {"1.23____", "1.23"},
        {"9.9999__", "9.9999"},
        {"12345678", "123456"},  // positions 6 and 7 are never text
        {"A_.1____", "A"},
        {"_.12____", ""},
        {"\0.\n\x1b\xff\x80__"s, "\0.\n\x1b\xff\x80"s},
    };
    for (const text_case& test_case : cases) {
        const file_handle output = file_holding("");
        report_writer writer{output.get()};
        EXPECT_FALSE(report_version(writer, marker_of(test_case.marker), 0));
        EXPECT_EQ(contents_of(output.get()), "CD-R version: " + test_case.text + "\n");
    }
}

TEST(ReportVersion, LabelsFollowTheOrderOfReportsAndTheSeventhEndsTheTable) {
    const file_handle output = file_holding("");
    report_writer writer{output.get()};
    std::string expected;
    for (std::size_t line = 0; line < media_labels.size(); ++line) {
        const bool last = line + 1 == media_labels.size();
        EXPECT_EQ(report_version(writer, marker_of("1.00____"), 0), last) << "line " << line;
        expected += std::string(media_labels[line]) + " version: 1.00\n";
    }
    EXPECT_EQ(contents_of(output.get()), expected);
    EXPECT_EQ(expected,
              "CD-R version: 1.00\nCD-RW version: 1.00\nDVD-R version: 1.00\n"
              "DVD-RW version: 1.00\nDVD+R version: 1.00\nDVD+RW version: 1.00\n"
              "DVD+R9 version: 1.00\n");
}

}  // namespace
}  // namespace fwtally::testing
