#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

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

}  // namespace fwtally
