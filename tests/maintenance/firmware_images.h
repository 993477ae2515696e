// Firmware image files for the upgrade tests: component images (a 64-byte header with the
// version and the component's name, then a filler body) and boot images (the "VBoot" mark,
// the name and a build date in the text).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_order.h"

namespace taviro::maintenance::test {

using Bytes = std::vector<std::uint8_t>;

// `size` bytes (at least the header's 64): version at 8, name at 32, a body that differs
// from file to file so that a swapped or shifted piece shows in the recorder's checksum.
inline Bytes ComponentImage(std::string_view name, std::uint32_t version, std::size_t size) {
    Bytes b(std::max<std::size_t>(size, 64), 0);
    protocol::StoreBE32(b.data() + 8, version);
    std::copy(name.begin(), name.end(), b.begin() + 32);
    for (std::size_t i = 64; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>((i * 7 + version) & 0xFF);
    b.resize(size);
    return b;
}

// "XYZ" + `text` (whose first characters are the 11-character name after the "V" of
// "VBoot"), optionally behind a 64-byte prefix, padded to 256 bytes.
inline Bytes BootImage(std::string_view text, bool prefixed = false) {
    Bytes b(prefixed ? 64 : 0, 0xEE);
    const std::string line = "XYZ" + std::string(text);
    b.insert(b.end(), line.begin(), line.end());
    b.resize(256, 0);
    return b;
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace taviro::maintenance::test
