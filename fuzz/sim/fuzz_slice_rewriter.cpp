// Arbitrary encoder output fed to the slice rewriter one access unit after another: nothing
// is read past a buffer, and every unit it accepts is what the client can decode against
// its own parameter sets: slice NAL units only, each header readable with them, frame
// numbers and order counts in range, and no start code inside a unit.
//
// Input: byte 0 picks the picture size (bits 0-1: 352 x 240, 704 x 480, 720 x 576,
// 16 x 16); then access units, each a 2-byte big-endian length and that many bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "../fuzz_check.h"
#include "platform/rbsp_bits.h"
#include "sim/h264_slice_rewriter.h"

using namespace taviro::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    constexpr std::array<std::array<int, 2>, 4> kSizes = {
        {{352, 240}, {704, 480}, {720, 576}, {16, 16}}};
    const auto [width, height] = kSizes[data[0] & 3u];
    const H264SeqParams sps = RecorderSeqParams(width, height);
    const H264PicParams pps = RecorderPicParams();
    CH264SliceRewriter rewriter(width, height);
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    while (rest.size() >= 2) {
        const std::size_t length = std::min<std::size_t>(
            (static_cast<std::size_t>(rest[0]) << 8) | rest[1], rest.size() - 2);
        const auto unit = rest.subspan(2, length);
        rest = rest.subspan(2 + length);
        std::string why;
        const auto out = rewriter.Rewrite(unit, &why);
        if (!out) {
            TAVIRO_FUZZ_CHECK(!why.empty());
            continue;
        }
        TAVIRO_FUZZ_CHECK(out->frameNum < 512 && out->pocLsb < 1024);
        const auto nals = taviro::platform::SplitAnnexB(out->bytes);
        TAVIRO_FUZZ_CHECK(!nals.empty());
        for (const auto nal : nals) {
            TAVIRO_FUZZ_CHECK(!nal.empty());
            const std::uint8_t type = nal[0] & 0x1F;
            TAVIRO_FUZZ_CHECK(type == (out->idr ? 5 : 1));
            // A start code inside the unit would have split it differently.
            for (std::size_t i = 2; i < nal.size(); ++i) {
                TAVIRO_FUZZ_CHECK(!(nal[i - 2] == 0 && nal[i - 1] == 0 && nal[i] <= 2));
            }
            const auto h = ParseH264SliceHeader(
                nal[0], taviro::platform::UnescapeRbsp(nal.subspan(1)), sps, pps);
            TAVIRO_FUZZ_CHECK(h.has_value());
            TAVIRO_FUZZ_CHECK(h->frameNum == out->frameNum && h->pocLsb == out->pocLsb);
        }
    }
    return 0;
}
