#include "archive/backup_format.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "protocol/byte_order.h"

namespace taviro::archive {

namespace {

using protocol::LoadBE32;
using protocol::StoreBE32;

template <std::size_t N>
void PutSignature(std::array<std::uint8_t, N>& out, const Signature& signature) {
    std::memcpy(out.data(), signature.data(), kSignatureSize);
}

Signature GetSignature(std::span<const std::uint8_t> bytes) {
    Signature signature{};
    std::memcpy(signature.data(), bytes.data(), kSignatureSize);
    return signature;
}

}  // namespace

Signature SignatureFor(int productType) {
    std::string_view text;
    if (productType == 3) {
        text = kSignatureType3;
    } else if (productType == 5) {
        text = kSignatureType5;
    }
    Signature signature{};
    std::memcpy(signature.data(), text.data(), text.size());
    return signature;
}

bool IsType3Signature(const Signature& signature) {
    for (std::size_t i = 0; i < kSignatureType3.size(); ++i) {
        const auto c = static_cast<char>(std::tolower(signature[i]));
        if (c != kSignatureType3[i]) {
            return false;
        }
    }
    return true;
}

Order HeaderOrderFor(int productType) {
    return productType == 3 ? Order::Big : Order::Little;
}

std::uint32_t Load32(const std::uint8_t* p, Order order) {
    return order == Order::Big ? LoadBE32(p) : protocol::LoadLE32(p);
}

void Store32(std::uint8_t* p, std::uint32_t value, Order order) {
    if (order == Order::Big) {
        StoreBE32(p, value);
    } else {
        protocol::StoreLE32(p, value);
    }
}

std::array<std::uint8_t, kFileHeaderSize> EncodeFileHeader(const FileHeader& header) {
    std::array<std::uint8_t, kFileHeaderSize> out{};
    PutSignature(out, header.signature);
    StoreBE32(out.data() + 16, header.magic);
    StoreBE32(out.data() + 32, header.splitTime);
    return out;
}

std::optional<FileHeader> DecodeFileHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kFileHeaderSize) {
        return std::nullopt;
    }
    FileHeader header;
    header.signature = GetSignature(bytes);
    header.magic = LoadBE32(bytes.data() + 16);
    header.splitTime = LoadBE32(bytes.data() + 32);
    return header;
}

std::array<std::uint8_t, kSummarySize> EncodeSummary(const IdxSummary& summary, Order times) {
    std::array<std::uint8_t, kSummarySize> out{};
    PutSignature(out, summary.signature);
    StoreBE32(out.data() + 16, summary.magic);
    Store32(out.data() + 24, summary.earliest, times);
    Store32(out.data() + 28, summary.latest, times);
    StoreBE32(out.data() + 32, summary.blocks);
    return out;
}

std::optional<IdxSummary> DecodeSummary(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kSummarySize) {
        return std::nullopt;
    }
    IdxSummary summary;
    summary.signature = GetSignature(bytes);
    summary.magic = LoadBE32(bytes.data() + 16);
    summary.earliest = LoadBE32(bytes.data() + 24);
    summary.latest = LoadBE32(bytes.data() + 28);
    summary.blocks = LoadBE32(bytes.data() + 32);
    return summary;
}

std::array<std::uint8_t, kBlockSize> EncodeBlock(const IdxBlock& block, Order times) {
    std::array<std::uint8_t, kBlockSize> out{};
    PutSignature(out, block.signature);
    std::uint8_t* p = out.data();
    StoreBE32(p + 16, block.magic);
    Store32(p + 24, block.start, times);
    Store32(p + 28, block.end, times);
    StoreBE32(p + 32, block.firstEntry);
    StoreBE32(p + 36, block.videoMask);
    StoreBE32(p + 40, block.audioMask);
    StoreBE32(p + 44, block.channelMask);
    std::memcpy(p + 48, block.raw48.data(), 4);
    for (std::size_t c = 0; c < 16; ++c) {
        StoreBE32(p + 80 + 4 * c, block.videoBytes[c]);
        StoreBE32(p + 144 + 4 * c, block.audioShare[c]);
    }
    std::memcpy(p + 208, block.kinds.data(), 16);
    return out;
}

std::optional<IdxBlock> DecodeBlock(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kBlockSize) {
        return std::nullopt;
    }
    const std::uint8_t* p = bytes.data();
    IdxBlock block;
    block.signature = GetSignature(bytes);
    block.magic = LoadBE32(p + 16);
    block.start = LoadBE32(p + 24);
    block.end = LoadBE32(p + 28);
    block.firstEntry = LoadBE32(p + 32);
    block.videoMask = LoadBE32(p + 36);
    block.audioMask = LoadBE32(p + 40);
    block.channelMask = LoadBE32(p + 44);
    std::memcpy(block.raw48.data(), p + 48, 4);
    for (std::size_t c = 0; c < 16; ++c) {
        block.videoBytes[c] = LoadBE32(p + 80 + 4 * c);
        block.audioShare[c] = LoadBE32(p + 144 + 4 * c);
    }
    std::memcpy(block.kinds.data(), p + 208, 16);
    return block;
}

std::array<std::uint8_t, kEntrySize> EncodeEntry(const IdxSecondEntry& entry) {
    std::array<std::uint8_t, kEntrySize> out{};
    StoreBE32(out.data(), entry.video);
    StoreBE32(out.data() + 4, entry.audio);
    return out;
}

IdxSecondEntry DecodeEntry(std::span<const std::uint8_t, kEntrySize> bytes) {
    return IdxSecondEntry{LoadBE32(bytes.data()), LoadBE32(bytes.data() + 4)};
}

IdxEvent DecodeEvent(const EventBytes& bytes, Order order) {
    IdxEvent event;
    event.start = Load32(bytes.data(), order);
    event.end = Load32(bytes.data() + 4, order);
    event.mask = Load32(bytes.data() + 8, order);
    event.kind = bytes[12];
    return event;
}

std::array<std::uint8_t, kTrailerSize> EncodeVidTrailer(const Trailer& trailer) {
    std::array<std::uint8_t, kTrailerSize> out{};
    PutSignature(out, trailer.signature);
    StoreBE32(out.data() + 16, trailer.magic);
    StoreBE32(out.data() + 36, trailer.value);
    return out;
}

std::array<std::uint8_t, kTrailerSize> EncodeIdxTrailer(const Trailer& trailer) {
    std::array<std::uint8_t, kTrailerSize> out{};
    PutSignature(out, trailer.signature);
    StoreBE32(out.data() + 16, trailer.magic);
    StoreBE32(out.data() + 32, trailer.value);
    return out;
}

std::optional<Trailer> DecodeVidTrailer(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kTrailerSize) {
        return std::nullopt;
    }
    Trailer trailer;
    trailer.signature = GetSignature(bytes);
    trailer.magic = LoadBE32(bytes.data() + 16);
    trailer.value = LoadBE32(bytes.data() + 36);
    return trailer;
}

std::optional<Trailer> DecodeIdxTrailer(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kTrailerSize) {
        return std::nullopt;
    }
    Trailer trailer;
    trailer.signature = GetSignature(bytes);
    trailer.magic = LoadBE32(bytes.data() + 16);
    trailer.value = LoadBE32(bytes.data() + 32);
    return trailer;
}

std::uint16_t WatermarkChecksum(std::span<const std::uint8_t> payload) {
    std::uint16_t sum = 0;
    std::size_t pos = 0;
    while (pos < payload.size()) {
        const std::uint8_t b = payload[pos];
        sum = static_cast<std::uint16_t>(sum + b);
        pos += static_cast<std::size_t>(b & 7u) * 2 + 2;
    }
    return sum;
}

}  // namespace taviro::archive
