// The simulated recorder's video encoder: genuine H.264 Baseline that any decoder turns back
// into exactly the pictures it was given.
//
// The recorder never sends parameter sets; the client writes its own fixed SPS and PPS in
// front of every key frame it decodes. Every slice here is written for exactly those:
//   SPS: Baseline, level 3.0, log2_max_frame_num 9, pic_order_cnt_type 0 with a 10-bit
//        pic_order_cnt_lsb, one reference frame, no frame-number gaps, frame macroblocks
//        only, direct 8x8 inference, no cropping (so both dimensions are whole
//        macroblocks), no VUI;
//   PPS: CAVLC, no bottom-field POC, one slice group, one active reference, no weighted
//        prediction, initial QP 26, chroma QP offset 2, no deblocking control in the slice
//        header, constrained intra prediction, no redundant picture count.
// Every macroblock is either I_PCM (raw samples, lossless) or P_Skip (a copy of the same
// macroblock of the previous picture, the motion vector predicting to zero because every
// coded neighbour is intra or itself a zero-motion skip). The slice QP is 0, so the
// in-loop deblocking filter, which the slice header cannot switch off, has zero
// thresholds at every edge and never changes a sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/h264_picture.h"

namespace taviro::sim {

// 2^9 frame numbers and 2^10 picture order count values, as the client's SPS fixes them.
inline constexpr std::uint32_t kH264MaxFrameNum = 512;
inline constexpr std::uint32_t kH264MaxPocLsb = 1024;

// The picture sizes the recorder's encoder produces: 352 x 240/288, 704 or 720 x
// 240/288/480/576. The recorder's 360-pixel-wide modes are not whole macroblocks and the
// client's SPS has no cropping, so they cannot be coded.
[[nodiscard]] bool IsH264PictureSizeAccepted(int width, int height);

struct H264StreamOptions {
    int width = 704;
    int height = 480;
    // A key frame every gop_length frames; 1 makes every frame a key frame.
    int gop_length = 25;
    // Dependent frames sent before the first key frame, as when a channel is joined in the
    // middle of a group of pictures. Having no reference, they are coded all intra.
    int leading_dependent_frames = 0;
    // pic_order_cnt_lsb advance per frame (2 is what encoders normally use); 1..511 so the
    // decoder can still order pictures across the wrap at 1024.
    int poc_step = 2;
};

// One access unit: a single slice NAL unit in Annex B form, no parameter sets, SEI or
// access unit delimiter. The largest (an all-zero 720 x 576 key frame, where emulation
// prevention adds half again) stays under 950,000 bytes, inside the encoder header's
// 20-bit frame size.
struct H264AccessUnit {
    std::vector<std::uint8_t> bytes;
    bool key_frame = false;
    int width = 0;
    int height = 0;
    std::uint32_t frame_num = 0;
    std::uint32_t poc_lsb = 0;
    std::size_t intra_macroblocks = 0;
    std::size_t skipped_macroblocks = 0;
};

class CH264StreamWriter {
  public:
    // nullopt (and a reason in *error when given) for options outside the ranges above.
    [[nodiscard]] static std::optional<CH264StreamWriter> Create(const H264StreamOptions& options,
                                                                 std::string* error = nullptr);

    // Codes `picture` as the next frame. A key frame codes every macroblock; a dependent
    // frame codes the macroblocks that differ from the previous picture and skips the
    // rest. nullopt when the picture is not of the current size.
    [[nodiscard]] std::optional<H264AccessUnit> Write(const YuvPicture& picture);

    // The next frame is a key frame, and the group of pictures restarts from it.
    void ForceKeyFrame() { m_framesToKey = 0; }
    // Switches to another accepted size; the next frame is a key frame at that size. false
    // (and nothing changed) for a size that is not accepted.
    bool SetSize(int width, int height);

    [[nodiscard]] int Width() const { return m_width; }
    [[nodiscard]] int Height() const { return m_height; }
    [[nodiscard]] bool NextIsKeyFrame() const { return m_framesToKey == 0; }
    [[nodiscard]] std::uint64_t FramesWritten() const { return m_framesWritten; }

  private:
    explicit CH264StreamWriter(const H264StreamOptions& options);

    H264AccessUnit WriteKeyFrame(const YuvPicture& picture);
    H264AccessUnit WriteDependentFrame(const YuvPicture& picture);

    int m_width;
    int m_height;
    int m_gopLength;
    std::uint32_t m_pocStep;
    int m_framesToKey;  // dependent frames still to come before the next key frame
    std::uint32_t m_frameNum = 0;
    std::uint32_t m_pocLsb = 0;
    std::uint32_t m_idrPicId = 0;
    std::uint64_t m_framesWritten = 0;
    // The decoder's reference picture: the last one written; empty before the first frame
    // and after a size change.
    std::optional<YuvPicture> m_reference;
};

}  // namespace taviro::sim
