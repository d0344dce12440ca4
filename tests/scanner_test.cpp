#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "reference_scan.hpp"
#include "scan_runs.hpp"
#include "temporary_file.hpp"

namespace fwtally::testing {
namespace {

using namespace std::string_literals;

struct scan_case {
    const char* name;
    std::string image;
    std::string expected;
    std::vector<std::uint64_t> offsets;  // where each reported marker starts
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
    {"EightByteMarkerReportedAtEndOfFile", "1.23____", report_lines({"1.23"}), {0}},
    {"EightBytesWithoutMarker", "12345678", "", {}},
    {"DotAtPositionZeroDoesNotMatch", ".12345__Y", "", {}},
    {"DotAtPositionThreeDoesNotMatch", "Xab.cd__Y", "", {}},
    {"DotsAtPositionsOneAndTwo", "a..bcd__z", report_lines({"a..bcd"}), {0}},
    {"ReportedWhenFourUnderscoresEnd", "x12.3____y", report_lines({"12.3"}), {1}},
    {"FifthUnderscoreLetsALaterWindowWin", "x12.3_____y", report_lines({"2.3"}), {2}},
    {"LongerRunKeepsTheLastMatch", "x12.3________y", report_lines({"2.3"}), {2}},
    {"LatestMatchingWindowWins", "xx1.23____yy", report_lines({"1.23"}), {2}},
    {"NoLaterDotKeepsTheMarker", "xx1.23________yy", report_lines({"1.23"}), {2}},
    {"ThreeUnderscoresKeepTheFirstByte", "x1.23___y", report_lines({"x1.23"}), {0}},
    {"TextStopsAtFirstUnderscore", "A_.1____z", report_lines({"A"}), {0}},
    {"UnderscoreAtPositionZeroPrintsNoText", "_.12____z", report_lines({""}), {0}},
    {"SixBytesWithoutUnderscore", "9.9999__z", report_lines({"9.9999"}), {0}},
    {"MarkerAtEndOfLongerImage", "zzzz1.23____", report_lines({"1.23"}), {4}},
    {"EndOfFileFillerIsNoUnderscore", "zzzx1.2345_", "", {}},
    {"RawBytesWrittenUnchanged", "\0.\n\x1b\xff\x80__z"s, report_lines({"\0.\n\x1b\xff\x80"s}), {0}},
    {"AdjacentMarkers", "1.23____5.67____", report_lines({"1.23", "5.67"}), {0, 8}},
    {"FewerThanSevenMarkers", numbered_markers(3),
     report_lines({"1.2345", "2.2345", "3.2345"}), {1, 10, 19}},
    {"SevenMarkers", numbered_markers(7), seven_numbered_lines, seven_numbered_offsets},
    {"NineMarkersGiveSevenLines", numbered_markers(9), seven_numbered_lines, seven_numbered_offsets},
    {"LongUnderscoreRunAcrossBlocks", "x12.3" + repeated("_", 200'000) + "y",
     report_lines({"2.3"}), {2}},
    {"PendingMarkerAfterLongRunAtEndOfFile", "x12.3" + repeated("_", 70'000),
     report_lines({"2.3"}), {2}},
    {"UnderscorePairsWithoutDots", repeated("abcdef__", 10'000), "", {}},
    // Chunks and strides count from the end of the first eight bytes. The second
    // stride holds a dot but no underscore and is passed over; the underscore that
    // ends the first stride must not pair with the one that starts the third.
    {"PassedOverStrideCarriesItsUnderscores",
     [] {
         std::string image = "AAAAAAAA" + std::string(514, 'a');
         image[8 + 0] = '.';
         image[8 + 506] = '.';
         image[8 + 255] = '_';
         image[8 + 512] = '_';
         image[8 + 513] = 'z';
         return image;
     }(),
     "",
     {}},
    // The first marker's run ends on the first byte of the second stride, which holds
    // a dot but no underscore: with a marker pending it must still be scanned.
    {"PendingMarkerEndsInAStrideWithoutUnderscores",
     [] {
         std::string image(600, 'f');
         image.replace(256, 8, "x1.23___");
         image.replace(514, 9, "x.abcd__Z");
         return image;
     }(),
     report_lines({"x1.23", "x.abcd"}),
     {256, 514}},
};

class ScannerTable : public ::testing::TestWithParam<std::tuple<scan_case, simd_level>> {};

std::vector<std::uint64_t> offsets_of(const std::vector<found_version>& versions) {
    std::vector<std::uint64_t> offsets(versions.size());
    std::transform(versions.begin(), versions.end(), offsets.begin(),
                   [](const found_version& version) { return version.offset; });
    return offsets;
}

TEST_P(ScannerTable, PrintsTheExpectedLinesAndOffsetsAtEveryBlockCapacity) {
    const auto& [test_case, level] = GetParam();
    for (const std::size_t capacity : block_capacities) {
        SCOPED_TRACE(::testing::Message() << "capacity " << capacity);
        const scan_run run = scan_image(test_case.image, capacity, level);
        EXPECT_EQ(run.output, test_case.expected);
        EXPECT_EQ(offsets_of(run.versions), test_case.offsets);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ScannerTable,
                         ::testing::Combine(::testing::ValuesIn(scan_cases),
                                            ::testing::ValuesIn(supported_simd_levels())),
                         [](const auto& parameter) {
                             return std::string(std::get<0>(parameter.param).name) + "_" +
                                    simd_level_name(std::get<1>(parameter.param));
                         });

TEST(ScannerTableCheck, ReferenceModelAgreesWithEveryCase) {
    for (const scan_case& test_case : scan_cases) {
        EXPECT_EQ(reference_report(test_case.image), test_case.expected) << test_case.name;
        EXPECT_EQ(offsets_of(reference_versions(test_case.image)), test_case.offsets)
            << test_case.name;
    }
}

// Filler that is neither dot nor underscore leaves each marker's lines unchanged
// wherever it starts, so one expectation serves every placement.
class ScannerPlacement : public ::testing::TestWithParam<simd_level> {};

TEST_P(ScannerPlacement, MarkersStraddlingChunkAndBlockBoundaries) {
    const simd_level level = GetParam();
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
        std::vector<std::uint64_t> marker_offsets(seven_numbered_offsets.size());
        std::transform(seven_numbered_offsets.begin(), seven_numbered_offsets.end(),
                       marker_offsets.begin(), [&](std::uint64_t at) { return at + offset; });
        for (const std::size_t capacity : block_capacities) {
            if (offset > 100 && capacity < 64) {
                continue;  // long images at tiny capacities add time, not coverage
            }
            SCOPED_TRACE(::testing::Message() << "offset " << offset << ", capacity " << capacity);
            const scan_run run = scan_image(image, capacity, level);
            EXPECT_EQ(run.output, seven_numbered_lines);
            EXPECT_EQ(offsets_of(run.versions), marker_offsets);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, ScannerPlacement, ::testing::ValuesIn(supported_simd_levels()),
                         simd_level_test_name);

// A marker still pending when a stride ends is reported by the next stride's first
// byte that is not an underscore, even in a stride with no underscore at all. Were
// that stride passed over, a later marker whose underscores start the stride after
// it would replace the pending one unreported. The first marker's run is put to
// end at every position around the stride edges (strides count from the start of
// each block), at block capacities that move those edges about, with the second
// marker's underscores 257 or 513 bytes later: at the start of a stride whenever
// the first run ends a stride.
TEST_P(ScannerPlacement, PendingMarkerCarriedIntoAStrideWithoutUnderscores) {
    const simd_level level = GetParam();
    const std::string first = "x1.23_____";
    const std::string second = "x.abcd__Z";
    const file_handle output = file_holding("");
    ASSERT_TRUE(output);
    for (const std::size_t capacity :
         {std::size_t{256}, std::size_t{257}, std::size_t{300}, std::size_t{513}, default_block_capacity}) {
        for (const std::size_t gap : {std::size_t{250}, std::size_t{506}}) {
            for (std::size_t run_end = first.size() - 1; run_end < 2 * 256 + 16; ++run_end) {
                std::string image(run_end + 1 - first.size(), 'f');
                image += first;
                image += std::string(gap, 'f');
                const std::uint64_t second_offset = image.size();
                image += second;
                SCOPED_TRACE(::testing::Message() << "run ends at " << run_end << ", gap " << gap
                                                  << ", capacity " << capacity);
                const scan_result scanned = scan_in_blocks(image, capacity, level, output.get());
                EXPECT_EQ(scanned.lines, report_lines({"1.23", "x.abcd"}));
                EXPECT_EQ(offsets_of(scanned.versions),
                          (std::vector<std::uint64_t>{run_end + 2 - first.size(), second_offset}));
            }
        }
    }
}

#if (defined(__x86_64__) || defined(_M_X64)) && defined(__linux__)
// What the kernel says this processor runs, as an oracle independent of the
// scanner's own detection.
bool cpu_has_flag(const std::string& flag) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) == 0) {
            std::istringstream flags(line.substr(line.find(':') + 1));
            std::string word;
            while (flags >> word) {
                if (word == flag) {
                    return true;
                }
            }
            return false;
        }
    }
    return false;
}
#endif

TEST(SimdLevelChoice, TheFastestSupportedLevelIsChosen) {
    const simd_level best = best_simd_level();
    EXPECT_EQ(best, supported_simd_levels().back()) << simd_level_name(best);
#if defined(__x86_64__) || defined(_M_X64)
    EXPECT_NE(best, simd_level::portable) << "SSE2 is part of every x86-64 processor";
#if defined(__linux__)
    const simd_level expected = cpu_has_flag("avx512bw") && cpu_has_flag("avx512f") ? simd_level::avx512
                                : cpu_has_flag("avx2")                               ? simd_level::avx2
                                                                                     : simd_level::sse2;
    EXPECT_EQ(best, expected) << simd_level_name(best) << " chosen, " << simd_level_name(expected)
                              << " expected from /proc/cpuinfo";
#endif
#elif defined(__aarch64__)
    EXPECT_EQ(best, simd_level::neon) << simd_level_name(best);
#else
    EXPECT_EQ(best, simd_level::portable) << simd_level_name(best);
#endif
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
