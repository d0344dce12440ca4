#include "command_line.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fwtally::testing {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, std::string_view bytes) {
    std::ofstream stream(path, std::ios::binary);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string text_output(std::string_view lines) {
#ifdef _WIN32
    std::string text;
    for (const char c : lines) {
        text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return text;
#else
    return std::string(lines);
#endif
}

bool running_under_emulator() { return !std::string_view(FWTALLY_EMULATOR).empty(); }

namespace {

std::string shell_quoted(const std::string& text) {
#ifdef _WIN32
    return '"' + text + '"';
#else
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
#endif
}

}  // namespace

void command_line_test::SetUp() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    // Unique per test and per build tree, so parallel runs of two builds stay apart.
    directory_ = fs::temp_directory_path() /
                 ("fwtally-" + std::string(test->name()) + "-" +
                  std::to_string(std::hash<std::string>{}(fs::current_path().string())));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
}

void command_line_test::TearDown() {
    std::error_code ignored;
    fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(directory_, ignored);
}

fs::path command_line_test::image(const std::string& name, std::string_view bytes) const {
    fs::path path = directory_ / fs::path(std::u8string(name.begin(), name.end()));
    write_file(path, bytes);
    return path;
}

run_result command_line_test::run(const std::vector<std::string>& arguments,
                                  const run_options& options) const {
    const fs::path out = directory_ / "captured-stdout";
    const fs::path err = directory_ / "captured-stderr";
    std::string command;
#ifndef _WIN32
    if (options.address_space_kib) {
        command += "ulimit -v " + std::to_string(*options.address_space_kib) + " && ";
    }
#endif
    if (options.working_directory) {
#ifdef _WIN32
        command += "cd /d " + shell_quoted(options.working_directory->string()) + " && ";
#else
        command += "cd " + shell_quoted(options.working_directory->string()) + " && ";
#endif
    }
    // A cross build's tool runs under the emulator that runs the tests.
    command += FWTALLY_EMULATOR;
    command += shell_quoted(FWTALLY_PROGRAM);
    for (const std::string& argument : arguments) {
        command += ' ' + shell_quoted(argument);
    }
    command += ' ' + options.stdout_redirect.value_or(">" + shell_quoted(out.string()));
    command += " 2>" + shell_quoted(err.string());
#ifdef _WIN32
    // cmd.exe drops the outermost quotes of the whole line, and reads it in the
    // ANSI code page unless it comes as wide characters.
    std::wstring wide_command = L"\"";
    wide_command += fs::path(std::u8string(command.begin(), command.end())).wstring();
    wide_command += L'"';
    const int exit_code = _wsystem(wide_command.c_str());
#else
    // The shell is the point: it does the redirections a user would.
    const int status = std::system(command.c_str());  // NOLINT(cert-env33-c)
    const int exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return {exit_code, options.stdout_redirect ? "" : read_file(out), read_file(err)};
}

}  // namespace fwtally::testing
