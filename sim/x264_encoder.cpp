#include "sim/x264_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

extern "C" {
#include <x264.h>
}

namespace taviro::sim {

namespace {

constexpr int kReferenceArea = 704 * 480;
constexpr int kReferenceKbps = 2000;

}  // namespace

struct CX264Encoder::Handle {
    x264_t* encoder = nullptr;
    int width = 0;
    int height = 0;
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (encoder != nullptr) {
            x264_encoder_close(encoder);
        }
    }
};

int DefaultCameraBitrateKbps(int width, int height) {
    const std::int64_t area = static_cast<std::int64_t>(width) * height;
    return static_cast<int>(std::max<std::int64_t>(area * kReferenceKbps / kReferenceArea, 64));
}

std::optional<CX264Encoder> CX264Encoder::Create(const X264EncoderOptions& o, std::string* error) {
    const auto fail = [error](const char* why) -> std::optional<CX264Encoder> {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    if (o.width < 16 || o.height < 16 || o.width > 4080 || o.height > 4080 || o.width % 16 != 0 ||
        o.height % 16 != 0) {
        return fail("picture size must be whole macroblocks, 16..4080 a side");
    }
    if (o.frameRate < 1 || o.frameRate > 60 || o.gopLength < 1 || o.gopLength > 512 ||
        o.bitrateKbps < 0 || o.bitrateKbps > 100'000) {
        return fail("frame rate, group length or bit rate out of range");
    }
    x264_param_t p;
    // "zerolatency": no lookahead and no frame threads, so every picture comes out of the
    // call that takes it in, as from a camera.
    if (x264_param_default_preset(&p, "superfast", "zerolatency") != 0) {
        return fail("libx264 has no superfast preset");
    }
    p.i_log_level = X264_LOG_NONE;
    p.i_threads = 1;
    p.b_sliced_threads = 0;
    p.b_deterministic = 1;
    p.i_width = o.width;
    p.i_height = o.height;
    p.i_csp = X264_CSP_I420;
    p.i_fps_num = static_cast<std::uint32_t>(o.frameRate);
    p.i_fps_den = 1;
    p.b_vfr_input = 0;
    // A fixed group of pictures: an IDR every gopLength frames and at no scene cut.
    p.i_keyint_max = o.gopLength;
    p.i_keyint_min = o.gopLength;
    p.i_scenecut_threshold = 0;
    p.b_open_gop = 0;
    p.i_bframe = 0;
    p.i_frame_reference = 1;
    p.b_cabac = 0;
    p.b_constrained_intra = 1;
    p.b_interlaced = 0;
    p.i_slice_count = 1;
    // The recorder's picture parameter set has chroma QP offset 2 and no deblocking
    // control in the slice header (the filter on, zero offsets). The psychovisual options
    // would move the chroma offset away from 2, so they are off.
    p.analyse.b_psy = 0;
    p.analyse.i_chroma_qp_offset = 2;
    p.analyse.i_weighted_pred = X264_WEIGHTP_NONE;
    p.analyse.b_transform_8x8 = 0;
    p.b_deblocking_filter = 1;
    p.i_deblocking_filter_alphac0 = 0;
    p.i_deblocking_filter_beta = 0;
    // A steady rate with a one-second buffer, as a camera's encoder keeps its bandwidth.
    const int kbps =
        o.bitrateKbps != 0 ? o.bitrateKbps : DefaultCameraBitrateKbps(o.width, o.height);
    p.rc.i_rc_method = X264_RC_ABR;
    p.rc.i_bitrate = kbps;
    p.rc.i_vbv_max_bitrate = kbps;
    p.rc.i_vbv_buffer_size = kbps;
    p.b_annexb = 1;
    p.b_aud = 0;
    p.b_repeat_headers = 0;
    if (x264_param_apply_profile(&p, "baseline") != 0) {
        return fail("libx264 refuses the Baseline profile");
    }
    auto handle = std::make_unique<Handle>();
    handle->width = o.width;
    handle->height = o.height;
    handle->encoder = x264_encoder_open(&p);
    if (handle->encoder == nullptr) {
        return fail("libx264 refuses the settings");
    }
    x264_nal_t* nals = nullptr;
    int count = 0;
    if (x264_encoder_headers(handle->encoder, &nals, &count) < 0 || count < 0) {
        return fail("libx264 wrote no parameter sets");
    }
    CX264Encoder encoder(std::move(handle));
    for (int i = 0; i < count; ++i) {
        encoder.m_headers.insert(encoder.m_headers.end(), nals[i].p_payload,
                                 nals[i].p_payload + nals[i].i_payload);
    }
    return encoder;
}

CX264Encoder::CX264Encoder(std::unique_ptr<Handle> handle) : m_handle(std::move(handle)) {}
CX264Encoder::CX264Encoder(CX264Encoder&&) noexcept = default;
CX264Encoder& CX264Encoder::operator=(CX264Encoder&&) noexcept = default;
CX264Encoder::~CX264Encoder() = default;

std::optional<X264Frame> CX264Encoder::Encode(const YuvPicture& picture) {
    if (!m_handle || !picture.IsConsistent() || picture.width != m_handle->width ||
        picture.height != m_handle->height) {
        return std::nullopt;
    }
    x264_picture_t in;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    // libx264 only reads the planes; its interface is not const-correct.
    in.img.plane[0] = const_cast<std::uint8_t*>(picture.y.data());
    in.img.plane[1] = const_cast<std::uint8_t*>(picture.u.data());
    in.img.plane[2] = const_cast<std::uint8_t*>(picture.v.data());
    in.img.i_stride[0] = picture.width;
    in.img.i_stride[1] = picture.width / 2;
    in.img.i_stride[2] = picture.width / 2;
    in.i_pts = m_pts++;
    x264_picture_t out;
    x264_nal_t* nals = nullptr;
    int count = 0;
    const int size = x264_encoder_encode(m_handle->encoder, &nals, &count, &in, &out);
    if (size <= 0 || count <= 0) {
        return std::nullopt;
    }
    X264Frame frame;
    frame.keyFrame = out.b_keyframe != 0;
    frame.bytes.reserve(static_cast<std::size_t>(size));
    for (int i = 0; i < count; ++i) {
        frame.bytes.insert(frame.bytes.end(), nals[i].p_payload,
                           nals[i].p_payload + nals[i].i_payload);
    }
    return frame;
}

}  // namespace taviro::sim
