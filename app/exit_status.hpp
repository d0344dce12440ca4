#pragma once

namespace fwtally {

// The process's exit statuses, each with the one message that goes with it.
enum class exit_status : int {
    success = 0,
    usage = 1,         // stdout: usage_text
    cannot_open = 2,   // stdout: cannot_open_text
    short_image = 3,   // stdout: read_error_text (fewer than eight bytes)
    read_failure = 4,  // stdout: read_error_text (a read error after them)
    write_failure = 5, // stderr: write_error_text
};

// The usage text is fixed: it does not echo the name the program was started by.
inline constexpr const char* usage_text = "Usage:\nFwtally {Firmwarefile}\n";
inline constexpr const char* cannot_open_text = "Cannot open Firmware file\n";
inline constexpr const char* read_error_text = "Error reading Firmware\n";
inline constexpr const char* write_error_text = "Error writing output\n";

}  // namespace fwtally
