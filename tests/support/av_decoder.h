// A bare libavcodec H.264 decoder for tests: one thread, no frame delay, every error fatal
// and counted, the pictures collected as planar YUV 4:2:0. The tests use it as the
// independent judge of the simulator's streams.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

#include "sim/h264_picture.h"

namespace taviro::testing {

using sim::YuvPicture;
using Bytes = std::vector<std::uint8_t>;

// Errors libavcodec logged since the counter was last cleared (any decoder in the process).
inline std::atomic<int> g_decoderErrors{0};

inline void CountDecoderErrors(void* /*avcl*/, int level, const char* /*fmt*/, va_list /*args*/) {
    if (level <= AV_LOG_ERROR) {
        ++g_decoderErrors;
    }
}

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

class CAvDecoder {
  public:
    explicit CAvDecoder(bool lowDelay = true) {
        av_log_set_callback(CountDecoderErrors);
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        if (codec == nullptr) {
            return;
        }
        m_ctx.reset(avcodec_alloc_context3(codec));
        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_ctx || !m_frame || !m_packet) {
            return;
        }
        m_ctx->thread_count = 1;
        if (lowDelay) {
            m_ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
        }
        // Any damage the decoder would conceal must fail the test instead.
        m_ctx->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
        m_open = avcodec_open2(m_ctx.get(), codec, nullptr) == 0;
    }

    [[nodiscard]] bool IsOpen() const { return m_open; }

    bool Feed(const Bytes& bytes) {
        av_packet_unref(m_packet.get());
        if (av_new_packet(m_packet.get(), static_cast<int>(bytes.size())) != 0) {
            return false;
        }
        std::memcpy(m_packet->data, bytes.data(), bytes.size());
        return avcodec_send_packet(m_ctx.get(), m_packet.get()) == 0 && Drain();
    }
    bool Flush() { return avcodec_send_packet(m_ctx.get(), nullptr) == 0 && Drain(); }

    std::vector<YuvPicture> pictures;

  private:
    bool Drain() {
        for (;;) {
            const int rc = avcodec_receive_frame(m_ctx.get(), m_frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
                return true;
            }
            if (rc != 0) {
                return false;
            }
            const AVFrame& f = *m_frame;
            if (f.format != AV_PIX_FMT_YUV420P && f.format != AV_PIX_FMT_YUVJ420P) {
                return false;
            }
            YuvPicture p = YuvPicture::Filled(f.width, f.height, 0, 0, 0);
            Copy(f, 0, f.width, f.height, p.y);
            Copy(f, 1, f.width / 2, f.height / 2, p.u);
            Copy(f, 2, f.width / 2, f.height / 2, p.v);
            pictures.push_back(std::move(p));
            av_frame_unref(m_frame.get());
        }
    }
    static void Copy(const AVFrame& f, int plane, int w, int h, Bytes& to) {
        const auto width = static_cast<std::size_t>(w);
        const auto index = static_cast<std::size_t>(plane);
        for (int row = 0; row < h; ++row) {
            std::memcpy(to.data() + static_cast<std::size_t>(row) * width,
                        f.data[index] + static_cast<std::ptrdiff_t>(row) * f.linesize[index],
                        width);
        }
    }

    std::unique_ptr<AVCodecContext, CodecContextFree> m_ctx;
    std::unique_ptr<AVFrame, FrameFree> m_frame;
    std::unique_ptr<AVPacket, PacketFree> m_packet;
    bool m_open = false;
};

}  // namespace taviro::testing
