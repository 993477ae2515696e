// The 16-byte header from arbitrary bytes: the receiver's fields stay in range, decoding
// and encoding are exact inverses, and the bits a receiver ignores never leak into its
// fields.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../fuzz_check.h"
#include "protocol/byte_order.h"
#include "protocol/packet_header.h"

using taviro::protocol::kHeaderSize;
using taviro::protocol::kMaxPayload;
using taviro::protocol::LoadBE32;
using taviro::protocol::PacketHeader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, kHeaderSize> bytes{};
    std::memcpy(bytes.data(), data, std::min(size, kHeaderSize));
    const PacketHeader h = PacketHeader::FromNetwork(bytes.data());

    TAVIRO_FUZZ_CHECK(h.Command() < 512);
    TAVIRO_FUZZ_CHECK(h.Length() <= kMaxPayload);
    TAVIRO_FUZZ_CHECK(h.ToNetwork() == bytes);

    // What the client would send for the fields it read decodes back to the same fields,
    // with every other bit zero.
    const PacketHeader made =
        PacketHeader::Make(h.Command(), h.Length(), h.LastFragment(), h.AudioOn());
    const auto wire = made.ToNetwork();
    const PacketHeader back = PacketHeader::FromNetwork(wire.data());
    TAVIRO_FUZZ_CHECK(back.Command() == h.Command());
    TAVIRO_FUZZ_CHECK(back.Length() == h.Length());
    TAVIRO_FUZZ_CHECK(back.LastFragment() == h.LastFragment());
    TAVIRO_FUZZ_CHECK(back.AudioOn() == h.AudioOn());
    TAVIRO_FUZZ_CHECK(back.LowBits() == 0 && back.Channel() == 0);
    TAVIRO_FUZZ_CHECK(back.word[2] == 0 && back.word[3] == 0);
    TAVIRO_FUZZ_CHECK((back.word[0] & 0xFFFF0077u) == 0);
    TAVIRO_FUZZ_CHECK((back.word[1] & ~0x4000FFFFu) == 0);

    // Noise in the bits outside command, audio flag, length and last-fragment flag (taken
    // from the input's next bytes) changes none of the receiver's fields.
    if (size >= kHeaderSize + 8) {
        PacketHeader noisy = h;
        noisy.word[0] ^= LoadBE32(data + kHeaderSize) & 0xFFFF0077u;
        noisy.word[1] ^= LoadBE32(data + kHeaderSize + 4) & ~0x4000FFFFu;
        TAVIRO_FUZZ_CHECK(noisy.Command() == h.Command());
        TAVIRO_FUZZ_CHECK(noisy.AudioOn() == h.AudioOn());
        TAVIRO_FUZZ_CHECK(noisy.Length() == h.Length());
        TAVIRO_FUZZ_CHECK(noisy.LastFragment() == h.LastFragment());
    }

    // The channel of a frame's own header copy replaces only its four bits.
    PacketHeader framed = h;
    const std::uint32_t channel = bytes[15] & 0xFu;
    framed.SetChannel(channel);
    TAVIRO_FUZZ_CHECK(framed.Channel() == channel);
    TAVIRO_FUZZ_CHECK(framed.Command() == h.Command() && framed.Length() == h.Length());
    TAVIRO_FUZZ_CHECK(framed.LastFragment() == h.LastFragment());
    TAVIRO_FUZZ_CHECK((framed.word[1] & ~(0xFu << 22)) == (h.word[1] & ~(0xFu << 22)));
    return 0;
}
