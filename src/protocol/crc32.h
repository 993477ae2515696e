// The standard reflected CRC-32 (polynomial 0xEDB88320, initial value and final XOR all
// ones), as IEEE 802.3 and zlib compute it; for camera titles and the settings database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace taviro::protocol {

// Continues a CRC: pass the previous result as `crc` (0 to start).
std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace taviro::protocol
