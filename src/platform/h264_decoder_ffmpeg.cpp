// The decoder library on FFmpeg's libavcodec. Each instance is one H.264 decoder context
// that decodes on the calling thread with no frame delay.
//
// libavcodec holds pictures back when it guesses that the stream reorders them: without
// VUI it infers reordering from picture order counts that step by more than 2, and under
// strict compliance it assumes the largest reorder buffer. The recorders never reorder but
// step their counts freely, and the adapter's sequence parameter set carries no VUI. So every
// sequence parameter set without VUI is handed to libavcodec with a VUI that has only the
// bitstream restriction (zero reorder frames); the adapter's own bytes stay as they are.
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "platform/h264_decoder.h"
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

// ---------------------------------------------------------------------------------------
// Sequence parameter set rewriting
// ---------------------------------------------------------------------------------------

// Bounded reader over an RBSP; every read past the end fails instead of reading on.
class CRbspReader {
  public:
    explicit CRbspReader(std::span<const std::uint8_t> data) : m_data(data) {}

    bool Bits(unsigned count, std::uint32_t& value) {
        value = 0;
        if (count > 32 || m_pos + count > m_data.size() * 8U) {
            return false;
        }
        for (unsigned i = 0; i < count; ++i) {
            const unsigned byte = m_data[m_pos / 8U];
            value = (value << 1U) | ((byte >> (7U - m_pos % 8U)) & 1U);
            ++m_pos;
        }
        return true;
    }
    bool Ue(std::uint32_t& value) {
        unsigned zeros = 0;
        std::uint32_t bit = 0;
        while (true) {
            if (!Bits(1, bit)) {
                return false;
            }
            if (bit != 0) {
                break;
            }
            if (++zeros > 31) {
                return false;
            }
        }
        std::uint32_t rest = 0;
        if (!Bits(zeros, rest)) {
            return false;
        }
        value = static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1U + rest);
        return true;
    }
    bool Skip(unsigned count) {
        std::uint32_t ignored = 0;
        while (count > 0) {
            const unsigned step = std::min(count, 32U);
            if (!Bits(step, ignored)) {
                return false;
            }
            count -= step;
        }
        return true;
    }
    [[nodiscard]] std::size_t Position() const { return m_pos; }

  private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_pos = 0;
};

// Growable big-endian bit writer for the rewritten set.
class CRbspWriter {
  public:
    void Bits(std::uint32_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) {
            if (m_bits % 8U == 0) {
                m_bytes.push_back(0);
            }
            if (((value >> i) & 1U) != 0) {
                m_bytes.back() =
                    static_cast<std::uint8_t>(m_bytes.back() | (0x80U >> (m_bits % 8U)));
            }
            ++m_bits;
        }
    }
    void Ue(std::uint32_t value) {
        const std::uint64_t code = std::uint64_t{value} + 1U;
        unsigned length = 0;
        while ((code >> (length + 1U)) != 0) {
            ++length;
        }
        Bits(0, length);
        Bits(static_cast<std::uint32_t>(code), length + 1U);
    }
    void Trailing() {
        Bits(1, 1);
        while (m_bits % 8U != 0) {
            Bits(0, 1);
        }
    }
    [[nodiscard]] const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

  private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_bits = 0;
};

std::vector<std::uint8_t> RemoveEmulationPrevention(std::span<const std::uint8_t> nal) {
    std::vector<std::uint8_t> out;
    out.reserve(nal.size());
    unsigned zeros = 0;
    for (const std::uint8_t byte : nal) {
        if (zeros >= 2 && byte == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1U : 0U;
        out.push_back(byte);
    }
    return out;
}

void AppendWithEmulationPrevention(std::span<const std::uint8_t> rbsp,
                                   std::vector<std::uint8_t>& out) {
    unsigned zeros = 0;
    for (const std::uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 0x03) {
            out.push_back(0x03);
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1U : 0U;
        out.push_back(byte);
    }
}

bool HasChromaFormatFields(std::uint32_t profile) {
    switch (profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

// Parses a sequence parameter set RBSP (after the NAL header byte) up to its VUI flag. When
// the flag is clear, returns the same RBSP with a VUI that carries only the bitstream
// restriction: no reordering, a decoded picture buffer of the reference frame count. Sets
// that already have VUI, use scaling matrices or do not parse are left alone (nullopt).
std::optional<std::vector<std::uint8_t>> AddNoReorderVui(std::span<const std::uint8_t> rbsp) {
    CRbspReader in(rbsp);
    std::uint32_t profile = 0;
    std::uint32_t v = 0;
    if (!in.Bits(8, profile) || !in.Skip(16) || !in.Ue(v)) {
        return std::nullopt;
    }
    if (HasChromaFormatFields(profile)) {
        std::uint32_t chromaFormat = 0;
        if (!in.Ue(chromaFormat)) {
            return std::nullopt;
        }
        if (chromaFormat == 3 && !in.Skip(1)) {
            return std::nullopt;
        }
        std::uint32_t scaling = 0;
        if (!in.Ue(v) || !in.Ue(v) || !in.Skip(1) || !in.Bits(1, scaling) || scaling != 0) {
            return std::nullopt;
        }
    }
    std::uint32_t pocType = 0;
    if (!in.Ue(v) || !in.Ue(pocType)) {
        return std::nullopt;
    }
    if (pocType == 0) {
        if (!in.Ue(v)) {
            return std::nullopt;
        }
    } else if (pocType == 1) {
        std::uint32_t cycle = 0;
        if (!in.Skip(1) || !in.Ue(v) || !in.Ue(v) || !in.Ue(cycle) || cycle > 255) {
            return std::nullopt;
        }
        for (std::uint32_t i = 0; i < cycle; ++i) {
            if (!in.Ue(v)) {
                return std::nullopt;
            }
        }
    } else if (pocType != 2) {
        return std::nullopt;
    }
    std::uint32_t refFrames = 0;
    std::uint32_t frameMbsOnly = 0;
    std::uint32_t cropping = 0;
    if (!in.Ue(refFrames) || refFrames > 16 || !in.Skip(1) || !in.Ue(v) || !in.Ue(v) ||
        !in.Bits(1, frameMbsOnly)) {
        return std::nullopt;
    }
    if (frameMbsOnly == 0 && !in.Skip(1)) {
        return std::nullopt;
    }
    if (!in.Skip(1) || !in.Bits(1, cropping)) {
        return std::nullopt;
    }
    if (cropping != 0 && (!in.Ue(v) || !in.Ue(v) || !in.Ue(v) || !in.Ue(v))) {
        return std::nullopt;
    }
    const std::size_t vuiFlagPos = in.Position();
    std::uint32_t vui = 0;
    if (!in.Bits(1, vui) || vui != 0) {
        return std::nullopt;
    }

    CRbspWriter out;
    CRbspReader copy(rbsp);
    for (std::size_t i = 0; i < vuiFlagPos; ++i) {
        std::uint32_t bit = 0;
        static_cast<void>(copy.Bits(1, bit));
        out.Bits(bit, 1);
    }
    out.Bits(1, 1);                                 // vui_parameters_present_flag
    out.Bits(0, 1);                                 // aspect_ratio_info_present_flag
    out.Bits(0, 1);                                 // overscan_info_present_flag
    out.Bits(0, 1);                                 // video_signal_type_present_flag
    out.Bits(0, 1);                                 // chroma_loc_info_present_flag
    out.Bits(0, 1);                                 // timing_info_present_flag
    out.Bits(0, 1);                                 // nal_hrd_parameters_present_flag
    out.Bits(0, 1);                                 // vcl_hrd_parameters_present_flag
    out.Bits(0, 1);                                 // pic_struct_present_flag
    out.Bits(1, 1);                                 // bitstream_restriction_flag
    out.Bits(1, 1);                                 // motion_vectors_over_pic_boundaries_flag
    out.Ue(0);                                      // max_bytes_per_pic_denom
    out.Ue(0);                                      // max_bits_per_mb_denom
    out.Ue(15);                                     // log2_max_mv_length_horizontal
    out.Ue(15);                                     // log2_max_mv_length_vertical
    out.Ue(0);                                      // max_num_reorder_frames
    out.Ue(std::max<std::uint32_t>(refFrames, 1));  // max_dec_frame_buffering
    out.Trailing();
    return out.Bytes();
}

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

int CopyPicture(const AVFrame& frame, std::uint32_t format, std::uint8_t* picture,
                FramePtr& scratch, SwsPtr& sws);

class CFfmpegDecoder {
  public:
    // Opens the decoder; nullptr with `error` set when that fails.
    static std::unique_ptr<CFfmpegDecoder> Open(int& error);
    CFfmpegDecoder() = default;  // closed until Open has set it up

    int Decode(std::span<const std::uint8_t> input, std::uint32_t format, std::uint8_t* picture);
    // `padded`: kH264InputPadding zero bytes follow the input, which libavcodec may then read
    // in place.
    int DecodeRef(std::span<const std::uint8_t> input, std::uint32_t format, PictureRef& picture,
                  bool padded = false);

  private:
    // Sends the input and leaves its newest picture in m_picture: kH264Picture (with
    // `damaged`) when there is one, else the call's result.
    int DecodeToFrame(std::span<const std::uint8_t> input, bool& damaged, bool padded);
    // m_picture as a shared picture in `format`: the frame itself when it already is planar
    // 4:2:0, else converted into a buffer of the pool.
    int Share(std::uint32_t format, PictureRef& picture);
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
    CodecContextPtr m_codec;
    PacketPtr m_packet;
    BufferPtr m_packetBuffer;  // the packet's bytes, reused from frame to frame
    FramePtr m_frame;
    FramePtr m_picture;  // the newest picture of the current input
    FramePtr m_scratch;  // conversion target, aligned for swscale
    SwsPtr m_sws;
    BufferPoolPtr m_pool;  // conversion buffers handed out by reference
    std::size_t m_poolBytes = 0;
    std::vector<std::uint8_t> m_staging;
    std::vector<std::uint8_t> m_lastSpsIn;  // the last rewritten set, as it came and as it went
    std::vector<std::uint8_t> m_lastSpsOut;
    bool m_hasDecoded = false;
};

std::unique_ptr<CFfmpegDecoder> CFfmpegDecoder::Open(int& error) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        error = kH264InitNoDecoder;
        return nullptr;
    }
    auto self = std::make_unique<CFfmpegDecoder>();
    self->m_codec.reset(avcodec_alloc_context3(codec));
    self->m_packet.reset(av_packet_alloc());
    self->m_frame.reset(av_frame_alloc());
    self->m_picture.reset(av_frame_alloc());
    self->m_scratch.reset(av_frame_alloc());
    if (!self->m_codec || !self->m_packet || !self->m_frame || !self->m_picture ||
        !self->m_scratch) {
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
    error = kH264InitOk;
    return self;
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
            const auto nal = input.subspan(nalStart, nalEnd - nalStart);
            if (!(m_lastSpsIn.size() == nal.size() &&
                  std::equal(nal.begin(), nal.end(), m_lastSpsIn.begin()))) {
                const auto rbsp = RemoveEmulationPrevention(nal.subspan(1));
                if (auto rewritten = AddNoReorderVui(rbsp)) {
                    m_lastSpsIn.assign(nal.begin(), nal.end());
                    m_lastSpsOut.assign(1, nal[0]);
                    AppendWithEmulationPrevention(*rewritten, m_lastSpsOut);
                } else {
                    m_lastSpsIn.clear();
                    m_lastSpsOut.clear();
                }
            }
            if (!m_lastSpsIn.empty()) {
                m_staging.insert(m_staging.end(),
                                 input.begin() + static_cast<std::ptrdiff_t>(copied),
                                 input.begin() + static_cast<std::ptrdiff_t>(nalStart));
                m_staging.insert(m_staging.end(), m_lastSpsOut.begin(), m_lastSpsOut.end());
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

int CFfmpegDecoder::Decode(std::span<const std::uint8_t> input, std::uint32_t format,
                           std::uint8_t* picture) {
    bool damaged = false;
    const int result = DecodeToFrame(input, damaged, false);
    if (result != kH264Picture) {
        return result;
    }
    const int copyResult = CopyPicture(*m_picture, format, picture, m_scratch, m_sws);
    av_frame_unref(m_picture.get());
    if (copyResult != kH264Picture) {
        return copyResult;
    }
    m_hasDecoded = true;
    return damaged ? kH264PictureDamaged : kH264Picture;
}

int CFfmpegDecoder::DecodeRef(std::span<const std::uint8_t> input, std::uint32_t format,
                              PictureRef& picture, bool padded) {
    picture.reset();
    bool damaged = false;
    const int result = DecodeToFrame(input, damaged, padded);
    if (result != kH264Picture) {
        return result;
    }
    const int shareResult = Share(format, picture);
    av_frame_unref(m_picture.get());
    if (shareResult != kH264Picture) {
        picture.reset();
        return shareResult;
    }
    m_hasDecoded = true;
    return damaged ? kH264PictureDamaged : kH264Picture;
}

int CFfmpegDecoder::Share(std::uint32_t format, PictureRef& picture) {
    const AVFrame& frame = *m_picture;
    if (frame.width <= 0 || frame.height <= 0 ||
        PackedPictureBytes(frame.width, frame.height, format) > kH264PictureBufferSize) {
        return kH264BadInput;  // the same limit as the copy, so both entries agree
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

void CopyPlane(const std::uint8_t* source, int sourceStride, std::uint8_t* target,
               std::size_t width, std::size_t rows) {
    for (std::size_t row = 0; row < rows; ++row) {
        std::memcpy(target + row * width, source + static_cast<std::ptrdiff_t>(row) * sourceStride,
                    width);
    }
}

// Writes `frame` into the caller's buffer in `format`; kH264BadInput when it cannot.
int CopyPicture(const AVFrame& frame, std::uint32_t format, std::uint8_t* picture,
                FramePtr& scratch, SwsPtr& sws) {
    if (frame.width <= 0 || frame.height <= 0) {
        return kH264BadInput;
    }
    const auto width = static_cast<std::size_t>(frame.width);
    const auto height = static_cast<std::size_t>(frame.height);
    const std::size_t chromaWidth = (width + 1U) / 2U;
    const std::size_t chromaHeight = (height + 1U) / 2U;
    const std::size_t needed = format == kH264FormatRgb24
                                   ? width * height * 3U
                                   : width * height + 2U * chromaWidth * chromaHeight;
    if (needed > kH264PictureBufferSize) {
        return kH264BadInput;
    }
    const auto sourceFormat = static_cast<AVPixelFormat>(frame.format);
    const AVFrame* planes = &frame;
    const AVPixelFormat targetFormat =
        format == kH264FormatRgb24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUV420P;
    const bool direct = targetFormat == AV_PIX_FMT_YUV420P &&
                        (sourceFormat == AV_PIX_FMT_YUV420P || sourceFormat == AV_PIX_FMT_YUVJ420P);
    if (!direct) {
        // Convert into an aligned frame of our own first: swscale may write whole vectors,
        // which must never land past the end of the caller's buffer.
        if (scratch->width != frame.width || scratch->height != frame.height ||
            scratch->format != targetFormat) {
            av_frame_unref(scratch.get());
            scratch->width = frame.width;
            scratch->height = frame.height;
            scratch->format = targetFormat;
            if (av_frame_get_buffer(scratch.get(), 0) < 0) {
                av_frame_unref(scratch.get());
                return kH264BadInput;
            }
        }
        SwsContext* cached = sws_getCachedContext(
            sws.release(), frame.width, frame.height, sourceFormat, frame.width, frame.height,
            targetFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
        sws.reset(cached);
        if (!sws) {
            return kH264BadInput;
        }
        if (sws_scale(sws.get(), frame.data, frame.linesize, 0, frame.height, scratch->data,
                      scratch->linesize) != frame.height) {
            return kH264BadInput;
        }
        planes = scratch.get();
    }
    if (format == kH264FormatRgb24) {
        CopyPlane(planes->data[0], planes->linesize[0], picture, width * 3U, height);
    } else {
        CopyPlane(planes->data[0], planes->linesize[0], picture, width, height);
        std::uint8_t* u = picture + width * height;
        CopyPlane(planes->data[1], planes->linesize[1], u, chromaWidth, chromaHeight);
        CopyPlane(planes->data[2], planes->linesize[2], u + chromaWidth * chromaHeight, chromaWidth,
                  chromaHeight);
    }
    return kH264Picture;
}

// ---------------------------------------------------------------------------------------
// Open instances, by handle
// ---------------------------------------------------------------------------------------

class CInstanceTable {
  public:
    static CInstanceTable& Get() {
        static CInstanceTable table;
        return table;
    }
    std::uint32_t Add(std::shared_ptr<CFfmpegDecoder> decoder) {
        const std::lock_guard lock(m_lock);
        std::uint32_t handle = 0;
        do {
            handle = m_next++;
        } while (handle == 0 || m_open.contains(handle));
        m_open.emplace(handle, std::move(decoder));
        return handle;
    }
    std::shared_ptr<CFfmpegDecoder> Find(std::uint32_t handle) {
        const std::lock_guard lock(m_lock);
        const auto it = m_open.find(handle);
        return it == m_open.end() ? nullptr : it->second;
    }
    std::shared_ptr<CFfmpegDecoder> Remove(std::uint32_t handle) {
        const std::lock_guard lock(m_lock);
        const auto it = m_open.find(handle);
        if (it == m_open.end()) {
            return nullptr;
        }
        auto decoder = std::move(it->second);
        m_open.erase(it);
        return decoder;
    }
    std::size_t Count() {
        const std::lock_guard lock(m_lock);
        return m_open.size();
    }

  private:
    std::mutex m_lock;
    std::unordered_map<std::uint32_t, std::shared_ptr<CFfmpegDecoder>> m_open;
    std::uint32_t m_next = 1;
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

}  // namespace

int H264DecInit(DecoderContext* context) {
    if (context == nullptr) {
        return kH264InitBadContext;
    }
    static std::once_flag logOnce;
    std::call_once(logOnce, [] { av_log_set_callback(LogToTrace); });
    H264DecUninit(context);
    if (context->format != kH264FormatYuv420 && context->format != kH264FormatRgb24) {
        return kH264InitBadFormat;
    }
    int error = kH264InitOk;
    std::shared_ptr<CFfmpegDecoder> decoder = CFfmpegDecoder::Open(error);
    if (!decoder) {
        return error;
    }
    context->instance = CInstanceTable::Get().Add(std::move(decoder));
    return kH264InitOk;
}

namespace {

// The checks both decode entries make: the open instance of a context in a known format,
// for input that is there; nullptr when any of it is missing. The shared reference keeps the
// instance alive for the call even if another thread were to close the handle meanwhile
// (against the rules, but not a crash).
std::shared_ptr<CFfmpegDecoder> DecoderFor(const DecoderContext* context,
                                           const std::uint8_t* bitstream, std::int32_t length,
                                           std::uint32_t& format) {
    if (context == nullptr || bitstream == nullptr || length <= 0) {
        return nullptr;
    }
    format = context->format;
    if (format != kH264FormatYuv420 && format != kH264FormatRgb24) {
        return nullptr;
    }
    return CInstanceTable::Get().Find(context->instance);
}

}  // namespace

int H264DecGetOneFrame(DecoderContext* context, const std::uint8_t* bitstream, std::int32_t length,
                       std::uint8_t* picture) {
    std::uint32_t format = 0;
    const auto decoder = picture ? DecoderFor(context, bitstream, length, format) : nullptr;
    if (!decoder) {
        return kH264BadInput;
    }
    return decoder->Decode({bitstream, static_cast<std::size_t>(length)}, format, picture);
}

namespace {

int GetOneFrameRef(DecoderContext* context, const std::uint8_t* bitstream, std::int32_t length,
                   PictureRef* picture, bool padded) {
    if (picture == nullptr) {
        return kH264BadInput;
    }
    picture->reset();
    std::uint32_t format = 0;
    const auto decoder = DecoderFor(context, bitstream, length, format);
    if (!decoder) {
        return kH264BadInput;
    }
    return decoder->DecodeRef({bitstream, static_cast<std::size_t>(length)}, format, *picture,
                              padded);
}

}  // namespace

int H264DecGetOneFrameRef(DecoderContext* context, const std::uint8_t* bitstream,
                          std::int32_t length, PictureRef* picture) {
    return GetOneFrameRef(context, bitstream, length, picture, false);
}

int H264DecGetOneFrameRefPadded(DecoderContext* context, const std::uint8_t* bitstream,
                                std::int32_t length, PictureRef* picture) {
    return GetOneFrameRef(context, bitstream, length, picture, true);
}

void H264DecUninit(DecoderContext* context) {
    if (context == nullptr) {
        return;
    }
    if (context->instance != 0) {
        // Destroyed here (or by a call still running on it, when it ends).
        static_cast<void>(CInstanceTable::Get().Remove(context->instance));
    }
    context->instance = 0;
}

H264EntryPoints H264Library() {
    return H264EntryPoints{&H264DecInit, &H264DecGetOneFrame, &H264DecUninit,
                           &H264DecGetOneFrameRef, &H264DecGetOneFrameRefPadded};
}

std::size_t H264OpenInstanceCount() {
    return CInstanceTable::Get().Count();
}

}  // namespace taviro::platform
