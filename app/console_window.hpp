#pragma once

// Windows closes a console window that it made for one program the moment that
// program ends. A user who dropped an image on fwtally.exe, or double-clicked
// it, would see the lines flash and vanish, so there the window waits for Enter.

namespace fwtally {

// What Windows reports of the process's console and its standard handles.
struct console_report {
    unsigned long processes_attached = 0;  // 0 where the process has no console
    bool has_window = false;               // false for a console made without one
    bool input_is_console = false;         // standard input reads from the console
    bool output_is_console = false;        // standard output writes to it
};

// Wait only where the window closes with fwtally (no other process shares the
// console: no prompt, no shell, no batch file) and someone can answer at it: a
// console started hidden has no window to type in, and where input or output
// is redirected or piped the caller is a program.
constexpr bool window_closes_unread(const console_report& report) {
    return report.processes_attached == 1 && report.has_window && report.input_is_console &&
           report.output_is_console;
}

#ifdef _WIN32
// After everything else is printed: where the window would close unread, asks
// on the console itself, not on standard output or error, for Enter, and waits.
void keep_window_until_read();
#endif

}  // namespace fwtally
