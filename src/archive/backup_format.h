// The backup files: a video file (.vid) of the recorder's stream records back to back and
// its index file (.idx) of blocks, per-second entries, events and a summary. The writer of
// a running backup and every reader (local player, listing, export, verifier) share these
// layouts; nothing else in the program knows the offsets.
//
// Byte order: every field the client fills is big-endian, except the fields copied from
// the recorder's frame headers (the back-link inside the headers, the block times, the
// summary times), which keep the order of the recorder's stream layer: big-endian from
// product type 3 recorders, little-endian from the others. The local player reads only
// product type 3 files, so readers read big-endian throughout.
//
//   .vid:  0 BackupFileHeader | 64 records | VidTrailer (last 64 bytes)
//   .idx:  0 BackupFileHeader | 64 IdxSummary | 192 4096 IdxBlock slots
//          | 0x1000C0 32768 IdxEventRecord slots | 0x2000C0 IdxSecondEntry list | IdxTrailer
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace taviro::archive {

inline constexpr std::uint32_t kFileMagic = 0x20070516u;
inline constexpr std::uint32_t kSummaryMagic = 0xCAFECAFEu;
inline constexpr std::uint32_t kBlockMagic = 0xBC987302u;
inline constexpr std::uint32_t kTrailerMagic = 0x19720505u;

inline constexpr std::size_t kSignatureSize = 16;
inline constexpr std::size_t kFileHeaderSize = 64;
inline constexpr std::size_t kSummaryOffset = 64;
inline constexpr std::size_t kSummarySize = 128;
inline constexpr std::size_t kBlockTableOffset = 192;
inline constexpr std::size_t kBlockSize = 256;
inline constexpr std::uint32_t kMaxBlocks = 4096;
inline constexpr std::size_t kEventTableOffset = 0x1000C0;
inline constexpr std::size_t kEventRecordSize = 32;
inline constexpr std::uint32_t kMaxEvents = 32'768;
inline constexpr std::size_t kEntryListOffset = 0x2000C0;
inline constexpr std::size_t kEntrySize = 8;
inline constexpr std::size_t kTrailerSize = 64;
// The first record of a .vid; back-links below it mean "no earlier record".
inline constexpr std::uint32_t kFirstRecordOffset = 64;
// A pair is closed and the next one opened once a video record starts beyond this.
inline constexpr std::uint64_t kDefaultSplitBytes = 681'574'400;
// The most a record's payload can hold: a frame fits the recorder's 1,244,160-byte frame
// buffer, an audio block carries one 48-byte block for each of at most 16 channels. A
// longer length is damage, never a reason to read (or allocate) gigabytes.
inline constexpr std::uint32_t kMaxFramePayload = 1'244'160;
inline constexpr std::uint32_t kMaxAudioPayload = 16 * 48;

static_assert(kBlockTableOffset + kMaxBlocks * kBlockSize == kEventTableOffset);
static_assert(kEventTableOffset + kMaxEvents * kEventRecordSize == kEntryListOffset);

// The signatures of the two recorder kinds whose backups the client writes.
inline constexpr std::string_view kSignatureType3 = "qmrx5830t";
inline constexpr std::string_view kSignatureType5 = "HLnvt2070";
using Signature = std::array<std::uint8_t, kSignatureSize>;
// The product type's signature, NUL-padded; all zero for any other product type.
Signature SignatureFor(int productType);
// The first nine characters, lower-cased, are the type-3 signature (what the listing and the
// player accept).
bool IsType3Signature(const Signature& signature);

// Byte order of the fields copied from the recorder's headers.
enum class Order { Big, Little };
Order HeaderOrderFor(int productType);
std::uint32_t Load32(const std::uint8_t* p, Order order);
void Store32(std::uint8_t* p, std::uint32_t value, Order order);

struct FileHeader {
    Signature signature{};
    std::uint32_t magic = kFileMagic;
    std::uint32_t splitTime = 0;  // 0: the first pair of a backup
};
std::array<std::uint8_t, kFileHeaderSize> EncodeFileHeader(const FileHeader& header);
std::optional<FileHeader> DecodeFileHeader(std::span<const std::uint8_t> bytes);

struct IdxSummary {
    Signature signature{};
    std::uint32_t magic = kSummaryMagic;
    std::uint32_t earliest = 0;  // smallest non-zero block start
    std::uint32_t latest = 0;    // largest block end
    std::uint32_t blocks = 0;
};
std::array<std::uint8_t, kSummarySize> EncodeSummary(const IdxSummary& summary, Order times);
std::optional<IdxSummary> DecodeSummary(std::span<const std::uint8_t> bytes);

struct IdxBlock {
    Signature signature{};
    std::uint32_t magic = kBlockMagic;
    std::uint32_t start = 0;       // time of the block's first frame
    std::uint32_t end = 0;         // time of its last video frame
    std::uint32_t firstEntry = 0;  // .idx offset of its first IdxSecondEntry
    std::uint32_t videoMask = 0;   // channels with a video frame in the block
    std::uint32_t audioMask = 0;   // mask of the most recent audio block
    std::uint32_t channelMask = 0;
    std::array<std::uint8_t, 4> raw48{};
    std::array<std::uint32_t, 16> videoBytes{};
    std::array<std::uint32_t, 16> audioShare{};
    std::array<std::uint8_t, 16> kinds{};  // OR of the frames' recording-kind flags
};
std::array<std::uint8_t, kBlockSize> EncodeBlock(const IdxBlock& block, Order times);
std::optional<IdxBlock> DecodeBlock(std::span<const std::uint8_t> bytes);

struct IdxSecondEntry {
    std::uint32_t video = 0;  // .vid offset of a video record
    std::uint32_t audio = 0;  // .vid offset of the latest audio record, 0 when none yet
};
std::array<std::uint8_t, kEntrySize> EncodeEntry(const IdxSecondEntry& entry);
IdxSecondEntry DecodeEntry(std::span<const std::uint8_t, kEntrySize> bytes);

// Event records are kept as the recorder sent them; readers decode type-3 (big-endian) ones.
using EventBytes = std::array<std::uint8_t, kEventRecordSize>;
struct IdxEvent {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t mask = 0;  // 0 ends the table
    std::uint8_t kind = 0;   // 1 alarm, 2 motion, 7 audio
};
IdxEvent DecodeEvent(const EventBytes& bytes, Order order = Order::Big);

struct Trailer {
    Signature signature{};
    std::uint32_t magic = kTrailerMagic;
    std::uint32_t value = 0;  // .vid: offset of the last video record; .idx: split time
};
std::array<std::uint8_t, kTrailerSize> EncodeVidTrailer(const Trailer& trailer);
std::array<std::uint8_t, kTrailerSize> EncodeIdxTrailer(const Trailer& trailer);
std::optional<Trailer> DecodeVidTrailer(std::span<const std::uint8_t> bytes);
std::optional<Trailer> DecodeIdxTrailer(std::span<const std::uint8_t> bytes);

// The watermark checksum of a frame's payload: from offset 0, each visited byte is added to
// a 16-bit sum and the walk advances by (byte & 7) * 2 + 2.
std::uint16_t WatermarkChecksum(std::span<const std::uint8_t> payload);
// Header byte 51 of a frame that carries a checksum (at header bytes 53..54, big-endian).
inline constexpr std::uint8_t kWatermarkMark = 2;
inline constexpr std::size_t kWatermarkMarkOffset = 51;
inline constexpr std::size_t kWatermarkOffset = 53;

}  // namespace taviro::archive
