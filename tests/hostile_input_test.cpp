// Images and paths chosen to break a careless tool: special files, awkward names,
// huge sizes, long runs and far too many markers.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "command_line.hpp"
#include "markers.hpp"

#ifndef _WIN32
#include <unistd.h>
#endif

// AddressSanitizer reserves terabytes of address space for its shadow memory.
#if defined(__SANITIZE_ADDRESS__)
#define FWTALLY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FWTALLY_SANITIZED 1
#endif
#endif

namespace fwtally::testing {
namespace {

namespace fs = std::filesystem;
using HostileInput = command_line_test;

TEST_F(HostileInput, AwkwardPathNamesOpenAsGiven) {
    for (const std::string name :
         {"image with spaces.bin", "\xC3\xAFm\xC3\xA4g\xC3\xA9-\xE2\x9C\x93.bin", "-leading-dash.bin",
          "--help", "-"}) {
        image(name, "x1.23____y");
        // Relative to the working directory, as a user would type them.
        const run_result result = run({name}, {.working_directory = directory_});
        EXPECT_EQ(result.status, 0) << name;
        EXPECT_EQ(result.out, text_output(report_lines({"1.23"}))) << name;
        EXPECT_EQ(result.err, "") << name;
    }
}

TEST_F(HostileInput, LongRunsOfUnderscores) {
    const std::string megabyte(std::size_t{1} << 20, '_');
    const run_result alone = run({image("underscores.bin", megabyte).string()});
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(alone.out, "");
    const run_result after_marker = run({image("marker.bin", "x1.23" + megabyte + "y").string()});
    EXPECT_EQ(after_marker.status, 0);
    EXPECT_EQ(after_marker.out, text_output(report_lines({"1.23"})));
}

TEST_F(HostileInput, HundredThousandMarkersGiveSevenLines) {
    const run_result result = run({image("markers.bin", numbered_markers(100'000)).string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, text_output(seven_numbered_lines));
    EXPECT_EQ(result.err, "");
}

// A sparse image just over 4 GiB: its first marker straddles the 4 GiB offset,
// the second lies beyond it and the third ends the image.
std::optional<fs::path> huge_image(const fs::path& path) {
    constexpr std::uintmax_t four_gibibytes = std::uintmax_t{1} << 32;
    write_file(path, "");
    std::error_code error;
    fs::resize_file(path, four_gibibytes - 5, error);
    if (error) {
        ADD_FAILURE() << "cannot make a sparse file of 4 GiB: " << error.message();
        return std::nullopt;
    }
    std::FILE* file = std::fopen(path.string().c_str(), "ab");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot append to " << path;
        return std::nullopt;
    }
    const std::string tail = "x1.23____y" + numbered_markers(2);
    const bool written = std::fwrite(tail.data(), 1, tail.size(), file) == tail.size();
    if (std::fclose(file) != 0 || !written) {
        ADD_FAILURE() << "cannot write the end of " << path;
        return std::nullopt;
    }
    return path;
}

const std::string huge_image_lines = report_lines({"1.23", "1.2345", "2.2345"});

// Offsets past 4 GiB must not wrap in a 32-bit count anywhere, and a 32-bit build
// must open and read such an image to its end.
TEST_F(HostileInput, MarkersPastFourGibibytes) {
    const std::optional<fs::path> path = huge_image(directory_ / "huge.bin");
    ASSERT_TRUE(path);
    const run_result result = run({path->string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, text_output(huge_image_lines));
    EXPECT_EQ(result.err, "");
}

#ifndef _WIN32
// Memory does not grow with the image: 8 MiB of address space is plenty.
TEST_F(HostileInput, HugeImageReadsInSmallAddressSpace) {
    if (running_under_emulator()) {
        GTEST_SKIP() << "the emulator itself needs far more than 8 MiB of address space";
    }
#ifdef FWTALLY_SANITIZED
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space for its shadow";
#endif
    const std::optional<fs::path> path = huge_image(directory_ / "huge.bin");
    ASSERT_TRUE(path);
    const run_result result = run({path->string()}, {.address_space_kib = 8192});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, huge_image_lines);
}
#endif

#ifndef _WIN32
TEST_F(HostileInput, DirectoryOpensButCannotBeRead) {
    const run_result result = run({directory_.string()});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "Error reading Firmware\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(HostileInput, EmptyCharacterDevice) {
    const run_result result = run({"/dev/null"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "Error reading Firmware\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(HostileInput, ImageWithoutReadPermission) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    const fs::path path = image("secret.bin", "x1.23____y");
    fs::permissions(path, fs::perms::none);
    const run_result result = run({path.string()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "Cannot open Firmware file\n");
    EXPECT_EQ(result.err, "");
}
#endif

}  // namespace
}  // namespace fwtally::testing
