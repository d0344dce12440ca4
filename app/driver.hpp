#pragma once

#include <cstdio>

#include "exit_status.hpp"

namespace fwtally {

// On Windows the arguments come as wide strings, so that a path in any script
// opens; elsewhere they are bytes, passed on unchanged.
#ifdef _WIN32
using argument_char = wchar_t;
#else
using argument_char = char;
#endif

// The whole program: checks the arguments, opens the image and tallies it onto
// standard output.
exit_status run_command_line(int argument_count, const argument_char* const* arguments);

// Everything between opening the image and closing it: reads the first eight
// bytes, scans the rest, writes the report lines and any message to `output`, and
// makes sure `output` took every line. When the image fails, its status stands
// whether or not `output` failed too.
exit_status tally_image(std::FILE* image, std::FILE* output);

}  // namespace fwtally
