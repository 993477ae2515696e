// Transfer records as a recorder's stream layer lays them out, for the backup file tests:
// the stream part of a header in the product type's order (big-endian for type 3), the
// encoder header little-endian.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/backup_format.h"
#include "protocol/byte_order.h"
#include "stream/stream_records.h"

namespace taviro::testing {

struct TestFrame {
    int channel = 0;
    std::uint32_t time = 0;
    std::uint32_t key = 1;
    std::uint8_t kinds = 1;   // offset 50
    std::uint8_t exempt = 0;  // offset 52
    std::uint8_t frameKind = 0;
    std::uint32_t payload = 100;
    std::uint8_t fill = 0x11;
    int width = 704;
    int height = 480;
    bool watermark = false;
    bool tamper = false;
    std::uint32_t micros = 0;  // the encoder header's microseconds
};

inline std::vector<std::uint8_t> VideoRecord(const TestFrame& f, int productType = 3) {
    const auto order = archive::HeaderOrderFor(productType);
    std::vector<std::uint8_t> r(192 + f.payload, f.fill);
    std::fill(r.begin(), r.begin() + 192, std::uint8_t{0});
    for (std::uint32_t i = 0; i < f.payload; ++i) {
        r[192 + i] = static_cast<std::uint8_t>(f.fill + i * 7);
    }
    archive::Store32(r.data() + 16, stream::ENC_HEADER_TYPE_VIDEO, order);
    archive::Store32(r.data() + 24, f.time, order);
    archive::Store32(r.data() + 28, f.payload, order);
    archive::Store32(r.data() + 40, f.key, order);
    r[48] = 0x01;
    r[49] = 0xEE;
    r[50] = f.kinds;
    r[52] = f.exempt;
    if (f.watermark) {
        r[51] = archive::kWatermarkMark;
        std::uint16_t sum = archive::WatermarkChecksum(std::span(r).subspan(192));
        if (f.tamper) {
            ++sum;
        }
        protocol::StoreBE16(r.data() + 53, sum);
    }
    std::uint8_t* enc = r.data() + 128;
    protocol::StoreLE16(enc, static_cast<std::uint16_t>(f.payload));
    enc[2] = static_cast<std::uint8_t>(f.frameKind << 6);
    enc[4] = static_cast<std::uint8_t>(f.height / 16);
    enc[5] = static_cast<std::uint8_t>(f.width / 16);
    protocol::StoreLE32(enc + 20, f.time);
    protocol::StoreLE32(enc + 24, f.micros);
    enc[36] = static_cast<std::uint8_t>(f.channel);
    return r;
}

inline std::vector<std::uint8_t> AudioRecord(std::uint32_t time, std::uint32_t mask,
                                             int productType = 3) {
    const auto order = archive::HeaderOrderFor(productType);
    const std::uint32_t channels = static_cast<std::uint32_t>(std::popcount(mask & 0xFFFFu));
    std::vector<std::uint8_t> r(64 + 48 * channels, 0x5A);
    std::fill(r.begin(), r.begin() + 64, std::uint8_t{0});
    archive::Store32(r.data() + 16, stream::ENC_HEADER_TYPE_AUDIO, order);
    archive::Store32(r.data() + 24, time, order);
    archive::Store32(r.data() + 28, 48 * channels, order);
    archive::Store32(r.data() + 52, mask, order);
    return r;
}

struct TestEvent {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t mask = 1;
    std::uint8_t kind = 2;
};

inline std::vector<std::uint8_t> EventRecord(const std::vector<TestEvent>& events,
                                             int productType = 3) {
    const auto order = archive::HeaderOrderFor(productType);
    std::vector<std::uint8_t> r(64 + 32 * events.size(), 0);
    archive::Store32(r.data() + 16, stream::HEAD_TYPE_EVTLOG, order);
    archive::Store32(r.data() + 28, static_cast<std::uint32_t>(32 * events.size()), order);
    for (std::size_t i = 0; i < events.size(); ++i) {
        std::uint8_t* e = r.data() + 64 + 32 * i;
        archive::Store32(e, events[i].start, order);
        archive::Store32(e + 4, events[i].end, order);
        archive::Store32(e + 8, events[i].mask, order);
        e[12] = events[i].kind;
    }
    return r;
}

}  // namespace taviro::testing
