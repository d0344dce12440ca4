#include <gtest/gtest.h>

#include "console_window.hpp"

namespace fwtally::testing {
namespace {

// Whether the window waits for Enter, for each way Windows may have started
// fwtally: the window must wait only where it would close unread, and never
// where no one can answer.
TEST(ConsoleWindow, WaitsOnlyWhereTheWindowClosesWithTheTool) {
    struct case_ {
        const char* how_started;
        console_report report;
        bool waits;
    };
    const case_ cases[] = {
        {"a file dropped on the .exe, or a double click", {1, true, true, true}, true},
        {"from cmd or PowerShell, sharing their console", {2, true, true, true}, false},
        {"from a batch file run by cmd", {3, true, true, true}, false},
        {"with no console at all", {0, false, false, false}, false},
        {"no console, yet a window and handles that claim one", {0, true, true, true}, false},
        {"alone in a console started hidden, with no window", {1, false, true, true}, false},
        {"alone, with input from a file or NUL", {1, true, false, true}, false},
        {"alone, with output to a file, a pipe or NUL", {1, true, true, false}, false},
        {"alone, with both redirected", {1, true, false, false}, false},
    };
    for (const case_& each : cases) {
        EXPECT_EQ(window_closes_unread(each.report), each.waits) << each.how_started;
    }
}

}  // namespace
}  // namespace fwtally::testing
