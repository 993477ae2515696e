// A sequence parameter set NAL unit from arbitrary bytes (the header byte, then the escaped
// payload, as it stands between two start codes) through the decoder's rewriting: nothing is
// read past the input, and a set it rewrites keeps its header byte and every bit in front of
// the VUI flag, gains exactly the no-reorder VUI, contains no start code, and is left alone
// when it comes again.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "../fuzz_check.h"
#include "platform/rbsp_bits.h"
#include "platform/sps_rewriter.h"

namespace platform = taviro::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> nal(data, size);
    const auto out = platform::RewriteSpsNalUnit(nal);
    if (size == 0) {
        TAVIRO_FUZZ_CHECK(!out);
        return 0;
    }
    const std::vector<std::uint8_t> before = platform::UnescapeRbsp(nal.subspan(1));
    const auto headBefore = platform::ParseSpsHead(before);
    const bool spsHeader = (data[0] & 0x9F) == 7;
    TAVIRO_FUZZ_CHECK(out.has_value() == (spsHeader && headBefore.has_value() && !headBefore->vui));
    if (!out) {
        return 0;
    }
    TAVIRO_FUZZ_CHECK(!out->empty() && (*out)[0] == data[0]);
    for (std::size_t i = 2; i < out->size(); ++i) {
        TAVIRO_FUZZ_CHECK(!((*out)[i - 2] == 0 && (*out)[i - 1] == 0 && (*out)[i] <= 2));
    }

    const std::vector<std::uint8_t> after = platform::UnescapeRbsp(std::span(*out).subspan(1));
    const auto headAfter = platform::ParseSpsHead(after);
    TAVIRO_FUZZ_CHECK(headAfter.has_value() && headAfter->vui);
    TAVIRO_FUZZ_CHECK(headAfter->vuiFlagBit == headBefore->vuiFlagBit);
    TAVIRO_FUZZ_CHECK(headAfter->profile == headBefore->profile);
    TAVIRO_FUZZ_CHECK(headAfter->refFrames == headBefore->refFrames);
    TAVIRO_FUZZ_CHECK(headAfter->widthMbs == headBefore->widthMbs);
    TAVIRO_FUZZ_CHECK(headAfter->heightMapUnits == headBefore->heightMapUnits);
    TAVIRO_FUZZ_CHECK(headAfter->frameMbsOnly == headBefore->frameMbsOnly);

    platform::CRbspReader a(before);
    platform::CRbspReader b(after);
    for (std::size_t bit = 0; bit < headBefore->vuiFlagBit; ++bit) {
        TAVIRO_FUZZ_CHECK(a.ReadBit() == b.ReadBit());
    }
    TAVIRO_FUZZ_CHECK(b.ReadBit());         // vui_parameters_present_flag
    TAVIRO_FUZZ_CHECK(b.ReadBits(8) == 0);  // no other VUI field
    TAVIRO_FUZZ_CHECK(b.ReadBits(2) == 3);  // bitstream restriction, motion vectors
    TAVIRO_FUZZ_CHECK(b.ReadUe() == 0 && b.ReadUe() == 0);
    TAVIRO_FUZZ_CHECK(b.ReadUe() == 15 && b.ReadUe() == 15);
    TAVIRO_FUZZ_CHECK(b.ReadUe() == 0);  // max_num_reorder_frames
    TAVIRO_FUZZ_CHECK(b.ReadUe() == (headBefore->refFrames > 0 ? headBefore->refFrames : 1));
    TAVIRO_FUZZ_CHECK(b.AtTrailingBits());

    TAVIRO_FUZZ_CHECK(!platform::RewriteSpsNalUnit(*out));
    platform::CSpsRewriter rewriter;
    const auto* first = rewriter.Rewrite(nal);
    TAVIRO_FUZZ_CHECK(first != nullptr && *first == *out);
    TAVIRO_FUZZ_CHECK(rewriter.Rewrite(nal) == first && *first == *out);
    return 0;
}
