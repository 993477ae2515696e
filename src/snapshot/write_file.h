// Writes a whole file safely: to a temporary name in the target's folder, every write and
// the close checked, then renamed over the target. On any failure the temporary file is
// removed and the target is untouched. Any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace taviro::snapshot {

bool WriteFileAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                         std::string* error);

}  // namespace taviro::snapshot
