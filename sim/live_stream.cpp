#include "sim/live_stream.h"

#include <algorithm>
#include <string>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/crc32.h"
#include "sim/h264_test_pattern.h"

namespace taviro::sim {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
constexpr std::uint32_t kAudioSamplesPerBlock = 128;
constexpr std::uint32_t kAudioSampleRate = 8000;

// Offsets in the stream part of the live prefix.
constexpr std::size_t kPartMagic = 16;
constexpr std::size_t kPartChannel = 20;
constexpr std::size_t kPartSeconds = 24;
constexpr std::size_t kPartPayloadLength = 28;
constexpr std::size_t kPartMicroseconds = 36;
constexpr std::size_t kPartKeyFrame = 44;
constexpr std::size_t kPartTitleCrc = 92;
constexpr std::size_t kPartTitle = 96;

// Offsets in the audio block header.
constexpr std::size_t kAudioMagic = 16;
constexpr std::size_t kAudioSeconds = 24;
constexpr std::size_t kAudioPayloadLength = 28;
constexpr std::size_t kAudioMicroseconds = 36;
constexpr std::size_t kAudioMask = 40;

std::string CheckOptions(const LiveStreamOptions& o) {
    if (o.productType != 3 && o.productType != 5) {
        return "productType must be 3 or 5";
    }
    if (!IsH264PictureSizeAccepted(o.width, o.height)) {
        return "picture size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
               " is not one the encoder produces";
    }
    if (o.frameRate < 1 || o.frameRate > 60) {
        return "frameRate must be 1..60";
    }
    if (o.leadingDependentFrames < 0) {
        return "leadingDependentFrames must not be negative";
    }
    if (o.fragmentSize < 1 || o.fragmentSize > protocol::kMaxPayload) {
        return "fragmentSize must be 1..65535";
    }
    if ((o.dependentStartChannels & ~protocol::kAllChannels) != 0) {
        return "dependentStartChannels names channels above 15";
    }
    if (o.titles.size() > static_cast<std::size_t>(protocol::kMaxChannels)) {
        return "more than 16 titles";
    }
    if ((o.cameraChannels & ~protocol::kAllChannels) != 0) {
        return "cameraChannels names channels above 15";
    }
    if (o.camera && (o.camera->Width() != o.width || o.camera->Height() != o.height)) {
        return "the camera loops are of another picture size";
    }
    return {};
}

H264StreamOptions WriterOptions(const LiveStreamOptions& o, int channel) {
    H264StreamOptions w;
    w.width = o.width;
    w.height = o.height;
    w.gop_length = o.gopLength;
    w.poc_step = o.pocStep;
    w.leading_dependent_frames =
        protocol::HasChannel(o.dependentStartChannels, channel) ? o.leadingDependentFrames : 0;
    return w;
}

}  // namespace

std::optional<CLiveStreamBuilder> CLiveStreamBuilder::Create(const LiveStreamOptions& options,
                                                             std::string* error) {
    std::string why = CheckOptions(options);
    if (why.empty()) {
        // The encoder checks its own ranges (group length, POC step).
        H264StreamOptions trial = WriterOptions(options, 0);
        trial.leading_dependent_frames = options.leadingDependentFrames;
        std::string writerWhy;
        if (!CH264StreamWriter::Create(trial, &writerWhy)) {
            why = writerWhy.empty() ? "encoder options rejected" : writerWhy;
        }
    }
    if (!why.empty()) {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    }
    return CLiveStreamBuilder(options);
}

CLiveStreamBuilder::CLiveStreamBuilder(const LiveStreamOptions& options) : m_options(options) {}

CH264StreamWriter& CLiveStreamBuilder::Writer(int channel) {
    auto& writer = m_writers[static_cast<std::size_t>(channel)];
    if (!writer) {
        // Create() checked these options, so this cannot fail.
        writer = CH264StreamWriter::Create(WriterOptions(m_options, channel));
    }
    return *writer;
}

void CLiveStreamBuilder::RestartChannel(int channel) {
    if (channel >= 0 && channel < protocol::kMaxChannels) {
        // A fresh encoder: the channel starts over as configured, with dependent frames
        // first when it is one of the channels joined in the middle of a group.
        m_writers[static_cast<std::size_t>(channel)].reset();
        m_camera[static_cast<std::size_t>(channel)].next.reset();
    }
}

const CameraLoopFrame* CLiveStreamBuilder::CameraFrame(int channel, std::uint32_t frame) {
    if (!m_options.camera || !protocol::HasChannel(m_options.cameraChannels, channel)) {
        return nullptr;
    }
    const auto index = static_cast<std::size_t>(channel);
    CameraPlay& play = m_camera[index];
    if (!play.loop) {
        play.loop = m_options.camera->Loop(channel);
        if (!play.loop || play.loop->frames.empty() || play.loop->gopLength < 1) {
            play.loop.reset();
            return nullptr;  // still encoding: the test pattern until the loop is there
        }
        play.next.reset();
    }
    const auto& frames = play.loop->frames;
    const auto gop = static_cast<std::size_t>(play.loop->gopLength);
    if (!play.next) {
        play.next = 0;  // the loop's first IDR picture
    } else if (frame != m_nextFrame[index]) {
        // A skipped or repeated frame: on from the next key frame, as the decoder's
        // reference would not match the one the next dependent frame was coded against.
        play.next = (*play.next + gop - 1) / gop * gop % frames.size();
    }
    const CameraLoopFrame* f = &frames[*play.next];
    play.next = (*play.next + 1) % frames.size();
    return f;
}

std::array<std::uint8_t, kLiveTitleSize> CLiveStreamBuilder::Title(int channel) const {
    const auto index = static_cast<std::size_t>(channel);
    if (index < m_options.titles.size() && !m_options.titles[index].empty()) {
        return protocol::FixedText<kLiveTitleSize>(m_options.titles[index]);
    }
    return protocol::FixedText<kLiveTitleSize>("CH" + std::to_string(channel + 1));
}

void CLiveStreamBuilder::StoreStreamWord(std::uint8_t* p, std::uint32_t value) const {
    if (m_options.productType == 3) {
        protocol::StoreBE32(p, value);
    } else {
        protocol::StoreLE32(p, value);
    }
}

std::pair<protocol::RecorderTime, std::int32_t> CLiveStreamBuilder::FrameTime(
    std::uint32_t frame) const {
    const auto rate = static_cast<std::uint32_t>(m_options.frameRate);
    const std::int64_t seconds = static_cast<std::int64_t>(m_options.startTime) + frame / rate;
    const std::int64_t micros = static_cast<std::int64_t>(frame % rate) * kMicrosPerSecond / rate;
    return {static_cast<protocol::RecorderTime>(seconds), static_cast<std::int32_t>(micros)};
}

std::pair<protocol::RecorderTime, std::int32_t> CLiveStreamBuilder::AudioTime(
    std::uint32_t index) const {
    const std::int64_t samples = static_cast<std::int64_t>(index) * kAudioSamplesPerBlock;
    const std::int64_t seconds =
        static_cast<std::int64_t>(m_options.startTime) + samples / kAudioSampleRate;
    const std::int64_t micros = samples % kAudioSampleRate * kMicrosPerSecond / kAudioSampleRate;
    return {static_cast<protocol::RecorderTime>(seconds), static_cast<std::int32_t>(micros)};
}

std::optional<LiveElement> CLiveStreamBuilder::VideoElement(int channel, std::uint32_t frame) {
    if (channel < 0 || channel >= protocol::kMaxChannels) {
        return std::nullopt;
    }
    const auto index = static_cast<std::size_t>(channel);
    std::span<const std::uint8_t> payload;
    bool keyFrame = false;
    std::optional<H264AccessUnit> unit;
    if (const CameraLoopFrame* camera = CameraFrame(channel, frame)) {
        payload = camera->bytes;
        keyFrame = camera->keyFrame;
    } else {
        CH264StreamWriter& writer = Writer(channel);
        if (writer.FramesWritten() != 0 && frame != m_nextFrame[index]) {
            writer.ForceKeyFrame();
        }
        unit = writer.Write(MakeH264TestPattern(channel, frame, m_options.width, m_options.height));
        if (!unit) {
            return std::nullopt;  // the writer always takes its own size; kept for safety
        }
        payload = unit->bytes;
        keyFrame = unit->key_frame;
    }
    if (payload.size() > kLiveMaxEncodedSize) {
        return std::nullopt;
    }
    m_nextFrame[index] = frame + 1;

    LiveElement e;
    const auto [seconds, micros] = FrameTime(frame);
    e.seconds = seconds;
    e.microseconds = micros;
    e.channel = channel;
    e.keyFrame = keyFrame;
    e.encodedSize = static_cast<std::uint32_t>(payload.size());
    e.bytes.assign(kLiveVideoPayloadOffset + payload.size(), 0);
    std::uint8_t* const b = e.bytes.data();

    // The stream part, in the byte order of the recorder's stream layer.
    StoreStreamWord(b + kPartMagic, kLiveVideoMagic);
    StoreStreamWord(b + kPartChannel, static_cast<std::uint32_t>(channel));
    StoreStreamWord(b + kPartSeconds, static_cast<std::uint32_t>(seconds));
    StoreStreamWord(b + kPartPayloadLength, e.encodedSize);
    StoreStreamWord(b + kPartMicroseconds, static_cast<std::uint32_t>(micros));
    StoreStreamWord(b + kPartKeyFrame, e.keyFrame ? 1u : 0u);
    const auto title = Title(channel);
    protocol::StoreBE32(b + kPartTitleCrc, protocol::Crc32(title));
    std::copy(title.begin(), title.end(), b + kPartTitle);

    // The encoder header, always little-endian.
    std::uint8_t* const enc = b + kLivePrefixSize;
    protocol::StoreLE16(enc, static_cast<std::uint16_t>(e.encodedSize & 0xFFFFu));
    const std::uint32_t kind = e.keyFrame ? 0u : 1u;
    enc[2] = static_cast<std::uint8_t>(((e.encodedSize >> 16) & 0x0Fu) | (kind << 6));
    enc[4] = static_cast<std::uint8_t>(m_options.height / 16);
    enc[5] = static_cast<std::uint8_t>(m_options.width / 16);
    protocol::StoreLE32(enc + 20, static_cast<std::uint32_t>(seconds));
    protocol::StoreLE32(enc + 24, static_cast<std::uint32_t>(micros));
    enc[36] = static_cast<std::uint8_t>(channel & 0x0F);

    std::copy(payload.begin(), payload.end(), b + kLiveVideoPayloadOffset);
    return e;
}

std::optional<LiveElement> CLiveStreamBuilder::AudioElement(protocol::ChannelMask mask,
                                                            std::uint32_t index) const {
    mask &= protocol::kAllChannels;
    if (mask == 0) {
        return std::nullopt;
    }
    const auto blocks = static_cast<std::size_t>(protocol::ChannelCount(mask));
    LiveElement e;
    const auto [seconds, micros] = AudioTime(index);
    e.seconds = seconds;
    e.microseconds = micros;
    e.channel = protocol::FirstChannel(mask);
    // The blocks stay zero: silence from every channel.
    e.bytes.assign(kLiveAudioHeaderSize + kLiveAudioBlockSize * blocks, 0);
    std::uint8_t* const b = e.bytes.data();
    protocol::StoreBE32(b + kAudioMagic, kLiveAudioMagic);
    protocol::StoreBE32(b + kAudioSeconds, static_cast<std::uint32_t>(seconds));
    protocol::StoreBE32(b + kAudioPayloadLength,
                        static_cast<std::uint32_t>(kLiveAudioBlockSize * blocks));
    protocol::StoreBE32(b + kAudioMicroseconds, static_cast<std::uint32_t>(micros));
    protocol::StoreBE32(b + kAudioMask, mask);
    return e;
}

std::vector<LiveFragment> CLiveStreamBuilder::Fragments(const LiveElement& element,
                                                        bool audioOn) const {
    return SplitLiveElement(element.bytes, element.seconds, m_options.fragmentSize, audioOn);
}

std::vector<LiveFragment> SplitLiveElement(std::span<const std::uint8_t> element,
                                           protocol::RecorderTime seconds, std::size_t pieceSize,
                                           bool audioOn) {
    return SplitStreamElement(protocol::msg::LIVE_DATA, element, seconds, pieceSize, audioOn, 0);
}

std::vector<LiveFragment> SplitStreamElement(std::uint16_t code,
                                             std::span<const std::uint8_t> element,
                                             protocol::RecorderTime seconds, std::size_t pieceSize,
                                             bool audioOn, std::uint32_t word1Bits) {
    pieceSize = std::clamp<std::size_t>(pieceSize, 1, protocol::kMaxPayload);
    std::vector<LiveFragment> out;
    out.reserve((element.size() + pieceSize - 1) / pieceSize);
    for (std::size_t at = 0; at < element.size(); at += pieceSize) {
        const std::size_t n = std::min(pieceSize, element.size() - at);
        const bool last = at + n == element.size();
        LiveFragment f;
        f.header = protocol::PacketHeader::Make(code, static_cast<std::uint16_t>(n), last, audioOn);
        f.header.word[1] |= word1Bits;
        f.header.word[3] = static_cast<std::uint32_t>(seconds);
        const auto head = f.header.ToNetwork();
        f.wire.reserve(protocol::kHeaderSize + n);
        f.wire.assign(head.begin(), head.end());
        const auto piece = element.subspan(at, n);
        f.wire.insert(f.wire.end(), piece.begin(), piece.end());
        out.push_back(std::move(f));
    }
    return out;
}

CStreamPacer::CStreamPacer(Clock::time_point start, std::uint32_t num, std::uint32_t den)
    : m_start(start),
      m_num(std::max<std::uint32_t>(num, 1)),
      m_den(std::max<std::uint32_t>(den, 1)) {}

std::uint64_t CStreamPacer::DueCount(Clock::time_point now) const {
    if (now < m_start) {
        return 0;
    }
    const auto elapsed = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_start).count());
    // Whole seconds and the rest apart, so the product with the rate cannot overflow.
    const std::uint64_t whole = elapsed / static_cast<std::uint64_t>(kNanosPerSecond);
    const std::uint64_t rest = elapsed % static_cast<std::uint64_t>(kNanosPerSecond);
    const std::uint64_t units =
        whole * m_num + rest * m_num / static_cast<std::uint64_t>(kNanosPerSecond);
    return units / m_den + 1;
}

CStreamPacer::Clock::time_point CStreamPacer::DueTime(std::uint64_t index) const {
    // index * den / num seconds, rounded up to the next nanosecond.
    const std::uint64_t scaled = index * m_den;
    const std::uint64_t whole = scaled / m_num;
    const std::uint64_t rest = scaled % m_num;
    const std::uint64_t nanos =
        (rest * static_cast<std::uint64_t>(kNanosPerSecond) + m_num - 1) / m_num;
    return m_start + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::seconds(static_cast<std::int64_t>(whole)) +
                         std::chrono::nanoseconds(static_cast<std::int64_t>(nanos)));
}

}  // namespace taviro::sim
