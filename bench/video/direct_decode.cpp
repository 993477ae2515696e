#include "direct_decode.h"

#include <algorithm>
#include <span>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace taviro::bench {

void DirectDecoder::CodecContextFree::operator()(AVCodecContext* p) const {
    avcodec_free_context(&p);
}
void DirectDecoder::FrameFree::operator()(AVFrame* p) const {
    av_frame_free(&p);
}
void DirectDecoder::PacketFree::operator()(AVPacket* p) const {
    av_packet_free(&p);
}

DirectDecoder::DirectDecoder(bool library) : m_library(library) {
    if (library) {
        m_decoder = platform::OpenFfmpegH264Decoder(platform::kH264FormatYuv420);
        m_open = m_decoder != nullptr;
        return;
    }
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    m_ctx.reset(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    m_packet.reset(av_packet_alloc());
    m_frame.reset(av_frame_alloc());
    if (m_ctx && m_packet && m_frame) {
        m_ctx->thread_count = 1;
        m_ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
        m_open = avcodec_open2(m_ctx.get(), codec, nullptr) >= 0;
    }
}

DirectDecoder::~DirectDecoder() = default;

void DirectDecoder::Decode(const std::vector<AccessUnit>& units, std::uint64_t& pictures,
                           std::uint64_t& late, std::uint64_t& errors) {
    if (!m_library) {
        DecodeBare(units, pictures, late, errors);
        return;
    }
    static_assert(AV_INPUT_BUFFER_PADDING_SIZE >= platform::kH264InputPadding);
    for (const AccessUnit& au : units) {
        platform::PictureRef picture;
        const int result = m_decoder->DecodePadded(
            std::span(au.bytes).first(static_cast<std::size_t>(au.size)), picture);
        if (result == platform::kH264Picture || result == platform::kH264PictureDamaged) {
            ++pictures;
        } else if (result == platform::kH264NoPicture) {
            ++late;
        } else {
            ++errors;
        }
    }
}

void DirectDecoder::DecodeBare(const std::vector<AccessUnit>& units, std::uint64_t& pictures,
                               std::uint64_t& late, std::uint64_t& errors) {
    auto drain = [&] {
        std::uint64_t got = 0;
        while (avcodec_receive_frame(m_ctx.get(), m_frame.get()) >= 0) {
            ++got;
            av_frame_unref(m_frame.get());
        }
        return got;
    };
    for (const AccessUnit& au : units) {
        m_packet->data = const_cast<std::uint8_t*>(au.bytes.data());
        m_packet->size = au.size;
        if (avcodec_send_packet(m_ctx.get(), m_packet.get()) < 0) {
            ++errors;
        }
        const std::uint64_t got = drain();
        pictures += got;
        late += got > 1 ? got - 1 : 0;
    }
    // Nothing is drained or flushed at the end: each picture comes out in the call of its
    // own packet, and one held back shows as missing. A flush would free the decoder's
    // tables, and the next run would pay for them again; the next run's first key frame
    // follows as in a stream that goes on.
}

CDirectDecoders::CDirectDecoders(std::size_t channels, bool library) : m_runs(channels) {
    for (std::size_t c = 0; c < channels; ++c) {
        m_threads.emplace_back([this, c, library] { Thread(c, library); });
    }
    // Every decoder open before any run: opening is not timed.
    std::unique_lock lock(m_lock);
    m_finished.wait(lock, [&] { return m_ready == m_threads.size(); });
}

CDirectDecoders::~CDirectDecoders() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_start.notify_all();
    for (auto& t : m_threads) {
        t.join();
    }
}

void CDirectDecoders::Thread(std::size_t channel, bool library) {
    DirectDecoder decoder(library);
    std::uint64_t round = 0;
    std::unique_lock lock(m_lock);
    ++m_ready;
    if (decoder.Open()) {
        ++m_open;
    }
    m_finished.notify_one();
    while (true) {
        m_start.wait(lock, [&] { return m_stop || m_round != round; });
        if (m_stop) {
            return;
        }
        round = m_round;
        const std::vector<AccessUnit>* units =
            channel < m_units->size() ? &(*m_units)[channel] : nullptr;
        lock.unlock();
        ChannelRun run;
        if (units != nullptr && decoder.Open()) {
            decoder.Decode(*units, run.pictures, run.late, run.errors);
        }
        run.finished = Clock::now();
        lock.lock();
        m_runs[channel] = run;
        ++m_done;
        m_finished.notify_one();
    }
}

BareResult CDirectDecoders::Run(const std::vector<std::vector<AccessUnit>>& units) {
    BareResult r;
    std::unique_lock lock(m_lock);
    r.ok = m_open == m_threads.size() && units.size() == m_threads.size();
    m_units = &units;
    m_done = 0;
    const double cpuStart = ProcessCpuSeconds();
    const ProcessCounters countersStart = ProcessCounters::Now();
    const Clock::time_point start = Clock::now();
    ++m_round;
    m_start.notify_all();
    m_finished.wait(lock, [&] { return m_done == m_threads.size(); });
    r.cpuSeconds = ProcessCpuSeconds() - cpuStart;
    r.counters = ProcessCounters::Now() - countersStart;
    Clock::time_point last = start;
    for (const ChannelRun& run : m_runs) {
        last = std::max(last, run.finished);
        r.pictures += run.pictures;
        r.late += run.late;
        r.errors += run.errors;
    }
    r.seconds = Seconds(last - start);
    m_units = nullptr;
    return r;
}

}  // namespace taviro::bench
