#include "driver.hpp"

#include <optional>

#include "mapped_scan.hpp"

namespace fwtally {

namespace {

bool output_intact(std::FILE* output) {
    return std::fflush(output) == 0 && std::ferror(output) == 0;
}

exit_status scan_image(std::FILE* image, std::FILE* output, const read_settings& settings) {
    scan_window window;
    if (std::fread(window.data(), 1, window.size(), image) != window.size()) {
        std::fputs(read_error_text, output);
        return exit_status::short_image;
    }
    report_writer writer{output};
    if (scan_image_file(window, image, writer, settings) == scan_end::read_error) {
        std::fputs(read_error_text, output);
        return exit_status::read_failure;
    }
    return exit_status::success;
}

}  // namespace

scan_end scan_image_file(const scan_window& first_window, std::FILE* image, report_writer& writer,
                         const read_settings& settings) {
    scan_state state = start_scan(first_window, settings.level);
    const std::optional<std::uint64_t> length = regular_file_length(image);
    if (length && *length >= settings.smallest_mapped_length) {
        if (const std::optional<scan_end> end =
                scan_mapped(state, image, *length, writer, settings.mapped_window_length,
                            settings.map_only_in_huge_pages)) {
            return *end;
        }
    }
    // Anything else is read: other kinds of file, what a mapping could not take,
    // and what a regular file gained after it was opened.
    advise_sequential_reading(image);
    return scan_stream(state, image, writer, length.value_or(0), settings.block_capacity);
}

exit_status tally_image(std::FILE* image, std::FILE* output, const read_settings& settings) {
    const exit_status status = scan_image(image, output, settings);
    // A failed image keeps its own status and message: that is the failure to fix
    // first, and a script that tests for it must not see it turn into another.
    if (status == exit_status::success && !output_intact(output)) {
        std::fputs(write_error_text, stderr);
        return exit_status::write_failure;
    }
    return status;
}

exit_status run_command_line(int argument_count, const argument_char* const* arguments,
                             const read_settings& settings) {
    if (argument_count != 2) {
        std::fputs(usage_text, stdout);
        return exit_status::usage;
    }
    std::FILE* image = open_image(arguments[1]);
    if (image == nullptr) {
        std::fputs(cannot_open_text, stdout);
        return exit_status::cannot_open;
    }
    const exit_status status = tally_image(image, stdout, settings);
    // Everything has been read by now, so a failing close loses nothing.
    std::fclose(image);
    return status;
}

}  // namespace fwtally
