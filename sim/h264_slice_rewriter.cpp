#include "sim/h264_slice_rewriter.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "platform/rbsp_bits.h"

namespace taviro::sim {

namespace {

constexpr std::uint8_t kNalSlice = 1;
constexpr std::uint8_t kNalIdr = 5;
constexpr std::uint8_t kNalSei = 6;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kNalPps = 8;
constexpr std::uint8_t kNalDelimiter = 9;
constexpr std::uint8_t kNalEndOfSequence = 10;
constexpr std::uint8_t kNalEndOfStream = 11;
constexpr std::uint8_t kNalFiller = 12;

// H.264 keeps QP within 0..51 (8-bit video).
constexpr std::int32_t kMaxQp = 51;

template <typename T>
std::optional<T> Fail(std::string* error, const std::string& why) {
    if (error != nullptr) {
        *error = why;
    }
    return std::nullopt;
}

}  // namespace

H264SeqParams RecorderSeqParams(int width, int height) {
    H264SeqParams s;
    s.mbWidth = static_cast<std::uint32_t>(width / 16);
    s.mbHeight = static_cast<std::uint32_t>(height / 16);
    return s;  // every other field's default is the recorder's value
}

H264PicParams RecorderPicParams() {
    return {};
}

std::vector<std::uint8_t> WriteH264ParamSets(const H264SeqParams& sps, const H264PicParams& pps) {
    std::vector<std::uint8_t> out;
    platform::CRbspWriter s;
    s.PutBits(sps.profileIdc, 8);
    s.PutBits(0, 8);   // constraint flags, reserved bits
    s.PutBits(30, 8);  // level 3.0
    s.PutUe(sps.id);
    s.PutUe(sps.log2MaxFrameNum - 4);
    s.PutUe(sps.pocType);
    if (sps.pocType == 0) {
        s.PutUe(sps.log2MaxPocLsb - 4);
    }
    s.PutUe(sps.maxRefFrames);
    s.PutBit(false);  // gaps_in_frame_num_value_allowed_flag
    s.PutUe(sps.mbWidth - 1);
    s.PutUe(sps.mbHeight - 1);
    s.PutBit(sps.frameMbsOnly);
    if (!sps.frameMbsOnly) {
        s.PutBit(false);  // mb_adaptive_frame_field_flag
    }
    s.PutBit(true);  // direct_8x8_inference_flag
    s.PutBit(sps.cropping);
    if (sps.cropping) {
        s.PutUe(0);
        s.PutUe(0);
        s.PutUe(0);
        s.PutUe(0);
    }
    s.PutBit(false);  // vui_parameters_present_flag
    s.PutTrailingBits();
    platform::AppendNalUnit(out, 0x67, s.Bytes());
    platform::CRbspWriter p;
    p.PutUe(pps.id);
    p.PutUe(pps.spsId);
    p.PutBit(pps.cabac);
    p.PutBit(pps.bottomFieldPocPresent);
    p.PutUe(pps.sliceGroups - 1);
    p.PutUe(pps.refIdxL0Default - 1);
    p.PutUe(0);  // num_ref_idx_l1_default_active - 1
    p.PutBit(pps.weightedPred);
    p.PutBits(pps.weightedBipredIdc, 2);
    p.PutSe(pps.picInitQp - 26);
    p.PutSe(0);  // pic_init_qs - 26
    p.PutSe(pps.chromaQpOffset);
    p.PutBit(pps.deblockingControl);
    p.PutBit(pps.constrainedIntra);
    p.PutBit(pps.redundantPicCnt);
    p.PutTrailingBits();
    platform::AppendNalUnit(out, 0x68, p.Bytes());
    return out;
}

std::optional<H264SeqParams> ParseH264Sps(std::span<const std::uint8_t> rbsp, std::string* error) {
    platform::CRbspReader in(rbsp);
    H264SeqParams s;
    s.profileIdc = in.ReadBits(8);
    in.ReadBits(16);  // constraint flags, reserved bits, level_idc
    s.id = in.ReadUe();
    // Every profile with the chroma format fields (the high profiles, 44, and the
    // scalable ones 83 and 86): their SPS has a layout this reader does not follow.
    if (s.profileIdc >= 100 || s.profileIdc == 44 || s.profileIdc == 83 || s.profileIdc == 86) {
        return Fail<H264SeqParams>(error, "SPS: profile with chroma format fields");
    }
    const std::uint32_t log2FrameNum = in.ReadUe();
    s.pocType = in.ReadUe();
    if (in.Failed() || s.id > 31 || log2FrameNum > 12) {
        return Fail<H264SeqParams>(error, "SPS: bad id or frame number size");
    }
    s.log2MaxFrameNum = log2FrameNum + 4;
    if (s.pocType == 0) {
        const std::uint32_t log2Poc = in.ReadUe();
        if (log2Poc > 12) {
            return Fail<H264SeqParams>(error, "SPS: bad picture order count size");
        }
        s.log2MaxPocLsb = log2Poc + 4;
    } else if (s.pocType != 2) {
        return Fail<H264SeqParams>(error, "SPS: picture order count type must be 0 or 2");
    }
    s.maxRefFrames = in.ReadUe();
    in.ReadBit();  // gaps_in_frame_num_value_allowed_flag: the rewriter refuses gaps anyway
    const std::uint32_t widthMinus1 = in.ReadUe();
    const std::uint32_t heightMinus1 = in.ReadUe();
    s.frameMbsOnly = in.ReadBit();
    if (in.Failed() || widthMinus1 >= 1024 || heightMinus1 >= 1024) {
        return Fail<H264SeqParams>(error, "SPS: truncated or picture too large");
    }
    s.mbWidth = widthMinus1 + 1;
    s.mbHeight = heightMinus1 + 1;
    if (!s.frameMbsOnly) {
        in.ReadBit();  // mb_adaptive_frame_field_flag
    }
    in.ReadBit();  // direct_8x8_inference_flag
    s.cropping = in.ReadBit();
    // The VUI that may follow says nothing a slice header depends on.
    if (in.Failed()) {
        return Fail<H264SeqParams>(error, "SPS: truncated");
    }
    return s;
}

std::optional<H264PicParams> ParseH264Pps(std::span<const std::uint8_t> rbsp, std::string* error) {
    platform::CRbspReader in(rbsp);
    H264PicParams p;
    p.id = in.ReadUe();
    p.spsId = in.ReadUe();
    p.cabac = in.ReadBit();
    p.bottomFieldPocPresent = in.ReadBit();
    const std::uint32_t groupsMinus1 = in.ReadUe();
    if (in.Failed() || p.id > 255 || p.spsId > 31) {
        return Fail<H264PicParams>(error, "PPS: bad ids");
    }
    if (groupsMinus1 != 0) {
        return Fail<H264PicParams>(error, "PPS: slice groups are not supported");
    }
    p.sliceGroups = 1;
    const std::uint32_t l0 = in.ReadUe();
    const std::uint32_t l1 = in.ReadUe();
    if (l0 > 31 || l1 > 31) {
        return Fail<H264PicParams>(error, "PPS: bad reference index count");
    }
    p.refIdxL0Default = l0 + 1;
    p.weightedPred = in.ReadBit();
    p.weightedBipredIdc = in.ReadBits(2);
    // In 64 bits: a hostile se() reaches 2^31 - 1, and 26 more would overflow an int.
    const std::int64_t initQp = std::int64_t{26} + in.ReadSe();
    p.picInitQp = initQp < 0 || initQp > kMaxQp ? -1 : static_cast<std::int32_t>(initQp);
    in.ReadSe();  // pic_init_qs: SP and SI slices only
    p.chromaQpOffset = in.ReadSe();
    p.deblockingControl = in.ReadBit();
    p.constrainedIntra = in.ReadBit();
    p.redundantPicCnt = in.ReadBit();
    if (in.Failed() || p.picInitQp < 0 || p.picInitQp > kMaxQp || p.chromaQpOffset < -12 ||
        p.chromaQpOffset > 12) {
        return Fail<H264PicParams>(error, "PPS: truncated or QP out of range");
    }
    if (!in.AtTrailingBits()) {
        return Fail<H264PicParams>(error, "PPS: the 8x8 transform extension is not supported");
    }
    return p;
}

std::optional<H264SliceHeader> ParseH264SliceHeader(std::uint8_t nalHeader,
                                                    std::span<const std::uint8_t> rbsp,
                                                    const H264SeqParams& sps,
                                                    const H264PicParams& pps, std::size_t* dataBit,
                                                    std::string* error) {
    const auto fail = [error](const char* why) { return Fail<H264SliceHeader>(error, why); };
    const std::uint8_t type = nalHeader & 0x1F;
    if ((nalHeader & 0x80) != 0 || (type != kNalSlice && type != kNalIdr)) {
        return fail("slice: not a slice NAL unit");
    }
    if (!sps.frameMbsOnly || sps.pocType == 1 || pps.cabac || pps.sliceGroups != 1 ||
        pps.weightedPred || pps.redundantPicCnt) {
        return fail("slice: parameter sets with features the rewriter does not read");
    }
    platform::CRbspReader in(rbsp);
    H264SliceHeader h;
    h.nalRefIdc = static_cast<std::uint8_t>((nalHeader >> 5) & 3);
    h.idr = type == kNalIdr;
    h.firstMb = in.ReadUe();
    h.sliceType = in.ReadUe();
    h.ppsId = in.ReadUe();
    if (in.Failed() || h.firstMb >= sps.mbWidth * sps.mbHeight) {
        return fail("slice: bad first macroblock");
    }
    if (h.sliceType > 9 || (h.sliceType % 5 != 0 && h.sliceType % 5 != 2)) {
        return fail("slice: only P and I slices are supported");
    }
    if (h.ppsId != pps.id) {
        return fail("slice: refers to another picture parameter set");
    }
    if (h.idr && (h.IsP() || h.nalRefIdc == 0)) {
        return fail("slice: an IDR picture must be an intra reference picture");
    }
    h.frameNum = in.ReadBits(static_cast<int>(sps.log2MaxFrameNum));
    if (h.idr) {
        h.idrPicId = in.ReadUe();
        if (h.idrPicId > 65535) {
            return fail("slice: idr_pic_id out of range");
        }
    }
    if (sps.pocType == 0) {
        h.pocLsb = in.ReadBits(static_cast<int>(sps.log2MaxPocLsb));
        if (pps.bottomFieldPocPresent) {
            if (in.ReadSe() != 0) {
                return fail("slice: a bottom field order count offset is not supported");
            }
        }
    }
    if (h.IsP()) {
        h.refIdxOverride = in.ReadBit();
        if (h.refIdxOverride) {
            h.refIdxL0ActiveMinus1 = in.ReadUe();
            if (h.refIdxL0ActiveMinus1 > 31) {
                return fail("slice: bad reference index count");
            }
        } else {
            h.refIdxL0ActiveMinus1 = pps.refIdxL0Default - 1;
        }
        h.refListModified = in.ReadBit();
        if (h.refListModified) {
            for (;;) {
                const std::uint32_t idc = in.ReadUe();
                if (in.Failed() || idc > 3) {
                    return fail("slice: bad reference list modification");
                }
                if (idc == 3) {
                    break;
                }
                if (h.refListChanges.size() == kMaxRefListChanges) {
                    return fail("slice: too many reference list modifications");
                }
                h.refListChanges.emplace_back(idc, in.ReadUe());
            }
        }
    }
    if (h.nalRefIdc != 0) {
        if (h.idr) {
            h.noOutputOfPriorPics = in.ReadBit();
            h.longTermReference = in.ReadBit();
        } else {
            h.adaptiveMarking = in.ReadBit();
            while (h.adaptiveMarking) {
                H264SliceHeader::MarkingOp op;
                op.op = in.ReadUe();
                if (in.Failed() || op.op > 6) {
                    return fail("slice: bad reference marking");
                }
                if (op.op == 0) {
                    break;
                }
                if (h.markingOps.size() == kMaxMarkingOps) {
                    return fail("slice: too many reference marking operations");
                }
                if (op.op == 1 || op.op == 2 || op.op == 3 || op.op == 6 || op.op == 4) {
                    op.a = in.ReadUe();
                }
                if (op.op == 3) {
                    op.b = in.ReadUe();
                }
                h.markingOps.push_back(op);
            }
        }
    }
    h.sliceQpDelta = in.ReadSe();
    if (pps.deblockingControl) {
        h.deblockingIdc = in.ReadUe();
        if (h.deblockingIdc > 2) {
            return fail("slice: bad deblocking filter mode");
        }
        if (h.deblockingIdc != 1) {
            h.alphaOffsetDiv2 = in.ReadSe();
            h.betaOffsetDiv2 = in.ReadSe();
        }
    }
    const std::int64_t qp = std::int64_t{pps.picInitQp} + h.sliceQpDelta;
    if (in.Failed() || qp < 0 || qp > kMaxQp) {
        return fail("slice: truncated header or QP out of range");
    }
    if (dataBit != nullptr) {
        *dataBit = in.BitPosition();
    }
    return h;
}

void WriteH264SliceHeader(platform::CRbspWriter& out, const H264SliceHeader& h,
                          const H264SeqParams& sps, const H264PicParams& pps) {
    out.PutUe(h.firstMb);
    out.PutUe(h.sliceType);
    out.PutUe(h.ppsId);
    out.PutBits(h.frameNum, static_cast<int>(sps.log2MaxFrameNum));
    if (h.idr) {
        out.PutUe(h.idrPicId);
    }
    if (sps.pocType == 0) {
        out.PutBits(h.pocLsb, static_cast<int>(sps.log2MaxPocLsb));
        if (pps.bottomFieldPocPresent) {
            out.PutSe(0);
        }
    }
    if (h.IsP()) {
        out.PutBit(h.refIdxOverride);
        if (h.refIdxOverride) {
            out.PutUe(h.refIdxL0ActiveMinus1);
        }
        out.PutBit(h.refListModified);
        if (h.refListModified) {
            for (const auto& [idc, value] : h.refListChanges) {
                out.PutUe(idc);
                out.PutUe(value);
            }
            out.PutUe(3);
        }
    }
    if (h.nalRefIdc != 0) {
        if (h.idr) {
            out.PutBit(h.noOutputOfPriorPics);
            out.PutBit(h.longTermReference);
        } else {
            out.PutBit(h.adaptiveMarking);
            if (h.adaptiveMarking) {
                for (const auto& op : h.markingOps) {
                    out.PutUe(op.op);
                    if (op.op == 1 || op.op == 2 || op.op == 3 || op.op == 6 || op.op == 4) {
                        out.PutUe(op.a);
                    }
                    if (op.op == 3) {
                        out.PutUe(op.b);
                    }
                }
                out.PutUe(0);
            }
        }
    }
    out.PutSe(h.sliceQpDelta);
    if (pps.deblockingControl) {
        out.PutUe(h.deblockingIdc);
        if (h.deblockingIdc != 1) {
            out.PutSe(h.alphaOffsetDiv2);
            out.PutSe(h.betaOffsetDiv2);
        }
    }
}

void AppendH264Bits(platform::CRbspWriter& out, std::span<const std::uint8_t> bytes,
                    std::size_t from, std::size_t to) {
    to = std::min(to, bytes.size() * 8);
    if (from >= to) {
        return;
    }
    // Single bits up to the source's byte boundary, then whole bytes, then the tail.
    while (from < to && from % 8 != 0) {
        out.PutBit(((bytes[from / 8] >> (7 - from % 8)) & 1u) != 0);
        ++from;
    }
    while (to - from >= 8) {
        out.PutBits(bytes[from / 8], 8);
        from += 8;
    }
    while (from < to) {
        out.PutBit(((bytes[from / 8] >> (7 - from % 8)) & 1u) != 0);
        ++from;
    }
}

CH264SliceRewriter::CH264SliceRewriter(int width, int height)
    : m_target(RecorderSeqParams(width, height)), m_targetPps(RecorderPicParams()) {}

std::optional<RewrittenAccessUnit> CH264SliceRewriter::Rewrite(std::span<const std::uint8_t> unit,
                                                               std::string* error) {
    const auto fail = [error](const std::string& why) {
        return Fail<RewrittenAccessUnit>(error, why);
    };
    if (unit.size() > kMaxAccessUnit) {
        return fail("access unit too large");
    }
    const auto nals = platform::SplitAnnexB(unit);
    if (nals.empty()) {
        return fail("no NAL unit");
    }
    // Parameter sets and numbering are committed only when the whole unit is good.
    std::optional<H264SeqParams> sps = m_sps;
    std::optional<H264PicParams> pps = m_pps;
    Numbering numbering = m_numbering;
    RewrittenAccessUnit result;
    bool havePicture = false;
    H264SliceHeader first;  // the picture's first slice, which the others must agree with
    std::uint32_t outFrameNum = 0;
    std::uint32_t outPocLsb = 0;

    for (const auto nal : nals) {
        if (nal.empty()) {
            return fail("empty NAL unit");
        }
        const std::uint8_t header = nal[0];
        const std::uint8_t type = header & 0x1F;
        if ((header & 0x80) != 0) {
            return fail("forbidden bit set in a NAL header");
        }
        const std::vector<std::uint8_t> rbsp = platform::UnescapeRbsp(nal.subspan(1));
        std::string why;
        if (type == kNalSps) {
            sps = ParseH264Sps(rbsp, &why);
            if (!sps) {
                return fail(why);
            }
            if (sps->mbWidth != m_target.mbWidth || sps->mbHeight != m_target.mbHeight ||
                sps->cropping || !sps->frameMbsOnly) {
                return fail("SPS: picture size or shape differs from the recorder's");
            }
            continue;
        }
        if (type == kNalPps) {
            pps = ParseH264Pps(rbsp, &why);
            if (!pps) {
                return fail(why);
            }
            if (pps->cabac || pps->weightedPred || pps->redundantPicCnt ||
                pps->chromaQpOffset != m_targetPps.chromaQpOffset ||
                pps->constrainedIntra != m_targetPps.constrainedIntra) {
                return fail("PPS: coding tools differ from the recorder's");
            }
            continue;
        }
        if (type == kNalSei || type == kNalDelimiter || type == kNalEndOfSequence ||
            type == kNalEndOfStream || type == kNalFiller) {
            continue;
        }
        if (type != kNalSlice && type != kNalIdr) {
            return fail("unsupported NAL unit type " + std::to_string(type));
        }
        if (!sps || !pps || pps->spsId != sps->id) {
            return fail("slice before its parameter sets");
        }
        std::size_t dataBit = 0;
        auto h = ParseH264SliceHeader(header, rbsp, *sps, *pps, &dataBit, &why);
        if (!h) {
            return fail(why);
        }
        const std::uint32_t activeRefs = h->IsP() ? h->refIdxL0ActiveMinus1 + 1 : 1;
        if (activeRefs != m_targetPps.refIdxL0Default) {
            return fail("slice: more than one active reference");
        }
        if (h->deblockingIdc != 0 || h->alphaOffsetDiv2 != 0 || h->betaOffsetDiv2 != 0) {
            return fail("slice: deblocking differs from filter on with zero offsets");
        }
        // The recorder's SPS allows one reference frame and nothing long-term: a stream
        // that needs more would be accepted here and fail in the client's decoder.
        if (sps->maxRefFrames > 1) {
            return fail("SPS: more than one reference frame");
        }
        if (h->longTermReference) {
            return fail("slice: a long-term reference");
        }
        for (const auto& op : h->markingOps) {
            if (op.op != 1) {
                return fail("slice: marking operation " + std::to_string(op.op) +
                            " is not supported");
            }
        }
        // The slice data ends at the stop bit, the last one bit of the RBSP.
        std::size_t last = rbsp.size();
        while (last > 0 && rbsp[last - 1] == 0) {
            --last;
        }
        if (last == 0) {
            return fail("slice: no stop bit");
        }
        const std::size_t stopBit =
            (last - 1) * 8 + 7 - static_cast<std::size_t>(std::countr_zero(rbsp[last - 1]));
        if (stopBit < dataBit) {
            return fail("slice: header runs past the stop bit");
        }

        if (!havePicture) {
            // The picture's numbering, from its first slice.
            if (!h->idr && !numbering.seenIdr) {
                return fail("slice: no IDR picture yet");
            }
            std::uint64_t count = 0;  // reference pictures since the IDR before this one
            if (h->idr) {
                if (h->frameNum != 0) {
                    return fail("slice: IDR picture with a frame number");
                }
                numbering = Numbering{};
                numbering.seenIdr = true;
            } else {
                const std::uint32_t maxFrameNum = 1u << sps->log2MaxFrameNum;
                if (h->frameNum == (numbering.prevRefFrameNum + 1) % maxFrameNum) {
                    count = numbering.prevRefCount + 1;
                } else {
                    return fail("slice: gap in frame numbers");
                }
            }
            std::int64_t poc = 0;
            if (sps->pocType == 2) {
                poc = 2 * static_cast<std::int64_t>(count) - (h->nalRefIdc == 0 ? 1 : 0);
            } else {
                const std::int64_t maxLsb = std::int64_t{1} << sps->log2MaxPocLsb;
                const std::int64_t lsb = h->pocLsb;
                const std::int64_t prevLsb = numbering.prevPocLsb;
                std::int64_t msb = numbering.prevPocMsb;
                if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2) {
                    msb += maxLsb;
                } else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2) {
                    msb -= maxLsb;
                }
                poc = msb + lsb;
                if (h->nalRefIdc != 0) {
                    numbering.prevPocMsb = msb;
                    numbering.prevPocLsb = static_cast<std::uint32_t>(lsb);
                }
            }
            const std::int64_t jump = poc - numbering.prevPoc;
            if (!h->idr && (jump >= 512 || jump <= -512)) {
                return fail("slice: order count jumps too far for a 10-bit lsb");
            }
            numbering.prevPoc = poc;
            if (h->nalRefIdc != 0) {
                numbering.prevRefFrameNum = h->frameNum;
                numbering.prevRefCount = count;
            }
            outFrameNum = static_cast<std::uint32_t>(count % (1u << m_target.log2MaxFrameNum));
            const std::int64_t maxOutLsb = std::int64_t{1} << m_target.log2MaxPocLsb;
            outPocLsb = static_cast<std::uint32_t>(((poc % maxOutLsb) + maxOutLsb) % maxOutLsb);
            first = *h;
            havePicture = true;
            result.idr = h->idr;
            result.frameNum = outFrameNum;
            result.pocLsb = outPocLsb;
        } else if (h->idr != first.idr || h->frameNum != first.frameNum ||
                   h->pocLsb != first.pocLsb || h->nalRefIdc != first.nalRefIdc) {
            return fail("slice: belongs to another picture");
        }

        H264SliceHeader out = *h;
        out.ppsId = m_targetPps.id;
        out.frameNum = outFrameNum;
        out.pocLsb = outPocLsb;
        out.refIdxOverride = false;
        out.refIdxL0ActiveMinus1 = 0;
        out.sliceQpDelta = pps->picInitQp + h->sliceQpDelta - m_targetPps.picInitQp;
        out.deblockingIdc = 0;
        out.alphaOffsetDiv2 = 0;
        out.betaOffsetDiv2 = 0;
        platform::CRbspWriter bits;
        bits.Reserve(rbsp.size() + 16);
        WriteH264SliceHeader(bits, out, m_target, m_targetPps);
        AppendH264Bits(bits, rbsp, dataBit, stopBit);
        bits.PutTrailingBits();
        platform::AppendNalUnit(result.bytes, header, bits.Bytes());
    }
    if (!havePicture) {
        return fail("no slice in the access unit");
    }
    m_sps = sps;
    m_pps = pps;
    m_numbering = numbering;
    return result;
}

}  // namespace taviro::sim
