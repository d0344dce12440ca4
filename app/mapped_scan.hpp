#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "scanner.hpp"

namespace fwtally {

// Scans a regular file in place, mapped into memory one window of
// `mapped_window_length` bytes at a time, so that each byte is read once, straight
// from the page cache, rather than copied into a buffer first. Goes on with
// `state` from state.position up to `length`, the file's length when it was
// opened; a file that has shrunk since, or a page that cannot be read, ends the
// scan as a read error.
//
// Answers how the scan ended; or nothing where the reading loop is to take over
// from state.position, to which `image` then stands: once all `length` bytes are
// scanned (the file may have grown); where mapping fails or is not done on this
// system, before or between windows; and, with `only_in_huge_pages`, where the
// system does not map the file's first window in huge pages, since only then
// does mapping pay.
std::optional<scan_end> scan_mapped(scan_state& state, std::FILE* image, std::uint64_t length,
                                    report_writer& writer, std::size_t mapped_window_length,
                                    bool only_in_huge_pages);

#ifndef _WIN32
// The probe that tells whether mapping pays. `smaps_rollup` is the text of Linux's
// /proc/self/smaps_rollup: answers its FilePmdMapped figure, the kibibytes of file
// pages this process maps two megabytes at a time, or nothing where it has none.
std::optional<std::uint64_t> file_kibibytes_mapped_huge(std::string_view smaps_rollup);

// Mapping pays where touching the first window has mapped more file pages in huge
// pages than were so mapped before it.
bool first_window_mapped_huge(std::uint64_t kibibytes_before,
                              std::optional<std::uint64_t> kibibytes_after);
#endif

}  // namespace fwtally
