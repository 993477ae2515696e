#include "protocol/record_order.h"

#include <array>

#include "protocol/byte_order.h"

namespace taviro::protocol {

namespace {

constexpr std::size_t kFrameHeader[] = {16, 20, 24, 28, 32, 36, 40, 44, 48, 52};
constexpr std::size_t kVideoFrameHeader[] = {16, 20, 24, 28, 32, 36, 40, 80, 84};
constexpr std::size_t kSecondEntry[] = {0, 4};
constexpr std::size_t kBackupFileHeader[] = {16, 20, 32, 36};
constexpr std::size_t kBackupRecord[] = {16, 20, 24, 28, 32};

// Eight words at 16..44, then two tables of sixteen words at 80 and 144.
constexpr std::array<std::size_t, 40> MakeIndexBlockOffsets() {
    std::array<std::size_t, 40> offsets{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < 8; ++i)
        offsets[n++] = 16 + 4 * i;
    for (std::size_t i = 0; i < 16; ++i)
        offsets[n++] = 80 + 4 * i;
    for (std::size_t i = 0; i < 16; ++i)
        offsets[n++] = 144 + 4 * i;
    return offsets;
}
constexpr auto kIndexBlock = MakeIndexBlockOffsets();

}  // namespace

void FrameHeaderToHost(std::span<std::uint8_t> record) {
    SwapWordsAt(record, kFrameHeader);
}
void VideoFrameHeaderToHost(std::span<std::uint8_t> record) {
    SwapWordsAt(record, kVideoFrameHeader);
}
void IndexBlockSwap(std::span<std::uint8_t> record) {
    SwapWordsAt(record, kIndexBlock);
}
void SecondEntrySwap(std::span<std::uint8_t> record) {
    SwapWordsAt(record, kSecondEntry);
}
void BackupFileHeaderSwap(std::span<std::uint8_t> record) {
    SwapWordsAt(record, kBackupFileHeader);
    Reverse64At(record, 24);
}
void BackupRecordSwap(std::span<std::uint8_t> record) {
    SwapWordsAt(record, kBackupRecord);
}

}  // namespace taviro::protocol
