// The sequence parameter set rewriting in front of the H.264 decoder.
//
// libavcodec holds pictures back when it guesses that a stream reorders them: without VUI it
// infers reordering from picture order counts that step by more than 2, and under strict
// compliance it assumes the largest reorder buffer. The recorders never reorder but step
// their counts freely, and the client's own sequence parameter set carries no VUI. So every
// sequence parameter set without VUI is handed to the decoder with a VUI that has only the
// bitstream restriction: no reordering, a decoded picture buffer of the reference frame
// count. Sets that already have VUI, use scaling matrices or do not parse stay as they are.
//
// Headless and Qt-free. Every read of the set is bounded (platform/rbsp_bits.h), so hostile
// bytes only ever leave a set unchanged.
//
// Threads and ownership: the functions are pure; a CSpsRewriter belongs to one decoder
// instance and is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace taviro::platform {

// What a sequence parameter set says up to and including its VUI flag, as far as the
// rewriting and a picture size need it.
struct SpsHead {
    std::uint32_t profile = 0;
    std::uint32_t refFrames = 0;       // max_num_ref_frames, at most 16
    std::uint32_t widthMbs = 0;        // pic_width_in_mbs
    std::uint32_t heightMapUnits = 0;  // pic_height_in_map_units
    bool frameMbsOnly = true;
    std::size_t vuiFlagBit = 0;  // where vui_parameters_present_flag is in the RBSP
    bool vui = false;
};

// Parses a sequence parameter set RBSP (the bytes after the NAL header, emulation prevention
// removed) up to its VUI flag; nullopt for a set that uses scaling matrices, has a field out
// of range, or ends early.
[[nodiscard]] std::optional<SpsHead> ParseSpsHead(std::span<const std::uint8_t> rbsp);

// The same RBSP with the no-reorder VUI in place of the clear VUI flag; nullopt for a set
// that is to stay as it is.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> AddNoReorderVui(
    std::span<const std::uint8_t> rbsp);

// The same for a whole NAL unit as it stands between two start codes (the header byte, then
// the escaped payload): the rewritten unit, escaped again, or nullopt (also for a unit whose
// header is not that of a sequence parameter set).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> RewriteSpsNalUnit(
    std::span<const std::uint8_t> nal);

// RewriteSpsNalUnit for a stream, where the same set comes in front of every key frame: the
// last set and its rewritten form are kept, so a repeated set costs one comparison.
class CSpsRewriter {
  public:
    // The unit to hand the decoder instead of `nal` (a sequence parameter set NAL unit
    // without start code), or null when `nal` stays as it is. The bytes stay valid until the
    // next call.
    const std::vector<std::uint8_t>* Rewrite(std::span<const std::uint8_t> nal);

  private:
    std::vector<std::uint8_t> m_lastIn;  // empty: the last set was left alone
    std::vector<std::uint8_t> m_lastOut;
};

}  // namespace taviro::platform
