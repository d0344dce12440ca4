#include "driver.hpp"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    return static_cast<int>(fwtally::run_command_line(argc, argv));
}
