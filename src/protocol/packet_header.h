// The 16-byte header in front of every message, both directions: four 32-bit big-endian
// words. Word 0 carries the command in bits 7..15 and the audio flag in bit 3; word 1 the
// payload length in bits 0..15, a frame's channel in bits 22..25 (only in the client's own
// copies) and the last-fragment flag in bit 30; word 3 the frame time in live data.
#pragma once

#include <array>
#include <cstdint>

namespace taviro::protocol {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::uint32_t kMaxPayload = 0xFFFF;
// Codes are 9 bits wide (0..511).
inline constexpr std::size_t kCommandLimit = 512;

struct PacketHeader {
    // Host-order words exactly as received or to be sent.
    std::array<std::uint32_t, 4> word{};

    // Receiver's view: the low 16 bits of word 0 shifted right by 7, so bits 16..31 and
    // bits 0..6 never leak into the code.
    [[nodiscard]] constexpr std::uint16_t Command() const {
        return static_cast<std::uint16_t>((word[0] & 0xFFFFu) >> 7);
    }
    [[nodiscard]] constexpr bool AudioOn() const { return (word[0] & 0x8u) != 0; }
    [[nodiscard]] constexpr std::uint32_t LowBits() const { return word[0] & 0x7u; }
    [[nodiscard]] constexpr std::uint16_t Length() const {
        return static_cast<std::uint16_t>(word[1] & 0xFFFFu);
    }
    [[nodiscard]] constexpr bool LastFragment() const { return (word[1] & 0x40000000u) != 0; }
    [[nodiscard]] constexpr std::uint32_t Channel() const { return (word[1] >> 22) & 0xFu; }
    [[nodiscard]] constexpr std::uint32_t Reserved2() const { return word[3]; }

    constexpr void SetChannel(std::uint32_t channel) {
        word[1] = (word[1] & ~(0xFu << 22)) | ((channel & 0xFu) << 22);
    }

    // A header as the client sends it: code << 7 (plus 0x8 with audio on), length (plus
    // 0x40000000 with the last-fragment flag), words 2 and 3 zero.
    static constexpr PacketHeader Make(std::uint16_t command, std::uint16_t length,
                                       bool lastFragment = false, bool audioOn = false) {
        PacketHeader h;
        h.word[0] = (static_cast<std::uint32_t>(command & 0x1FFu) << 7) | (audioOn ? 0x8u : 0u);
        h.word[1] = static_cast<std::uint32_t>(length) | (lastFragment ? 0x40000000u : 0u);
        return h;
    }

    [[nodiscard]] std::array<std::uint8_t, kHeaderSize> ToNetwork() const;
    static PacketHeader FromNetwork(const std::uint8_t* bytes);
};

}  // namespace taviro::protocol
