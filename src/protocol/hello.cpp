#include "protocol/hello.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "protocol/byte_order.h"

namespace taviro::protocol {

namespace {

constexpr std::size_t kFirmNameOffset = 48;
constexpr std::size_t kFirmVerOffset = 688;

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::array<std::uint8_t, kHelloPayloadSize> BuildHelloPayload(std::string_view userId,
                                                              std::string_view password) {
    std::array<std::uint8_t, kHelloPayloadSize> out{};
    CByteWriter w(out);
    w.Text(Lower(userId), 16);
    w.Text(Lower(password), 16);
    return out;
}

std::optional<HelloAck> HelloAck::Parse(std::span<const std::uint8_t> payload) {
    if (payload.size() != kHelloAckSize) {
        return std::nullopt;
    }
    HelloAck a;
    std::copy(payload.begin(), payload.end(), a.raw.begin());
    CByteReader r(payload);
    a.protocol_major_ver = r.U8();
    a.protocol_minor_ver = r.U8();
    a.product_number = r.U8();
    a.product_major_ver = r.U8();
    a.product_minor_ver = r.U8();
    a.front_ver = r.U8();
    a.channel_num = r.U8();
    a.account = r.U8();
    r.Bytes(a.mac_address);
    r.Skip(2);
    a.capabilities = r.U8();
    r.Skip(1);
    r.Bytes(a.Key);
    a.webPort = r.LE16();
    r.Seek(kFirmNameOffset);
    for (auto& name : a.FirmName) {
        r.Bytes(std::span(reinterpret_cast<std::uint8_t*>(name.data()), kFirmNameSize));
    }
    r.Seek(kFirmVerOffset);
    for (auto& v : a.FirmVer) {
        v = r.BE32Signed();
    }
    if (!r.Ok()) {
        return std::nullopt;
    }
    return a;
}

std::array<std::uint8_t, kHelloAckSize> HelloAck::Encode() const {
    std::array<std::uint8_t, kHelloAckSize> out{};
    CByteWriter w(out);
    w.U8(protocol_major_ver);
    w.U8(protocol_minor_ver);
    w.U8(product_number);
    w.U8(product_major_ver);
    w.U8(product_minor_ver);
    w.U8(front_ver);
    w.U8(channel_num);
    w.U8(account);
    w.Bytes(mac_address);
    w.Zeros(2);
    w.U8(capabilities);
    w.Zeros(1);
    w.Bytes(Key);
    w.LE16(webPort);
    w.Seek(kFirmNameOffset);
    for (const auto& name : FirmName) {
        w.Bytes(std::span(reinterpret_cast<const std::uint8_t*>(name.data()), kFirmNameSize));
    }
    w.Seek(kFirmVerOffset);
    for (RecorderTime v : FirmVer) {
        w.BE32(static_cast<std::uint32_t>(v));
    }
    return out;
}

std::string HelloAck::FirmwareName(std::size_t i) const {
    if (i >= kFirmwareEntries) {
        return {};
    }
    const auto& name = FirmName[i];
    const auto* end = std::find(name.begin(), name.end(), '\0');
    return std::string(name.begin(), end);
}

int ProductTypeFor(std::uint8_t productNumber) {
    switch (productNumber) {
        case 0:
        case 1:
            return 1;
        case 5:
        case 8:
            return 2;
        case 11:
            return 3;
        case 12:
            return 5;
        case 20:
            return 4;
        default:
            return 0;
    }
}

std::string_view ProductTypeName(int productType) {
    switch (productType) {
        case 1:
            return "MRKA series";
        case 2:
            return "MRKC series";
        case 3:
            return "MRKD7310";
        case 4:
            return "MRKE5520";
        case 5:
            return "TQ71";
        default:
            return "unknown product";
    }
}

}  // namespace taviro::protocol
