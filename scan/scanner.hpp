#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "report_writer.hpp"

namespace fwtally {

// A version marker is an eight-byte window with a dot at position 1 or 2 and
// underscores at positions 6 and 7, such as "x1.23___" or "1.23____". While the
// underscores run on, each later matching window replaces the held one; the held
// marker is reported at the first byte that is not an underscore, or at end of file.

inline constexpr std::size_t window_length = 8;
using scan_window = std::array<unsigned char, window_length>;  // [0] oldest byte

// Bytes read from the image at a time by the reading loop; its only buffer, kept
// on the stack.
inline constexpr std::size_t default_block_capacity = std::size_t{128} * 1024;

// How 64-byte chunks are classified; every level gives the same result.
enum class simd_level { portable, sse2, avx2, avx512, neon, wasm_simd128 };

bool simd_level_supported(simd_level level);
simd_level best_simd_level();  // the fastest level this processor runs

enum class scan_end { end_of_file, seventh_line, read_error };

// The scan for callers that hold the bytes themselves: start_scan with the image's
// first eight bytes, scan_block for each following block in order, end_scan at end
// of file unless scan_block has answered true (the seventh line is printed).
struct scan_state {
    scan_window window;  // the last eight bytes scanned
    held_marker held{};
    std::uint64_t held_offset = 0;  // where the held marker starts in the image
    bool marker_pending = false;
    simd_level level = simd_level::portable;
    std::uint64_t position = window_length;  // the image offset of the next block
};

scan_state start_scan(const scan_window& first_window, simd_level level);
bool scan_block(scan_state& state, std::span<const unsigned char> block, report_writer& writer);
void end_scan(scan_state& state, report_writer& writer);

// The reading loop: goes on with `state` over `image` from its current position,
// which is state.position, reading blocks of at most `block_capacity` bytes. Stops
// at end of file, at a read error (without reporting a pending marker) or once the
// seventh line is printed, reading no further. End of file before the image offset
// `promised_length` is a read error too: bytes the image was known to hold are gone.
scan_end scan_stream(scan_state& state, std::FILE* image, report_writer& writer,
                     std::uint64_t promised_length, std::size_t block_capacity);

// The whole scan of a stream: `window` holds the image's first eight bytes, and
// `image` stands just after them.
scan_end scan_markers(const scan_window& window, std::FILE* image, report_writer& writer,
                      std::size_t block_capacity = default_block_capacity,
                      simd_level level = best_simd_level());

}  // namespace fwtally
