#pragma once

namespace fwtally {

// The process's exit statuses, each with the one message that goes with it.
enum class exit_status : int {
    success = 0,
    usage = 1,         // stdout: "Usage:\nFwtally {Firmwarefile}\n"
    cannot_open = 2,   // stdout: "Cannot open Firmware file\n"
    short_image = 3,   // stdout: "Error reading Firmware\n" (fewer than eight bytes)
    read_failure = 4,  // stdout: "Error reading Firmware\n" (a read error after them)
    write_failure = 5, // stderr: "Error writing output\n"
};

}  // namespace fwtally
