#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "exit_status.hpp"
#include "image_file.hpp"
#include "scanner.hpp"

namespace fwtally {

// How an image is read. The tool always takes these defaults, chosen by
// measurement (docs/performance.md); tests and benchmarks choose others to reach
// every path and every boundary.
struct read_settings {
    simd_level level = best_simd_level();
    std::size_t block_capacity = default_block_capacity;
    // Regular files of at least this length are mapped rather than read: below it,
    // setting up a mapping costs more than the copy it saves.
    std::uint64_t smallest_mapped_length = std::uint64_t{2} << 20;
    std::size_t mapped_window_length = std::size_t{8} << 20;
    // Where the system maps the file 4 KiB at a time, mapping costs more than it
    // saves, and the reading loop does the work. The tests map regardless, to
    // reach the mapped path on any file system.
    bool map_only_in_huge_pages = true;
};

// The whole program: checks the arguments, opens the image and tallies it onto
// standard output.
exit_status run_command_line(int argument_count, const argument_char* const* arguments,
                             const read_settings& settings = {});

// The scan of an open image after its first eight bytes, `first_window`: mapped
// where that pays, read otherwise, and read on past the mapped length where the
// file has grown since it was opened. A regular file that ends short of its
// length when opened has lost bytes under the scan: a read error on either path.
scan_end scan_image_file(const scan_window& first_window, std::FILE* image, report_writer& writer,
                         const read_settings& settings);

// Everything between opening the image and closing it: reads the first eight
// bytes, scans the rest, writes the report lines and any message to `output`, and
// makes sure `output` took every line. When the image fails, its status stands
// whether or not `output` failed too.
exit_status tally_image(std::FILE* image, std::FILE* output, const read_settings& settings = {});

}  // namespace fwtally
