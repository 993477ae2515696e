// The recorder's login answer from arbitrary bytes. Anything but 768 bytes is refused;
// 768 bytes always parse, and encoding the parsed fields gives back the input with only
// the bytes the client ignores cleared.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../fuzz_check.h"
#include "protocol/hello.h"

using taviro::protocol::HelloAck;
using taviro::protocol::kFirmNameSize;
using taviro::protocol::kFirmwareEntries;
using taviro::protocol::kHelloAckSize;

namespace {

// Byte ranges of the answer that no field covers; Encode() writes them as zero.
bool Unused(std::size_t offset) {
    return offset == 14 || offset == 15 || offset == 17 || (offset >= 28 && offset < 48);
}

bool SameFields(const HelloAck& a, const HelloAck& b) {
    return a.protocol_major_ver == b.protocol_major_ver &&
           a.protocol_minor_ver == b.protocol_minor_ver && a.product_number == b.product_number &&
           a.product_major_ver == b.product_major_ver &&
           a.product_minor_ver == b.product_minor_ver && a.front_ver == b.front_ver &&
           a.channel_num == b.channel_num && a.account == b.account &&
           a.mac_address == b.mac_address && a.capabilities == b.capabilities && a.Key == b.Key &&
           a.webPort == b.webPort && a.FirmName == b.FirmName && a.FirmVer == b.FirmVer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto asGiven = HelloAck::Parse(std::span(data, size));
    TAVIRO_FUZZ_CHECK(asGiven.has_value() == (size == kHelloAckSize));

    // The input cut or zero-padded to the answer's size.
    std::array<std::uint8_t, kHelloAckSize> bytes{};
    std::memcpy(bytes.data(), data, std::min(size, kHelloAckSize));
    const auto ack = HelloAck::Parse(bytes);
    TAVIRO_FUZZ_CHECK(ack.has_value());
    TAVIRO_FUZZ_CHECK(ack->raw == bytes);
    if (asGiven) {
        TAVIRO_FUZZ_CHECK(SameFields(*asGiven, *ack));
    }

    const auto encoded = ack->Encode();
    for (std::size_t i = 0; i < kHelloAckSize; ++i) {
        TAVIRO_FUZZ_CHECK(encoded[i] == (Unused(i) ? 0 : bytes[i]));
    }
    const auto again = HelloAck::Parse(encoded);
    TAVIRO_FUZZ_CHECK(again.has_value());
    TAVIRO_FUZZ_CHECK(SameFields(*ack, *again));

    for (std::size_t i = 0; i < kFirmwareEntries; ++i) {
        TAVIRO_FUZZ_CHECK(ack->FirmwareName(i).size() <= kFirmNameSize);
    }
    TAVIRO_FUZZ_CHECK(ack->FirmwareName(kFirmwareEntries).empty());

    const int type = taviro::protocol::ProductTypeFor(ack->product_number);
    TAVIRO_FUZZ_CHECK(type >= 0 && type <= 5);
    const int channels = taviro::protocol::EffectiveChannelCount(ack->channel_num);
    TAVIRO_FUZZ_CHECK(channels == 4 || channels == 8 || channels == 16);
    return 0;
}
