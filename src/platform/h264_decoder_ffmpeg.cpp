// The decoder on FFmpeg's libavcodec. Each instance is one H.264 decoder context that
// decodes on the calling thread with no frame delay; sequence parameter sets go through the
// no-reorder rewriting (sps_rewriter.h) on their way in, the adapter's own bytes untouched.
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/h264_decoder_ffmpeg.h"
#include "platform/sps_rewriter.h"
#include "platform/trace.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace taviro::platform {
namespace {

struct CodecContextFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* p) const { sws_freeContext(p); }
};
struct BufferFree {
    void operator()(AVBufferRef* p) const { av_buffer_unref(&p); }
};
struct BufferPoolFree {
    // The pool itself goes when the last of its buffers comes back.
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using BufferPtr = std::unique_ptr<AVBufferRef, BufferFree>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolFree>;

// A picture handed out by reference: it owns one reference to the frame's buffers, which
// libavcodec (or the conversion pool) reuses only once the last reference has gone.
class CFramePicture final : public DecodedPicture {
  public:
    CFramePicture() : m_frame(av_frame_alloc()) {}
    ~CFramePicture() override { av_frame_free(&m_frame); }
    CFramePicture(const CFramePicture&) = delete;
    CFramePicture& operator=(const CFramePicture&) = delete;

    [[nodiscard]] AVFrame* Frame() { return m_frame; }
    // Takes the planes from the frame once it holds the picture.
    void Publish(std::uint32_t pictureFormat) {
        width = m_frame->width;
        height = m_frame->height;
        format = pictureFormat;
        const int count = pictureFormat == kH264FormatRgb24 ? 1 : 3;
        for (int i = 0; i < count; ++i) {
            planes[static_cast<std::size_t>(i)] = m_frame->data[i];
            strides[static_cast<std::size_t>(i)] = m_frame->linesize[i];
        }
    }

  private:
    AVFrame* m_frame;
};

// Start of the next start code (00 00 01) at or after `from`, or data.size().
std::size_t FindStartCode(std::span<const std::uint8_t> data, std::size_t from) {
    for (std::size_t i = from; i + 2 < data.size(); ++i) {
        if (data[i + 2] > 1) {
            i += 2;  // none of the three bytes can begin a start code ending before i + 3
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            return i;
        }
    }
    return data.size();
}

static_assert(kH264InputPadding >= AV_INPUT_BUFFER_PADDING_SIZE);

// ---------------------------------------------------------------------------------------
// One decoder instance
// ---------------------------------------------------------------------------------------

// Decoders open now, for leak checks.
std::atomic<std::size_t> g_openDecoders{0};

class CFfmpegDecoder final : public IH264Decoder {
  public:
    // Opens the decoder; nullptr with `error` set when that fails.
    static std::unique_ptr<CFfmpegDecoder> Open(std::uint32_t format, int& error);
    explicit CFfmpegDecoder(std::uint32_t format) : m_format(format) {}  // closed until Open
    ~CFfmpegDecoder() override;
    CFfmpegDecoder(const CFfmpegDecoder&) = delete;
    CFfmpegDecoder& operator=(const CFfmpegDecoder&) = delete;

    int Decode(std::span<const std::uint8_t> accessUnit, PictureRef& picture) override {
        return DecodeRef(accessUnit, picture, false);
    }
    int DecodePadded(std::span<const std::uint8_t> accessUnit, PictureRef& picture) override {
        return DecodeRef(accessUnit, picture, true);
    }
    [[nodiscard]] std::uint32_t Format() const override { return m_format; }

  private:
    // `padded`: kH264InputPadding zero bytes follow the input, which libavcodec may then read
    // in place.
    int DecodeRef(std::span<const std::uint8_t> input, PictureRef& picture, bool padded);
    // Sends the input and leaves its newest picture in m_picture: kH264Picture (with
    // `damaged`) when there is one, else the call's result.
    int DecodeToFrame(std::span<const std::uint8_t> input, bool& damaged, bool padded);
    // m_picture as a shared picture in the decoder's format: the frame itself when it already
    // is planar 4:2:0, else converted into a buffer of the pool.
    int Share(PictureRef& picture);
    // Builds m_packet from the input. For padded input whose parameter sets are rewritten,
    // m_packet holds only those, and `inPlace` the slices that follow, to be sent after them
    // without a copy.
    bool BuildPacket(std::span<const std::uint8_t> input, bool padded, bool& sawStartCode,
                     bool& sawSlice, std::span<const std::uint8_t>& inPlace);
    // m_packet reads `bytes` where they are (kH264InputPadding zero bytes follow them).
    bool LendInput(std::span<const std::uint8_t> bytes);
    // After a call that lent libavcodec the caller's bytes: true once it holds none of them.
    bool LetGoOfInput();
    int Receive(bool& gotPicture);
    // Sends m_packet (taking waiting pictures first if libavcodec asks) and lets go of it.
    int SendPacket(bool& gotPicture);
    static bool Fatal(int error) {
        return error == AVERROR(ENOMEM) || error == AVERROR_EOF || error == AVERROR_BUG ||
               error == AVERROR_BUG2 || error == AVERROR_EXTERNAL;
    }

    // Set while libavcodec holds a reference to the caller's bytes (padded input read in
    // place); that buffer's free callback clears it. Declared first, so it outlives the codec
    // context, which may release the buffer when it is freed.
    std::atomic<bool> m_inputLent{false};
    const std::uint32_t m_format;
    bool m_counted = false;  // counted in g_openDecoders once open
    CodecContextPtr m_codec;
    PacketPtr m_packet;
    BufferPtr m_packetBuffer;  // the packet's bytes, reused from frame to frame
    FramePtr m_frame;
    FramePtr m_picture;  // the newest picture of the current input
    SwsPtr m_sws;
    BufferPoolPtr m_pool;  // conversion buffers handed out by reference
    std::size_t m_poolBytes = 0;
    std::vector<std::uint8_t> m_staging;
    CSpsRewriter m_sps;
    bool m_hasDecoded = false;
};

// libavcodec complains on stderr about every damaged slice; route its warnings and errors
// into the client's traces instead, which are silent in normal use.
void LogToTrace(void* avClass, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING || !TraceEnabled()) {
        return;
    }
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(avClass, level, format, args, line, static_cast<int>(sizeof(line)),
                        &printPrefix);
    Trace("H264 decoder: %s", line);
}

std::unique_ptr<CFfmpegDecoder> CFfmpegDecoder::Open(std::uint32_t format, int& error) {
    if (format != kH264FormatYuv420 && format != kH264FormatRgb24) {
        error = kH264InitBadFormat;
        return nullptr;
    }
    static std::once_flag logOnce;
    std::call_once(logOnce, [] { av_log_set_callback(LogToTrace); });
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        error = kH264InitNoDecoder;
        return nullptr;
    }
    auto self = std::make_unique<CFfmpegDecoder>(format);
    self->m_codec.reset(avcodec_alloc_context3(codec));
    self->m_packet.reset(av_packet_alloc());
    self->m_frame.reset(av_frame_alloc());
    self->m_picture.reset(av_frame_alloc());
    if (!self->m_codec || !self->m_packet || !self->m_frame || !self->m_picture) {
        error = kH264InitOpenFailed;
        return nullptr;
    }
    AVCodecContext* c = self->m_codec.get();
    c->thread_count = 1;  // decode on the caller's thread; frame threading would add delay
    c->thread_type = 0;
    c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    c->flags2 &= ~AV_CODEC_FLAG2_CHUNKS;  // every call is one whole access unit
    c->strict_std_compliance = FF_COMPLIANCE_NORMAL;
    c->has_b_frames = 0;
    if (avcodec_open2(c, codec, nullptr) < 0) {
        error = kH264InitOpenFailed;
        return nullptr;
    }
    self->m_counted = true;
    ++g_openDecoders;
    error = kH264InitOk;
    return self;
}

CFfmpegDecoder::~CFfmpegDecoder() {
    if (m_counted) {
        --g_openDecoders;
    }
}

bool CFfmpegDecoder::LendInput(std::span<const std::uint8_t> bytes) {
    // libavcodec reads the caller's bytes where they are, through a buffer that only tells
    // us when it lets go (LetGoOfInput checks that it did before the call returns).
    av_packet_unref(m_packet.get());
    m_inputLent = true;
    m_packet->buf = av_buffer_create(
        const_cast<std::uint8_t*>(bytes.data()), bytes.size() + kH264InputPadding,
        [](void* opaque, std::uint8_t*) {
            static_cast<CFfmpegDecoder*>(opaque)->m_inputLent = false;
        },
        this, AV_BUFFER_FLAG_READONLY);
    if (m_packet->buf == nullptr) {
        m_inputLent = false;
        return false;
    }
    m_packet->data = const_cast<std::uint8_t*>(bytes.data());
    m_packet->size = static_cast<int>(bytes.size());
    return true;
}

bool CFfmpegDecoder::BuildPacket(std::span<const std::uint8_t> input, bool padded,
                                 bool& sawStartCode, bool& sawSlice,
                                 std::span<const std::uint8_t>& inPlace) {
    m_staging.clear();
    inPlace = {};
    sawSlice = false;
    std::size_t copied = 0;
    std::size_t sliceAt = input.size();
    std::size_t pos = FindStartCode(input, 0);
    sawStartCode = pos < input.size();
    while (pos < input.size()) {
        const std::size_t nalStart = pos + 3;
        // Parameter sets come before the slices of an access unit: at the first slice the
        // scan ends, so the bulk of a picture is never read byte by byte.
        if (nalStart < input.size()) {
            const unsigned first = input[nalStart] & 0x1FU;
            if (first >= 1 && first <= 5) {
                sawSlice = true;
                sliceAt = pos;
                break;
            }
        }
        std::size_t next = FindStartCode(input, nalStart);
        std::size_t nalEnd = next;
        while (nalEnd > nalStart && input[nalEnd - 1] == 0) {
            --nalEnd;  // trailing zeros belong to the next start code
        }
        const unsigned type = nalEnd > nalStart ? (input[nalStart] & 0x1FU) : 0U;
        sawSlice = sawSlice || (type >= 1 && type <= 5);
        if (type == 7) {
            if (const auto* rewritten = m_sps.Rewrite(input.subspan(nalStart, nalEnd - nalStart))) {
                m_staging.insert(m_staging.end(),
                                 input.begin() + static_cast<std::ptrdiff_t>(copied),
                                 input.begin() + static_cast<std::ptrdiff_t>(nalStart));
                m_staging.insert(m_staging.end(), rewritten->begin(), rewritten->end());
                copied = nalEnd;
            }
        }
        pos = next;
    }
    if (padded && m_staging.empty()) {
        return LendInput(input);  // nothing to rewrite: the padding libavcodec reads is there
    }
    std::span<const std::uint8_t> tail = input.subspan(copied);
    if (padded && sliceAt < input.size()) {
        // A stream's first key frame: the rewritten parameter sets go in a small packet of
        // their own, the picture's slices after them in place, so no decoder keeps a packet
        // buffer of a key frame's size.
        inPlace = input.subspan(sliceAt);
        tail = input.subspan(copied, sliceAt - copied);
    }
    const std::size_t total = m_staging.size() + tail.size();
    if (total > static_cast<std::size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
        return false;
    }
    // One packet buffer, used again whenever libavcodec holds no reference to it any more
    // (it lets go of each packet by the time its picture is taken): no allocation of the
    // size of a frame per frame.
    const std::size_t needed = total + AV_INPUT_BUFFER_PADDING_SIZE;
    if (!m_packetBuffer || av_buffer_is_writable(m_packetBuffer.get()) == 0 ||
        m_packetBuffer->size < needed) {
        m_packetBuffer.reset(av_buffer_alloc(std::max(needed, std::size_t{64} * 1024)));
        if (!m_packetBuffer) {
            return false;
        }
    }
    av_packet_unref(m_packet.get());
    m_packet->buf = av_buffer_ref(m_packetBuffer.get());
    if (m_packet->buf == nullptr) {
        return false;
    }
    m_packet->data = m_packetBuffer->data;
    m_packet->size = static_cast<int>(total);
    if (!m_staging.empty()) {
        std::memcpy(m_packet->data, m_staging.data(), m_staging.size());
    }
    std::memcpy(m_packet->data + m_staging.size(), tail.data(), tail.size());
    std::memset(m_packet->data + total, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    return true;
}

// Takes every picture the decoder has ready, keeping the newest in m_picture.
int CFfmpegDecoder::Receive(bool& gotPicture) {
    while (true) {
        const int ret = avcodec_receive_frame(m_codec.get(), m_frame.get());
        if (ret == AVERROR(EAGAIN)) {
            return 0;
        }
        if (ret < 0) {
            return ret;
        }
        av_frame_unref(m_picture.get());
        av_frame_move_ref(m_picture.get(), m_frame.get());
        gotPicture = true;
    }
}

int CFfmpegDecoder::SendPacket(bool& gotPicture) {
    int error = avcodec_send_packet(m_codec.get(), m_packet.get());
    if (error == AVERROR(EAGAIN)) {
        // Pictures are always taken in the call that made them, so this only happens after
        // an earlier receive failed half-way: take what is there, then send again.
        const int receiveError = Receive(gotPicture);
        error =
            receiveError < 0 ? receiveError : avcodec_send_packet(m_codec.get(), m_packet.get());
    }
    av_packet_unref(m_packet.get());
    return error;
}

bool CFfmpegDecoder::LetGoOfInput() {
    if (!m_inputLent) {
        return true;
    }
    // libavcodec decodes each packet within the call that sends it, so this is not
    // expected; should a packet still wait inside it, dropping everything it holds frees it.
    avcodec_flush_buffers(m_codec.get());
    return !m_inputLent;
}

int CFfmpegDecoder::DecodeToFrame(std::span<const std::uint8_t> input, bool& damaged, bool padded) {
    bool sawStartCode = false;
    bool sawSlice = false;
    std::span<const std::uint8_t> inPlace;
    if (!BuildPacket(input, padded, sawStartCode, sawSlice, inPlace)) {
        return m_hasDecoded ? kH264Reset : kH264InvalidData;
    }
    bool gotPicture = false;
    if (!inPlace.empty()) {
        // The parameter sets alone (libavcodec takes them in, and calls it an error since no
        // picture follows in that packet), then the slices.
        const int paramsError = SendPacket(gotPicture);
        if ((paramsError < 0 && Fatal(paramsError)) || !LendInput(inPlace)) {
            return m_hasDecoded ? kH264Reset : kH264InvalidData;
        }
    }
    const int sendError = SendPacket(gotPicture);
    if (sendError < 0 && Fatal(sendError)) {
        return LetGoOfInput() && !m_hasDecoded ? kH264InvalidData : kH264Reset;
    }
    const int receiveError = Receive(gotPicture);
    if (!LetGoOfInput()) {
        // Still held after a flush: only closing the instance frees it.
        return kH264Reset;
    }
    if (receiveError < 0 && Fatal(receiveError)) {
        return m_hasDecoded ? kH264Reset : kH264InvalidData;
    }
    if (!gotPicture) {
        // Parameter sets alone are taken in (libavcodec still calls them an error, since
        // no picture follows); anything else that failed, or is not H.264, is invalid.
        if (sawStartCode && !sawSlice) {
            return kH264NoPicture;
        }
        return (sendError < 0 || receiveError < 0 || !sawStartCode) ? kH264InvalidData
                                                                    : kH264NoPicture;
    }
    damaged = m_picture->decode_error_flags != 0 || (m_picture->flags & AV_FRAME_FLAG_CORRUPT) != 0;
    return kH264Picture;
}

int CFfmpegDecoder::DecodeRef(std::span<const std::uint8_t> input, PictureRef& picture,
                              bool padded) {
    picture.reset();
    if (input.empty() || input.size() > static_cast<std::size_t>(INT32_MAX)) {
        return kH264BadInput;
    }
    bool damaged = false;
    const int result = DecodeToFrame(input, damaged, padded);
    if (result != kH264Picture) {
        return result;
    }
    const int shareResult = Share(picture);
    av_frame_unref(m_picture.get());
    if (shareResult != kH264Picture) {
        picture.reset();
        return shareResult;
    }
    m_hasDecoded = true;
    return damaged ? kH264PictureDamaged : kH264Picture;
}

int CFfmpegDecoder::Share(PictureRef& picture) {
    const std::uint32_t format = m_format;
    const AVFrame& frame = *m_picture;
    if (frame.width <= 0 || frame.height <= 0 ||
        PackedPictureBytes(frame.width, frame.height, format) > kH264PictureBufferSize) {
        return kH264BadInput;  // no copy of a picture ever needs more than that
    }
    const auto sourceFormat = static_cast<AVPixelFormat>(frame.format);
    auto shared = std::make_shared<CFramePicture>();
    AVFrame* out = shared->Frame();
    if (out == nullptr) {
        return kH264BadInput;
    }
    if (format == kH264FormatYuv420 &&
        (sourceFormat == AV_PIX_FMT_YUV420P || sourceFormat == AV_PIX_FMT_YUVJ420P) &&
        frame.linesize[0] > 0 && frame.linesize[1] > 0 && frame.linesize[2] > 0) {
        av_frame_move_ref(out, m_picture.get());
        shared->Publish(format);
        picture = std::move(shared);
        return kH264Picture;
    }
    // Converted into a pooled buffer: rows laid out as av_frame_get_buffer lays them (the
    // width rounded up to 32 pixels, then to 64 bytes), since swscale's vector paths write
    // whole blocks of pixels, with room behind the last row for the stores that run past it.
    constexpr int kAlign = 64;
    const auto align = [](int bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; };
    const auto pixels32 = [](int pixels) { return (pixels + 31) / 32 * 32; };
    const AVPixelFormat target = format == kH264FormatRgb24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUV420P;
    const int lumaStride =
        align(format == kH264FormatRgb24 ? pixels32(frame.width) * 3 : pixels32(frame.width));
    const int chromaStride =
        format == kH264FormatRgb24 ? 0 : align(pixels32((frame.width + 1) / 2));
    const int chromaRows = (frame.height + 1) / 2;
    const std::size_t lumaBytes =
        static_cast<std::size_t>(lumaStride) * static_cast<std::size_t>(frame.height);
    const std::size_t chromaBytes =
        static_cast<std::size_t>(chromaStride) * static_cast<std::size_t>(chromaRows);
    const std::size_t bytes = lumaBytes + 2U * chromaBytes + kAlign;
    if (!m_pool || m_poolBytes != bytes) {
        m_pool.reset(av_buffer_pool_init(bytes, nullptr));
        m_poolBytes = m_pool ? bytes : 0;
        if (!m_pool) {
            return kH264BadInput;
        }
    }
    out->buf[0] = av_buffer_pool_get(m_pool.get());
    if (out->buf[0] == nullptr) {
        return kH264BadInput;
    }
    out->width = frame.width;
    out->height = frame.height;
    out->format = target;
    out->data[0] = out->buf[0]->data;
    out->linesize[0] = lumaStride;
    if (format != kH264FormatRgb24) {
        out->data[1] = out->data[0] + lumaBytes;
        out->data[2] = out->data[1] + chromaBytes;
        out->linesize[1] = chromaStride;
        out->linesize[2] = chromaStride;
    }
    m_sws.reset(sws_getCachedContext(m_sws.release(), frame.width, frame.height, sourceFormat,
                                     frame.width, frame.height, target, SWS_BILINEAR, nullptr,
                                     nullptr, nullptr));
    if (!m_sws || sws_scale(m_sws.get(), frame.data, frame.linesize, 0, frame.height, out->data,
                            out->linesize) != frame.height) {
        return kH264BadInput;
    }
    shared->Publish(format);
    picture = std::move(shared);
    return kH264Picture;
}

}  // namespace

std::unique_ptr<IH264Decoder> OpenFfmpegH264Decoder(std::uint32_t format, int* error) {
    int result = kH264InitOk;
    std::unique_ptr<IH264Decoder> decoder = CFfmpegDecoder::Open(format, result);
    if (error != nullptr) {
        *error = result;
    }
    return decoder;
}

H264DecoderFactory FfmpegH264Decoders() {
    return [](std::uint32_t format) { return OpenFfmpegH264Decoder(format); };
}

std::size_t H264OpenInstanceCount() {
    return g_openDecoders.load();
}

}  // namespace taviro::platform
