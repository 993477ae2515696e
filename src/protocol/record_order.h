// Byte-order converters of the stream and backup records: each touches exactly the
// record's 32-bit (and 64-bit) numeric fields and leaves every byte and text field alone.
// Swapping is its own inverse, so one function converts both ways; the name says which
// way callers use it. Records shorter than a field's end are left untouched there.
#pragma once

#include <cstdint>
#include <span>

namespace taviro::protocol {

// The 64-byte header common to every stream frame (received: to host only).
void FrameHeaderToHost(std::span<std::uint8_t> record);
// The video frame header (received: to host only).
void VideoFrameHeaderToHost(std::span<std::uint8_t> record);
// The 256-byte index block of a backup index file.
void IndexBlockSwap(std::span<std::uint8_t> record);
// The 8-byte per-second index entry.
void SecondEntrySwap(std::span<std::uint8_t> record);
// The backup file header with its 64-bit field at offset 24.
void BackupFileHeaderSwap(std::span<std::uint8_t> record);
// The backup file record of five words.
void BackupRecordSwap(std::span<std::uint8_t> record);

}  // namespace taviro::protocol
