#include <gtest/gtest.h>

#include <string>

#include "driver.hpp"
#include "markers.hpp"
#include "scan_runs.hpp"
#include "temporary_file.hpp"

#ifdef __GLIBC__
#include <cerrno>
#include <sys/types.h>
#endif

namespace fwtally::testing {
namespace {

struct tally {
    exit_status status;
    std::string output;
};

tally tally_of(std::FILE* image) {
    const file_handle output = file_holding("");
    const exit_status status = tally_image(image, output.get());
    return {status, contents_of(output.get())};
}

TEST(TallyImage, ImagesShorterThanEightBytesAreRejected) {
    for (std::size_t length = 0; length < 8; ++length) {
        const file_handle image = file_holding(std::string(length, '_'));
        const tally result = tally_of(image.get());
        EXPECT_EQ(result.status, exit_status::short_image) << length << " bytes";
        EXPECT_EQ(result.output, "Error reading Firmware\n") << length << " bytes";
    }
}

TEST(TallyImage, ScansFromTheFirstByte) {
    const file_handle image = file_holding("1.23____");
    const tally result = tally_of(image.get());
    EXPECT_EQ(result.status, exit_status::success);
    EXPECT_EQ(result.output, report_lines({"1.23"}));
}

TEST(TallyImage, NoMarkersIsStillSuccess) {
    const file_handle image = file_holding("no markers in here");
    const tally result = tally_of(image.get());
    EXPECT_EQ(result.status, exit_status::success);
    EXPECT_EQ(result.output, "");
}

#ifndef _WIN32
struct buffering_case {
    const char* name;
    int mode;
};

// Line-buffered, as on a terminal, each line's write fails as it goes and the last
// flush has nothing left to fail: only the stream's error flag tells.
TEST(TallyImage, OutputThatCannotBeWrittenIsAFailureWhateverItsBuffering) {
    for (const buffering_case buffering : {buffering_case{"fully buffered", _IOFBF},
                                           buffering_case{"line buffered", _IOLBF},
                                           buffering_case{"unbuffered", _IONBF}}) {
        const file_handle image = file_holding(numbered_markers(2));
        const file_handle full(std::fopen("/dev/full", "w"));
        ASSERT_TRUE(image && full);
        ASSERT_EQ(std::setvbuf(full.get(), nullptr, buffering.mode, BUFSIZ), 0);
        EXPECT_EQ(tally_image(image.get(), full.get()), exit_status::write_failure)
            << buffering.name;
    }
}
#endif

#ifdef __GLIBC__
// A stream that hands out `bytes` in pieces of at most `piece` bytes and fails with
// EIO once `fail_at` bytes have gone, so the real reading code meets short reads
// and an error that is not end of file.
struct failing_source {
    std::string bytes;
    std::size_t fail_at;
    std::size_t piece;
    std::size_t position = 0;
};

ssize_t read_piece(void* cookie, char* buffer, std::size_t size) {
    auto& source = *static_cast<failing_source*>(cookie);
    if (source.position >= source.fail_at) {
        errno = EIO;
        return -1;
    }
    const std::size_t length = std::min({size, source.piece, source.fail_at - source.position,
                                          source.bytes.size() - source.position});
    source.bytes.copy(buffer, length, source.position);
    source.position += length;
    return static_cast<ssize_t>(length);
}

struct read_error_case {
    const char* name;
    std::string image;
    std::size_t fail_at;
    exit_status status;
    std::string output;
};

TEST(TallyImage, ReadErrorsAreNotTakenForEndOfFile) {
    const std::string two_markers = "Q1.2345__Q2.2345__Q";
    const std::string error = "Error reading Firmware\n";
    const std::vector<read_error_case> cases{
        {"no error", two_markers, 1000, exit_status::success,
         report_lines({"1.2345", "2.2345"})},
        {"before the first eight bytes", two_markers, 5, exit_status::short_image, error},
        {"right after the first eight bytes", two_markers, 8, exit_status::read_failure, error},
        {"while the first marker is pending", two_markers, 9, exit_status::read_failure, error},
        {"after the first marker is reported", two_markers, 10, exit_status::read_failure,
         report_lines({"1.2345"}) + error},
        {"after the last byte", two_markers, two_markers.size(), exit_status::read_failure,
         report_lines({"1.2345", "2.2345"}) + error},
        {"pending marker is not reported", "1.23____", 8, exit_status::read_failure, error},
    };
    for (const read_error_case& test_case : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
            SCOPED_TRACE(::testing::Message() << test_case.name << ", pieces of " << piece);
            failing_source source{test_case.image, test_case.fail_at, piece};
            const file_handle image(fopencookie(&source, "rb", {read_piece, nullptr, nullptr, nullptr}));
            ASSERT_TRUE(image);
            const tally result = tally_of(image.get());
            EXPECT_EQ(result.status, test_case.status);
            EXPECT_EQ(result.output, test_case.output);
        }
    }
}

// The image's failure is the one to report: output that fails as well does not
// turn a read error into a write error.
TEST(TallyImage, ReadErrorOutranksUnwritableOutput) {
    failing_source source{"Q1.2345__Q2.2345__Q", 12, 4096};
    const file_handle image(fopencookie(&source, "rb", {read_piece, nullptr, nullptr, nullptr}));
    const file_handle full(std::fopen("/dev/full", "w"));
    ASSERT_TRUE(image && full);
    EXPECT_EQ(tally_image(image.get(), full.get()), exit_status::read_failure);
}
#endif

}  // namespace
}  // namespace fwtally::testing
