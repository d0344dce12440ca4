// The built fwtally run as a user would: exact output bytes, standard error and
// exit status for each way a run can end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.hpp"
#include "markers.hpp"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#endif

namespace fwtally::testing {
namespace {

using namespace std::string_literals;
using CommandLine = command_line_test;

const std::string usage = "Usage:\nFwtally {Firmwarefile}\n";

TEST_F(CommandLine, NoArgumentPrintsUsage) {
    const run_result result = run({});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, text_output(usage));
    EXPECT_EQ(result.err, "");
}

TEST_F(CommandLine, TwoArgumentsPrintUsage) {
    const std::string marker = image("marker.bin", "1.23____").string();
    const run_result result = run({marker, marker});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, text_output(usage));
    EXPECT_EQ(result.err, "");
}

TEST_F(CommandLine, MissingImageCannotBeOpened) {
    for (const std::string& name : {"no-such-image.bin"s, "--help"s}) {
        const run_result result = run({(directory_ / name).string()});
        EXPECT_EQ(result.status, 2) << name;
        EXPECT_EQ(result.out, text_output("Cannot open Firmware file\n")) << name;
        EXPECT_EQ(result.err, "") << name;
    }
}

TEST_F(CommandLine, ImagesShorterThanEightBytesAreRejected) {
    for (const std::string& bytes : {""s, "1.23___"s}) {
        const run_result result = run({image("short.bin", bytes).string()});
        EXPECT_EQ(result.status, 3) << bytes.size() << " bytes";
        EXPECT_EQ(result.out, text_output("Error reading Firmware\n"))
            << bytes.size() << " bytes";
        EXPECT_EQ(result.err, "");
    }
}

struct image_case {
    const char* name;
    std::string bytes;
    std::string out;
};

TEST_F(CommandLine, ReportsTheMarkersOfAnImage) {
    const std::vector<image_case> cases{
        {"an eight-byte marker", "1.23____", report_lines({"1.23"})},
        {"no markers", "There is no version marker in this image.\n", ""},
        {"nine markers", numbered_markers(9), seven_numbered_lines},
        {"raw bytes", "\0.\n\x1b\xff\x80__z"s, report_lines({"\0.\n\x1b\xff\x80"s})},
    };
    for (const image_case& test_case : cases) {
        const run_result result = run({image("image.bin", test_case.bytes).string()});
        EXPECT_EQ(result.status, 0) << test_case.name;
        EXPECT_EQ(result.out, text_output(test_case.out)) << test_case.name;
        EXPECT_EQ(result.err, "") << test_case.name;
    }
}

TEST_F(CommandLine, SampleImageGivesItsExpectedOutput) {
    const run_result result = run({FWTALLY_SAMPLE_IMAGE});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, text_output(read_file(FWTALLY_SAMPLE_EXPECTED)));
    EXPECT_EQ(result.err, "");
}

#ifndef _WIN32
// A pipe hands the image over in pieces, so reads come back short and markers are
// split between them.
TEST_F(CommandLine, ImageFromAPipeInSmallPieces) {
#ifdef __i386__
    if (running_under_emulator()) {
        GTEST_SKIP() << "qemu-i386 spins for ever in a second thread or a forked child";
    }
#endif
    const std::filesystem::path pipe = directory_ / "image.fifo";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string bytes = "zzx1.23____y" + numbered_markers(9);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        // Should the reader close early, SIGPIPE ends the writer, and nothing else.
        const int descriptor = open(pipe.c_str(), O_WRONLY);
        for (std::size_t start = 0; descriptor >= 0 && start < bytes.size(); start += 3) {
            const std::size_t length = std::min<std::size_t>(3, bytes.size() - start);
            if (write(descriptor, bytes.data() + start, length) != static_cast<ssize_t>(length)) {
                break;
            }
            const timespec millisecond{0, 1'000'000};
            nanosleep(&millisecond, nullptr);
        }
        _exit(0);
    }
    const run_result result = run({pipe.string()});
    // A writer still waiting for a reader, had the tool not opened the pipe, ends now.
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    waitpid(writer, nullptr, 0);
    close(reader);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              report_lines({"1.23", "1.2345", "2.2345", "3.2345", "4.2345", "5.2345", "6.2345"}));
    EXPECT_EQ(result.err, "");
}

TEST_F(CommandLine, UnwritableOutputIsAFailure) {
    const std::string markers = image("markers.bin", numbered_markers(9)).string();
    for (const std::string& redirect : {">/dev/full"s, ">&-"s}) {
        const run_result result = run({markers}, {.stdout_redirect = redirect});
        EXPECT_EQ(result.status, 5) << redirect;
        EXPECT_EQ(result.err, "Error writing output\n") << redirect;
    }
}

struct failing_image_case {
    const char* name;
    std::string path;
    int status;
};

// A script tests for the image's status; standard output failing as well must not
// change it, and the image's message is the only one.
TEST_F(CommandLine, ImageFailureOutranksUnwritableOutput) {
    const std::vector<failing_image_case> cases{
        {"missing image", (directory_ / "no-such-image.bin").string(), 2},
        {"short image", image("short.bin", "1.23___").string(), 3},
        {"directory", directory_.string(), 3},
    };
    for (const failing_image_case& test_case : cases) {
        for (const std::string& redirect : {">/dev/full"s, ">&-"s}) {
            const run_result result = run({test_case.path}, {.stdout_redirect = redirect});
            EXPECT_EQ(result.status, test_case.status) << test_case.name << ", " << redirect;
            EXPECT_EQ(result.err, "") << test_case.name << ", " << redirect;
        }
    }
}

TEST_F(CommandLine, ClosedPipeEndsTheRun) {
    const std::string markers = image("markers.bin", numbered_markers(9)).string();
    const std::filesystem::path first_byte = directory_ / "first-byte";
    const run_result result =
        run({markers}, {.stdout_redirect = "| head -c 1 >'" + first_byte.string() + "'"});
    EXPECT_EQ(result.status, 0);  // head's status: the pipeline ended
    EXPECT_EQ(read_file(first_byte), "C");
}
#endif

}  // namespace
}  // namespace fwtally::testing
