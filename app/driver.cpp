#include "driver.hpp"

#include "scanner.hpp"

#ifndef _WIN32
#include <sys/types.h>

// With a 32-bit file offset the C library refuses to open an image over 2 GiB.
// The build asks for 64 bits (_FILE_OFFSET_BITS=64) where that is not the default.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64: images may exceed 2 GiB");
#endif

namespace fwtally {

namespace {

std::FILE* open_image(const argument_char* path) {
#ifdef _WIN32
    return _wfopen(path, L"rb");
#else
    return std::fopen(path, "rb");
#endif
}

bool output_intact(std::FILE* output) {
    return std::fflush(output) == 0 && std::ferror(output) == 0;
}

exit_status scan_image(std::FILE* image, std::FILE* output) {
    scan_window window;
    if (std::fread(window.data(), 1, window.size(), image) != window.size()) {
        std::fputs(read_error_text, output);
        return exit_status::short_image;
    }
    report_writer writer{output};
    if (scan_markers(window, image, writer) == scan_end::read_error) {
        std::fputs(read_error_text, output);
        return exit_status::read_failure;
    }
    return exit_status::success;
}

}  // namespace

exit_status tally_image(std::FILE* image, std::FILE* output) {
    const exit_status status = scan_image(image, output);
    // A failed image keeps its own status and message: that is the failure to fix
    // first, and a script that tests for it must not see it turn into another.
    if (status == exit_status::success && !output_intact(output)) {
        std::fputs(write_error_text, stderr);
        return exit_status::write_failure;
    }
    return status;
}

exit_status run_command_line(int argument_count, const argument_char* const* arguments) {
    if (argument_count != 2) {
        std::fputs(usage_text, stdout);
        return exit_status::usage;
    }
    std::FILE* image = open_image(arguments[1]);
    if (image == nullptr) {
        std::fputs(cannot_open_text, stdout);
        return exit_status::cannot_open;
    }
    // The scan reads whole blocks into a buffer of its own; a stream buffer on top
    // would only copy every byte once more.
    std::setvbuf(image, nullptr, _IONBF, 0);
    const exit_status status = tally_image(image, stdout);
    // Everything has been read by now, so a failing close loses nothing.
    std::fclose(image);
    return status;
}

}  // namespace fwtally
