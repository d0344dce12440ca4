// libFuzzer target: arbitrary bytes as an image, scanned through the real reading
// loop at a block capacity and SIMD level drawn from the input, must give exactly
// the lines and marker offsets of the byte-at-a-time reference model.
//
// Input layout: two bytes of block capacity (little-endian; 0 means the default),
// one byte choosing the SIMD level among those this processor runs, then the image.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "reference_scan.hpp"
#include "scanner.hpp"
#include "simd_levels.hpp"
#include "version_log.hpp"

namespace {

using namespace fwtally;

const std::vector<simd_level> usable_levels = testing::supported_simd_levels();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t header_length = 3;
    if (size < header_length + window_length) {
        return 0;  // the driver turns such images away before any scan
    }
    const std::size_t capacity_field = data[0] | (std::size_t{data[1]} << 8);
    const std::size_t capacity = capacity_field == 0 ? default_block_capacity : capacity_field;
    const simd_level level = usable_levels[data[2] % usable_levels.size()];
    const std::string_view image(reinterpret_cast<const char*>(data + header_length),
                                 size - header_length);

    std::FILE* image_file = fmemopen(const_cast<char*>(image.data()), image.size(), "rb");
    char* lines = nullptr;
    std::size_t lines_length = 0;
    std::FILE* output = open_memstream(&lines, &lines_length);
    if (image_file == nullptr || output == nullptr) {
        std::abort();
    }
    scan_window window;
    if (std::fread(window.data(), 1, window.size(), image_file) != window.size()) {
        std::abort();
    }
    report_writer writer{output};
    std::vector<testing::found_version> versions;
    testing::log_versions(writer, versions);
    const scan_end end = scan_markers(window, image_file, writer, capacity, level);
    std::fclose(image_file);
    std::fclose(output);

    const std::string expected = testing::reference_report(image);
    // A seventh line completed by end of file ends the scan there, as any other would.
    const bool seventh = expected.find("DVD+R9") != std::string::npos;
    const bool end_agrees =
        end == scan_end::end_of_file || (seventh && end == scan_end::seventh_line);
    if (std::string_view(lines, lines_length) != expected || !end_agrees ||
        versions != testing::reference_versions(image)) {
        std::fprintf(stderr, "capacity %zu, level %d, end %d: expected\n%s\ngot (or other offsets)\n%.*s\n", capacity,
                     static_cast<int>(level), static_cast<int>(end), expected.c_str(), static_cast<int>(lines_length),
                     lines);
        std::abort();
    }
    std::free(lines);
    return 0;
}
