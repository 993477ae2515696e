// The H.264 decoder library behind the decoder adapter: three entry points and a 48-byte
// context, the same contract the desktop client's decoder library had, implemented here on
// FFmpeg's libavcodec (h264_decoder_ffmpeg.cpp).
//
// Input: Baseline-profile H.264 in Annex B form (start-code prefixed NAL units), one access
// unit per call, with the adapter's own parameter sets in front of key frames. Output: the
// picture of that input, written at once into the caller's picture buffer. No picture is
// held back for reordering: the recorders never reorder, so every frame in gives its own
// picture out in the same call.
//
// Ownership and threads. The caller owns the DecoderContext (usually a member of its decoder
// thread) and the bitstream and picture buffers; the library owns the decoder instance that
// Init opens and Uninit closes, and keeps nothing but that instance. One context is used by
// one thread at a time. Different contexts are independent and may decode in parallel on
// different threads; Init and Uninit may run on any thread at any time. Each instance decodes
// on the calling thread only (no decoder threads of its own).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace taviro::platform {

// Zeroed by the adapter, then `mode` = 1 and `format` set; everything else is the library's.
struct DecoderContext {
    std::array<std::uint8_t, 16> libraryHead{};  // unused by this library
    // Written by the library: non-zero while an instance is open (a handle, not a pointer,
    // so a stale or damaged context can never reach freed memory).
    std::uint32_t instance = 0;
    std::uint32_t mode = 0;    // the adapter sets 1; not interpreted
    std::uint32_t format = 0;  // kH264FormatYuv420 or kH264FormatRgb24, read at every call
    std::array<std::uint8_t, 20> libraryTail{};  // unused by this library
};
static_assert(sizeof(DecoderContext) == 48);
static_assert(offsetof(DecoderContext, instance) == 16);
static_assert(offsetof(DecoderContext, mode) == 20);
static_assert(offsetof(DecoderContext, format) == 24);

// Output picture formats (context offset 24).
// 0: planar Y (W x H bytes), then U (W/2 x H/2), then V (W/2 x H/2); rows top-down, no padding.
// (Odd sizes, which only cropped streams have, round the chroma planes up.)
inline constexpr std::uint32_t kH264FormatYuv420 = 0;
// 3: W x H pixels of 3 bytes in blue, green, red order (the device-independent bitmap
// order), rows top-down, no padding. The adapter flips the rows itself for bottom-up drawing.
inline constexpr std::uint32_t kH264FormatRgb24 = 3;

// The caller's picture buffer must hold at least this many bytes (a 720 x 576 RGB picture).
// A picture that would not fit is not written (result kH264BadInput).
inline constexpr std::size_t kH264PictureBufferSize = 1'244'160;

// GetOneFrame results.
inline constexpr int kH264Picture = 0;         // a picture was written
inline constexpr int kH264CallAgain = 1;       // call again with the same arguments (not
                                               // produced by this library; the adapter honours it)
inline constexpr int kH264NoPicture = 2;       // input accepted, but it held no picture
                                               // (parameter sets only, or a frame the decoder
                                               // skipped while waiting for a key frame)
inline constexpr int kH264InvalidData = 3;     // the decoder rejected the input
inline constexpr int kH264BadInput = 4;        // no open instance, null or empty buffers, an
                                               // unknown format, or a picture too large
inline constexpr int kH264PictureDamaged = 5;  // a picture was written, with concealed errors
inline constexpr int kH264Reset = -5;          // the instance broke after it had worked:
                                               // Uninit, Init, and call again

// Init results: 0 success; any other value failure (the context keeps instance == 0).
inline constexpr int kH264InitOk = 0;
inline constexpr int kH264InitBadContext = -1;  // null context
inline constexpr int kH264InitBadFormat = -2;   // format is neither 0 nor 3
inline constexpr int kH264InitNoDecoder = -3;   // libavcodec has no H.264 decoder
inline constexpr int kH264InitOpenFailed = -4;  // allocation or codec open failed

// "PT_H264dec_Init": opens an instance for the context's format and stores its handle at
// offset 16. An instance already open in the context is closed first.
int H264DecInit(DecoderContext* context);

// "PT_H264dec_GetOneFrame": decodes `length` bytes at `bitstream` and writes the picture into
// `picture` (at least kH264PictureBufferSize bytes) in the context's format. When the input
// holds several pictures, the last one is written.
int H264DecGetOneFrame(DecoderContext* context, const std::uint8_t* bitstream, std::int32_t length,
                       std::uint8_t* picture);

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

// A picture in memory of its own, its planes packed one after another without padding, as
// H264DecGetOneFrame writes them (for a library without the by-reference entry, tests and
// tools). Writable through Data() until it is handed out.
class CPackedPicture final : public DecodedPicture {
  public:
    // `capacity` (bytes) may ask for more room than the picture needs: a buffer handed to
    // H264DecGetOneFrame must hold kH264PictureBufferSize bytes whatever the picture's size.
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

// Decodes like H264DecGetOneFrame, but hands the picture out by reference in `picture`
// instead of copying it, with the same results. RGB comes top-down in blue, green, red.
int H264DecGetOneFrameRef(DecoderContext* context, const std::uint8_t* bitstream,
                          std::int32_t length, PictureRef* picture);

// Zero bytes a caller of H264DecGetOneFrameRefPadded puts after the input.
inline constexpr std::size_t kH264InputPadding = 64;

// As H264DecGetOneFrameRef, for a caller whose `length` bytes are followed by
// kH264InputPadding zero bytes, all left untouched until the call returns: the decoder then
// reads them where they are instead of copying them first (unless it has a parameter set to
// rewrite). Nothing of the input is kept once the call has returned.
int H264DecGetOneFrameRefPadded(DecoderContext* context, const std::uint8_t* bitstream,
                                std::int32_t length, PictureRef* picture);

// "PT_H264dec_Uninit": closes the context's instance, if any, and clears offset 16. Safe on a
// zeroed context, twice in a row, and on a context whose handle is not (or no longer) open.
void H264DecUninit(DecoderContext* context);

// The three entry points as the adapter looks them up, so tests of the adapter can put a
// scripted library in their place.
struct H264EntryPoints {
    int (*init)(DecoderContext* context) = nullptr;
    int (*getOneFrame)(DecoderContext* context, const std::uint8_t* bitstream, std::int32_t length,
                       std::uint8_t* picture) = nullptr;
    void (*uninit)(DecoderContext* context) = nullptr;
    // Optional: pictures by reference. When it is set the adapter uses it instead of
    // getOneFrame and copies nothing; scripted libraries leave it null.
    int (*getOneFrameRef)(DecoderContext* context, const std::uint8_t* bitstream,
                          std::int32_t length, PictureRef* picture) = nullptr;
    // Optional: by reference, for input followed by kH264InputPadding zero bytes. When it
    // is set the adapter uses it for such input.
    int (*getOneFrameRefPadded)(DecoderContext* context, const std::uint8_t* bitstream,
                                std::int32_t length, PictureRef* picture) = nullptr;
};

// This build's decoder library; all five entries are set.
H264EntryPoints H264Library();

// Number of instances open right now in this process (for leak checks).
std::size_t H264OpenInstanceCount();

}  // namespace taviro::platform
