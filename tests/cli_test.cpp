// Runs the built fwtally as a user would and checks its exact output bytes,
// standard error and exit status.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <thread>
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct run_result {
    int status;
    std::string out;
    std::string err;
};

std::string read_file(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, std::string_view bytes) {
    std::ofstream stream(path, std::ios::binary);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string shell_quoted(const std::string& text) {
#ifdef _WIN32
    return '"' + text + '"';
#else
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? "'\\''"s : std::string(1, c);
    }
    return quoted + "'";
#endif
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        directory_ = fs::temp_directory_path() /
                     ("fwtally-cli-" + std::string(test->name()) + "-" +
                      std::to_string(std::hash<std::string>{}(fs::current_path().string())));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    fs::path image(const std::string& name, std::string_view bytes) const {
        const fs::path path = directory_ / name;
        write_file(path, bytes);
        return path;
    }

    // Runs fwtally with `arguments`; `stdout_redirect` replaces the capture of
    // standard output (for /dev/full or a closed descriptor).
    run_result run(const std::vector<std::string>& arguments,
                   const std::optional<std::string>& stdout_redirect = std::nullopt) const {
        const fs::path out = directory_ / "stdout";
        const fs::path err = directory_ / "stderr";
        std::string command = shell_quoted(FWTALLY_PROGRAM);
        for (const std::string& argument : arguments) {
            command += ' ' + shell_quoted(argument);
        }
        command += ' ' + stdout_redirect.value_or(">" + shell_quoted(out.string()));
        command += " 2>" + shell_quoted(err.string());
        const int status = std::system(command.c_str());
#ifdef _WIN32
        const int exit_code = status;
#else
        const int exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        return {exit_code, stdout_redirect ? "" : read_file(out), read_file(err)};
    }

    fs::path directory_;
};

const std::string usage = "Usage:\nFwtally {Firmwarefile}\n";

std::string nine_markers() {
    std::string image;
    for (int n = 1; n <= 9; ++n) {
        image += "Q" + std::to_string(n) + ".2345__";
    }
    return image;
}

const std::string seven_lines =
    "CD-R version: 1.2345\nCD-RW version: 2.2345\nDVD-R version: 3.2345\n"
    "DVD-RW version: 4.2345\nDVD+R version: 5.2345\nDVD+RW version: 6.2345\n"
    "DVD+R9 version: 7.2345\n";

TEST_F(CommandLine, NoArgumentPrintsUsage) {
    const run_result result = run({});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, usage);
    EXPECT_EQ(result.err, "");
}

TEST_F(CommandLine, TwoArgumentsPrintUsage) {
    const fs::path marker = image("marker.bin", "1.23____");
    const run_result result = run({marker.string(), marker.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, usage);
    EXPECT_EQ(result.err, "");
}

TEST_F(CommandLine, MissingImageCannotBeOpened) {
    for (const std::string& name : {"no-such-image.bin"s, "--help"s}) {
        const run_result result = run({(directory_ / name).string()});
        EXPECT_EQ(result.status, 2) << name;
        EXPECT_EQ(result.out, "Cannot open Firmware file\n") << name;
        EXPECT_EQ(result.err, "") << name;
    }
}

TEST_F(CommandLine, ImagesShorterThanEightBytesAreRejected) {
    for (const std::string& bytes : {""s, "1.23___"s}) {
        const run_result result = run({image("short.bin", bytes).string()});
        EXPECT_EQ(result.status, 3) << bytes.size() << " bytes";
        EXPECT_EQ(result.out, "Error reading Firmware\n") << bytes.size() << " bytes";
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
        {"an eight-byte marker", "1.23____", "CD-R version: 1.23\n"},
        {"no markers", "There is no version marker in this image.\n", ""},
        {"nine markers", nine_markers(), seven_lines},
        {"raw bytes", "\0.\n\x1b\xff\x80__z"s, "CD-R version: \0.\n\x1b\xff\x80\n"s},
    };
    for (const image_case& test_case : cases) {
        const run_result result = run({image("image.bin", test_case.bytes).string()});
        EXPECT_EQ(result.status, 0) << test_case.name;
        EXPECT_EQ(result.out, test_case.out) << test_case.name;
        EXPECT_EQ(result.err, "") << test_case.name;
    }
}

TEST_F(CommandLine, SampleImageGivesItsExpectedOutput) {
    const run_result result = run({FWTALLY_SAMPLE_IMAGE});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, read_file(FWTALLY_SAMPLE_EXPECTED));
    EXPECT_EQ(result.err, "");
}

#ifndef _WIN32
TEST_F(CommandLine, DirectoryOpensButCannotBeRead) {
    const run_result result = run({directory_.string()});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "Error reading Firmware\n");
}

// A pipe hands the image over in pieces, so reads come back short and markers are
// split between them.
TEST_F(CommandLine, ImageFromAPipeInSmallPieces) {
    const fs::path pipe = directory_ / "image.fifo";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string bytes = "zzx1.23____y" + nine_markers();
    std::thread writer([&] {
        // Should the reader close early, write fails with EPIPE rather than ending the tests.
        sigset_t broken_pipe;
        sigemptyset(&broken_pipe);
        sigaddset(&broken_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &broken_pipe, nullptr);
        const int descriptor = open(pipe.c_str(), O_WRONLY);
        if (descriptor < 0) {
            return;
        }
        for (std::size_t start = 0; start < bytes.size(); start += 3) {
            const std::size_t length = std::min<std::size_t>(3, bytes.size() - start);
            if (write(descriptor, bytes.data() + start, length) != static_cast<ssize_t>(length)) {
                break;  // the reader stopped after its seventh line
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        close(descriptor);
    });
    const run_result result = run({pipe.string()});
    writer.join();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "CD-R version: 1.23\nCD-RW version: 1.2345\nDVD-R version: 2.2345\n"
              "DVD-RW version: 3.2345\nDVD+R version: 4.2345\nDVD+RW version: 5.2345\n"
              "DVD+R9 version: 6.2345\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(CommandLine, UnwritableOutputIsAFailure) {
    const fs::path markers = image("markers.bin", nine_markers());
    for (const std::string& redirect : {">/dev/full"s, ">&-"s}) {
        const run_result result = run({markers.string()}, redirect);
        EXPECT_EQ(result.status, 5) << redirect;
        EXPECT_EQ(result.err, "Error writing output\n") << redirect;
    }
}
#endif

}  // namespace
