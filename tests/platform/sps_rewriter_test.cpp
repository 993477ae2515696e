// The sequence parameter set rewriting: the client's own sets and other encoders' sets gain
// the no-reorder VUI with every field in front of it kept; sets it must not touch, and
// hostile ones, stay as they are.
#include "platform/sps_rewriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/rbsp_bits.h"
#include "video/param_sets.h"

namespace taviro::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The client's own sequence parameter set NAL unit for a picture size (no start code).
Bytes OwnSps(std::uint32_t width, std::uint32_t height) {
    std::array<std::uint8_t, video::kParamSetBufferSize> buffer{};
    const std::size_t n = video::WriteParameterSets(width, height, buffer);
    const auto units = SplitAnnexB(std::span<const std::uint8_t>(buffer).first(n));
    EXPECT_EQ(units.size(), 2u);
    return units.empty() ? Bytes{} : Bytes(units[0].begin(), units[0].end());
}

// What an encoder may put in a sequence parameter set, written as the syntax orders it.
struct SpsFields {
    std::uint32_t profile = 66;
    std::uint32_t chromaFormat = 1;  // high profiles only
    bool scalingMatrix = false;
    std::uint32_t pocType = 0;
    std::uint32_t pocCycle = 0;  // type 1
    std::uint32_t refFrames = 1;
    std::uint32_t widthMbs = 22;
    std::uint32_t heightMapUnits = 15;
    bool frameMbsOnly = true;
    std::optional<std::uint32_t> crop;  // all four offsets
    bool vui = false;
};

Bytes SpsRbsp(const SpsFields& f) {
    CRbspWriter w;
    w.PutBits(f.profile, 8);
    w.PutBits(0, 8);
    w.PutBits(30, 8);
    w.PutUe(0);
    if (f.profile == 100 || f.profile == 244) {
        w.PutUe(f.chromaFormat);
        if (f.chromaFormat == 3) {
            w.PutBit(false);
        }
        w.PutUe(0);
        w.PutUe(0);
        w.PutBit(false);
        w.PutBit(f.scalingMatrix);
    }
    w.PutUe(5);
    w.PutUe(f.pocType);
    if (f.pocType == 0) {
        w.PutUe(6);
    } else if (f.pocType == 1) {
        w.PutBit(false);
        w.PutSe(-3);
        w.PutSe(7);
        w.PutUe(f.pocCycle);
        for (std::uint32_t i = 0; i < f.pocCycle; ++i) {
            w.PutSe(static_cast<std::int32_t>(i) - 1);
        }
    }
    w.PutUe(f.refFrames);
    w.PutBit(false);
    w.PutUe(f.widthMbs - 1);
    w.PutUe(f.heightMapUnits - 1);
    w.PutBit(f.frameMbsOnly);
    if (!f.frameMbsOnly) {
        w.PutBit(true);
    }
    w.PutBit(true);
    w.PutBit(f.crop.has_value());
    if (f.crop) {
        for (int i = 0; i < 4; ++i) {
            w.PutUe(*f.crop);
        }
    }
    w.PutBit(f.vui);
    if (f.vui) {
        w.PutBits(0, 9);  // every VUI field absent
    }
    w.PutTrailingBits();
    return w.Bytes();
}

Bytes SpsNal(const SpsFields& f) {
    Bytes unit{0x67};
    AppendEscapedRbsp(unit, SpsRbsp(f));
    return unit;
}

// Checks that `rewritten` (a NAL unit) is `original` with the no-reorder VUI: the same
// header byte and bits up to the VUI flag, then only the bitstream restriction.
void ExpectNoReorderVui(const Bytes& original, const Bytes& rewritten,
                        std::uint32_t expectedBuffering) {
    ASSERT_FALSE(rewritten.empty());
    EXPECT_EQ(rewritten[0], original[0]);
    for (std::size_t i = 2; i < rewritten.size(); ++i) {
        ASSERT_FALSE(rewritten[i - 2] == 0 && rewritten[i - 1] == 0 && rewritten[i] <= 2)
            << "a start code at byte " << i;
    }
    const Bytes before = UnescapeRbsp(std::span(original).subspan(1));
    const Bytes after = UnescapeRbsp(std::span(rewritten).subspan(1));
    const auto headBefore = ParseSpsHead(before);
    const auto headAfter = ParseSpsHead(after);
    ASSERT_TRUE(headBefore && headAfter);
    EXPECT_FALSE(headBefore->vui);
    EXPECT_TRUE(headAfter->vui);
    ASSERT_EQ(headAfter->vuiFlagBit, headBefore->vuiFlagBit);
    CRbspReader a(before);
    CRbspReader b(after);
    for (std::size_t bit = 0; bit < headBefore->vuiFlagBit; ++bit) {
        ASSERT_EQ(a.ReadBit(), b.ReadBit()) << "bit " << bit;
    }
    EXPECT_TRUE(b.ReadBit());                  // vui_parameters_present_flag
    EXPECT_EQ(b.ReadBits(8), 0u);              // aspect ratio .. picture structure: none
    EXPECT_TRUE(b.ReadBit());                  // bitstream_restriction_flag
    EXPECT_TRUE(b.ReadBit());                  // motion vectors over picture boundaries
    EXPECT_EQ(b.ReadUe(), 0u);                 // max_bytes_per_pic_denom
    EXPECT_EQ(b.ReadUe(), 0u);                 // max_bits_per_mb_denom
    EXPECT_EQ(b.ReadUe(), 15u);                // log2_max_mv_length_horizontal
    EXPECT_EQ(b.ReadUe(), 15u);                // log2_max_mv_length_vertical
    EXPECT_EQ(b.ReadUe(), 0u);                 // max_num_reorder_frames
    EXPECT_EQ(b.ReadUe(), expectedBuffering);  // max_dec_frame_buffering
    EXPECT_TRUE(b.AtTrailingBits());
    EXPECT_FALSE(b.Failed());
}

TEST(SpsRewriter, TheClientsOwnSetsGainTheNoReorderVui) {
    for (const auto& [width, height] :
         {std::pair{352U, 240U}, std::pair{704U, 480U}, std::pair{720U, 576U}, std::pair{16U, 16U},
          std::pair{4080U, 4080U}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const Bytes own = OwnSps(width, height);
        const auto head = ParseSpsHead(UnescapeRbsp(std::span(own).subspan(1)));
        ASSERT_TRUE(head);
        EXPECT_EQ(head->profile, 66u);
        EXPECT_EQ(head->refFrames, 1u);
        EXPECT_EQ(head->widthMbs, width / 16);
        EXPECT_EQ(head->heightMapUnits, height / 16);
        EXPECT_TRUE(head->frameMbsOnly);
        const auto rewritten = RewriteSpsNalUnit(own);
        ASSERT_TRUE(rewritten);
        ExpectNoReorderVui(own, *rewritten, 1);
        // Once it has VUI it is left alone.
        EXPECT_FALSE(RewriteSpsNalUnit(*rewritten));
    }
}

// Other encoders' sets: the high-profile fields, order count types 1 and 2, field coding,
// cropping, and a decoded picture buffer as large as the reference frames.
TEST(SpsRewriter, EveryFieldInFrontOfTheVuiIsKept) {
    std::vector<SpsFields> cases;
    SpsFields high;
    high.profile = 100;
    high.chromaFormat = 3;
    high.refFrames = 4;
    cases.push_back(high);
    SpsFields cycle;
    cycle.pocType = 1;
    cycle.pocCycle = 5;
    cycle.refFrames = 16;
    cases.push_back(cycle);
    SpsFields fields;
    fields.pocType = 2;
    fields.frameMbsOnly = false;
    fields.refFrames = 0;
    fields.crop = 3;
    cases.push_back(fields);
    // Crop offsets of 2^24 code with 24 leading zeros: escaped in the unit, and the
    // rewritten unit must be escaped again.
    SpsFields escaped;
    escaped.crop = 0x1000000;
    cases.push_back(escaped);
    ASSERT_GT(SpsNal(escaped).size(), SpsRbsp(escaped).size() + 1) << "no escape to undo";
    for (const SpsFields& f : cases) {
        SCOPED_TRACE(testing::Message()
                     << "profile " << f.profile << ", order count type " << f.pocType);
        const Bytes nal = SpsNal(f);
        const auto head = ParseSpsHead(UnescapeRbsp(std::span(nal).subspan(1)));
        ASSERT_TRUE(head);
        EXPECT_EQ(head->refFrames, f.refFrames);
        EXPECT_EQ(head->widthMbs, f.widthMbs);
        EXPECT_EQ(head->heightMapUnits, f.heightMapUnits);
        EXPECT_EQ(head->frameMbsOnly, f.frameMbsOnly);
        const auto rewritten = RewriteSpsNalUnit(nal);
        ASSERT_TRUE(rewritten);
        ExpectNoReorderVui(nal, *rewritten, std::max<std::uint32_t>(f.refFrames, 1));
    }
}

TEST(SpsRewriter, SetsItMustNotTouchStayAsTheyAre) {
    SpsFields withVui;
    withVui.vui = true;
    SpsFields scaling;
    scaling.profile = 100;
    scaling.scalingMatrix = true;
    SpsFields badPoc;
    badPoc.pocType = 3;
    SpsFields tooManyRefs;
    tooManyRefs.refFrames = 17;
    SpsFields longCycle;
    longCycle.pocType = 1;
    longCycle.pocCycle = 256;
    for (const SpsFields& f : {withVui, scaling, badPoc, tooManyRefs, longCycle}) {
        EXPECT_FALSE(RewriteSpsNalUnit(SpsNal(f)));
    }
    // Only a sequence parameter set's header (type 7, forbidden bit clear) is rewritten.
    for (const std::uint8_t header : {std::uint8_t{0x00}, std::uint8_t{0x68}, std::uint8_t{0xE7}}) {
        Bytes unit = SpsNal(SpsFields{});
        unit[0] = header;
        EXPECT_FALSE(RewriteSpsNalUnit(unit)) << int{header};
    }
    EXPECT_TRUE(RewriteSpsNalUnit(SpsNal(SpsFields{})));
    EXPECT_TRUE(ParseSpsHead(SpsRbsp(withVui)).has_value());
    EXPECT_FALSE(ParseSpsHead(SpsRbsp(scaling)).has_value());

    // Every set cut in front of its VUI flag (all but its last byte, which holds only the
    // stop bit) is refused, and every one with a byte spoilt is refused or rewritten whole;
    // nothing is read past the bytes (ASan watches).
    const Bytes own = OwnSps(704, 480);
    ASSERT_EQ(own.back(), 0x80);
    for (std::size_t size = 0; size + 1 < own.size(); ++size) {
        EXPECT_FALSE(RewriteSpsNalUnit(std::span(own).first(size))) << size;
    }
    for (std::size_t at = 1; at < own.size(); ++at) {
        for (const std::uint8_t value :
             {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x03}}) {
            Bytes spoilt = own;
            spoilt[at] = value;
            if (const auto out = RewriteSpsNalUnit(spoilt)) {
                EXPECT_FALSE(RewriteSpsNalUnit(*out)) << at;
            }
        }
    }
}

TEST(SpsRewriter, AStreamsRepeatedSetIsRewrittenOnce) {
    CSpsRewriter rewriter;
    const Bytes first = OwnSps(704, 480);
    const auto* out = rewriter.Rewrite(first);
    ASSERT_NE(out, nullptr);
    const Bytes kept = *out;
    EXPECT_EQ(rewriter.Rewrite(first), out);
    EXPECT_EQ(*out, kept);
    EXPECT_EQ(kept, *RewriteSpsNalUnit(first));

    SpsFields withVui;
    withVui.vui = true;
    EXPECT_EQ(rewriter.Rewrite(SpsNal(withVui)), nullptr);
    EXPECT_EQ(rewriter.Rewrite(Bytes{}), nullptr);
    // A new size: a new set.
    const Bytes second = OwnSps(352, 240);
    const auto* again = rewriter.Rewrite(second);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(*again, *RewriteSpsNalUnit(second));
}

}  // namespace
}  // namespace taviro::platform
