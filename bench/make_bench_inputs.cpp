// Writes each benchmark input class to DIRECTORY/CLASS.bin, SIZE bytes each, and a
// 2 MiB firmware-like image as DIRECTORY/firmware-like-2MiB.bin.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "input_classes.hpp"

namespace {

bool write_file(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_bench_inputs DIRECTORY SIZE_IN_MIB\n", stderr);
        return 1;
    }
    const std::string directory = argv[1];
    const std::size_t size = std::strtoull(argv[2], nullptr, 10) << 20;
    using fwtally::bench::input_class;
    for (const input_class kind : fwtally::bench::all_input_classes) {
        const std::string path =
            directory + "/" + std::string(fwtally::bench::input_class_name(kind)) + ".bin";
        if (!write_file(path, fwtally::bench::make_input(kind, size))) {
            return 1;
        }
    }
    return write_file(directory + "/firmware-like-2MiB.bin",
                      fwtally::bench::make_input(input_class::firmware_like, std::size_t{2} << 20))
               ? 0
               : 1;
}
