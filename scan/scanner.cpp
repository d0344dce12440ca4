#include "scanner.hpp"

#include <algorithm>

namespace fwtally {

namespace {

bool window_matches(const scan_window& window) {
    return (window[1] == '.' || window[2] == '.') && window[6] == '_' && window[7] == '_';
}

}  // namespace

scan_state start_scan(const scan_window& first_window, simd_level level) {
    scan_state state{.window = first_window, .level = level};
    // scan_block tests the windows that end inside its block, so the first window,
    // which ends before any block, is tested here.
    if (window_matches(first_window)) {
        state.held = first_window;
        state.marker_pending = true;
    }
    return state;
}

void end_scan(scan_state& state, report_writer& writer) {
    // End of file closes a run of underscores like any other byte would.
    if (state.marker_pending) {
        state.marker_pending = false;
        report_version(writer, state.held, state.held_offset);
    }
}

scan_end scan_stream(scan_state& state, std::FILE* image, report_writer& writer,
                     std::uint64_t promised_length, std::size_t block_capacity) {
    std::array<unsigned char, default_block_capacity> block;
    const std::size_t capacity = std::clamp<std::size_t>(block_capacity, 1, block.size());
    for (;;) {
        const std::size_t length = std::fread(block.data(), 1, capacity, image);
        if (scan_block(state, std::span(block.data(), length), writer)) {
            return scan_end::seventh_line;
        }
        if (length < capacity) {
            // fread comes up short only at end of file or on an error. The bytes it did
            // deliver have been scanned either way, so the capacity never changes a result.
            if (std::ferror(image) != 0 || state.position < promised_length) {
                return scan_end::read_error;
            }
            end_scan(state, writer);
            return scan_end::end_of_file;
        }
    }
}

scan_end scan_markers(const scan_window& window, std::FILE* image, report_writer& writer,
                      std::size_t block_capacity, simd_level level) {
    scan_state state = start_scan(window, level);
    return scan_stream(state, image, writer, 0, block_capacity);
}

}  // namespace fwtally
