#include "driver.hpp"

int main(int argc, char** argv) {
    return static_cast<int>(fwtally::run_command_line(argc, argv));
}
