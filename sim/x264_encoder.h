// The simulated recorder's camera encoder: libx264 set up the way a security camera's
// encoder runs. Baseline profile with CAVLC, no B-frames and one reference frame, a fixed
// group of pictures that always starts with an IDR picture, constrained intra prediction,
// chroma QP offset 2, the deblocking filter on with zero offsets, one slice per picture,
// a steady bit rate, and no threads of its own, so the same pictures always give the same
// bytes.
//
// Its output still carries x264's own parameter sets and slice headers; the slice
// rewriter (h264_slice_rewriter.h) turns them into what the recorder sends.
//
// Threads and ownership: one encoder is used by one thread at a time; different encoders
// are independent. The encoder owns its libx264 instance and frees it on destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/h264_picture.h"

namespace taviro::sim {

struct X264EncoderOptions {
    int width = 704;  // whole macroblocks (multiples of 16), 16..4080
    int height = 480;
    int frameRate = 25;  // 1..60
    // A key frame (IDR) every gopLength frames, never anywhere else; 1..512 (the recorder's
    // frame numbers wrap at 512).
    int gopLength = 50;
    // Average bit rate; 0 picks 2,000 kbit/s scaled with the picture area from 704 x 480.
    int bitrateKbps = 0;
};

// The bit rate X264EncoderOptions{.bitrateKbps = 0} stands for at this size.
[[nodiscard]] int DefaultCameraBitrateKbps(int width, int height);

// One picture's output: Annex B NAL units as x264 wrote them (its slices, and perhaps SEI).
struct X264Frame {
    std::vector<std::uint8_t> bytes;
    bool keyFrame = false;
};

class CX264Encoder {
  public:
    // nullopt (and a reason in *error when given) for options out of range or when
    // libx264 refuses them.
    [[nodiscard]] static std::optional<CX264Encoder> Create(const X264EncoderOptions& options,
                                                            std::string* error = nullptr);

    CX264Encoder(CX264Encoder&&) noexcept;
    CX264Encoder& operator=(CX264Encoder&&) noexcept;
    ~CX264Encoder();

    // x264's sequence and picture parameter sets, Annex B, which its slices refer to.
    [[nodiscard]] const std::vector<std::uint8_t>& Headers() const { return m_headers; }

    // Encodes the next picture, which comes out at once (nothing is held back). nullopt
    // when the picture is not of the encoder's size or libx264 fails.
    [[nodiscard]] std::optional<X264Frame> Encode(const YuvPicture& picture);

  private:
    struct Handle;
    explicit CX264Encoder(std::unique_ptr<Handle> handle);

    std::unique_ptr<Handle> m_handle;
    std::vector<std::uint8_t> m_headers;
    std::int64_t m_pts = 0;
};

}  // namespace taviro::sim
