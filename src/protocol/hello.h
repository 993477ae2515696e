// The login exchange: the client's HELLO (user ID and password) and the recorder's
// 768-byte answer HELLO48_ACK, which fixes the product, channel count, account level,
// session key and firmware list for the whole session.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/recorder_time.h"

namespace taviro::protocol {

inline constexpr std::size_t kHelloPayloadSize = 32;
inline constexpr std::size_t kHelloAckSize = 768;
inline constexpr std::size_t kFirmwareEntries = 20;
inline constexpr std::size_t kFirmNameSize = 32;

// User ID and password, each lower-cased and zero-padded into 16 bytes (cut at 16, with
// no terminator when exactly 16 long).
std::array<std::uint8_t, kHelloPayloadSize> BuildHelloPayload(std::string_view userId,
                                                              std::string_view password);

struct HelloAck {
    std::uint8_t protocol_major_ver = 0;
    std::uint8_t protocol_minor_ver = 0;
    std::uint8_t product_number = 0;
    std::uint8_t product_major_ver = 0;
    std::uint8_t product_minor_ver = 0;
    std::uint8_t front_ver = 0;
    std::uint8_t channel_num = 0;
    std::uint8_t account = 0;
    std::array<std::uint8_t, 6> mac_address{};
    std::uint8_t capabilities = 0;  // bit 3: PLAY_VIEW_CH accepted during remote playback
    std::array<std::uint8_t, 8> Key{};
    std::uint16_t webPort = 0;  // little-endian on the wire, unlike everything else
    std::array<std::array<char, kFirmNameSize>, kFirmwareEntries> FirmName{};
    std::array<RecorderTime, kFirmwareEntries> FirmVer{};  // host order; 0 = no entry
    // The answer as received, whole; the fields above are read from it.
    std::array<std::uint8_t, kHelloAckSize> raw{};

    // Parses exactly 768 bytes; nullopt for any other size.
    static std::optional<HelloAck> Parse(std::span<const std::uint8_t> payload);
    // The 768 bytes a recorder sends for these fields (the unused bytes zero).
    [[nodiscard]] std::array<std::uint8_t, kHelloAckSize> Encode() const;

    // Firmware entry i's name (up to its NUL); empty when out of range.
    [[nodiscard]] std::string FirmwareName(std::size_t i) const;
    [[nodiscard]] bool PlaybackViewChannelCapable() const { return (capabilities & 0x08) != 0; }
};

// product_number -> product type (0 unknown, 1 MRKA, 2 MRKC, 3 MRKD7310, 4 MRKE5520,
// 5 TQ71). The MRKB series keeps 0.
int ProductTypeFor(std::uint8_t productNumber);
// Only these two recorder lines are served by this client.
constexpr bool IsSupportedProductType(int productType) {
    return productType == 3 || productType == 5;
}
std::string_view ProductTypeName(int productType);
// 4, 8 and 16 stand; anything else is taken as 16.
constexpr int EffectiveChannelCount(std::uint8_t channelNum) {
    return (channelNum == 4 || channelNum == 8 || channelNum == 16) ? channelNum : 16;
}

}  // namespace taviro::protocol
