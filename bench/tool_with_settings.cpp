// The whole tool with its read settings chosen on the command line, for timing
// each SIMD level and the choices of mapping window and threshold. The tool
// itself takes no such option.
//
//   fwtally_with_settings LEVEL WINDOW_KIB SMALLEST_MAPPED_KIB IMAGE
//
// LEVEL is portable, sse2, avx2, avx512 or neon (the levels of native processors);
// each number may be "default".
// A smallest mapped length of "never" keeps every image on the reading loop.

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "driver.hpp"
#include "simd_levels.hpp"

namespace {

using namespace fwtally;

bool parse_level(std::string_view name, simd_level& level) {
    for (const simd_level candidate : testing::all_simd_levels) {
        if (name == testing::simd_level_name(candidate)) {
            level = candidate;
            return simd_level_supported(candidate);
        }
    }
    return name == "default";
}

template <typename Number>
bool parse_kibibytes(std::string_view text, Number& value) {
    if (text == "default") {
        return true;
    }
    if (text == "never") {
        value = std::numeric_limits<Number>::max();
        return true;
    }
    char* end = nullptr;
    const unsigned long long kibibytes = std::strtoull(text.data(), &end, 10);
    value = static_cast<Number>(kibibytes * 1024);
    return end != text.data() && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    read_settings settings;
    if (argc != 5 || !parse_level(argv[1], settings.level) ||
        !parse_kibibytes(argv[2], settings.mapped_window_length) ||
        !parse_kibibytes(argv[3], settings.smallest_mapped_length)) {
        std::fputs("usage: fwtally_with_settings LEVEL WINDOW_KIB SMALLEST_MAPPED_KIB IMAGE\n"
                   "(a level this processor runs; numbers may be \"default\", the smallest\n"
                   "mapped length \"never\")\n",
                   stderr);
        return 64;
    }
    const char* const arguments[] = {argv[0], argv[4]};
    return static_cast<int>(run_command_line(2, arguments, settings));
}
