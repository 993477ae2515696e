// Writes the seed corpora of the fuzz targets: real messages as a recorder sends them and
// real files as the client writes them, each small. Usage: taviro-make-seeds <folder>;
// one sub-folder per target. The committed fuzz/corpus is this program's output.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/backup_format.h"
#include "archive/backup_writer.h"
#include "archive/bookmarks.h"
#include "logs/local_log.h"
#include "logs/remote_log.h"
#include "platform/rbsp_bits.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/hello.h"
#include "protocol/packet_header.h"
#include "sim/h264_slice_rewriter.h"
#include "stream/stream_records.h"
#include "video/param_sets.h"

namespace {

namespace fs = std::filesystem;
namespace logs = taviro::logs;
using namespace taviro::protocol;
using Bytes = std::vector<std::uint8_t>;

// A code no recorder message uses.
constexpr std::uint16_t kUnknownCode = 200;
// 2010-10-11 12:00:00 on the recorder's clock.
constexpr RecorderTime kBuildTime = 1286798400;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Header(std::uint16_t code, std::uint16_t length, bool lastFragment = false,
             bool audioOn = false) {
    const auto h = PacketHeader::Make(code, length, lastFragment, audioOn).ToNetwork();
    return Bytes(h.begin(), h.end());
}

Bytes Message(std::uint16_t code, const Bytes& payload) {
    return Header(code, static_cast<std::uint16_t>(payload.size())) + payload;
}

Bytes BE32(std::uint32_t v) {
    Bytes out(4);
    StoreBE32(out.data(), v);
    return out;
}

Bytes Reason(std::int32_t reason) {
    return BE32(static_cast<std::uint32_t>(reason));
}

HelloAck MakeAck(std::uint8_t product, std::uint8_t channels, std::uint8_t capabilities) {
    HelloAck a;
    a.protocol_major_ver = 4;
    a.protocol_minor_ver = 8;
    a.product_number = product;
    a.product_major_ver = 2;
    a.product_minor_ver = 1;
    a.front_ver = 3;
    a.channel_num = channels;
    a.account = 1;
    a.mac_address = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    a.capabilities = capabilities;
    a.Key = {'K', '7', 'q', '2', 'x', '9', 'L', '0'};
    a.webPort = 8080;
    const char* names[] = {"MAIN", "FRONT", "KERNEL", "CODEC", "BOOT"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const std::string_view name = names[i];
        std::copy(name.begin(), name.end(), a.FirmName[i].begin());
        a.FirmVer[i] = kBuildTime + static_cast<RecorderTime>(i) * 86400;
    }
    return a;
}

Bytes AckPayload(const HelloAck& a) {
    const auto bytes = a.Encode();
    return Bytes(bytes.begin(), bytes.end());
}

Bytes Pattern(std::size_t size, std::uint8_t seed);

// One fragment of a fragmented answer; `speed` goes to bits 16..21 of header word 1 (the
// play speed of play data).
Bytes Fragment(std::uint16_t code, const Bytes& payload, bool last, std::uint32_t speed = 0) {
    PacketHeader h = PacketHeader::Make(code, static_cast<std::uint16_t>(payload.size()), last);
    h.word[1] |= (speed & 0x3Fu) << 16;
    const auto head = h.ToNetwork();
    return Bytes(head.begin(), head.end()) + payload;
}

// A month record with a few day flags (December 31 is the record's last byte).
Bytes MonthRecord(std::uint32_t year) {
    Bytes r = BE32(year);
    r.resize(376, 0);
    r[4 + 9 * 31 + 11] = 1;
    r[4 + 11 * 31 + 30] = 1;
    r[4 + 8 * 31 + 30] = 1;  // the 31st of a 30-day month
    return r;
}

Bytes DayRecord(std::uint32_t mask, std::uint8_t kinds, std::uint32_t start, std::uint32_t end) {
    Bytes r = BE32(mask);
    r.push_back(kinds);
    r.resize(16, 0xEE);
    return r + BE32(start) + BE32(end);
}

// A playback video element: the 192-byte frame header (stream words big-endian, the
// encoder header little-endian) and `payload` bytes; `stated` is the payload length the
// header claims.
Bytes PlayFrame(int channel, std::uint32_t seconds, std::uint32_t micros, std::size_t payload,
                std::uint32_t stated) {
    Bytes e(192, 0);
    const Bytes magic = BE32(0x20061123u);
    std::copy(magic.begin(), magic.end(), e.begin() + 16);
    const Bytes when = BE32(seconds);
    std::copy(when.begin(), when.end(), e.begin() + 24);
    const Bytes length = BE32(stated);
    std::copy(length.begin(), length.end(), e.begin() + 28);
    std::uint8_t* enc = e.data() + 128;
    enc[0] = static_cast<std::uint8_t>(payload);
    enc[1] = static_cast<std::uint8_t>(payload >> 8);
    enc[4] = 480 / 16;
    enc[5] = 704 / 16;
    for (int i = 0; i < 4; ++i) {
        enc[20 + i] = static_cast<std::uint8_t>(seconds >> (8 * i));
        enc[24 + i] = static_cast<std::uint8_t>(micros >> (8 * i));
    }
    enc[36] = static_cast<std::uint8_t>(channel);
    return e + Pattern(payload, static_cast<std::uint8_t>(channel));
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return out;
}

Bytes LocalLogFile(std::uint32_t full, std::uint32_t nextSlot, std::uint32_t records,
                   std::uint32_t recordSize = logs::kLocalLogRecordSize) {
    Bytes out(logs::kLocalLogHeaderSize);
    StoreLE32(out.data(), full);
    StoreLE32(out.data() + 4, nextSlot);
    const char* users[] = {"admin", "guest", "operator"};
    for (std::uint32_t i = 0; i < records; ++i) {
        logs::LocalLogRecord r;
        r.number = i;
        r.size = recordSize;
        r.kind = i == 0 ? logs::entry::kProgram : logs::entry::kConnection;
        r.subType = i == 0 ? 1u : (1u << (i % 3));
        r.time = static_cast<std::uint32_t>(kBuildTime) + i * 60;
        r.detail = "192.168.1." + std::to_string(10 + i);
        r.shortText = users[i % 3];
        const auto bytes = r.Encode();
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

// A backup transfer's video frame from a product type 3 recorder: the stream part
// big-endian, the encoder header little-endian; key frames carry a watermark.
Bytes BackupFrame(int channel, std::uint32_t seconds, std::uint32_t micros, std::uint32_t key,
                  bool keyFrame, std::uint32_t payload) {
    Bytes r(192, 0);
    StoreBE32(r.data() + 16, taviro::stream::ENC_HEADER_TYPE_VIDEO);
    StoreBE32(r.data() + 24, seconds);
    StoreBE32(r.data() + 28, payload);
    StoreBE32(r.data() + 40, key);
    r[48] = 0x01;
    r[50] = 1;
    std::uint8_t* enc = r.data() + 128;
    StoreLE16(enc, static_cast<std::uint16_t>(payload));
    enc[2] = keyFrame ? 0x00 : 0x40;
    enc[4] = 480 / 16;
    enc[5] = 704 / 16;
    StoreLE32(enc + 20, seconds);
    StoreLE32(enc + 24, micros);
    enc[36] = static_cast<std::uint8_t>(channel);
    const Bytes body = Pattern(payload, static_cast<std::uint8_t>(seconds + micros / 1000));
    if (keyFrame) {
        r[taviro::archive::kWatermarkMarkOffset] = taviro::archive::kWatermarkMark;
        StoreBE16(r.data() + taviro::archive::kWatermarkOffset,
                  taviro::archive::WatermarkChecksum(body));
    }
    return r + body;
}

// An audio record of the same transfer: one 48-byte block per channel of `mask`.
Bytes BackupAudio(std::uint32_t seconds, std::uint32_t mask) {
    const auto blocks = static_cast<std::uint32_t>(std::popcount(mask));
    Bytes r(64, 0);
    StoreBE32(r.data() + 16, taviro::stream::ENC_HEADER_TYPE_AUDIO);
    StoreBE32(r.data() + 24, seconds);
    StoreBE32(r.data() + 28, 48 * blocks);
    StoreBE32(r.data() + 52, mask);
    return r + Pattern(48 * blocks, 0x5A);
}

// Two channels at two frames a second from kBuildTime, a key frame every other frame, the
// block key changing every two seconds, an audio record each second.
std::vector<Bytes> BackupRecords(std::uint32_t seconds) {
    std::vector<Bytes> records;
    const auto start = static_cast<std::uint32_t>(kBuildTime);
    for (std::uint32_t s = 0; s < seconds; ++s) {
        records.push_back(BackupAudio(start + s, 0x3));
        for (std::uint32_t half = 0; half < 2; ++half) {
            for (int channel = 0; channel < 2; ++channel) {
                records.push_back(BackupFrame(channel, start + s, half * 500'000, 1 + s / 2,
                                              half == 0,
                                              40 + 8 * static_cast<std::uint32_t>(channel)));
            }
        }
    }
    return records;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The pairs a backup writer makes of `records` in `folder`, each as its .idx and .vid bytes.
std::vector<std::pair<Bytes, Bytes>> WriteBackup(const fs::path& folder,
                                                 const std::vector<Bytes>& records,
                                                 std::uint64_t splitBytes) {
    namespace archive = taviro::archive;
    archive::WriterOptions options;
    options.folder = folder;
    options.productType = 3;
    options.splitBytes = splitBytes;
    options.clock = [] { return std::int64_t{kBuildTime}; };
    archive::CBackupWriter writer(options);
    std::vector<std::pair<Bytes, Bytes>> pairs;
    bool ok = writer.Open();
    for (const Bytes& r : records) {
        ok = ok && writer.Write(archive::KindOfRecord(r, 3), r);
    }
    ok = writer.Close() && ok;
    if (!ok) {
        std::fprintf(stderr, "cannot write a backup: %s\n", writer.Error().c_str());
        return pairs;
    }
    for (const archive::PairSummary& pair : writer.Pairs()) {
        pairs.emplace_back(ReadFile(pair.idx), ReadFile(pair.vid));
    }
    return pairs;
}

Bytes LE16Bytes(std::size_t v) {
    return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
}

// The input of fuzz_archive (see fuzz/archive/fuzz_archive.cpp): flags, a time offset, the
// index's head (file header, summary and the blocks in use), its tail from the entry list
// on, the .vid and the bookmark file.
Bytes ArchiveInput(std::uint8_t flags, std::uint32_t offset, const Bytes& idx, const Bytes& vid,
                   const Bytes& bookmarks = {}) {
    namespace archive = taviro::archive;
    const std::size_t blocks = LoadBE32(idx.data() + archive::kSummaryOffset + 32);
    const auto headEnd =
        static_cast<std::ptrdiff_t>(archive::kBlockTableOffset + blocks * archive::kBlockSize);
    const Bytes head(idx.begin(), idx.begin() + headEnd);
    const Bytes tail(idx.begin() + static_cast<std::ptrdiff_t>(archive::kEntryListOffset),
                     idx.end());
    Bytes out{flags};
    out.resize(5);
    StoreLE32(out.data() + 1, offset);
    return out + LE16Bytes(head.size()) + head + LE16Bytes(tail.size()) + tail +
           LE16Bytes(vid.size()) + vid + bookmarks;
}

class CSeedWriter {
  public:
    explicit CSeedWriter(fs::path root) : m_root(std::move(root)) {}

    void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
        const fs::path folder = m_root / target;
        std::error_code ec;
        fs::create_directories(folder, ec);
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
            m_ok = false;
        }
        ++m_count;
    }
    [[nodiscard]] bool Ok() const { return m_ok; }
    [[nodiscard]] int Count() const { return m_count; }

  private:
    fs::path m_root;
    bool m_ok = true;
    int m_count = 0;
};

// The recorder's log as it answers the log request: records of one size, big-endian.
Bytes RemoteLogRecordBytes(const logs::RemoteLogRecord& record, std::size_t size) {
    const auto kept = record.Encode();
    Bytes out(kept.begin(), kept.end());
    out.resize(size, 0x5A);  // bytes past the kept 200 are the recorder's and ignored
    return out;
}

logs::RemoteLogRecord RemoteLogEntry(std::int32_t number, std::uint32_t kind, std::uint32_t subType,
                                     std::uint32_t param, std::int32_t size,
                                     std::string_view detail, std::string_view shortText) {
    logs::RemoteLogRecord r;
    r.number = number;
    r.size = size;
    r.kind = kind;
    r.subType = subType;
    r.time = static_cast<std::int32_t>(kBuildTime) + number * 60;
    r.param = param;
    std::copy_n(detail.begin(), std::min(detail.size(), r.detail.size()), r.detail.begin());
    std::copy_n(shortText.begin(), std::min(shortText.size(), r.shortText.size()),
                r.shortText.begin());
    return r;
}

void WriteRemoteLogSeeds(CSeedWriter& seeds) {
    const std::string name = "fuzz_remote_log";
    // One record of each kind, with the setup bit sets and an archive copy's description.
    logs::RemoteLogRecord setup = RemoteLogEntry(3, 4, 1u << 4, 0, 200, "menu", "admin");
    setup.params = {0x41, 0x81, 0x18, 0x0F, 0x1F, 0x81};
    logs::RemoteLogRecord archive = RemoteLogEntry(4, 4, 1u << 9, 0, 200, "copy", "admin");
    archive.params = {6, 1, 0x81, 0x80, 0, 0, 0, 0, 0x4C, 0xB2, 0xFC, 0x40, 0xFF, 0xFF, 0xFF, 0xFB};
    Bytes eachKind =
        RemoteLogRecordBytes(RemoteLogEntry(1, 1, 2, 0, 200, "shutdown", ""), 200) +
        RemoteLogRecordBytes(RemoteLogEntry(2, 2, 1, 0, 200, "HDD1", ""), 200) +
        RemoteLogRecordBytes(setup, 200) + RemoteLogRecordBytes(archive, 200) +
        RemoteLogRecordBytes(RemoteLogEntry(5, 8, 1, 0, 200, "10.0.0.9", "guest"), 200) +
        RemoteLogRecordBytes(RemoteLogEntry(6, 16, 2, 0x8001, 200, "", ""), 200);
    seeds.Write(name, "each_kind_200", eachKind);

    Bytes small;
    for (std::int32_t i = 1; i <= 4; ++i) {
        small = small + RemoteLogRecordBytes(RemoteLogEntry(i, 1u << i, 1, 3, 24, "", ""), 24);
    }
    seeds.Write(name, "size_24", small);

    // A camera's settings and the motion area: old block at detail 64, new block at 96.
    logs::RemoteLogRecord camera = RemoteLogEntry(7, 4, 1u << 13, 2, 256, "camera 2", "admin");
    const Bytes before = {1, 1, 2, 0, 0, 30, 5, 1, 15, 3, 0x80, 0x01};
    const Bytes after = {0, 2, 1, 7, 2, 30, 6, 2, 7, 250, 0x00, 0x03};
    std::copy(before.begin(), before.end(), camera.detail.begin() + 64);
    std::copy(after.begin(), after.end(), camera.detail.begin() + 96);
    logs::RemoteLogRecord area = RemoteLogEntry(8, 4, 1u << 15, 0, 256, "area", "admin");
    area.detail[64 + 31] = 0x01;
    area.detail[96 + 30] = 0xC0;
    seeds.Write(
        name, "camera_setup_and_area_256",
        RemoteLogRecordBytes(camera, 256) + RemoteLogRecordBytes(area, 256) + Pattern(10, 0x40));
}

// A little-endian TIFF file with one directory: the tags of `entries` (type 3 SHORT or 4
// LONG, one value each), then one strip per row, each strip's bytes as given.
struct TiffTag {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t value;
};

Bytes TiffFile(std::vector<TiffTag> tags, const std::vector<Bytes>& strips) {
    constexpr std::uint16_t kStripOffsets = 273;
    constexpr std::uint16_t kStripByteCounts = 279;
    const std::size_t entryCount = tags.size() + 2;
    const std::size_t ifdSize = 2 + 12 * entryCount + 4;
    const std::uint32_t offsetsAt = static_cast<std::uint32_t>(8 + ifdSize);
    const std::uint32_t countsAt = offsetsAt + static_cast<std::uint32_t>(4 * strips.size());
    std::uint32_t dataAt = countsAt + static_cast<std::uint32_t>(4 * strips.size());
    Bytes offsets, counts, data;
    for (const Bytes& strip : strips) {
        offsets = offsets + Bytes{0, 0, 0, 0};
        StoreLE32(offsets.data() + offsets.size() - 4, dataAt);
        counts = counts + Bytes{0, 0, 0, 0};
        StoreLE32(counts.data() + counts.size() - 4, static_cast<std::uint32_t>(strip.size()));
        data = data + strip;
        dataAt += static_cast<std::uint32_t>(strip.size());
    }
    // One strip: the offset and count sit in the entries themselves.
    const bool inline1 = strips.size() == 1;
    tags.push_back({kStripOffsets, 4, inline1 ? countsAt : offsetsAt});
    tags.push_back(
        {kStripByteCounts, 4, inline1 ? static_cast<std::uint32_t>(strips[0].size()) : countsAt});
    std::sort(tags.begin(), tags.end(),
              [](const TiffTag& a, const TiffTag& b) { return a.tag < b.tag; });
    Bytes out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    out = out + LE16Bytes(entryCount);
    for (const TiffTag& t : tags) {
        const bool many = !inline1 && (t.tag == kStripOffsets || t.tag == kStripByteCounts);
        Bytes entry(12, 0);
        entry[0] = static_cast<std::uint8_t>(t.tag);
        entry[1] = static_cast<std::uint8_t>(t.tag >> 8);
        entry[2] = static_cast<std::uint8_t>(t.type);
        StoreLE32(entry.data() + 4, many ? static_cast<std::uint32_t>(strips.size()) : 1);
        if (t.type == 3) {
            entry[8] = static_cast<std::uint8_t>(t.value);
            entry[9] = static_cast<std::uint8_t>(t.value >> 8);
        } else {
            StoreLE32(entry.data() + 8, t.value);
        }
        out = out + entry;
    }
    out = out + Bytes{0, 0, 0, 0};
    if (inline1) {
        // The single strip's data follows the directory directly.
        return out + Bytes(countsAt - out.size(), 0) + data;
    }
    return out + offsets + counts + data;
}

// Snapshot pictures as the viewer opens them: the snapshot writer's own form (RGB, PackBits,
// a strip per row), grey, extra alpha, and a size no file can hold.
void WriteSnapshotTiffSeeds(CSeedWriter& seeds) {
    const std::string name = "fuzz_snapshot_tiff";
    // 2 x 2 RGB, PackBits: each row one literal run of 6 bytes.
    const std::vector<Bytes> packRows = {Bytes{5, 255, 0, 0, 0, 255, 255},
                                         Bytes{5, 0, 0, 255, 255, 255, 255}};
    seeds.Write(name, "rgb_packbits_2x2",
                TiffFile({{256, 4, 2},
                          {257, 4, 2},
                          {258, 3, 8},
                          {259, 3, 32773},
                          {262, 3, 2},
                          {274, 3, 1},
                          {277, 3, 3},
                          {278, 4, 1},
                          {284, 3, 1},
                          {296, 3, 1}},
                         packRows));
    // 4 x 4 grey, uncompressed, one strip.
    seeds.Write(name, "grey_4x4",
                TiffFile({{256, 4, 4},
                          {257, 4, 4},
                          {258, 3, 8},
                          {259, 3, 1},
                          {262, 3, 1},
                          {277, 3, 1},
                          {278, 4, 4}},
                         {Pattern(16, 0x10)}));
    // 2 x 1 RGBA with unassociated alpha (ExtraSamples 2).
    seeds.Write(name, "rgba_2x1",
                TiffFile({{256, 4, 2},
                          {257, 4, 1},
                          {258, 3, 8},
                          {259, 3, 1},
                          {262, 3, 2},
                          {277, 3, 4},
                          {278, 4, 1},
                          {338, 3, 2}},
                         {Bytes{255, 255, 255, 128, 10, 20, 30, 255}}));
    // 100,000 x 100,000 claimed over 16 bytes.
    seeds.Write(name, "huge_claimed_size",
                TiffFile({{256, 4, 100000},
                          {257, 4, 100000},
                          {258, 3, 8},
                          {259, 3, 1},
                          {262, 3, 1},
                          {277, 3, 1},
                          {278, 4, 100000}},
                         {Pattern(16, 0x22)}));
}
}  // namespace

// Firmware image heads for the scan: byte 0 picks the built-in login answer of the
// newer (2) or older (0) kind, or 1 with a whole login answer in front.
// Input of fuzz_ptz: the answer's length and bytes, then (event, argument) pairs.
void WritePtzSeeds(CSeedWriter& seeds) {
    const std::string name = "fuzz_ptz";
    // Open in pan mode, the answer steerable, press and release Up, close.
    const Bytes open = {0, 0, 11, 1, 1, 0, 2, 0, 0, 0};
    seeds.Write(name, "steerable_move", Bytes{4, 1, 0, 0, 0} + open);
    seeds.Write(name, "empty_answer", Bytes{0, 11, 0x81, 1, 2});
    seeds.Write(name, "long_answer", Bytes{9, 1, 9, 9, 9, 9, 9, 9, 9, 9} + open);
    // Preset window: Preset, Call, digits 3 0 0, OK; then Learn, Set, 4, OK and close.
    seeds.Write(name, "preset_and_learn", Bytes{0, 0, 11, 1, 1, 4, 3, 0, 3, 1, 4, 4, 4, 1, 4,
                                                1, 3, 5,  1, 4, 3, 1, 3, 3, 4, 5, 3, 5, 0, 0});
    // Dome menu entered, a wheel notch and a key held while live stops.
    seeds.Write(name, "dome_wheel_key",
                Bytes{0, 0, 11, 1, 1, 4, 3, 2, 5, 0, 9, 1, 10, 0, 7, 4, 14, 0, 6, 0});
}

void WriteFirmwareScanSeeds(CSeedWriter& seeds) {
    const std::string name = "fuzz_firmware_scan";
    const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
    Bytes component(300, 0x33);
    std::fill(component.begin(), component.begin() + 64, 0);
    StoreBE32(component.data() + 8, 5000);
    const std::string_view app = "APP";
    std::copy(app.begin(), app.end(), component.begin() + 32);
    seeds.Write(name, "component_newer_kind", Bytes{2} + component);
    seeds.Write(name, "component_older_kind", Bytes{0} + component);
    seeds.Write(name, "component_short_header",
                Bytes{2} + Bytes(component.begin(), component.begin() + 63));
    seeds.Write(name, "boot_feb30", Bytes{2} + text("XYZVBoot-v1.2.3 (Feb 30 2011 - 01:02:03)"));
    Bytes prefixed(64, 0xEE);
    prefixed = prefixed + text("XYZVBoot-v1.2. (Jan  5 2012 - 10:00:00)");
    seeds.Write(name, "boot_behind_prefix", Bytes{0} + prefixed);
    seeds.Write(name, "boot_cut_in_date", Bytes{2} + text("XYZVBoot-v1.2.3 (Feb 30 2011 - 01:0"));
    taviro::protocol::HelloAck ack;
    ack.product_minor_ver = 2;
    const std::string_view logo = "LOGO";
    std::copy(logo.begin(), logo.end(), ack.FirmName[6].begin());
    ack.FirmVer[6] = 10;
    const auto encoded = ack.Encode();
    Bytes logoImage = component;
    std::fill(logoImage.begin() + 32, logoImage.begin() + 64, 0);
    std::copy(logo.begin(), logo.end(), logoImage.begin() + 32);
    seeds.Write(name, "own_login_answer",
                Bytes{1} + Bytes(encoded.begin(), encoded.end()) + logoImage);
}

// The slice rewriter's input: access units (2-byte length, then the bytes) of an encoder
// whose parameter sets differ from the recorder's as x264's do.
Bytes RewriterUnit(const Bytes& unit) {
    return Bytes{static_cast<std::uint8_t>(unit.size() >> 8),
                 static_cast<std::uint8_t>(unit.size())} +
           unit;
}

Bytes RewriterSlice(const taviro::sim::H264SliceHeader& h, const taviro::sim::H264SeqParams& sps,
                    const taviro::sim::H264PicParams& pps) {
    using namespace taviro::sim;
    taviro::platform::CRbspWriter w;
    WriteH264SliceHeader(w, h, sps, pps);
    const Bytes data = Pattern(24, static_cast<std::uint8_t>(h.frameNum));
    AppendH264Bits(w, data, 0, data.size() * 8 - 5);
    w.PutTrailingBits();
    Bytes out;
    taviro::platform::AppendNalUnit(
        out, static_cast<std::uint8_t>((h.nalRefIdc << 5) | (h.idr ? 5 : 1)), w.Bytes());
    return out;
}

void WriteSliceRewriterSeeds(CSeedWriter& seeds) {
    using namespace taviro::sim;
    const std::string name = "fuzz_slice_rewriter";
    for (const std::uint32_t pocType : {2u, 0u}) {
        H264SeqParams sps = RecorderSeqParams(352, 240);
        sps.log2MaxFrameNum = 4;
        sps.pocType = pocType;
        sps.log2MaxPocLsb = 5;
        H264PicParams pps;
        pps.picInitQp = 30;
        pps.deblockingControl = true;
        Bytes input{0};
        for (std::uint32_t i = 0; i < 5; ++i) {
            H264SliceHeader h;
            h.idr = i == 0 || i == 4;
            h.sliceType = h.idr ? 7 : 5;
            h.frameNum = h.idr ? 0 : i;
            h.pocLsb = h.idr ? 0 : 2 * i;
            h.idrPicId = i == 4 ? 1 : 0;
            h.sliceQpDelta = static_cast<std::int32_t>(i) - 2;
            if (i == 2) {
                h.refListModified = true;
                h.refListChanges = {{0, 0}};
                h.adaptiveMarking = true;
                h.markingOps = {{1, 0, 0}};
            }
            const Bytes sets = i == 0 ? WriteH264ParamSets(sps, pps) : Bytes{};
            input = input + RewriterUnit(sets + RewriterSlice(h, sps, pps));
        }
        seeds.Write(name, pocType == 2 ? "order_count_type_2" : "order_count_type_0", input);
    }
    // The recorder's own parameter sets at 720 x 576 and an IDR picture with the filter off,
    // which the rewriter must refuse.
    H264SeqParams sps = RecorderSeqParams(720, 576);
    H264PicParams pps;
    pps.deblockingControl = true;
    H264SliceHeader h;
    h.idr = true;
    h.deblockingIdc = 1;
    seeds.Write(name, "filter_off",
                Bytes{2} + RewriterUnit(WriteH264ParamSets(sps, pps) + RewriterSlice(h, sps, pps)));
}

// Sequence parameter set NAL units (header byte and escaped payload) for fuzz_sps_rewriter:
// the client's own, and ones with the fields other encoders use.
struct SeedSps {
    std::uint32_t profile = 66;
    bool scalingMatrix = false;
    std::uint32_t pocType = 0;
    std::uint32_t refFrames = 1;
    bool frameMbsOnly = true;
    std::uint32_t crop = 0;  // all four offsets; 0: no cropping
    bool vui = false;
};

Bytes SpsUnit(const SeedSps& f) {
    taviro::platform::CRbspWriter w;
    w.PutBits(f.profile, 8);
    w.PutBits(0, 8);
    w.PutBits(40, 8);
    w.PutUe(0);
    if (f.profile == 100) {
        w.PutUe(3);  // 4:4:4, with the separate colour plane flag
        w.PutBit(false);
        w.PutUe(0);
        w.PutUe(0);
        w.PutBit(false);
        w.PutBit(f.scalingMatrix);
    }
    w.PutUe(4);
    w.PutUe(f.pocType);
    if (f.pocType == 0) {
        w.PutUe(2);
    } else if (f.pocType == 1) {
        w.PutBit(false);
        w.PutSe(-2);
        w.PutSe(1);
        w.PutUe(3);
        for (const std::int32_t offset : {1, -1, 2}) {
            w.PutSe(offset);
        }
    }
    w.PutUe(f.refFrames);
    w.PutBit(false);
    w.PutUe(43);
    w.PutUe(29);
    w.PutBit(f.frameMbsOnly);
    if (!f.frameMbsOnly) {
        w.PutBit(true);
    }
    w.PutBit(true);
    w.PutBit(f.crop != 0);
    for (int i = 0; f.crop != 0 && i < 4; ++i) {
        w.PutUe(f.crop);
    }
    w.PutBit(f.vui);
    if (f.vui) {
        w.PutBits(0, 9);
    }
    w.PutTrailingBits();
    Bytes unit{0x67};
    taviro::platform::AppendEscapedRbsp(unit, w.Bytes());
    return unit;
}

void WriteSpsRewriterSeeds(CSeedWriter& seeds) {
    const std::string name = "fuzz_sps_rewriter";
    for (const auto& [width, height] : {std::pair{352U, 240U}, std::pair{720U, 576U}}) {
        std::array<std::uint8_t, taviro::video::kParamSetBufferSize> sets{};
        const std::size_t n = taviro::video::WriteParameterSets(width, height, sets);
        const auto units = taviro::platform::SplitAnnexB(std::span(sets).first(n));
        if (!units.empty()) {
            seeds.Write(name, "own_" + std::to_string(width) + "x" + std::to_string(height),
                        Bytes(units[0].begin(), units[0].end()));
        }
    }
    SeedSps high;
    high.profile = 100;
    high.pocType = 1;
    high.refFrames = 4;
    high.frameMbsOnly = false;
    high.crop = 2;
    seeds.Write(name, "high_profile_fields_cropped", SpsUnit(high));
    SeedSps escaped;
    escaped.pocType = 2;
    escaped.crop = 0x1000000;  // codes with 24 leading zeros: escaped in the unit
    seeds.Write(name, "escaped_crop_offsets", SpsUnit(escaped));
    SeedSps vui;
    vui.vui = true;
    seeds.Write(name, "with_vui", SpsUnit(vui));
    SeedSps scaling = high;
    scaling.scalingMatrix = true;
    seeds.Write(name, "scaling_matrix", SpsUnit(scaling));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-folder>\n", argv[0]);
        return 2;
    }
    if (FindMessage(kUnknownCode, Direction::RecorderToClient) != nullptr) {
        std::fprintf(stderr, "code %u is no longer unknown; pick another\n", kUnknownCode);
        return 1;
    }
    CSeedWriter seeds{fs::path(argv[1])};

    // --- the receive dispatch: streams as a recorder sends them ---
    const std::string rx = "fuzz_receive_dispatch";
    const Bytes ack11 = Message(msg::HELLO48_ACK, AckPayload(MakeAck(11, 16, 0)));
    const Bytes ack11six = Message(msg::HELLO48_ACK, AckPayload(MakeAck(11, 6, 0)));
    const Bytes ack12 = Message(msg::HELLO48_ACK, AckPayload(MakeAck(12, 8, 0x08)));
    const Bytes ack1 = Message(msg::HELLO48_ACK, AckPayload(MakeAck(1, 4, 0)));
    const Bytes ack700 = [] {
        Bytes p = AckPayload(MakeAck(11, 16, 0));
        p.resize(700);
        return Message(msg::HELLO48_ACK, p);
    }();
    const Bytes bye1 = Message(msg::BYE48, Reason(1));
    const Bytes bye37 = Message(msg::BYE48, Reason(37));
    const Bytes bye4 = Message(msg::BYE48, Reason(4));
    const Bytes byeMinus2 = Message(msg::BYE48, Reason(-2));
    const Bytes keepAlive = Header(msg::KEEP_ALIVE, 0);
    const Bytes unknown = Message(kUnknownCode, Pattern(1000, 0x31)) + keepAlive;
    const Bytes recOnNack = Message(msg::REC_ON_NACK, Reason(65));
    const Bytes transOnNack =
        Message(msg::TRANS_ON_NACK, Reason(87) + BE32(2'000'000) + BE32(1'500'000));
    const Bytes liveNack = Header(msg::LIVE_NACK, 0);
    const Bytes shortNack = Message(msg::REC_OFF_NACK, Bytes{0x00, 0x01});
    // Bits a receiver ignores all set: word 0 bits 0..2, 4..6 and 16..31, word 1 with
    // last-fragment, channel and the other high bits, words 2 and 3; 16 payload bytes.
    const Bytes highBits = [] {
        PacketHeader h;
        h.word[0] = 0xA5A50000u | (std::uint32_t{kUnknownCode} << 7) | 0x77u;
        h.word[1] = 0x7FBF0000u | 16u;
        h.word[2] = 0xFFFFFFFFu;
        h.word[3] = 0x12345678u;
        const auto head = h.ToNetwork();
        return Bytes(head.begin(), head.end()) + Pattern(16, 0x80);
    }();
    const Bytes audioOnOff =
        Header(msg::LIVE_STOP_ACK, 0, false, true) + Header(msg::LIVE_STOP_ACK, 0);

    // The recordings area: month and day lists in fragments split anywhere, refusals, and
    // a playback stream with its acknowledgements and play data.
    const Bytes months = MonthRecord(2010) + MonthRecord(2011);
    seeds.Write(
        rx, "play_month_fragments",
        ack11 +
            Fragment(msg::PLAY_INFO_MONTH_ACK, Bytes(months.begin(), months.begin() + 5), false) +
            Fragment(msg::PLAY_INFO_MONTH_ACK, Bytes(months.begin() + 5, months.begin() + 400),
                     false) +
            Fragment(msg::PLAY_INFO_MONTH_ACK, Bytes(months.begin() + 400, months.end()), true) +
            Fragment(msg::TRANS_INFO_MONTH_ACK, months, true));
    const Bytes days = DayRecord(0xF, 1, kBuildTime, kBuildTime + 3600) +
                       DayRecord(0x5, 2, kBuildTime - 600, kBuildTime + 90000) +
                       DayRecord(0x80000001u, 3, kBuildTime + 600, kBuildTime + 300);
    seeds.Write(
        rx, "day_fragments",
        ack11 + Fragment(msg::PLAY_INFO_DAY_ACK, Bytes(days.begin(), days.begin() + 30), false) +
            Fragment(msg::PLAY_INFO_DAY_ACK, Bytes(days.begin() + 30, days.end()), true) +
            Fragment(msg::TRANS_INFO_DAY_ACK, days, true) +
            Message(msg::TRANS_INFO_MONTH_NACK, Reason(83)) +
            Message(msg::PLAY_INFO_DAY_NACK, Reason(53)));
    Bytes playStream =
        ack11 + Message(msg::PLAY_CHANNEL_INFO, BE32(0x000F)) + Header(msg::PLAY_ON_ACK, 0);
    for (int i = 0; i < 6; ++i) {
        const Bytes frame = PlayFrame(
            i % 4, static_cast<std::uint32_t>(kBuildTime) + static_cast<std::uint32_t>(i / 4),
            static_cast<std::uint32_t>(i) * 40000, 300, 300);
        const std::uint32_t speed = i < 4 ? 11 : 13;
        playStream =
            playStream +
            Fragment(msg::PLAY_DATA, Bytes(frame.begin(), frame.begin() + 100), false, speed) +
            Fragment(msg::PLAY_DATA, Bytes(frame.begin() + 100, frame.end()), true, speed);
    }
    // An audio element, then a short element and one that claims more than arrived.
    Bytes streamAudio(64, 0);
    const Bytes audioMagic = BE32(0x2518F049u);
    std::copy(audioMagic.begin(), audioMagic.end(), streamAudio.begin() + 16);
    streamAudio[52 + 3] = 0x01;
    streamAudio = streamAudio + Pattern(48, 7);
    playStream =
        playStream + Fragment(msg::PLAY_DATA, streamAudio, true, 11) +
        Fragment(msg::PLAY_DATA, Pattern(12, 1), true, 11) +
        Fragment(msg::PLAY_DATA,
                 PlayFrame(1, static_cast<std::uint32_t>(kBuildTime) + 2, 0, 50, 5000), true, 11) +
        Header(msg::PLAY_DATA_FINISH, 0) + Message(msg::PLAY_DATA_FINISH, Pattern(8, 2)) +
        Header(msg::PLAY_ON_DONE, 0);
    seeds.Write(rx, "play_stream", playStream);
    seeds.Write(rx, "play_refused_and_failed",
                ack11 + Message(msg::PLAY_ON_NACK, Reason(83)) +
                    Message(msg::PLAY_CHANNEL_INFO, BE32(0x3)) + Header(msg::PLAY_ON_ACK, 0) +
                    Message(msg::PLAY_ON_FAIL, Reason(86)) + Header(msg::PLAY_OFF_ACK, 0) +
                    Message(msg::PLAY_OFF_NACK, Reason(2)));

    // --- the calendar's and the timeline's reading of those lists ---
    const std::string rec = "fuzz_calendar";
    seeds.Write(rec, "months_two_years", Bytes{0x00, 26, 0} + months);
    seeds.Write(rec, "months_partial",
                Bytes{0x00, 70, 0} + Bytes(months.begin(), months.begin() + 500));
    seeds.Write(rec, "days_whole_view", Bytes{0x01, 0x00, 0xFF} + days);
    seeds.Write(rec, "days_zoomed", Bytes{0x03, 100, 101} + days);

    seeds.Write(rx, "hello_ack_product11", ack11);
    seeds.Write(rx, "hello_ack_product11_6ch", ack11six);
    seeds.Write(rx, "hello_ack_product12_viewch", ack12);
    seeds.Write(rx, "hello_ack_product1", ack1);
    seeds.Write(rx, "hello_ack_700", ack700);
    seeds.Write(rx, "hello_ack_empty", Header(msg::HELLO48_ACK, 0));
    seeds.Write(rx, "hello_ack_truncated", Header(msg::HELLO48_ACK, 768) + Pattern(100, 3));
    seeds.Write(rx, "bye_1", bye1);
    seeds.Write(rx, "bye_37", bye37);
    seeds.Write(rx, "bye_4", bye4);
    seeds.Write(rx, "bye_minus2", byeMinus2);
    seeds.Write(rx, "bye_empty", Header(msg::BYE48, 0));
    seeds.Write(rx, "unknown_1000_keepalive", unknown);
    seeds.Write(rx, "rec_on_nack_65", recOnNack);
    seeds.Write(rx, "trans_on_nack_87_sizes", transOnNack);
    seeds.Write(rx, "live_nack_empty", liveNack);
    seeds.Write(rx, "rec_off_nack_2_bytes", shortNack);
    seeds.Write(rx, "header_high_bits", highBits);
    seeds.Write(rx, "audio_on_off", audioOnOff);
    seeds.Write(rx, "login_refusals_bye37", ack11 + recOnNack + transOnNack + liveNack + bye37);
    seeds.Write(rx, "login12_unknown_bye4", ack12 + unknown + audioOnOff + bye4);
    seeds.Write(rx, "rejected_bye1", ack1 + bye1);
    seeds.Write(rx, "two_logins_high_bits", ack11 + highBits + ack11six + byeMinus2);
    seeds.Write(rx, "refusals_then_truncated",
                shortNack + recOnNack + Header(msg::TRANS_ON_NACK, 12) + Reason(87));

    // --- the login answer alone ---
    const std::string hello = "fuzz_hello_ack";
    seeds.Write(hello, "product11", AckPayload(MakeAck(11, 16, 0)));
    seeds.Write(hello, "product12_viewch", AckPayload(MakeAck(12, 8, 0x08)));
    seeds.Write(hello, "product1_4ch", AckPayload(MakeAck(1, 4, 0)));
    seeds.Write(hello, "size_700", Bytes(ack700.begin() + kHeaderSize, ack700.end()));

    // --- the local log file ---
    const std::string log = "fuzz_local_log";
    seeds.Write(log, "three_entries", LocalLogFile(0, 3, 3));
    seeds.Write(log, "wrapped_ring", LocalLogFile(1, 2, 6));
    seeds.Write(log, "next_slot_past_end", LocalLogFile(0, logs::kLocalLogSlots, 4));
    seeds.Write(log, "bad_record_size", LocalLogFile(0, 2, 2, 100));
    seeds.Write(log, "short_file", [] {
        Bytes b = LocalLogFile(0, 1, 1);
        b.resize(100);
        return b;
    }());

    // --- the recorder's log ---
    WriteRemoteLogSeeds(seeds);
    WriteFirmwareScanSeeds(seeds);
    WritePtzSeeds(seeds);

    // --- snapshot pictures for the viewer ---
    WriteSnapshotTiffSeeds(seeds);

    // --- the event list: paged and whole answers, a header cut short ---
    const std::string events = "fuzz_events";
    const Bytes motionEvent = DayRecord(0x5, 2, 1286870400, 1286870430);
    const Bytes audioEvent = DayRecord(0x8001, 7, 1286870500, 1286870530);
    seeds.Write(
        events, "paged_motion",
        Bytes{0x03, 2} + BE32(0) + BE32(1) + BE32(2) + motionEvent + audioEvent + motionEvent);
    seeds.Write(events, "whole_audio", Bytes{0x04, 0} + audioEvent + motionEvent + audioEvent);
    seeds.Write(events, "paged_header_cut", Bytes{0x01, 1} + BE32(7) + Bytes{0, 0});

    // --- the status answer (full and short) and the login answer behind the system page ---
    const std::string status = "fuzz_status";
    Bytes full = BE32(0) + BE32(0) + BE32(2'000'000) + BE32(745'216) + Bytes{1, 1, 1, 0} +
                 Bytes{39, 41, 0, 0} + Bytes{1, 1, 2, 0} + Bytes{1, 0, 0, 0} + Bytes{12, 0, 0, 0} +
                 Bytes{3, 0, 0, 0} + Bytes{0, 1, 2, 3, 4, 1, 1, 1, 0, 1, 1, 2, 1, 1, 0, 1};
    seeds.Write(status, "full_16ch", Bytes{16} + full);
    seeds.Write(status, "short_4ch", Bytes{4} + Bytes(full.begin(), full.begin() + 16));
    seeds.Write(status, "login_answer", Bytes{8} + AckPayload(MakeAck(11, 8, 0)));

    // --- the header alone ---
    const std::string head = "fuzz_packet_header";
    seeds.Write(head, "hello", Header(msg::HELLO, kHelloPayloadSize));
    seeds.Write(head, "keep_alive", keepAlive);
    seeds.Write(head, "hello_ack", Header(msg::HELLO48_ACK, kHelloAckSize));
    seeds.Write(head, "audio_on", Header(msg::AUDIO_ONOFF_REQ, 0, false, true));
    seeds.Write(head, "high_bits", Bytes(highBits.begin(), highBits.begin() + kHeaderSize));
    seeds.Write(head, "live_data_last_fragment", [] {
        PacketHeader h = PacketHeader::Make(msg::LIVE_DATA, 1400, true);
        h.word[3] = static_cast<std::uint32_t>(kBuildTime);
        const auto b = h.ToNetwork();
        return Bytes(b.begin(), b.end());
    }());

    // --- the stream path: pieces of live and playback elements ---
    // Input: scene byte, decoder channels (big-endian 16 bits), then (control, length, bytes)
    // pieces; see fuzz/video/fuzz_stream_element.cpp.
    const std::string stream = "fuzz_stream_element";
    {
        auto put32 = [](Bytes& b, std::size_t at, std::uint32_t v, bool big) {
            for (std::size_t i = 0; i < 4; ++i) {
                b[at + i] = static_cast<std::uint8_t>(big ? v >> (24 - 8 * i) : v >> (8 * i));
            }
        };
        auto encoder = [](Bytes& b, std::size_t at, std::uint32_t size, std::uint8_t hb,
                          std::uint8_t wb, std::uint8_t ch) {
            b[at] = static_cast<std::uint8_t>(size);
            b[at + 1] = static_cast<std::uint8_t>(size >> 8);
            b[at + 2] = static_cast<std::uint8_t>((size >> 16) & 0xF);
            b[at + 4] = hb;
            b[at + 5] = wb;
            b[at + 36] = ch;
        };
        auto piece = [](Bytes& out, std::uint8_t control, const Bytes& b, std::size_t from,
                        std::size_t n) {
            out.push_back(static_cast<std::uint8_t>(control | ((n >> 8) << 4)));
            out.push_back(static_cast<std::uint8_t>(n & 0xFF));
            out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(from),
                       b.begin() + static_cast<std::ptrdiff_t>(from + n));
        };
        Bytes live(324, 0);
        encoder(live, 260, 8, 15, 22, 0);
        for (const std::uint8_t v : Bytes{0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x00}) {
            live.push_back(v);
        }
        Bytes b = {0xF0, 0x00, 0x01};
        piece(b, 0x00, live, 0, 200);
        piece(b, 0x01, live, 200, live.size() - 200);
        seeds.Write(stream, "live_video_two_pieces", b);

        Bytes audio(64 + 96, 0);
        put32(audio, 16, 0x2518F049u, true);
        put32(audio, 40, 0x0000000Au, true);
        std::fill(audio.begin() + 64, audio.begin() + 112, std::uint8_t{0xA0});
        std::fill(audio.begin() + 112, audio.end(), std::uint8_t{0xA1});
        b = {0x30, 0xFF, 0xFF};
        piece(b, 0x01, audio, 0, audio.size());
        seeds.Write(stream, "live_audio", b);

        Bytes play(196, 0);
        put32(play, 16, 0x20061123u, true);
        put32(play, 28, 4, true);
        play[96] = 'C';
        play[97] = 'H';
        encoder(play, 128, 4, 30, 44, 4);
        play[195] = 1;
        b = {0x03, 0x00, 0x10};
        piece(b, 0x03, play, 0, play.size());
        seeds.Write(stream, "playback_video", b);

        const Bytes info = {0x00, 0x04, 0x00, 0x07};
        b = {0xF0, 0x00, 0x07};
        piece(b, 0x04, info, 0, info.size());
        piece(b, 0x01, live, 0, live.size());
        seeds.Write(stream, "live_channel_info", b);

        Bytes playAudio(64 + 96, 0);
        put32(playAudio, 16, 0x2518F049u, false);
        put32(playAudio, 52, 0x00000005u, false);
        std::fill(playAudio.begin() + 64, playAudio.begin() + 112, std::uint8_t{0xB0});
        std::fill(playAudio.begin() + 112, playAudio.end(), std::uint8_t{0xB2});
        b = {0x24, 0x00, 0x00};
        piece(b, 0x02, playAudio, 0, 100);
        piece(b, 0x03, playAudio, 100, playAudio.size() - 100);
        seeds.Write(stream, "playback_audio_le", b);
    }

    // --- the recorder address book ---
    {
        const std::string book = "fuzz_address_book";
        const auto header = [](std::uint32_t full, std::uint32_t nextSlot) {
            Bytes b(8);
            StoreLE32(b.data(), full);
            StoreLE32(b.data() + 4, nextSlot);
            return b;
        };
        // address at 0 and description at 272 (260 bytes each), port, lastUsed, slot.
        const auto entry = [](const std::string& address, std::uint32_t port,
                              std::uint32_t lastUsed, std::uint32_t slot,
                              const std::string& description) {
            Bytes b(532);
            std::copy(address.begin(), address.end(), b.begin());
            StoreLE32(b.data() + 260, port);
            StoreLE32(b.data() + 264, lastUsed);
            StoreLE32(b.data() + 268, slot);
            std::copy(description.begin(), description.end(), b.begin() + 272);
            return b;
        };
        seeds.Write(book, "three_entries",
                    header(0, 3) + entry("192.168.1.10", 2000, 1286798400, 0, "lobby") +
                        entry("NVR.example", 8000, 1286798500, 1, "") +
                        entry("10.0.0.2", 2000, 1286798300, 2, "yard"));
        seeds.Write(book, "full_header_two_entries",
                    header(1, 0) + entry("a.example", 1, 5, 0, "") + entry("b", 65534, 9, 1, "x"));
        seeds.Write(book, "torn_record", [&] {
            Bytes b = header(0, 1) + entry("torn.example", 2000, 7, 0, "cut here");
            b.resize(300);
            return b;
        }());
    }
    // --- saved views and the remembered site (settings text) ---
    {
        const std::string views = "fuzz_site_views";
        const auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
        seeds.Write(views, "two_views",
                    text("Gates\t1\t0\tr2:1/3;r1:1/0;;r4:1/7\nNight\t14\t0\t\n"));
        seeds.Write(views, "damaged_lines",
                    text("Twice\t1\t2\tr1:1/2;r1:1/2\nno fields\nBad\t7777\t0\t\n"
                         "Cut\t1\t0\tr1:1/"));
        seeds.Write(views, "recorders",
                    text("10.0.0.7\t9000\tadmin\tNorth gate\t4\nr1\t1\top\t\t16\n"));
    }
    // --- the skin pack's text table ---
    {
        const std::string texts = "fuzz_skin_texts";
        const auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
        seeds.Write(texts, "plain",
                    text("# tool-tips\n5000  Connect to a recorder\n5009 Channel\n\n"
                         "5840 Needed\n"));
        seeds.Write(texts, "escapes_crlf",
                    text("5079 The connection\\nhas ended.\r\n5080\tTab\\there\r\n"
                         "5081 back\\\\slash\r\n"));
        seeds.Write(texts, "utf8_and_duplicates",
                    text("5000 Caf\xC3\xA9\n5000 \xE2\x86\x92 last wins\n65535 top\n"));
        seeds.Write(texts, "errors",
                    text("65536 too big\n12ab glued\nno number\n7 bad \\q\n8 \xC0\xAF\n"
                         "9 cut \\"));
    }
    // --- the G.726 codec: packed codes and 16-bit samples ---
    {
        const std::string g726 = "fuzz_g726";
        Bytes ramp;  // codes 1..7, 0 in every group: one 48-byte audio block
        for (int i = 0; i < 16; ++i) {
            ramp = ramp + Bytes{0xD1, 0x58, 0x1F};
        }
        seeds.Write(g726, "code_ramp_block", ramp);
        Bytes largest;  // code 3 throughout: the reconstruction runs past 14 bits
        for (int i = 0; i < 16; ++i) {
            largest = largest + Bytes{0xDB, 0xB6, 0x6D};
        }
        seeds.Write(g726, "largest_level_block", largest);
        // A loud square wave of period 16 as little-endian samples: overloads the coder.
        Bytes square;
        for (int i = 0; i < 96; ++i) {
            const std::uint16_t v = (i / 8) % 2 == 0 ? 0x7FFF : 0x8000;
            square = square +
                     Bytes{static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)};
        }
        seeds.Write(g726, "square_samples", square);
        // A quiet triangle wave, then a trailing part of a group.
        Bytes triangle;
        for (int i = 0; i < 100; ++i) {
            const int v = (i % 20 < 10 ? i % 20 : 20 - i % 20) * 300 - 1500;
            const auto u = static_cast<std::uint16_t>(v);
            triangle = triangle + Bytes{static_cast<std::uint8_t>(u & 0xFF),
                                        static_cast<std::uint8_t>(u >> 8)};
        }
        seeds.Write(g726, "triangle_samples_torn", triangle + Bytes{0x55});
    }
    // --- WAV files: as the file device writes them, and as other programs do ---
    {
        const std::string wav = "fuzz_wav";
        const auto le = [](std::uint32_t v, int bytes) {
            Bytes out;
            for (int i = 0; i < bytes; ++i)
                out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
            return out;
        };
        const auto tag = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
        const auto fmt = [&](std::uint32_t channels, std::uint32_t rate) {
            return tag("fmt ") + le(16, 4) + le(1, 2) + le(channels, 2) + le(rate, 4) +
                   le(rate * channels * 2, 4) + le(channels * 2, 2) + le(16, 2);
        };
        const auto file = [&](const Bytes& chunks) {
            return tag("RIFF") + le(static_cast<std::uint32_t>(4 + chunks.size()), 4) +
                   tag("WAVE") + chunks;
        };
        Bytes tone;  // 64 stereo frames of a 500 Hz tone at 8,000 frames/s
        for (int i = 0; i < 64; ++i) {
            const int v = (i % 16 < 8 ? i % 16 : 16 - i % 16) * 2000 - 8000;
            tone =
                tone + le(static_cast<std::uint16_t>(v), 2) + le(static_cast<std::uint16_t>(v), 2);
        }
        const Bytes data = tag("data") + le(static_cast<std::uint32_t>(tone.size()), 4) + tone;
        seeds.Write(wav, "stereo_8000_tone", file(fmt(2, 8000) + data));
        seeds.Write(wav, "empty_data", file(fmt(2, 8000) + tag("data") + le(0, 4)));
        seeds.Write(wav, "mono_16000_with_list",
                    file(fmt(1, 16000) + tag("LIST") + le(5, 4) + tag("INFOx") + Bytes{0} +
                         tag("data") + le(8, 4) + le(0x12345678, 4) + le(0x9ABCDEF0, 4)));
        seeds.Write(wav, "data_claims_more", file(fmt(2, 8000) + tag("data") + le(4096, 4) + tone));
    }
    // --- backup pairs and the bookmark file, as the client writes them ---
    {
        namespace archive = taviro::archive;
        const std::string name = "fuzz_archive";
        const fs::path scratch =
            fs::temp_directory_path() / ("taviro-make-seeds-" + std::to_string(::getpid()));
        std::error_code ec;
        fs::remove_all(scratch, ec);
        const auto small = WriteBackup(scratch / "small", BackupRecords(4), 0);
        const auto split = WriteBackup(scratch / "split", BackupRecords(4), 1500);
        Bytes bookmarks;
        {
            const archive::CBookmarkFile book(scratch / "Log" / archive::kBookmarkFileName);
            const char* names[] = {"gate", "lobby \xC3\xA9t\xC3\xA9", "yard"};
            for (int i = 0; i < 3; ++i) {
                const auto free = book.FindFreeSlot();
                book.Add(free.slot, static_cast<std::int32_t>(kBuildTime) + 60 * i, names[i],
                         "/home/user/Taviro/Download/4cb37d40.vid");
            }
            bookmarks = ReadFile(book.FilePath());
        }
        fs::remove_all(scratch, ec);
        if (small.size() != 1 || split.size() < 2 || bookmarks.size() != 3 * 528) {
            std::fprintf(stderr, "the archive seeds came out wrong\n");
            return 1;
        }
        const auto& [idx, vid] = small.front();
        seeds.Write(name, "small_pair", ArchiveInput(0x00, 1, idx, vid));
        seeds.Write(name, "split_pair_first",
                    ArchiveInput(0x01, 0, split[0].first, split[0].second));
        seeds.Write(name, "split_pair_second",
                    ArchiveInput(0x03, 1, split[1].first, split[1].second));
        // The second record (a video frame after the first audio record) links to itself.
        Bytes selfLinked = vid;
        const std::uint32_t second = 64 + 64 + 96;
        StoreBE32(selfLinked.data() + second + 32, second);
        seeds.Write(name, "self_back_link", ArchiveInput(0x00, 2, idx, selfLinked));
        seeds.Write(name, "bookmarks_three", ArchiveInput(0x00, 0, idx, vid, bookmarks));
        // The last entry points back to the first second's frame, now stamped with the last
        // second: no playback position of the second block.
        Bytes backIdx = idx;
        Bytes backVid = vid;
        const std::size_t entries = archive::kEntryListOffset;
        const std::uint32_t earlier = LoadBE32(idx.data() + entries + 8);
        StoreBE32(backIdx.data() + entries + 24, earlier);
        StoreBE32(backVid.data() + earlier + 24, static_cast<std::uint32_t>(kBuildTime) + 3);
        seeds.Write(name, "entry_before_its_block", ArchiveInput(0x00, 3, backIdx, backVid));
        // Records that state more than their kind can hold while the file holds it all: the
        // first audio record runs up to the trailer; the first frame (watermark-marked) runs
        // over the hole that flag bit 2 puts in front of the trailer (fuzz_archive's kHole).
        constexpr std::uint64_t kHole = 1'310'720;
        const std::size_t trailerAt = vid.size() - archive::kTrailerSize;
        Bytes longAudio = vid;
        StoreBE32(longAudio.data() + 64 + 28, static_cast<std::uint32_t>(trailerAt - 64 - 64));
        seeds.Write(name, "audio_longer_than_its_kind", ArchiveInput(0x00, 1, idx, longAudio));
        Bytes longFrame = vid;
        StoreBE32(longFrame.data() + second + 28,
                  static_cast<std::uint32_t>(trailerAt + kHole - second - 192));
        seeds.Write(name, "marked_frame_beyond_the_frame_bound",
                    ArchiveInput(0x04, 1, idx, longFrame));
    }
    WriteSliceRewriterSeeds(seeds);
    WriteSpsRewriterSeeds(seeds);
    if (!seeds.Ok()) {
        return 1;
    }
    std::printf("wrote %d seed files to %s\n", seeds.Count(), argv[1]);
    return 0;
}
