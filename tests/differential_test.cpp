// The scanner against the byte-at-a-time reference model on generated images rich
// in the bytes that matter, at every SIMD level: fed in blocks of many capacities,
// and read from a file through the mapped path with window edges everywhere.
// FWTALLY_DIFFERENTIAL_SEED picks another seed; a failure prints the one in use.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "driver.hpp"
#include "memory_scan.hpp"
#include "reference_scan.hpp"
#include "scan_runs.hpp"
#include "temporary_file.hpp"
#include "version_log.hpp"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fwtally::testing {
namespace {

std::uint64_t differential_seed() {
    if (const char* seed = std::getenv("FWTALLY_DIFFERENTIAL_SEED")) {
        return std::strtoull(seed, nullptr, 10);
    }
    return 20261210;
}

// Images built from pieces that make and break markers: runs of underscores, dots
// near them, NUL, LF and 0xFF, and quiet stretches that the fast path passes over.
class image_generator {
public:
    explicit image_generator(std::uint64_t seed) : random_(seed) {}

    // One image in four is laid out at the scan's own boundaries.
    std::string next() { return pick(0, 3) == 0 ? at_chunk_edges() : from_pieces(); }

private:
    std::string from_pieces() {
        std::string image;
        const std::size_t pieces = pick(1, 24);
        for (std::size_t piece = 0; piece < pieces; ++piece) {
            switch (pick(0, 5)) {
            case 0:  // a marker-like text and a run of underscores
                image += pick_byte("x_.\xFF");
                image += pick_byte("0123456789.");
                image += '.';
                image.append(pick(0, 4), pick_byte("0123456789_.\n"));
                image.append(pick(0, 9), '_');
                break;
            case 1:  // bytes that matter, in any order
                for (std::size_t i = pick(1, 40); i > 0; --i) {
                    image += pick_byte(std::string("_._._.\0\n\xFF" "a1", 11));
                }
                break;
            case 2:  // a quiet stretch with no underscore
                image.append(pick(1, 700), pick_byte("a\xFF.\0"));
                break;
            case 3:  // a quiet stretch with no dot
                for (std::size_t i = pick(1, 700); i > 0; --i) {
                    image += pick_byte("ab_\xFF");
                }
                break;
            case 4:  // a long run of underscores
                image.append(pick(10, 300), '_');
                break;
            default:  // anything at all
                for (std::size_t i = pick(1, 80); i > 0; --i) {
                    image += static_cast<char>(pick(0, 255));
                }
            }
        }
        if (image.size() < 8) {
            image.append(8 - image.size(), '_');
        }
        return image;
    }

    // Chunks and strides are counted from the end of the first eight bytes. Dots and
    // underscores stand only within seven bytes of a chunk's edge, in strides that
    // hold only dots, only underscores, both or neither, so that the state carried
    // from one chunk or stride into the next, past a passed-over stride too, decides
    // what is printed. Some strides end on a marker's run of underscores, which the
    // next stride, however quiet, must report; some begin with the underscores of a
    // marker whose dot ends the stride before, a match that would replace a marker
    // still pending unreported.
    std::string at_chunk_edges() {
        constexpr std::size_t chunk = 64;
        constexpr std::size_t stride = 4 * chunk;
        std::string image;
        for (int i = 0; i < 8; ++i) {
            image += pick_byte("a_.");
        }
        for (std::size_t strides = pick(1, 6); strides > 0; --strides) {
            std::string bytes(stride, pick_byte("a\xFF"));
            const std::string_view kind = std::array<std::string_view, 4>{"", ".", "_", "._"}[pick(0, 3)];
            for (std::size_t runs = kind.empty() ? 0 : pick(1, 6); runs > 0; --runs) {
                const std::size_t chunk_start = chunk * pick(0, 3);
                const std::size_t from_edge = pick(0, 6);
                const std::size_t length = pick(1, 3);
                const std::size_t start =
                    pick(0, 1) == 0 ? chunk_start + from_edge : chunk_start + chunk - length - from_edge;
                bytes.replace(start, length, length, pick_byte(kind));
            }
            if (pick(0, 2) == 0) {  // a marker still pending as the next stride begins
                const std::string marker = "x1.23" + std::string(pick(3, 6), '_');
                bytes.replace(stride - marker.size(), marker.size(), marker);
            }
            if (image.size() > 8 && pick(0, 2) == 0) {  // a match across the stride edge
                const std::size_t run = pick(2, 4);
                bytes.replace(0, run, run, '_');
                image[image.size() - pick(5, 6)] = '.';
            }
            image += bytes;
        }
        image.append(pick(0, 70), pick_byte("az_"));  // a tail shorter than a stride
        return image;
    }

    std::size_t pick(std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(random_);
    }
    char pick_byte(std::string_view choices) { return choices[pick(0, choices.size() - 1)]; }

    std::mt19937_64 random_;
};

class Differential : public ::testing::TestWithParam<simd_level> {};

TEST_P(Differential, ScannerAgreesWithTheReferenceModel) {
    const simd_level level = GetParam();
    std::vector<std::size_t> capacities(17);
    std::iota(capacities.begin(), capacities.end(), std::size_t{1});
    capacities.insert(capacities.end(), {63, 64, 65, 255, 256, 257, default_block_capacity});

    const std::uint64_t seed = differential_seed();
    image_generator generator(seed);
    const file_handle output = file_holding("");
    ASSERT_TRUE(output);
    std::size_t images_with_lines = 0;
    std::size_t images_with_seven = 0;
    constexpr int image_count = 3000;
    for (int image_number = 0; image_number < image_count; ++image_number) {
        const std::string image = generator.next();
        const scan_result expected = reference_result(image);
        images_with_lines += expected.lines.empty() ? 0U : 1U;
        images_with_seven += expected.versions.size() == 7 ? 1U : 0U;
        for (const std::size_t capacity : capacities) {
            ASSERT_EQ(scan_in_blocks(image, capacity, level, output.get()), expected)
                << "seed " << seed << ", image " << image_number << " (" << image.size()
                << " bytes), capacity " << capacity;
        }
    }
    // The generator must keep producing images that exercise reporting and stopping.
    EXPECT_GT(images_with_lines, std::size_t{image_count} / 2);
    EXPECT_GT(images_with_seven, std::size_t{image_count} / 20);
}

#ifndef _WIN32
// The mapped path, windows of one and of three pages, so that window edges fall
// all over images a few pages long. Windows start on pages, which are whole
// strides, so every edge is a chunk and stride boundary too; filler before the
// image moves its markers and runs across the edges, and filler after it moves
// the end of the last window. The file ends where the image does: the reading
// loop that takes over after the last window must find nothing more.
TEST_P(Differential, MappedScanAgreesWithTheReferenceModel) {
    const simd_level level = GetParam();
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t seed = differential_seed();
    image_generator generator(seed + 1);
    std::mt19937_64 random(seed);
    const file_handle output = file_holding("");
    ASSERT_TRUE(output);
    for (int image_number = 0; image_number < 400; ++image_number) {
        const std::string generated = generator.next();
        // Filler of a whole number of strides, or eight bytes short of one, keeps the
        // generated stride edges on the scan's own in the first window or in later ones.
        const std::size_t strides_before = 256 * std::uniform_int_distribution<std::size_t>(0, 4)(random);
        const std::size_t before = std::array<std::size_t, 3>{
            std::uniform_int_distribution<std::size_t>(0, page)(random), strides_before,
            strides_before + 248}[static_cast<std::size_t>(image_number % 3)];
        const std::size_t after = std::uniform_int_distribution<std::size_t>(0, 300)(random);
        const std::string image = std::string(before, 'f') + generated + std::string(after, 'g');
        const scan_result expected = reference_result(image);
        const file_handle file = file_holding(image);
        ASSERT_TRUE(file);
        for (const std::size_t window_pages : {std::size_t{1}, std::size_t{3}}) {
            const read_settings mapped{.level = level,
                                       .smallest_mapped_length = 0,
                                       .mapped_window_length = window_pages * page,
                                       .map_only_in_huge_pages = false};
            std::rewind(file.get());
            scan_window first_window;
            ASSERT_EQ(std::fread(first_window.data(), 1, first_window.size(), file.get()),
                      first_window.size());
            std::rewind(output.get());
            report_writer writer{output.get()};
            scan_result result;
            log_versions(writer, result.versions);
            const scan_end end = scan_image_file(first_window, file.get(), writer, mapped);
            result.lines = written_to(output.get());
            ASSERT_EQ(result, expected) << "seed " << seed << ", image " << image_number << " ("
                                        << image.size() << " bytes), windows of " << window_pages
                                        << " pages";
            ASSERT_NE(end, scan_end::read_error);
        }
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Levels, Differential, ::testing::ValuesIn(supported_simd_levels()),
                         simd_level_test_name);

}  // namespace
}  // namespace fwtally::testing
