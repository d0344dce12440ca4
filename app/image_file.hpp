#pragma once

// The image file as the platform opens and describes it.

#include <cstdint>
#include <cstdio>
#include <optional>

namespace fwtally {

// On Windows the arguments come as wide strings, so that a path in any script
// opens; elsewhere they are bytes, passed on unchanged.
#ifdef _WIN32
using argument_char = wchar_t;
#else
using argument_char = char;
#endif

// Opens the image for binary reading, unbuffered: the scan reads whole blocks into
// a buffer of its own, or maps them, and a stream buffer would only copy every
// byte once more. Null when it cannot be opened.
std::FILE* open_image(const argument_char* path);

// The length of a regular file as it stands now; nothing for pipes, devices and
// the like, whose reported length says nothing of what they hold.
std::optional<std::uint64_t> regular_file_length(std::FILE* image);

// Asks for the read-ahead that suits reading from start to end.
void advise_sequential_reading(std::FILE* image);

}  // namespace fwtally
