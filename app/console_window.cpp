#include "console_window.hpp"

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>

namespace fwtally {

namespace {

bool is_console(DWORD standard_handle) {
    DWORD mode = 0;
    // Only a console handle has a console mode: a file, a pipe or NUL has none.
    return GetConsoleMode(GetStdHandle(standard_handle), &mode) != 0;
}

console_report report_console() {
    // Answers how many processes share the console, whatever room it is given
    // for their ids; 0 where there is no console.
    DWORD processes[2];
    return {
        .processes_attached = GetConsoleProcessList(processes, 2),
        .has_window = GetConsoleWindow() != nullptr,
        .input_is_console = is_console(STD_INPUT_HANDLE),
        .output_is_console = is_console(STD_OUTPUT_HANDLE),
    };
}

}  // namespace

void keep_window_until_read() {
    std::fflush(stdout);
    if (!window_closes_unread(report_console())) {
        return;
    }
    const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE keyboard = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    if (screen != INVALID_HANDLE_VALUE && keyboard != INVALID_HANDLE_VALUE) {
        static constexpr wchar_t prompt[] = L"\r\nPress Enter to close this window.";
        DWORD written = 0;
        WriteConsoleW(screen, prompt, sizeof prompt / sizeof prompt[0] - 1, &written, nullptr);
        // Line input returns once Enter is pressed; a closed console ends the read.
        SetConsoleMode(keyboard, ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
        wchar_t typed[64];
        DWORD read = 0;
        while (ReadConsoleW(keyboard, typed, 64, &read, nullptr) != 0 && read > 0 &&
               typed[read - 1] != L'\n') {
        }
    }
    if (screen != INVALID_HANDLE_VALUE) {
        CloseHandle(screen);
    }
    if (keyboard != INVALID_HANDLE_VALUE) {
        CloseHandle(keyboard);
    }
}

}  // namespace fwtally
