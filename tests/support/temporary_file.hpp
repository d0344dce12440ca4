#pragma once

#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <process.h>

#include <filesystem>
#endif
#include <string>
#include <string_view>

namespace fwtally::testing {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

inline std::FILE* temporary_file() {
#ifdef _WIN32
    // The Windows C library's tmpfile numbers its files per process from the same
    // start, so test processes running side by side collide. "D" deletes on close.
    static unsigned files_made = 0;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("fwtally-test-" + std::to_string(_getpid()) + "-" + std::to_string(++files_made));
    return _wfopen(path.c_str(), L"w+bD");
#else
    return std::tmpfile();
#endif
}

// An anonymous temporary file holding `bytes`, positioned at its start.
inline file_handle file_holding(std::string_view bytes) {
    file_handle file(temporary_file());
    if (file) {
        std::fwrite(bytes.data(), 1, bytes.size(), file.get());
        std::rewind(file.get());
    }
    return file;
}

// Everything written to `file` so far.
inline std::string contents_of(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string contents;
    char buffer[4096];
    std::size_t length = 0;
    while ((length = std::fread(buffer, 1, sizeof buffer, file)) != 0) {
        contents.append(buffer, length);
    }
    return contents;
}

}  // namespace fwtally::testing
