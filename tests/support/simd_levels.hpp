#pragma once

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "scanner.hpp"

namespace fwtally::testing {

// Within each processor family, slowest first.
inline constexpr std::array all_simd_levels{simd_level::portable, simd_level::sse2,
                                            simd_level::avx2, simd_level::avx512,
                                            simd_level::neon, simd_level::wasm_simd128};

// The levels this processor runs, the portable one always among them.
inline std::vector<simd_level> supported_simd_levels() {
    std::vector<simd_level> levels;
    std::copy_if(all_simd_levels.begin(), all_simd_levels.end(), std::back_inserter(levels),
                 simd_level_supported);
    return levels;
}

inline const char* simd_level_name(simd_level level) {
    switch (level) {
    case simd_level::portable:
        return "portable";
    case simd_level::sse2:
        return "sse2";
    case simd_level::avx2:
        return "avx2";
    case simd_level::avx512:
        return "avx512";
    case simd_level::neon:
        return "neon";
    case simd_level::wasm_simd128:
        return "wasm_simd128";
    }
    return "unknown";
}

}  // namespace fwtally::testing
