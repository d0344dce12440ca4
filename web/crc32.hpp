#pragma once

#include <cstdint>
#include <span>

namespace fwtally {

// CRC-32 as ZIP keeps it (ISO-HDLC): start with ~0, carry it over the bytes in
// order, and invert it at the end.
std::uint32_t update_crc32(std::uint32_t crc, std::span<const unsigned char> bytes);

}  // namespace fwtally
