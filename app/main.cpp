#include "driver.hpp"

#ifdef _WIN32
#include "console_window.hpp"

int wmain(int argc, wchar_t** argv) {
    const fwtally::exit_status status = fwtally::run_command_line(argc, argv);
    fwtally::keep_window_until_read();
    return static_cast<int>(status);
}
#else
int main(int argc, char** argv) {
    return static_cast<int>(fwtally::run_command_line(argc, argv));
}
#endif
