#include <gtest/gtest.h>

#include <string>

#include "reference_scan.hpp"
#include "scan_runs.hpp"

namespace fwtally::testing {
namespace {

using namespace std::string_literals;

struct scan_case {
    const char* name;
    std::string image;
    std::string expected;
};

void PrintTo(const scan_case& test_case, std::ostream* stream) { *stream << test_case.name; }

std::string repeated(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

const std::vector<scan_case> scan_cases{
    {"EightByteMarkerReportedAtEndOfFile", "1.23____", report_lines({"1.23"})},
    {"EightBytesWithoutMarker", "12345678", ""},
    {"DotAtPositionZeroDoesNotMatch", ".12345__Y", ""},
    {"DotAtPositionThreeDoesNotMatch", "Xab.cd__Y", ""},
    {"DotsAtPositionsOneAndTwo", "a..bcd__z", report_lines({"a..bcd"})},
    {"ReportedWhenFourUnderscoresEnd", "x12.3____y", report_lines({"12.3"})},
    {"FifthUnderscoreLetsALaterWindowWin", "x12.3_____y", report_lines({"2.3"})},
    {"LongerRunKeepsTheLastMatch", "x12.3________y", report_lines({"2.3"})},
    {"LatestMatchingWindowWins", "xx1.23____yy", report_lines({"1.23"})},
    {"NoLaterDotKeepsTheMarker", "xx1.23________yy", report_lines({"1.23"})},
    {"ThreeUnderscoresKeepTheFirstByte", "x1.23___y", report_lines({"x1.23"})},
    {"TextStopsAtFirstUnderscore", "A_.1____z", report_lines({"A"})},
    {"UnderscoreAtPositionZeroPrintsNoText", "_.12____z", report_lines({""})},
    {"SixBytesWithoutUnderscore", "9.9999__z", report_lines({"9.9999"})},
    {"MarkerAtEndOfLongerImage", "zzzz1.23____", report_lines({"1.23"})},
    {"EndOfFileFillerIsNoUnderscore", "zzzx1.2345_", ""},
    {"RawBytesWrittenUnchanged", "\0.\n\x1b\xff\x80__z"s, report_lines({"\0.\n\x1b\xff\x80"s})},
    {"AdjacentMarkers", "1.23____5.67____", report_lines({"1.23", "5.67"})},
    {"FewerThanSevenMarkers", numbered_markers(3),
     report_lines({"1.2345", "2.2345", "3.2345"})},
    {"SevenMarkers", numbered_markers(7), seven_numbered_lines},
    {"NineMarkersGiveSevenLines", numbered_markers(9), seven_numbered_lines},
    {"LongUnderscoreRunAcrossBlocks", "x12.3" + repeated("_", 200'000) + "y",
     report_lines({"2.3"})},
    {"PendingMarkerAfterLongRunAtEndOfFile", "x12.3" + repeated("_", 70'000),
     report_lines({"2.3"})},
    {"UnderscorePairsWithoutDots", repeated("abcdef__", 10'000), ""},
};

class ScannerTable : public ::testing::TestWithParam<scan_case> {};

TEST_P(ScannerTable, PrintsTheExpectedLinesAtEveryBlockCapacityAndSimdLevel) {
    const scan_case& test_case = GetParam();
    for (const simd_level level : supported_simd_levels()) {
        for (const std::size_t capacity : block_capacities) {
            SCOPED_TRACE(::testing::Message()
                         << "simd level " << simd_level_name(level) << ", capacity " << capacity);
            EXPECT_EQ(scan_image(test_case.image, capacity, level).output, test_case.expected);
        }
    }
}

TEST_P(ScannerTable, ReferenceModelAgrees) {
    EXPECT_EQ(reference_report(GetParam().image), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScannerTable, ::testing::ValuesIn(scan_cases),
                         [](const ::testing::TestParamInfo<scan_case>& parameter) {
                             return std::string(parameter.param.name);
                         });

// Filler that is neither dot nor underscore leaves each marker's lines unchanged
// wherever it starts, so one expectation serves every placement.
TEST(ScannerPlacement, MarkersStraddlingChunkAndBlockBoundaries) {
    const std::string markers = numbered_markers(9);
    std::vector<std::size_t> offsets;
    for (std::size_t offset = 0; offset <= 80; ++offset) {
        offsets.push_back(offset);
    }
    for (std::size_t offset = default_block_capacity - 90; offset <= default_block_capacity + 8;
         ++offset) {
        offsets.push_back(offset);
    }
    for (const std::size_t offset : offsets) {
        const std::string image = std::string(offset, 'f') + markers + "ffff";
        for (const simd_level level : supported_simd_levels()) {
            for (const std::size_t capacity : block_capacities) {
                if (offset > 100 && capacity < 64) {
                    continue;  // long images at tiny capacities add time, not coverage
                }
                SCOPED_TRACE(::testing::Message() << "offset " << offset << ", simd level "
                                                  << simd_level_name(level) << ", capacity "
                                                  << capacity);
                EXPECT_EQ(scan_image(image, capacity, level).output, seven_numbered_lines);
            }
        }
    }
}

TEST(ScannerStop, SeventhLineStopsTheScanAndTheReading) {
    const std::string image = numbered_markers(9);
    // The seventh marker is completed by the 'Q' that starts the eighth.
    const long completing_byte = static_cast<long>(numbered_markers(7).size());
    for (const std::size_t capacity : block_capacities) {
        SCOPED_TRACE(::testing::Message() << "capacity " << capacity);
        const scan_run run = scan_image(image, capacity, best_simd_level());
        EXPECT_EQ(run.end, scan_end::seventh_line);
        EXPECT_GT(run.position_after, completing_byte);
        EXPECT_LE(run.position_after, completing_byte + static_cast<long>(capacity));
    }
    EXPECT_EQ(scan_image(image, 1, best_simd_level()).position_after, completing_byte + 1);
}

TEST(ScannerStop, EndOfFileEndsTheScan) {
    for (const std::size_t capacity : block_capacities) {
        const scan_run run = scan_image(numbered_markers(6), capacity, best_simd_level());
        EXPECT_EQ(run.end, scan_end::end_of_file) << "capacity " << capacity;
    }
}

TEST(ScannerStop, OutOfRangeCapacitiesAreClamped) {
    const std::string image = numbered_markers(2);
    const std::string expected = report_lines({"1.2345", "2.2345"});
    EXPECT_EQ(scan_image(image, 0, best_simd_level()).output, expected);
    EXPECT_EQ(scan_image(image, default_block_capacity * 4, best_simd_level()).output, expected);
}

}  // namespace
}  // namespace fwtally::testing
