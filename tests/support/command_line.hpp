#pragma once

// Runs the built fwtally through the shell, as a user would, capturing its exact
// standard output and error bytes and its exit status.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fwtally::testing {

struct run_result {
    int status;
    std::string out;
    std::string err;
};

std::string read_file(const std::filesystem::path& path);

// What `lines` look like on standard output, a text stream: on Windows every
// line feed leaves as a carriage return and a line feed, one from a marker too.
std::string text_output(std::string_view lines);
void write_file(const std::filesystem::path& path, std::string_view bytes);

struct run_options {
    // Replaces the capture of standard output, as shell redirection text.
    std::optional<std::string> stdout_redirect = std::nullopt;
    // Runs from this directory, for relative paths such as "-".
    std::optional<std::filesystem::path> working_directory = std::nullopt;
    // Caps the tool's address space (POSIX shells' ulimit -v), in KiB.
    std::optional<unsigned> address_space_kib = std::nullopt;
};

// True where the tool runs under an emulator such as qemu-user, as in cross builds.
bool running_under_emulator();

// Each test gets a directory of its own for its images and captures.
class command_line_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path image(const std::string& name, std::string_view bytes) const;
    run_result run(const std::vector<std::string>& arguments, const run_options& options = {}) const;

    std::filesystem::path directory_;
};

}  // namespace fwtally::testing
