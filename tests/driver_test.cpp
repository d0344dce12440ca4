#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "command_line.hpp"
#include "driver.hpp"
#include "markers.hpp"
#include "scan_runs.hpp"
#include "temporary_file.hpp"

#ifdef __GLIBC__
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <limits>
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

// Standard output whose first line, once written, changes the image: the change
// happens while the scan is part-way through, at a point of the test's choosing.
struct output_that_acts {
    std::string written;
    std::filesystem::path image;
    std::function<void(const std::filesystem::path&)> on_first_line;
};

ssize_t write_and_act(void* cookie, const char* bytes, std::size_t size) {
    auto& output = *static_cast<output_that_acts*>(cookie);
    const bool first_line_ends = output.written.find('\n') == std::string::npos &&
                                 std::string_view(bytes, size).find('\n') != std::string_view::npos;
    output.written.append(bytes, size);
    if (first_line_ends) {
        output.on_first_line(output.image);
    }
    return static_cast<ssize_t>(size);
}

std::string filler_with_markers(std::size_t length,
                                std::initializer_list<std::pair<std::size_t, std::string>> markers) {
    std::string image(length, 'f');
    for (const auto& [offset, marker] : markers) {
        image.replace(offset, marker.size(), marker);
    }
    return image;
}

struct changing_image_case {
    const char* name;
    std::size_t run_across;  // where the second marker's run of underscores is cut
    std::function<void(const std::filesystem::path&, std::size_t)> change;
    exit_status status;
    std::string output;
};

struct read_path {
    const char* name;
    read_settings settings;
};

// A file cut short while it is scanned is a read error on both paths: the lines
// printed stay, the marker pending where the file now ends is not printed, and
// the message follows. A file that grows is read to its new end.
TEST(TallyImage, ImageThatChangesUnderTheScan) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t length = 4 * page;
    const auto cut_at = [](const std::filesystem::path& image, std::size_t at) {
        std::filesystem::resize_file(image, at);
    };
    const auto grow = [](const std::filesystem::path& image, std::size_t) {
        std::FILE* file = std::fopen(image.c_str(), "ab");
        ASSERT_NE(file, nullptr);
        std::fputs("x4.5678__y", file);
        std::fclose(file);
    };
    const std::string error = "Error reading Firmware\n";
    const std::vector<changing_image_case> cases{
        {"cut at a window edge", 2 * page, cut_at, exit_status::read_failure,
         report_lines({"1.2345"}) + error},
        {"cut at a block edge", 2 * page + 8, cut_at, exit_status::read_failure,
         report_lines({"1.2345"}) + error},
        {"cut at a page edge inside the window being scanned", page, cut_at,
         exit_status::read_failure, report_lines({"1.2345"}) + error},
        {"cut inside a page of the window being scanned", page + 1000, cut_at,
         exit_status::read_failure, report_lines({"1.2345"}) + error},
        {"grown", 2 * page, grow, exit_status::success,
         report_lines({"1.2345", "2.2345", "3.2345", "4.5678"})},
    };
    // Windows of two pages, so that the first line is printed while the first
    // window, [0, 2 pages), is scanned; blocks of one page, so that reads follow it.
    const std::vector<read_path> paths{
        {"mapped",
         {.smallest_mapped_length = 0,
          .mapped_window_length = 2 * page,
          .map_only_in_huge_pages = false}},
        {"read",
         {.block_capacity = page,
          .smallest_mapped_length = std::numeric_limits<std::uint64_t>::max()}},
    };
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("fwtally-changing-image-" + std::to_string(getpid()) + ".bin");
    for (const changing_image_case& test_case : cases) {
        for (const read_path& reading : paths) {
            SCOPED_TRACE(::testing::Message() << test_case.name << ", " << reading.name);
            // The second marker's run of underscores goes on across the point where
            // the file is cut; the third marker lies beyond it.
            const std::size_t run = test_case.run_across;
            write_file(path, filler_with_markers(length, {{100, "x1.2345__y"},
                                                          {run - 17, "x2.2345"},
                                                          {run - 10, std::string(20, '_')},
                                                          {run + 10, "y"},
                                                          {3 * page, "x3.2345__y"}}));
            const file_handle image(open_image(path.c_str()));  // as the tool opens it
            ASSERT_TRUE(image);
            output_that_acts output{"", path, [&](const std::filesystem::path& image_path) {
                                        test_case.change(image_path, run);
                                    }};
            const file_handle stream(
                fopencookie(&output, "w", {nullptr, write_and_act, nullptr, nullptr}));
            ASSERT_TRUE(stream);
            std::setvbuf(stream.get(), nullptr, _IONBF, 0);
            EXPECT_EQ(tally_image(image.get(), stream.get(), reading.settings), test_case.status);
            EXPECT_EQ(output.written, test_case.output);
        }
    }
    std::filesystem::remove(path);
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
