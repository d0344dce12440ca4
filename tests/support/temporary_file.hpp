#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace fwtally::testing {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// An anonymous temporary file holding `bytes`, positioned at its start.
inline file_handle file_holding(std::string_view bytes) {
    file_handle file(std::tmpfile());
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
