#pragma once

// The inputs the benchmarks scan. None holds a marker, so every byte is scanned.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fwtally::bench {

enum class input_class { random_without_dots, all_underscores, underscore_pairs, firmware_like };

inline constexpr input_class all_input_classes[] = {
    input_class::random_without_dots, input_class::all_underscores,
    input_class::underscore_pairs, input_class::firmware_like};

inline std::string_view input_class_name(input_class kind) {
    switch (kind) {
    case input_class::random_without_dots:
        return "random-without-dots";
    case input_class::all_underscores:
        return "all-underscores";
    case input_class::underscore_pairs:
        return "underscore-pairs";
    case input_class::firmware_like:
        return "firmware-like";
    }
    return "unknown";
}

class random_bytes {
public:
    explicit random_bytes(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    char next_byte() { return static_cast<char>(next() >> 56); }

private:
    std::uint64_t state_;
};

// `size` bytes of the class, the same on every run.
inline std::string make_input(input_class kind, std::size_t size) {
    random_bytes random(0x2545F4914F6CDD1D);
    std::string bytes;
    bytes.reserve(size);
    switch (kind) {
    case input_class::random_without_dots:
        while (bytes.size() < size) {
            const char byte = random.next_byte();
            bytes += byte == '.' ? '/' : byte;
        }
        break;
    case input_class::all_underscores:
        bytes.assign(size, '_');
        break;
    case input_class::underscore_pairs:
        while (bytes.size() < size) {
            bytes += "abcdef__";
        }
        break;
    case input_class::firmware_like: {
        // Stretches of compressed-looking code (no underscores, so no marker can
        // form), erased flash and repeated strings with dots in them.
        constexpr std::string_view text =
            "Copyright (C) 2003 Optical Drive Corp. All rights reserved. Loader v2.1 ";
        while (bytes.size() < size) {
            const std::size_t length = 4096 + random.next() % 61440;
            switch (random.next() % 3) {
            case 0:
                for (std::size_t i = 0; i < length; ++i) {
                    const char byte = random.next_byte();
                    bytes += byte == '_' ? '-' : byte;
                }
                break;
            case 1:
                bytes.append(length, '\xFF');
                break;
            default:
                for (std::size_t i = 0; i < length; ++i) {
                    bytes += text[i % text.size()];
                }
            }
        }
        break;
    }
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace fwtally::bench
