// The slice rewriter on hand-made encoder output: headers with known fields, coded against
// parameter sets unlike the recorder's (other frame-number and order-count sizes, order
// count type 0 and 2, another initial QP, deblocking fields present), rewritten and read
// back against the parameter sets the client writes.
#include "sim/h264_slice_rewriter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/rbsp_bits.h"
#include "video/param_sets.h"

namespace taviro::sim {
namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 240;

using Bytes = std::vector<std::uint8_t>;

// An encoder's parameter sets, unlike the recorder's as x264's are: 4-bit frame numbers,
// order count type 2, another initial QP, deblocking fields in the slice header.
struct EncoderSets {
    H264SeqParams sps = RecorderSeqParams(kWidth, kHeight);
    H264PicParams pps = RecorderPicParams();

    EncoderSets() {
        sps.log2MaxFrameNum = 4;
        sps.pocType = 2;
        sps.log2MaxPocLsb = 4;
        pps.picInitQp = 31;
        pps.deblockingControl = true;
    }
    [[nodiscard]] Bytes Units() const { return WriteH264ParamSets(sps, pps); }
};

// Slice data: bytes full of zero runs, so emulation prevention is needed on both sides,
// cut to an odd bit count so nothing lines up with a byte by chance.
constexpr std::array<std::uint8_t, 12> kData = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                                0x03, 0xFF, 0x00, 0x00, 0x02, 0xB5};
constexpr std::size_t kDataBits = kData.size() * 8 - 3;

Bytes SliceUnit(const H264SliceHeader& h, const EncoderSets& sets) {
    platform::CRbspWriter w;
    WriteH264SliceHeader(w, h, sets.sps, sets.pps);
    AppendH264Bits(w, kData, 0, kDataBits);
    w.PutTrailingBits();
    Bytes out;
    const auto nalHeader = static_cast<std::uint8_t>((h.nalRefIdc << 5) | (h.idr ? 5 : 1));
    platform::AppendNalUnit(out, nalHeader, w.Bytes());
    return out;
}

H264SliceHeader Slice(bool idr, std::uint32_t frameNum, std::uint32_t pocLsb,
                      std::int32_t qpDelta) {
    H264SliceHeader h;
    h.idr = idr;
    h.sliceType = idr ? 7 : 5;
    h.frameNum = frameNum;
    h.pocLsb = pocLsb;
    h.idrPicId = idr ? 1 : 0;
    h.sliceQpDelta = qpDelta;
    if (!idr) {
        h.adaptiveMarking = false;
    }
    return h;
}

// The client's own parameter sets, read back from the bytes it writes.
struct ClientSets {
    H264SeqParams sps;
    H264PicParams pps;
};
ClientSets ReadClientSets() {
    std::array<std::uint8_t, video::kParamSetBufferSize> buffer{};
    const std::size_t n = video::WriteParameterSets(kWidth, kHeight, buffer);
    const auto units = platform::SplitAnnexB(std::span(buffer).first(n));
    EXPECT_EQ(units.size(), 2u);
    std::string why;
    const auto sps = ParseH264Sps(platform::UnescapeRbsp(units.at(0).subspan(1)), &why);
    const auto pps = ParseH264Pps(platform::UnescapeRbsp(units.at(1).subspan(1)), &why);
    EXPECT_TRUE(sps && pps) << why;
    return {sps.value_or(H264SeqParams{}), pps.value_or(H264PicParams{})};
}

struct ReadBack {
    std::uint8_t nalHeader = 0;
    H264SliceHeader header;
    Bytes data;  // the slice data bits, left-aligned
    std::size_t dataBits = 0;
};

ReadBack ParseOutput(const Bytes& unit, const ClientSets& client) {
    ReadBack r;
    const auto nals = platform::SplitAnnexB(unit);
    EXPECT_EQ(nals.size(), 1u);
    if (nals.size() != 1 || nals[0].empty()) {
        return r;
    }
    r.nalHeader = nals[0][0];
    const Bytes rbsp = platform::UnescapeRbsp(nals[0].subspan(1));
    std::size_t dataBit = 0;
    std::string why;
    const auto h = ParseH264SliceHeader(r.nalHeader, rbsp, client.sps, client.pps, &dataBit, &why);
    EXPECT_TRUE(h) << why;
    if (h) {
        r.header = *h;
    }
    // The data end at the stop bit, the last one bit.
    std::size_t stopBit = rbsp.size() * 8;
    while (stopBit > dataBit && ((rbsp[(stopBit - 1) / 8] >> (7 - (stopBit - 1) % 8)) & 1u) == 0) {
        --stopBit;
    }
    r.dataBits = stopBit > dataBit ? stopBit - 1 - dataBit : 0;
    platform::CRbspWriter data;
    AppendH264Bits(data, rbsp, dataBit, dataBit + r.dataBits);
    data.AlignWithZeros();
    r.data = data.Bytes();
    return r;
}

// The output's slice data are the input's, bit for bit.
void ExpectDataCarried(const ReadBack& r) {
    platform::CRbspWriter want;
    AppendH264Bits(want, kData, 0, kDataBits);
    want.AlignWithZeros();
    EXPECT_EQ(r.dataBits, kDataBits);
    EXPECT_EQ(r.data, want.Bytes());
}

// The rewriter's idea of the client's parameter sets is the client's, byte for byte, and
// the parser reads them back to the same fields.
TEST(H264SliceRewriter, ClientParameterSetsAreTheOnesTheRewriterWritesFor) {
    for (const auto& [width, height] : {std::pair{352, 240}, std::pair{720, 576}}) {
        std::array<std::uint8_t, video::kParamSetBufferSize> buffer{};
        const std::size_t n = video::WriteParameterSets(static_cast<std::uint32_t>(width),
                                                        static_cast<std::uint32_t>(height), buffer);
        const H264SeqParams sps = RecorderSeqParams(width, height);
        const H264PicParams pps = RecorderPicParams();
        EXPECT_EQ(WriteH264ParamSets(sps, pps),
                  Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n)));
    }
    const ClientSets client = ReadClientSets();
    EXPECT_EQ(client.sps.log2MaxFrameNum, 9u);
    EXPECT_EQ(client.sps.pocType, 0u);
    EXPECT_EQ(client.sps.log2MaxPocLsb, 10u);
    EXPECT_EQ(client.sps.mbWidth, 22u);
    EXPECT_EQ(client.sps.mbHeight, 15u);
    EXPECT_EQ(client.pps.picInitQp, 26);
    EXPECT_EQ(client.pps.chromaQpOffset, 2);
    EXPECT_FALSE(client.pps.deblockingControl);
    EXPECT_TRUE(client.pps.constrainedIntra);
}

// Both order count types, frame numbers and order counts wrapping on the encoder's side
// well before the recorder's, a second IDR picture restarting the count, QP deltas either
// way of the new initial QP, and reference list and marking fields carried over.
TEST(H264SliceRewriter, RewritesEveryFieldForTheClientsParameterSets) {
    const ClientSets client = ReadClientSets();
    for (const std::uint32_t pocType : {2u, 0u}) {
        SCOPED_TRACE("order count type " + std::to_string(pocType));
        EncoderSets sets;
        sets.sps.pocType = pocType;
        CH264SliceRewriter rewriter(kWidth, kHeight);
        std::uint32_t sinceIdr = 0;
        for (std::uint32_t i = 0; i < 40; ++i, ++sinceIdr) {
            const bool idr = i == 0 || i == 25;
            if (idr) {
                sinceIdr = 0;
            }
            const std::int32_t qpDelta = static_cast<std::int32_t>(i % 7) - 3;
            H264SliceHeader in = Slice(idr, sinceIdr % 16, (2 * sinceIdr) % 16, qpDelta);
            if (i == 25) {
                in.idrPicId = 0;
                in.noOutputOfPriorPics = true;
            }
            if (i == 7) {
                in.refListModified = true;
                in.refListChanges = {{0, 0}};
                in.adaptiveMarking = true;
                in.markingOps = {{1, 0, 0}};
            }
            Bytes unit = i == 0 ? sets.Units() : Bytes{};
            const Bytes slice = SliceUnit(in, sets);
            unit.insert(unit.end(), slice.begin(), slice.end());
            std::string why;
            const auto out = rewriter.Rewrite(unit, &why);
            ASSERT_TRUE(out) << "picture " << i << ": " << why;
            EXPECT_EQ(out->idr, idr);
            const ReadBack r = ParseOutput(out->bytes, client);
            SCOPED_TRACE("picture " + std::to_string(i));
            EXPECT_EQ(r.nalHeader, idr ? 0x65 : 0x61);
            EXPECT_EQ(r.header.firstMb, 0u);
            EXPECT_EQ(r.header.sliceType, in.sliceType);
            EXPECT_EQ(r.header.ppsId, 0u);
            EXPECT_EQ(r.header.frameNum, sinceIdr);
            EXPECT_EQ(r.header.pocLsb, 2 * sinceIdr);
            EXPECT_EQ(r.header.idrPicId, in.idrPicId);
            EXPECT_EQ(31 + qpDelta, 26 + r.header.sliceQpDelta);
            EXPECT_FALSE(r.header.refIdxOverride);
            EXPECT_EQ(r.header.refListModified, in.refListModified);
            EXPECT_EQ(r.header.refListChanges, in.refListChanges);
            EXPECT_EQ(r.header.noOutputOfPriorPics, in.noOutputOfPriorPics);
            EXPECT_EQ(r.header.adaptiveMarking, in.adaptiveMarking);
            EXPECT_EQ(r.header.markingOps, in.markingOps);
            ExpectDataCarried(r);
        }
    }
}

// Past 512 reference pictures the recorder's frame_num and (at 2 per picture) its order
// count lsb wrap themselves.
TEST(H264SliceRewriter, LongGroupWrapsTheRecordersNumbers) {
    const ClientSets client = ReadClientSets();
    EncoderSets sets;
    sets.sps.log2MaxFrameNum = 16;
    CH264SliceRewriter rewriter(kWidth, kHeight);
    for (std::uint32_t i = 0; i < 600; ++i) {
        Bytes unit = i == 0 ? sets.Units() : Bytes{};
        const Bytes slice = SliceUnit(Slice(i == 0, i, 0, 0), sets);
        unit.insert(unit.end(), slice.begin(), slice.end());
        const auto out = rewriter.Rewrite(unit);
        ASSERT_TRUE(out) << i;
        const ReadBack r = ParseOutput(out->bytes, client);
        ASSERT_EQ(r.header.frameNum, i % 512) << i;
        ASSERT_EQ(r.header.pocLsb, (2 * i) % 1024) << i;
    }
}

// Each bad unit is refused with a reason and leaves the stream's numbering as it was: the
// next good picture still comes out as picture 1.
TEST(H264SliceRewriter, RefusesWhatTheClientsParameterSetsCannotCarry) {
    const ClientSets client = ReadClientSets();
    const EncoderSets good;
    struct Case {
        const char* name;
        Bytes unit;
    };
    const auto with = [&](EncoderSets sets, const H264SliceHeader& h) {
        Bytes unit = sets.Units();
        const Bytes slice = SliceUnit(h, sets);
        unit.insert(unit.end(), slice.begin(), slice.end());
        return unit;
    };
    EncoderSets cabac = good;
    cabac.pps.cabac = true;
    EncoderSets chroma = good;
    chroma.pps.chromaQpOffset = 0;
    EncoderSets bigger = good;
    bigger.sps.mbWidth += 1;
    H264SliceHeader noFilter = Slice(false, 1, 2, 0);
    noFilter.deblockingIdc = 1;
    H264SliceHeader softer = Slice(false, 1, 2, 0);
    softer.alphaOffsetDiv2 = 1;
    H264SliceHeader twoRefs = Slice(false, 1, 2, 0);
    twoRefs.refIdxOverride = true;
    twoRefs.refIdxL0ActiveMinus1 = 1;
    H264SliceHeader bSlice = Slice(false, 1, 2, 0);
    bSlice.sliceType = 6;
    H264SliceHeader qpLow = Slice(false, 1, 2, -32);
    EncoderSets twoFrames = good;
    twoFrames.sps.maxRefFrames = 2;
    H264SliceHeader longTerm = Slice(true, 0, 0, 0);
    longTerm.longTermReference = true;
    Bytes truncated = SliceUnit(Slice(false, 1, 2, 0), good);
    truncated.resize(7);
    const std::vector<Case> cases = {
        {"gap in frame numbers", SliceUnit(Slice(false, 3, 6, 0), good)},
        {"deblocking off", SliceUnit(noFilter, good)},
        {"deblocking offset", SliceUnit(softer, good)},
        {"two references", SliceUnit(twoRefs, good)},
        {"B slice", SliceUnit(bSlice, good)},
        {"QP below 0", SliceUnit(qpLow, good)},
        {"truncated header", truncated},
        {"CABAC", with(cabac, Slice(false, 1, 2, 0))},
        {"chroma QP offset", with(chroma, Slice(false, 1, 2, 0))},
        {"two reference frames", with(twoFrames, Slice(false, 1, 2, 0))},
        {"long-term reference", SliceUnit(longTerm, good)},
        {"picture size", with(bigger, Slice(false, 1, 2, 0))},
        {"no start code", Bytes{0x65, 0x88, 0x84, 0x00}},
        {"junk before start code", Bytes{0x01, 0x00, 0x00, 0x01, 0x65, 0x88}},
        {"only an SEI", Bytes{0x00, 0x00, 0x01, 0x06, 0x05, 0x01, 0x00, 0x80}},
        {"data partition", Bytes{0x00, 0x00, 0x01, 0x22, 0x88, 0x80}},
    };
    CH264SliceRewriter rewriter(kWidth, kHeight);
    {
        // Before any parameter set or IDR picture.
        std::string why;
        EXPECT_FALSE(rewriter.Rewrite(SliceUnit(Slice(true, 0, 0, 0), good), &why));
        Bytes first = good.Units();
        const Bytes p = SliceUnit(Slice(false, 1, 2, 0), good);
        first.insert(first.end(), p.begin(), p.end());
        EXPECT_FALSE(rewriter.Rewrite(first, &why));
        EXPECT_FALSE(why.empty());
    }
    Bytes start = good.Units();
    const Bytes idr = SliceUnit(Slice(true, 0, 0, 0), good);
    start.insert(start.end(), idr.begin(), idr.end());
    ASSERT_TRUE(rewriter.Rewrite(start));
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(rewriter.Rewrite(c.unit, &why)) << c.name;
        EXPECT_FALSE(why.empty()) << c.name;
    }
    const auto next = rewriter.Rewrite(SliceUnit(Slice(false, 1, 2, 0), good));
    ASSERT_TRUE(next);
    EXPECT_EQ(ParseOutput(next->bytes, client).header.frameNum, 1u);
    EXPECT_EQ(ParseOutput(next->bytes, client).header.pocLsb, 2u);
}

}  // namespace
}  // namespace taviro::sim
