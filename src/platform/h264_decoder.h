// The H.264 decoder behind the decoder adapter: one IH264Decoder object per decoder
// instance, made by an H264DecoderFactory, so callers and tests choose the backend (FFmpeg's
// libavcodec in h264_decoder_ffmpeg.h, the null decoder of null_h264_decoder.h, or a
// scripted one of their own).
//
// Input: Baseline-profile H.264 in Annex B form (start-code prefixed NAL units), one access
// unit per call, with the adapter's own parameter sets in front of key frames. Output: the
// picture of that input, handed out by reference at once. No picture is held back for
// reordering: the recorders never reorder, so every frame in gives its own picture out in
// the same call.
//
// Ownership and threads. The caller owns the decoder object (usually its decoder thread
// does) and the input; closing is destroying it. One object is used by one thread at a time.
// Different objects are independent and may decode in parallel on different threads, and
// may be made and destroyed on any thread at any time. A decoder decodes on the calling
// thread only (no decoder threads of its own). Pictures outlive the decoder that made them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace taviro::platform {

// Output picture formats.
// 0: planar Y (W x H), U (W/2 x H/2) and V (W/2 x H/2), rows top-down. (Odd sizes, which
// only cropped streams have, round the chroma planes up.)
inline constexpr std::uint32_t kH264FormatYuv420 = 0;
// 3: W x H pixels of 3 bytes in blue, green, red order (the device-independent bitmap
// order), rows top-down. The adapter flips the rows itself for bottom-up drawing.
inline constexpr std::uint32_t kH264FormatRgb24 = 3;

// The largest picture a decoder hands out, in bytes packed (a 720 x 576 RGB picture). A
// larger picture is refused (result kH264BadInput), so no copy of a picture ever needs more.
inline constexpr std::size_t kH264PictureBufferSize = 1'244'160;

// Decode results.
inline constexpr int kH264Picture = 0;         // a picture came out
inline constexpr int kH264CallAgain = 1;       // call again with the same input (not
                                               // produced by FFmpeg; the adapter honours it)
inline constexpr int kH264NoPicture = 2;       // input accepted, but it held no picture
                                               // (parameter sets only, or a frame the decoder
                                               // skipped while waiting for a key frame)
inline constexpr int kH264InvalidData = 3;     // the decoder rejected the input
inline constexpr int kH264BadInput = 4;        // empty input, a picture too large, or one
                                               // that could not be handed out
inline constexpr int kH264PictureDamaged = 5;  // a picture came out, with concealed errors
inline constexpr int kH264Reset = -5;          // the instance broke after it had worked:
                                               // destroy it, open another, and call again

// Why a decoder could not be opened: 0 success; any other value failure.
inline constexpr int kH264InitOk = 0;
inline constexpr int kH264InitBadFormat = -2;   // format is neither 0 nor 3
inline constexpr int kH264InitNoDecoder = -3;   // libavcodec has no H.264 decoder
inline constexpr int kH264InitOpenFailed = -4;  // allocation or codec open failed

// A decoded picture handed out by reference instead of copied: the planes stay where the
// decoder put them (libavcodec's reference-counted frame, or a pooled conversion buffer for
// RGB) until the last reference goes. Nothing ever writes into a picture once it is handed
// out, so any thread may read it while it holds a reference, without a lock; references may
// be dropped on any thread, also after the instance that made them was closed.
struct DecodedPicture {
    virtual ~DecodedPicture() = default;
    int width = 0;
    int height = 0;
    std::uint32_t format = kH264FormatYuv420;  // or kH264FormatRgb24 (plane 0 only, top-down)
    std::array<const std::uint8_t*, 3> planes{};
    std::array<int, 3> strides{};  // bytes from one row to the next, per plane
};
using PictureRef = std::shared_ptr<const DecodedPicture>;

// A picture in memory of its own, its planes packed one after another without padding (for
// cleared panes, stand-in decoders, tests and tools). Writable through Data() until it is
// handed out.
class CPackedPicture final : public DecodedPicture {
  public:
    // `capacity` (bytes) may ask for more room than the picture needs.
    CPackedPicture(int pictureWidth, int pictureHeight, std::uint32_t pictureFormat,
                   std::size_t capacity = 0);
    [[nodiscard]] std::uint8_t* Data() { return m_bytes.get(); }
    [[nodiscard]] std::size_t Size() const { return m_size; }

  private:
    std::unique_ptr<std::uint8_t[]> m_bytes;
    std::size_t m_size = 0;
};

// Bytes of a packed picture of that size and format (chroma planes rounded up for odd sizes).
std::size_t PackedPictureBytes(int width, int height, std::uint32_t format);

// Copies a picture's planes into `out` laid out as in CPackedPicture (rows top-down, no row
// padding). Returns the bytes written; 0, with nothing written, when the picture is empty,
// a plane is missing, a stride is shorter than a row, or `out` is too small.
std::size_t CopyPacked(const DecodedPicture& picture, std::span<std::uint8_t> out);

// Zero bytes a caller of IH264Decoder::DecodePadded puts after the input.
inline constexpr std::size_t kH264InputPadding = 64;

// One decoder instance, open from construction to destruction, for one output format.
class IH264Decoder {
  public:
    virtual ~IH264Decoder() = default;

    // Decodes one access unit and hands its picture out in `picture`, which is reset first
    // and set only for kH264Picture and kH264PictureDamaged. Returns one of the decode
    // results above. When the input holds several pictures, the last one comes out.
    virtual int Decode(std::span<const std::uint8_t> accessUnit, PictureRef& picture) = 0;

    // As Decode, for a caller whose input is followed by kH264InputPadding zero bytes, all
    // left untouched until the call returns: the decoder may then read the input where it
    // is instead of copying it first. Nothing of the input is kept once the call returned.
    virtual int DecodePadded(std::span<const std::uint8_t> accessUnit, PictureRef& picture) {
        return Decode(accessUnit, picture);
    }

    // kH264FormatYuv420 or kH264FormatRgb24, fixed when the decoder was opened.
    [[nodiscard]] virtual std::uint32_t Format() const = 0;
};

// Opens a decoder for an output format; null when it cannot (an unknown format, or the
// backend failed to open). Called on the thread that will decode, any number of times and
// on several threads at once, so a factory must be thread-safe.
using H264DecoderFactory = std::function<std::unique_ptr<IH264Decoder>(std::uint32_t format)>;

}  // namespace taviro::platform
