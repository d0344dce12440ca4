// Writes a small synthetic firmware image: blocks of pseudo-random bytes, runs of
// 0xFF and repeated text, with seven version markers among them. The output is the
// same on every run and every platform.

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

// xorshift64: enough for filler, and the same everywhere.
class filler_bytes {
public:
    unsigned char next() {
        for (;;) {
            state_ ^= state_ << 13;
            state_ ^= state_ >> 7;
            state_ ^= state_ << 17;
            const auto byte = static_cast<unsigned char>(state_ >> 56);
            // No dots or underscores, so the filler holds no marker of its own.
            if (byte != '.' && byte != '_') {
                return byte;
            }
        }
    }

private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_sample_image OUTPUT\n", stderr);
        return 1;
    }
    // Each marker sits after a byte that is not part of its text, is closed by four
    // underscores and is followed by a byte that ends the run.
    constexpr std::array<std::string_view, 7> markers{"V1.02____", "V1.05____", "V2.10____",
                                                      "V2.11____", "V3.00____", "V3.01____",
                                                      "V1.00____"};
    constexpr std::string_view text = "OPTICAL DRIVE FIRMWARE - SAMPLE IMAGE - NOT FOR FLASHING ";

    filler_bytes filler;
    std::string image;
    for (const std::string_view marker : markers) {
        for (int i = 0; i < 300; ++i) {
            image += static_cast<char>(filler.next());
        }
        image.append(200, '\xFF');
        for (int i = 0; i < 3; ++i) {
            image += text;
        }
        image += marker;
        image += static_cast<char>(0x00);
    }
    image.append(512, '\xFF');

    std::FILE* output = std::fopen(argv[1], "wb");
    if (output == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), output) == image.size();
    if (std::fclose(output) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
