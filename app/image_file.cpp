#include "image_file.hpp"

#ifdef _WIN32
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

// With a 32-bit file offset the C library refuses to open an image over 2 GiB.
// The build asks for 64 bits (_FILE_OFFSET_BITS=64) where that is not the default.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64: images may exceed 2 GiB");
#endif

namespace fwtally {

std::FILE* open_image(const argument_char* path) {
#ifdef _WIN32
    std::FILE* image = _wfopen(path, L"rb");
#else
    std::FILE* image = std::fopen(path, "rb");
#endif
    if (image != nullptr) {
        std::setvbuf(image, nullptr, _IONBF, 0);
    }
    return image;
}

std::optional<std::uint64_t> regular_file_length(std::FILE* image) {
#ifdef _WIN32
    struct _stat64 status {};
    if (_fstat64(_fileno(image), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
        return std::nullopt;
    }
#else
    struct stat status {};
    if (fstat(fileno(image), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
#endif
    return static_cast<std::uint64_t>(status.st_size);
}

void advise_sequential_reading([[maybe_unused]] std::FILE* image) {
#ifdef POSIX_FADV_SEQUENTIAL
    // Only advice: where the system takes none, reading works as well.
    posix_fadvise(fileno(image), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

}  // namespace fwtally
