#include "protocol/packet_header.h"

#include "protocol/byte_order.h"

namespace taviro::protocol {

std::array<std::uint8_t, kHeaderSize> PacketHeader::ToNetwork() const {
    std::array<std::uint8_t, kHeaderSize> out{};
    for (std::size_t i = 0; i < 4; ++i) {
        StoreBE32(out.data() + 4 * i, word[i]);
    }
    return out;
}

PacketHeader PacketHeader::FromNetwork(const std::uint8_t* bytes) {
    PacketHeader h;
    for (std::size_t i = 0; i < 4; ++i) {
        h.word[i] = LoadBE32(bytes + 4 * i);
    }
    return h;
}

}  // namespace taviro::protocol
