// The scan's fast path: windows are tested 64 at a time as bit masks.
//
// A window ending at byte e matches when e and e-1 are underscores and e-5 or e-6
// is a dot. With one bit per byte for "is an underscore" (U) and "is a dot" (D),
// the windows ending in a 64-byte chunk that match are
//
//     U & (U << 1) & ((D << 5) | (D << 6))
//
// with the bits of the bytes before the chunk shifted in at the low end. Chunks are
// classified four at a time; since a match needs both an underscore and a dot, a
// stride of four chunks that lacks either is passed over once classified, and
// nearly every stride does. The few events are taken one bit at a time, in order:
//   - a match holds the window ending there and makes a marker pending;
//   - while a marker is pending, the first byte that is not an underscore reports it.
// Each run of underscores holds at most five matches (later windows have no room for
// a dot before the run), and the scan stops at the seventh report, so events are rare
// whatever the image holds.
//
// Only the classification of bytes differs between processors; the tests check
// every level against a plain byte-at-a-time model.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "scanner.hpp"

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define FWTALLY_HAVE_SSE2 1
#endif

// Advanced SIMD is part of every AArch64 processor, so it needs no run-time check.
// The lane order below assumes little-endian lanes, as on every AArch64 Linux.
#if defined(__aarch64__) && defined(__ARM_NEON) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include <arm_neon.h>
#define FWTALLY_HAVE_NEON 1
#endif

// The browser page's WebAssembly is built for 128-bit SIMD, which every browser
// it is for runs.
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#define FWTALLY_HAVE_WASM_SIMD128 1
#endif

// AVX2 and AVX-512 code is compiled per function and chosen at run time. flatten
// pulls the shared chunk loop into each such function, so it runs with that
// function's instruction set rather than calling out per chunk.
#if defined(FWTALLY_HAVE_SSE2) && (defined(__GNUC__) || defined(__clang__))
#define FWTALLY_HAVE_AVX 1
#define FWTALLY_TARGET(instruction_sets) __attribute__((target(instruction_sets), flatten))
#endif

namespace fwtally {

namespace {

constexpr std::size_t chunk_length = 64;
constexpr std::uint64_t all_bits = ~std::uint64_t{0};

struct chunk_masks {
    std::uint64_t underscores;  // bit i: byte i is '_'
    std::uint64_t dots;         // bit i: byte i is '.'
};

constexpr std::uint64_t byte_ones = 0x0101010101010101;
constexpr std::uint64_t low_seven_bits = 0x7F7F7F7F7F7F7F7F;

// The compilers turn this into one load on little-endian processors.
std::uint64_t load_little_endian(const unsigned char* bytes) {
    std::uint64_t word = 0;
    for (unsigned i = 0; i < 8; ++i) {
        word |= std::uint64_t{bytes[i]} << (8 * i);
    }
    return word;
}

// Bit i set where byte i of `word` equals `value`.
std::uint64_t equal_byte_bits(std::uint64_t word, unsigned char value) {
    const std::uint64_t difference = word ^ (byte_ones * value);
    // The high bit of each byte is set where that byte of `difference` is not zero.
    // The sum stays within each byte, so no borrow gives a false answer.
    const std::uint64_t nonzero = ((difference & low_seven_bits) + low_seven_bits) | difference;
    const std::uint64_t equal_high_bits = ~nonzero & ~low_seven_bits;
    // The multiplication moves the high bit of byte i to bit 56 + i; no two of its
    // partial products meet, so nothing carries.
    return ((equal_high_bits >> 7) * 0x0102040810204080) >> 56;
}

// Classifies up to one chunk; bits past `length` stay clear.
chunk_masks classify_portable(const unsigned char* bytes, std::size_t length) {
    chunk_masks masks{0, 0};
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const std::uint64_t word = load_little_endian(bytes + i);
        masks.underscores |= equal_byte_bits(word, '_') << i;
        masks.dots |= equal_byte_bits(word, '.') << i;
    }
    for (; i < length; ++i) {
        masks.underscores |= std::uint64_t{bytes[i] == '_'} << i;
        masks.dots |= std::uint64_t{bytes[i] == '.'} << i;
    }
    return masks;
}

// Each level classifies one whole chunk.
struct portable_level {
    static chunk_masks classify(const unsigned char* bytes) {
        return classify_portable(bytes, chunk_length);
    }
};

#ifdef FWTALLY_HAVE_SSE2
struct sse2_level {
    static __m128i load(const unsigned char* bytes) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    }
    static std::uint64_t bits(__m128i compared) {
        return static_cast<std::uint32_t>(_mm_movemask_epi8(compared));
    }
    static chunk_masks classify(const unsigned char* bytes) {
        chunk_masks masks{0, 0};
        for (unsigned i = 0; i < chunk_length; i += 16) {
            const __m128i vector = load(bytes + i);
            masks.underscores |= bits(_mm_cmpeq_epi8(vector, _mm_set1_epi8('_'))) << i;
            masks.dots |= bits(_mm_cmpeq_epi8(vector, _mm_set1_epi8('.'))) << i;
        }
        return masks;
    }
};
#endif

#ifdef FWTALLY_HAVE_AVX
struct avx2_level {
    __attribute__((target("avx2"))) static __m256i load(const unsigned char* bytes) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    }
    __attribute__((target("avx2"))) static std::uint64_t bits(__m256i compared) {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(compared));
    }
    __attribute__((target("avx2"))) static chunk_masks classify(const unsigned char* bytes) {
        chunk_masks masks{0, 0};
        for (unsigned i = 0; i < chunk_length; i += 32) {
            const __m256i vector = load(bytes + i);
            masks.underscores |= bits(_mm256_cmpeq_epi8(vector, _mm256_set1_epi8('_'))) << i;
            masks.dots |= bits(_mm256_cmpeq_epi8(vector, _mm256_set1_epi8('.'))) << i;
        }
        return masks;
    }
};

struct avx512_level {
    __attribute__((target("avx512f,avx512bw"))) static std::uint64_t equal_bits(
        const unsigned char* bytes, char value) {
        return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(bytes), _mm512_set1_epi8(value));
    }
    __attribute__((target("avx512f,avx512bw"))) static chunk_masks classify(
        const unsigned char* bytes) {
        return {equal_bits(bytes, '_'), equal_bits(bytes, '.')};
    }
};
#endif

#ifdef FWTALLY_HAVE_NEON
struct neon_level {
    // Keeps one distinct bit per byte of each 8-byte half, so that three rounds of
    // pairwise adds gather the 64 compare results into one 64-bit word in byte order.
    static std::uint64_t bits(uint8x16_t compared0, uint8x16_t compared1, uint8x16_t compared2,
                              uint8x16_t compared3) {
        const uint8x16_t weights = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        const uint8x16_t sum01 =
            vpaddq_u8(vandq_u8(compared0, weights), vandq_u8(compared1, weights));
        const uint8x16_t sum23 =
            vpaddq_u8(vandq_u8(compared2, weights), vandq_u8(compared3, weights));
        const uint8x16_t sum = vpaddq_u8(sum01, sum23);
        return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(sum, sum)), 0);
    }
    static std::uint64_t equal_bits(const uint8x16x4_t& vectors, unsigned char value) {
        const uint8x16_t wanted = vdupq_n_u8(value);
        return bits(vceqq_u8(vectors.val[0], wanted), vceqq_u8(vectors.val[1], wanted),
                    vceqq_u8(vectors.val[2], wanted), vceqq_u8(vectors.val[3], wanted));
    }
    static chunk_masks classify(const unsigned char* bytes) {
        const uint8x16x4_t vectors = {
            {vld1q_u8(bytes), vld1q_u8(bytes + 16), vld1q_u8(bytes + 32), vld1q_u8(bytes + 48)}};
        return {equal_bits(vectors, '_'), equal_bits(vectors, '.')};
    }
};
#endif

#ifdef FWTALLY_HAVE_WASM_SIMD128
struct wasm_simd128_level {
    static std::uint64_t bits(v128_t vector, char value) {
        return wasm_i8x16_bitmask(wasm_i8x16_eq(vector, wasm_i8x16_splat(value)));
    }
    static chunk_masks classify(const unsigned char* bytes) {
        chunk_masks masks{0, 0};
        for (unsigned i = 0; i < chunk_length; i += 16) {
            const v128_t vector = wasm_v128_load(bytes + i);
            masks.underscores |= bits(vector, '_') << i;
            masks.dots |= bits(vector, '.') << i;
        }
        return masks;
    }
};
#endif

// The window ending at block[end]; near the block's start it reaches back into the
// window that preceded the block.
held_marker window_ending_at(const scan_window& before_block, std::span<const unsigned char> block,
                             std::size_t end) {
    held_marker marker;
    const std::size_t from_block = std::min(end + 1, window_length);
    const std::size_t from_before = window_length - from_block;
    std::copy_n(before_block.end() - static_cast<std::ptrdiff_t>(from_before), from_before,
                marker.begin());
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(end + 1 - from_block), from_block,
                marker.begin() + static_cast<std::ptrdiff_t>(from_before));
    return marker;
}

void slide_window(scan_window& window, std::span<const unsigned char> block) {
    const std::size_t kept = window_length - std::min(block.size(), window_length);
    std::copy_n(window.end() - static_cast<std::ptrdiff_t>(kept), kept, window.begin());
    std::copy(block.end() - static_cast<std::ptrdiff_t>(window_length - kept), block.end(),
              window.begin() + static_cast<std::ptrdiff_t>(kept));
}

// Takes the chunk's events in byte order; true once the seventh line is printed.
bool take_events(scan_state& state, std::span<const unsigned char> block, std::size_t chunk_start,
                 std::uint64_t matches, std::uint64_t run_ends, report_writer& writer) {
    std::uint64_t not_yet_taken = all_bits;
    for (;;) {
        const std::uint64_t events =
            (matches | (state.marker_pending ? run_ends : 0)) & not_yet_taken;
        if (events == 0) {
            return false;
        }
        const int bit = std::countr_zero(events);
        const std::uint64_t event = std::uint64_t{1} << bit;
        not_yet_taken = ~(event | (event - 1));
        if ((event & matches) != 0) {
            const std::size_t end = chunk_start + static_cast<std::size_t>(bit);
            state.held = window_ending_at(state.window, block, end);
            state.held_offset = state.position + end - (window_length - 1);
            state.marker_pending = true;
        } else {
            state.marker_pending = false;
            if (report_version(writer, state.held, state.held_offset)) {
                return true;
            }
        }
    }
}

// Chunks are classified four at a time, a stride, so that a stride with nothing to
// act on can be passed over as a whole.
constexpr std::size_t stride_length = 4 * chunk_length;

template <typename Level>
bool scan_chunks(scan_state& state, std::span<const unsigned char> block, report_writer& writer) {
    // The bits of the bytes before the block sit at the top, as if from a previous chunk.
    const chunk_masks before = classify_portable(state.window.data(), window_length);
    std::uint64_t previous_underscores = before.underscores << (chunk_length - window_length);
    std::uint64_t previous_dots = before.dots << (chunk_length - window_length);

    const auto scan_chunk = [&](std::size_t chunk_start, chunk_masks masks, std::uint64_t in_chunk) {
        const std::uint64_t matches =
            masks.underscores & ((masks.underscores << 1) | (previous_underscores >> 63)) &
            ((masks.dots << 5) | (previous_dots >> 59) | (masks.dots << 6) | (previous_dots >> 58));
        const std::uint64_t run_ends = ~masks.underscores & in_chunk;
        previous_underscores = masks.underscores;
        previous_dots = masks.dots;
        if ((matches | (state.marker_pending ? run_ends : 0)) == 0) {
            return false;
        }
        return take_events(state, block, chunk_start, matches, run_ends, writer);
    };

    std::size_t chunk_start = 0;
    for (; block.size() - chunk_start >= stride_length; chunk_start += stride_length) {
        std::array<chunk_masks, stride_length / chunk_length> stride;
        chunk_masks any{0, 0};
        for (std::size_t i = 0; i < stride.size(); ++i) {
            stride[i] = Level::classify(block.data() + chunk_start + i * chunk_length);
            any.underscores |= stride[i].underscores;
            any.dots |= stride[i].dots;
        }
        // A match ends on an underscore and needs a dot at most six bytes before its
        // end. So with no marker pending, a stride without underscores has nothing to
        // act on, and neither has one without dots when no dot stands just before it.
        // Computed as one mask so that only the final test branches: on random
        // data each half alone is a coin toss.
        const std::uint64_t may_match = (std::uint64_t{0} - std::uint64_t{any.underscores != 0}) &
                                        (any.dots | (previous_dots >> 58));
        if (may_match == 0 && !state.marker_pending) {
            previous_underscores = stride.back().underscores;
            previous_dots = stride.back().dots;
            continue;
        }
        for (std::size_t i = 0; i < stride.size(); ++i) {
            if (scan_chunk(chunk_start + i * chunk_length, stride[i], all_bits)) {
                return true;
            }
        }
    }
    for (; block.size() - chunk_start >= chunk_length; chunk_start += chunk_length) {
        if (scan_chunk(chunk_start, Level::classify(block.data() + chunk_start), all_bits)) {
            return true;
        }
    }
    const std::size_t tail = block.size() - chunk_start;
    if (tail != 0 && scan_chunk(chunk_start, classify_portable(block.data() + chunk_start, tail),
                                (std::uint64_t{1} << tail) - 1)) {
        return true;
    }
    slide_window(state.window, block);
    state.position += block.size();
    return false;
}

bool scan_block_portable(scan_state& state, std::span<const unsigned char> block,
                         report_writer& writer) {
    return scan_chunks<portable_level>(state, block, writer);
}

#ifdef FWTALLY_HAVE_SSE2
bool scan_block_sse2(scan_state& state, std::span<const unsigned char> block, report_writer& writer) {
    return scan_chunks<sse2_level>(state, block, writer);
}
#endif

#ifdef FWTALLY_HAVE_AVX
FWTALLY_TARGET("avx2")
bool scan_block_avx2(scan_state& state, std::span<const unsigned char> block, report_writer& writer) {
    return scan_chunks<avx2_level>(state, block, writer);
}

FWTALLY_TARGET("avx512f,avx512bw")
bool scan_block_avx512(scan_state& state, std::span<const unsigned char> block,
                       report_writer& writer) {
    return scan_chunks<avx512_level>(state, block, writer);
}
#endif

#ifdef FWTALLY_HAVE_NEON
bool scan_block_neon(scan_state& state, std::span<const unsigned char> block, report_writer& writer) {
    return scan_chunks<neon_level>(state, block, writer);
}
#endif

#ifdef FWTALLY_HAVE_WASM_SIMD128
bool scan_block_wasm_simd128(scan_state& state, std::span<const unsigned char> block,
                             report_writer& writer) {
    return scan_chunks<wasm_simd128_level>(state, block, writer);
}
#endif

}  // namespace

bool simd_level_supported(simd_level level) {
    switch (level) {
    case simd_level::portable:
#ifdef FWTALLY_HAVE_SSE2
    case simd_level::sse2:
#endif
        return true;
#ifdef FWTALLY_HAVE_AVX
    // The processor model is filled in by a constructor of its own, which may not
    // have run yet when this is asked from another static initialiser.
    case simd_level::avx2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    case simd_level::avx512:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
#endif
#ifdef FWTALLY_HAVE_NEON
    case simd_level::neon:
        return true;
#endif
#ifdef FWTALLY_HAVE_WASM_SIMD128
    case simd_level::wasm_simd128:
        return true;
#endif
    default:
        return false;
    }
}

simd_level best_simd_level() {
    constexpr std::array fastest_first{simd_level::avx512, simd_level::avx2, simd_level::sse2,
                                       simd_level::neon, simd_level::wasm_simd128};
    const auto* const best =
        std::find_if(fastest_first.begin(), fastest_first.end(), simd_level_supported);
    return best == fastest_first.end() ? simd_level::portable : *best;
}

bool scan_block(scan_state& state, std::span<const unsigned char> block, report_writer& writer) {
    switch (state.level) {
#ifdef FWTALLY_HAVE_SSE2
    case simd_level::sse2:
        return scan_block_sse2(state, block, writer);
#endif
#ifdef FWTALLY_HAVE_AVX
    case simd_level::avx2:
        return scan_block_avx2(state, block, writer);
    case simd_level::avx512:
        return scan_block_avx512(state, block, writer);
#endif
#ifdef FWTALLY_HAVE_NEON
    case simd_level::neon:
        return scan_block_neon(state, block, writer);
#endif
#ifdef FWTALLY_HAVE_WASM_SIMD128
    case simd_level::wasm_simd128:
        return scan_block_wasm_simd128(state, block, writer);
#endif
    default:
        return scan_block_portable(state, block, writer);
    }
}

}  // namespace fwtally
