// The scan as the browser page drives it. The page reads an image in blocks,
// copies each into the input block and calls fwtally_feed; the report lines, and
// any message, collect in a fixed buffer that the page reads back. Memory is the
// same whatever the image's size: one block, one scan state, one line buffer.
// One image is scanned at a time.

#include <emscripten/emscripten.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>

#include "exit_status.hpp"
#include "report_writer.hpp"
#include "scanner.hpp"

namespace {

using namespace fwtally;

constexpr std::size_t block_capacity = std::size_t{1} << 20;
std::array<unsigned char, block_capacity> input_block;

// Seven lines of at most 23 bytes and one message fit with room to spare.
std::array<char, 256> output_bytes;

struct image_scan {
    std::FILE* output = nullptr;
    report_writer writer{nullptr};
    scan_window first_window{};
    std::size_t first_window_length = 0;
    scan_state state{};
    bool seventh_line = false;
};
image_scan current;

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE unsigned char* fwtally_input_block() { return input_block.data(); }

EMSCRIPTEN_KEEPALIVE std::size_t fwtally_block_capacity() { return input_block.size(); }

EMSCRIPTEN_KEEPALIVE std::size_t fwtally_label_count() { return media_labels.size(); }

// The label's bytes; fwtally_label_length tells how many.
EMSCRIPTEN_KEEPALIVE const char* fwtally_label(std::size_t index) {
    return media_labels.at(index).data();
}

EMSCRIPTEN_KEEPALIVE std::size_t fwtally_label_length(std::size_t index) {
    return media_labels.at(index).size();
}

// Starts a new image, forgetting the last one.
EMSCRIPTEN_KEEPALIVE void fwtally_begin() {
    if (current.output != nullptr) {
        std::fclose(current.output);
    }
    current = image_scan{};
    current.output = fmemopen(output_bytes.data(), output_bytes.size(), "w");
    // Unbuffered, so that every line is in output_bytes as soon as it is written.
    std::setvbuf(current.output, nullptr, _IONBF, 0);
    current.writer.output = current.output;
}

// Scans the next `length` bytes of the image, standing at the start of the input
// block. Answers true once the seventh line is out: the page then reads no more.
EMSCRIPTEN_KEEPALIVE bool fwtally_feed(std::size_t length) {
    std::span<const unsigned char> block(input_block.data(), std::min(length, input_block.size()));
    if (current.first_window_length < window_length) {
        const std::size_t taken = std::min(block.size(), window_length - current.first_window_length);
        std::copy_n(block.begin(), taken,
                    current.first_window.begin() +
                        static_cast<std::ptrdiff_t>(current.first_window_length));
        current.first_window_length += taken;
        block = block.subspan(taken);
        if (current.first_window_length < window_length) {
            return false;
        }
        current.state = start_scan(current.first_window, best_simd_level());
    }
    current.seventh_line = scan_block(current.state, block, current.writer);
    return current.seventh_line;
}

// Ends the image at its end, or at a read error, as fwtally would: the same lines
// and message, and the exit status fwtally would give.
EMSCRIPTEN_KEEPALIVE int fwtally_end(bool read_error) {
    exit_status status = exit_status::success;
    if (current.first_window_length < window_length) {
        std::fputs(read_error_text, current.output);
        status = exit_status::short_image;
    } else if (read_error) {
        std::fputs(read_error_text, current.output);
        status = exit_status::read_failure;
    } else if (!current.seventh_line) {
        end_scan(current.state, current.writer);
    }
    return static_cast<int>(status);
}

EMSCRIPTEN_KEEPALIVE const char* fwtally_output() { return output_bytes.data(); }

EMSCRIPTEN_KEEPALIVE long fwtally_output_length() { return std::ftell(current.output); }

}  // extern "C"
