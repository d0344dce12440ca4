// The scan as the browser page drives it. The page reads an image in blocks,
// copies each into the input block and calls fwtally_feed. Each version found is
// kept with the offset of its marker, for the page's cells; the report lines, and
// any message, collect in a fixed buffer as fwtally prints them, for the page's
// download; for an archive's member, the bytes' CRC-32 is kept as they are
// scanned, while they are at hand. Memory is the same whatever the image's
// size: one block, one scan state, seven versions, one line buffer. One image
// is scanned at a time.

#include <emscripten/emscripten.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

#include "crc32.hpp"
#include "exit_status.hpp"
#include "report_writer.hpp"
#include "scanner.hpp"

namespace {

using namespace fwtally;

constexpr std::size_t block_capacity = std::size_t{1} << 20;
std::array<unsigned char, block_capacity> input_block;

// Seven lines of at most 23 bytes and one message fit with room to spare.
std::array<char, 256> output_bytes;

struct found_version {
    std::array<unsigned char, marker_length> bytes{};
    std::size_t length = 0;
    std::uint64_t offset = 0;
};

struct image_scan {
    std::FILE* output = nullptr;
    report_writer writer{nullptr};
    scan_window first_window{};
    std::size_t first_window_length = 0;
    scan_state state{};
    bool seventh_line = false;
    std::array<found_version, media_labels.size()> versions{};
    std::size_t version_count = 0;
    bool checksummed = false;
    std::uint32_t crc = ~std::uint32_t{0};
};
image_scan current;

void keep_version(void* context, std::size_t index, std::span<const unsigned char> version,
                  std::uint64_t offset) {
    auto& scan = *static_cast<image_scan*>(context);
    found_version& found = scan.versions.at(index);
    found.length = std::min(version.size(), found.bytes.size());
    std::copy_n(version.begin(), found.length, found.bytes.begin());
    found.offset = offset;
    scan.version_count = index + 1;
}

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

// Starts a new image, forgetting the last one; `checksummed` where the bytes'
// CRC-32 is wanted.
EMSCRIPTEN_KEEPALIVE void fwtally_begin(bool checksummed) {
    if (current.output != nullptr) {
        std::fclose(current.output);
    }
    current = image_scan{};
    current.checksummed = checksummed;
    current.output = fmemopen(output_bytes.data(), output_bytes.size(), "w");
    // Unbuffered, so that every line is in output_bytes as soon as it is written.
    std::setvbuf(current.output, nullptr, _IONBF, 0);
    current.writer.output = current.output;
    current.writer.observer = keep_version;
    current.writer.observer_context = &current;
}

// Scans the next `length` bytes of the image, standing at the start of the input
// block. Answers true once the seventh line is out: the page then reads no more.
EMSCRIPTEN_KEEPALIVE bool fwtally_feed(std::size_t length) {
    std::span<const unsigned char> block(input_block.data(), std::min(length, input_block.size()));
    if (current.checksummed) {
        current.crc = update_crc32(current.crc, block);
    }
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

// The CRC-32 of the bytes fed since fwtally_begin asked for it.
EMSCRIPTEN_KEEPALIVE std::uint32_t fwtally_crc32() { return ~current.crc; }

// Ends an image that could not be opened at all, as fwtally would: its message
// alone, and its status.
EMSCRIPTEN_KEEPALIVE int fwtally_cannot_open() {
    fwtally_begin(false);
    std::fputs(cannot_open_text, current.output);
    return static_cast<int>(exit_status::cannot_open);
}

// The versions found so far, in order: their bytes, as many as
// fwtally_version_length tells, and the image offset of each one's marker. The
// offset comes as a double, exact up to 2^53 bytes, since JavaScript numbers are.
EMSCRIPTEN_KEEPALIVE std::size_t fwtally_version_count() { return current.version_count; }

EMSCRIPTEN_KEEPALIVE const unsigned char* fwtally_version_bytes(std::size_t index) {
    return current.versions.at(index).bytes.data();
}

EMSCRIPTEN_KEEPALIVE std::size_t fwtally_version_length(std::size_t index) {
    return current.versions.at(index).length;
}

EMSCRIPTEN_KEEPALIVE double fwtally_version_offset(std::size_t index) {
    return static_cast<double>(current.versions.at(index).offset);
}

EMSCRIPTEN_KEEPALIVE const char* fwtally_output() { return output_bytes.data(); }

EMSCRIPTEN_KEEPALIVE long fwtally_output_length() { return std::ftell(current.output); }

}  // extern "C"
