#include "archive/export_muxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#include "video/param_sets.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

namespace taviro::archive {

namespace {

constexpr AVRational kMicros{1, 1'000'000};
constexpr AVRational kSampleBase{1, kExportAudioRate};
// Holes between blocks up to this many samples are silence inside one run.
constexpr std::int64_t kMaxFill = kExportAudioRate;
// PCM goes out in packets of this many samples.
constexpr std::size_t kPcmPacket = 1024;
// A frame further from the previous one than this is after a gap: the frame before the gap
// keeps the usual spacing as its duration.
constexpr std::int64_t kMaxFrameSpacing = 1'000'000;
constexpr std::int64_t kAacBitRate = 48'000;

std::string AvText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) != 0) {
        return "error " + std::to_string(code);
    }
    return text;
}

}  // namespace

std::vector<std::span<const std::uint8_t>> SplitAnnexB(std::span<const std::uint8_t> bytes) {
    std::vector<std::span<const std::uint8_t>> units;
    const std::size_t n = bytes.size();
    // The position after each start code (00 00 01; a four-byte one is a zero byte more).
    // The one bytes are looked for with memchr (a clip runs hundreds of megabytes through
    // here), and each is a start code's end when two zero bytes come before it.
    std::size_t start = n;
    std::size_t one = 2;
    while (one < n) {
        const auto* hit =
            static_cast<const std::uint8_t*>(std::memchr(bytes.data() + one, 1, n - one));
        if (hit == nullptr) {
            break;
        }
        one = static_cast<std::size_t>(hit - bytes.data());
        if (bytes[one - 1] != 0 || bytes[one - 2] != 0) {
            ++one;
            continue;
        }
        if (start < n) {
            units.push_back(bytes.subspan(start, one - 2 - start));
        }
        start = one + 1;
        one += 3;  // the next start code's zeros come after this one
    }
    if (start < n) {
        units.push_back(bytes.subspan(start));
    }
    // Trailing zeros belong to the next start code or are padding, never to the unit.
    std::vector<std::span<const std::uint8_t>> out;
    for (auto unit : units) {
        while (!unit.empty() && unit.back() == 0) {
            unit = unit.first(unit.size() - 1);
        }
        if (!unit.empty()) {
            out.push_back(unit);
        }
    }
    return out;
}

std::vector<std::uint8_t> ToLengthPrefixed(std::span<const std::uint8_t> annexB) {
    std::vector<std::uint8_t> out;
    out.reserve(annexB.size() + 16);  // a 3-byte start code becomes a 4-byte length
    for (const auto unit : SplitAnnexB(annexB)) {
        const auto length = static_cast<std::uint32_t>(unit.size());
        out.push_back(static_cast<std::uint8_t>(length >> 24));
        out.push_back(static_cast<std::uint8_t>(length >> 16));
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.push_back(static_cast<std::uint8_t>(length));
        out.insert(out.end(), unit.begin(), unit.end());
    }
    return out;
}

std::vector<std::uint8_t> AvcConfigFor(int width, int height) {
    if (width < 16 || height < 16) {
        return {};
    }
    std::array<std::uint8_t, video::kParamSetBufferSize> sets{};
    const std::size_t n = video::WriteParameterSets(static_cast<std::uint32_t>(width),
                                                    static_cast<std::uint32_t>(height), sets);
    const auto units = SplitAnnexB(std::span(sets).first(n));
    if (units.size() != 2 || units[0].size() < 4 || (units[0][0] & 0x1F) != 7 ||
        (units[1][0] & 0x1F) != 8) {
        return {};
    }
    const auto sps = units[0];
    const auto pps = units[1];
    // Version 1, the SPS's profile, constraints and level, 4-byte lengths, one SPS, one PPS.
    std::vector<std::uint8_t> record = {1, sps[1], sps[2], sps[3], 0xFF, 0xE1};
    record.push_back(static_cast<std::uint8_t>(sps.size() >> 8));
    record.push_back(static_cast<std::uint8_t>(sps.size()));
    record.insert(record.end(), sps.begin(), sps.end());
    record.push_back(1);
    record.push_back(static_cast<std::uint8_t>(pps.size() >> 8));
    record.push_back(static_cast<std::uint8_t>(pps.size()));
    record.insert(record.end(), pps.begin(), pps.end());
    return record;
}

bool Mp4AudioAvailable() {
    return avcodec_find_encoder(AV_CODEC_ID_AAC) != nullptr;
}

struct CExportMuxer::Av {
    AVFormatContext* format = nullptr;
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    AVCodecContext* aac = nullptr;
    AVPacket* packet = nullptr;
    AVPacket* pending = nullptr;  // the video frame whose duration the next one tells
    AVFrame* frame = nullptr;

    ~Av() {
        if (format != nullptr && format->pb != nullptr) {
            avio_closep(&format->pb);
        }
        avformat_free_context(format);
        avcodec_free_context(&aac);
        av_packet_free(&packet);
        av_packet_free(&pending);
        av_frame_free(&frame);
    }
};

std::unique_ptr<CExportMuxer> CExportMuxer::Create(const MuxerSetup& setup, std::string* error) {
    // FFmpeg's informational lines (the AAC encoder's statistics) are no news for the user;
    // warnings and errors still come through.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() > AV_LOG_WARNING) {
            av_log_set_level(AV_LOG_WARNING);
        }
    });
    std::unique_ptr<CExportMuxer> muxer(new CExportMuxer(setup));
    if (!muxer->Open()) {
        if (error != nullptr) {
            *error = muxer->m_error;
        }
        muxer->Abort();
        return nullptr;
    }
    return muxer;
}

CExportMuxer::CExportMuxer(MuxerSetup setup) : m_setup(std::move(setup)), m_av(new Av) {}

CExportMuxer::~CExportMuxer() {
    Abort();  // nothing when Finish() closed the file
}

bool CExportMuxer::HasAudio() const {
    return m_av && m_av->audio != nullptr;
}

bool CExportMuxer::Fail(const std::string& what, int code) {
    if (!m_bFailed) {
        m_error = code == 0 ? what : what + ": " + AvText(code);
    }
    m_bFailed = true;
    return false;
}

bool CExportMuxer::Open() {
    Av& av = *m_av;
    const char* name = m_setup.format == ExportFormat::Mp4 ? "mp4" : "matroska";
    int rc = avformat_alloc_output_context2(&av.format, nullptr, name, nullptr);
    if (rc < 0 || av.format == nullptr) {
        return Fail("no " + std::string(name) + " muxer", rc);
    }
    av.packet = av_packet_alloc();
    av.pending = av_packet_alloc();
    av.frame = av_frame_alloc();
    if (av.packet == nullptr || av.pending == nullptr || av.frame == nullptr) {
        return Fail("out of memory", 0);
    }

    const auto config = AvcConfigFor(m_setup.width, m_setup.height);
    av.video = avformat_new_stream(av.format, nullptr);
    if (config.empty() || av.video == nullptr) {
        return Fail("no H.264 parameter sets for this picture size", 0);
    }
    AVCodecParameters& v = *av.video->codecpar;
    v.codec_type = AVMEDIA_TYPE_VIDEO;
    v.codec_id = AV_CODEC_ID_H264;
    v.width = m_setup.width;
    v.height = m_setup.height;
    v.format = AV_PIX_FMT_YUV420P;
    v.profile = config[1];
    v.level = config[3];
    v.extradata =
        static_cast<std::uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (v.extradata == nullptr) {
        return Fail("out of memory", 0);
    }
    std::memcpy(v.extradata, config.data(), config.size());
    v.extradata_size = static_cast<int>(config.size());
    av.video->time_base = AVRational{1, 90'000};

    const bool mp4 = m_setup.format == ExportFormat::Mp4;
    if (m_setup.audio && (!mp4 || Mp4AudioAvailable())) {
        av.audio = avformat_new_stream(av.format, nullptr);
        if (av.audio == nullptr) {
            return Fail("out of memory", 0);
        }
        av.audio->time_base = kSampleBase;
        if (mp4) {
            const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
            av.aac = avcodec_alloc_context3(codec);
            if (av.aac == nullptr) {
                return Fail("out of memory", 0);
            }
            av.aac->sample_fmt = AV_SAMPLE_FMT_FLTP;
            av.aac->sample_rate = kExportAudioRate;
            av_channel_layout_default(&av.aac->ch_layout, 1);
            av.aac->bit_rate = kAacBitRate;
            av.aac->time_base = kSampleBase;
            av.aac->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // MP4 keeps it in the sample entry
            if ((rc = avcodec_open2(av.aac, codec, nullptr)) < 0) {
                return Fail("the AAC encoder does not open", rc);
            }
            if ((rc = avcodec_parameters_from_context(av.audio->codecpar, av.aac)) < 0) {
                return Fail("the AAC encoder's parameters", rc);
            }
        } else {
            AVCodecParameters& a = *av.audio->codecpar;
            a.codec_type = AVMEDIA_TYPE_AUDIO;
            a.codec_id = AV_CODEC_ID_PCM_S16LE;
            a.sample_rate = kExportAudioRate;
            av_channel_layout_default(&a.ch_layout, 1);
            a.bits_per_coded_sample = 16;
            a.block_align = 2;
        }
    }

    av_dict_set(&av.format->metadata, "title", m_setup.title.c_str(), 0);
    av_dict_set(&av.format->metadata, "creation_time", m_setup.creationTime.c_str(), 0);
    // "file:" so that a name with a colon is never taken for another protocol.
    const std::string url = "file:" + m_setup.path.string();
    if ((rc = avio_open(&av.format->pb, url.c_str(), AVIO_FLAG_WRITE)) < 0) {
        return Fail("cannot create " + m_setup.path.string(), rc);
    }
    if ((rc = avformat_write_header(av.format, nullptr)) < 0) {
        return Fail("cannot write the header of " + m_setup.path.string(), rc);
    }
    return true;
}

CExportMuxer::Put CExportMuxer::WriteVideo(std::span<const std::uint8_t> sample,
                                           std::int64_t micros, bool key) {
    if (m_bFailed || !m_av || sample.empty() || micros < 0) {
        return m_bFailed ? Put::Failed : Put::Skipped;
    }
    const std::int64_t ticks = av_rescale_q(micros, kMicros, m_av->video->time_base);
    if (m_nLastTicks >= 0 && ticks <= m_nLastTicks) {
        return Put::Skipped;  // two frames on one tick cannot both be stored
    }
    if (m_nPendingMicros >= 0) {
        const std::int64_t spacing = micros - m_nPendingMicros;
        if (spacing <= kMaxFrameSpacing) {
            m_nFrameMicros = spacing;
        }
        if (!SendVideo(m_nFrameMicros)) {
            return Put::Failed;
        }
    }
    // The frame waits in its packet (copied once) until the next one tells its duration.
    AVPacket* p = m_av->pending;
    av_packet_unref(p);
    if (const int rc = av_new_packet(p, static_cast<int>(sample.size())); rc < 0) {
        Fail("out of memory", rc);
        return Put::Failed;
    }
    std::memcpy(p->data, sample.data(), sample.size());
    m_nPendingMicros = micros;
    m_bPendingKey = key;
    m_nLastTicks = ticks;
    if (m_nFirstMicros < 0) {
        m_nFirstMicros = micros;
    }
    m_nLastMicros = micros;
    ++m_nFrames;
    return Put::Written;
}

bool CExportMuxer::SendVideo(std::int64_t duration) {
    Av& av = *m_av;
    AVPacket* p = av.pending;
    p->pts = p->dts =
        av_rescale_q(m_nPendingMicros - m_setup.leadMicros, kMicros, av.video->time_base);
    p->duration = std::max<std::int64_t>(1, av_rescale_q(duration, kMicros, av.video->time_base));
    p->flags = m_bPendingKey ? AV_PKT_FLAG_KEY : 0;
    p->stream_index = av.video->index;
    m_nPendingMicros = -1;
    if (const int rc = av_interleaved_write_frame(av.format, p); rc < 0) {
        return Fail("cannot write a video frame to " + m_setup.path.string(), rc);
    }
    return true;
}

bool CExportMuxer::WriteAudio(std::span<const std::int16_t> samples, std::int64_t micros) {
    if (m_bFailed || !HasAudio()) {
        return !m_bFailed;
    }
    if (micros < m_setup.leadMicros || samples.empty()) {
        return true;  // before the first frame shown: not part of this file
    }
    // Sound is timed from the first frame shown, as the pictures are.
    const std::int64_t at = av_rescale_q(micros - m_setup.leadMicros, kMicros, kSampleBase);
    if (!m_bRunOpen || at > m_nRunEnd + kMaxFill) {
        if (!StartRun(at)) {
            return false;
        }
        m_bRunOpen = true;
        m_nRunEnd = at;
    } else if (at > m_nRunEnd) {
        m_samples.insert(m_samples.end(), static_cast<std::size_t>(at - m_nRunEnd), 0);
        m_nRunEnd = at;
    }
    // A block that starts before the run's end (recorder clock jitter) follows on directly.
    m_nAudioSamples += samples.size();
    return AppendSamples(samples);
}

bool CExportMuxer::AppendSamples(std::span<const std::int16_t> samples) {
    m_samples.insert(m_samples.end(), samples.begin(), samples.end());
    m_nRunEnd += static_cast<std::int64_t>(samples.size());
    return m_av->aac != nullptr ? EncodeAac(false) : FlushPcm(false);
}

bool CExportMuxer::StartRun(std::int64_t samplePts) {
    if (m_av->aac == nullptr) {
        if (!FlushPcm(true)) {
            return false;
        }
        m_nSamplesPts = samplePts;
        return true;
    }
    // The encoder's input goes on unbroken: the old run is padded to a frame boundary, and
    // the packets from there on are moved to the new run's time.
    const auto frame = static_cast<std::size_t>(m_av->aac->frame_size);
    if (frame > 0 && m_samples.size() % frame != 0) {
        m_samples.insert(m_samples.end(), frame - m_samples.size() % frame, 0);
    }
    if (!EncodeAac(false)) {
        return false;
    }
    m_anchors.emplace_back(m_nEncoderIn, samplePts);
    return true;
}

bool CExportMuxer::FlushPcm(bool all) {
    Av& av = *m_av;
    std::size_t at = 0;
    while (m_samples.size() - at >= kPcmPacket || (all && at < m_samples.size())) {
        const std::size_t n = std::min(kPcmPacket, m_samples.size() - at);
        AVPacket* p = av.packet;
        av_packet_unref(p);
        int rc = av_new_packet(p, static_cast<int>(n * 2));
        if (rc < 0) {
            return Fail("out of memory", rc);
        }
        for (std::size_t i = 0; i < n; ++i) {
            const auto v = static_cast<std::uint16_t>(m_samples[at + i]);
            p->data[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
            p->data[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        p->pts = p->dts = av_rescale_q(m_nSamplesPts, kSampleBase, av.audio->time_base);
        p->duration = av_rescale_q(static_cast<std::int64_t>(n), kSampleBase, av.audio->time_base);
        p->flags = AV_PKT_FLAG_KEY;
        p->stream_index = av.audio->index;
        if ((rc = av_interleaved_write_frame(av.format, p)) < 0) {
            return Fail("cannot write sound to " + m_setup.path.string(), rc);
        }
        m_nSamplesPts += static_cast<std::int64_t>(n);
        at += n;
    }
    m_samples.erase(m_samples.begin(), m_samples.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

bool CExportMuxer::EncodeAac(bool flush) {
    Av& av = *m_av;
    const auto frameSize = static_cast<std::size_t>(std::max(av.aac->frame_size, 1));
    const bool smallLast = (av.aac->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    if (flush && !m_samples.empty() && !smallLast) {
        m_samples.insert(m_samples.end(), frameSize - m_samples.size() % frameSize, 0);
    }
    std::size_t at = 0;
    while (m_samples.size() - at >= frameSize || (flush && at < m_samples.size())) {
        const std::size_t n = std::min(frameSize, m_samples.size() - at);
        AVFrame* f = av.frame;
        av_frame_unref(f);
        f->format = AV_SAMPLE_FMT_FLTP;
        f->sample_rate = kExportAudioRate;
        f->nb_samples = static_cast<int>(n);
        int rc = av_channel_layout_copy(&f->ch_layout, &av.aac->ch_layout);
        if (rc < 0 || (rc = av_frame_get_buffer(f, 0)) < 0) {
            return Fail("out of memory", rc);
        }
        auto* out = reinterpret_cast<float*>(f->data[0]);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = static_cast<float>(m_samples[at + i]) / 32768.0F;
        }
        f->pts = m_nEncoderIn;
        m_nEncoderIn += static_cast<std::int64_t>(n);
        at += n;
        if ((rc = avcodec_send_frame(av.aac, f)) < 0) {
            return Fail("the AAC encoder refused sound", rc);
        }
        if (!DrainAac()) {
            return false;
        }
    }
    m_samples.erase(m_samples.begin(), m_samples.begin() + static_cast<std::ptrdiff_t>(at));
    if (flush) {
        const int rc = avcodec_send_frame(av.aac, nullptr);
        if (rc < 0 && rc != AVERROR_EOF) {
            return Fail("the AAC encoder did not finish", rc);
        }
        return DrainAac();
    }
    return true;
}

bool CExportMuxer::DrainAac() {
    Av& av = *m_av;
    for (;;) {
        AVPacket* p = av.packet;
        av_packet_unref(p);
        int rc = avcodec_receive_packet(av.aac, p);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            return true;
        }
        if (rc < 0) {
            return Fail("the AAC encoder failed", rc);
        }
        // The run that holds the packet: the last one starting at or before it (the
        // encoder's priming packet, before every run, belongs to the first).
        std::size_t run = 0;
        while (run + 1 < m_anchors.size() && m_anchors[run + 1].first <= p->pts) {
            ++run;
        }
        const auto [encoderAt, sampleAt] =
            m_anchors.empty() ? std::pair<std::int64_t, std::int64_t>{0, 0} : m_anchors[run];
        m_anchors.erase(m_anchors.begin(), m_anchors.begin() + static_cast<std::ptrdiff_t>(run));
        const std::int64_t pts = sampleAt + (p->pts - encoderAt);
        p->pts = p->dts = av_rescale_q(pts, kSampleBase, av.audio->time_base);
        p->duration = av_rescale_q(p->duration, kSampleBase, av.audio->time_base);
        p->stream_index = av.audio->index;
        if ((rc = av_interleaved_write_frame(av.format, p)) < 0) {
            return Fail("cannot write sound to " + m_setup.path.string(), rc);
        }
    }
}

bool CExportMuxer::Finish(std::string* error) {
    const auto failed = [&] {
        if (error != nullptr) {
            *error = m_error;
        }
        return false;
    };
    if (m_bFailed || !m_av || m_av->format == nullptr || m_av->format->pb == nullptr) {
        if (!m_bFailed) {
            Fail("the file is closed", 0);
        }
        return failed();
    }
    Av& av = *m_av;
    if (m_nPendingMicros >= 0 && !SendVideo(m_nFrameMicros)) {
        return failed();
    }
    if (HasAudio() && !(av.aac != nullptr ? EncodeAac(true) : FlushPcm(true))) {
        return failed();
    }
    int rc = av_write_trailer(av.format);
    if (rc < 0) {
        Fail("cannot write the end of " + m_setup.path.string(), rc);
        return failed();
    }
    // A write error is remembered by the I/O context; closing flushes what is buffered.
    rc = av.format->pb->error;
    const int closed = avio_closep(&av.format->pb);
    if (rc < 0 || closed < 0) {
        Fail("cannot write " + m_setup.path.string(), rc < 0 ? rc : closed);
        return failed();
    }
    // The file is on the disk before it may take its final name: a crash right after the
    // rename never leaves an empty or cut file under it.
    const int fd = ::open(m_setup.path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int reason = synced ? 0 : errno;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!synced) {
        Fail("cannot write " + m_setup.path.string() + " to the disk", AVERROR(reason));
        return failed();
    }
    m_av.reset();
    return true;
}

void CExportMuxer::Abort() {
    if (!m_av) {
        return;
    }
    m_av.reset();  // closes the file
    std::error_code ec;
    std::filesystem::remove(m_setup.path, ec);
}

std::int64_t CExportMuxer::DurationMicros() const {
    if (m_nFrames == 0) {
        return 0;
    }
    return m_nLastMicros - m_nFirstMicros + m_nFrameMicros;
}

}  // namespace taviro::archive
