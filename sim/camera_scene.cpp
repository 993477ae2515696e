#include "sim/camera_scene.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace taviro::sim {
namespace {

constexpr int kLumaMin = 16;
constexpr int kLumaMax = 235;
constexpr int kChromaMin = 16;
constexpr int kChromaMax = 240;
constexpr int kChannels = 16;

std::uint8_t Luma(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, kLumaMin, kLumaMax));
}
std::uint8_t ChromaSample(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, kChromaMin, kChromaMax));
}

// A well-mixed 32-bit hash (the finaliser of MurmurHash3) for the still textures.
std::uint32_t Mix(std::uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}
std::uint32_t Hash(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return Mix(a * 0x9E3779B1u ^ Mix(b * 0x85EBCA77u ^ Mix(c + 0x27D4EB2Fu)));
}

// Each channel's wall colour (Cb, Cr offsets from grey), in a circle of hues.
constexpr std::array<std::array<int, 2>, kChannels> kWallTint = {{
    {0, 0},
    {18, -10},
    {-14, 20},
    {10, 14},
    {-12, -14},
    {24, 6},
    {-22, -4},
    {6, 24},
    {-6, -22},
    {16, -20},
    {-20, 16},
    {26, -2},
    {0, 26},
    {-26, 2},
    {2, -26},
    {14, 14},
}};

// Things that move through the scene. A mover crosses the picture `cycles` times per
// scene period (negative: right to left), so it is back where it started when the period
// ends; its lane (the height of its lowest point) and size are fractions of the picture.
enum class Shape { Car, Person, Ball };
struct Mover {
    Shape shape;
    int laneY;   // bottom edge, in 1/1000 of the height
    int sizeY;   // height, in 1/1000 of the height
    int cycles;  // crossings per period; the sign is the direction
    int luma;
    int cb;
    int cr;
};
constexpr std::array<Mover, 6> kMovers = {{
    {Shape::Person, 600, 120, 1, 70, 150, 110},
    {Shape::Car, 650, 90, -2, 150, 100, 170},
    {Shape::Person, 760, 190, -1, 190, 110, 150},
    {Shape::Car, 860, 160, 3, 60, 170, 110},
    {Shape::Car, 990, 230, -4, 205, 128, 128},
    {Shape::Ball, 900, 60, 2, 220, 80, 160},
}};

// 7-segment digits: bit 0 top, 1 top right, 2 bottom right, 3 bottom, 4 bottom left,
// 5 top left, 6 middle.
constexpr std::array<std::uint8_t, 10> kSegments = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                    0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// A rectangle in clamped sample values.
void FillRect(YuvPicture& p, int x0, int y0, int x1, int y1, int luma, int cb, int cr) {
    FillYuvRect(p, x0, y0, x1, y1, Luma(luma), ChromaSample(cb), ChromaSample(cr));
}

// A shaded ellipse in the box [x0, x1) x [y0, y1): brighter towards its top, as if lit from
// above.
void FillEllipse(YuvPicture& p, int x0, int y0, int x1, int y1, int luma, int cb, int cr) {
    const int rx = (x1 - x0) / 2;
    const int ry = (y1 - y0) / 2;
    if (rx <= 0 || ry <= 0) {
        return;
    }
    const int cx = x0 + rx;
    const int cy = y0 + ry;
    const long long rr = static_cast<long long>(rx) * rx * ry * ry;
    for (int y = std::max(y0, 0); y < std::min(y1, p.height); ++y) {
        const long long dy = y - cy;
        const int shade = luma + 30 * (cy - y) / ry;
        for (int x = std::max(x0, 0); x < std::min(x1, p.width); ++x) {
            const long long dx = x - cx;
            if (dx * dx * ry * ry + dy * dy * rx * rx > rr) {
                continue;
            }
            p.y[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) +
                static_cast<std::size_t>(x)] = Luma(shade);
            if (x % 2 == 0 && y % 2 == 0) {
                const std::size_t c =
                    static_cast<std::size_t>(y / 2) * static_cast<std::size_t>(p.width / 2) +
                    static_cast<std::size_t>(x / 2);
                p.u[c] = ChromaSample(cb);
                p.v[c] = ChromaSample(cr);
            }
        }
    }
}

// A box shaded from `top` luma at its top row to `bottom` at its last.
void FillShaded(YuvPicture& p, int x0, int y0, int x1, int y1, int top, int bottom, int cb,
                int cr) {
    const int rows = std::max(y1 - y0, 1);
    for (int y = y0; y < y1; ++y) {
        FillRect(p, x0, y, x1, y + 1, top + (bottom - top) * (y - y0) / rows, cb, cr);
    }
}

// Where a mover is at `frame`: its left edge, for a mover `w` wide crossing `cycles` times
// per period over a track from just off the left edge to just off the right one.
int MoverX(int pictureWidth, int w, int cycles, std::uint32_t frame, int channel, int index) {
    const std::int64_t track = pictureWidth + w;
    const std::int64_t period = kCameraSceneFrames;
    // Each channel and mover starts at its own point of the track.
    const std::int64_t start =
        Hash(static_cast<std::uint32_t>(channel), static_cast<std::uint32_t>(index), 7) %
        static_cast<std::uint32_t>(period);
    std::int64_t phase = (start + static_cast<std::int64_t>(frame) * cycles) % period;
    if (phase < 0) {
        phase += period;
    }
    return static_cast<int>(phase * track / period) - w;
}

}  // namespace

CCameraScene::CCameraScene(int channel, int width, int height)
    : m_channel(((channel % kChannels) + kChannels) % kChannels) {
    if (width < 16 || height < 16 || width % 2 != 0 || height % 2 != 0 || width > 8192 ||
        height > 8192) {
        return;
    }
    YuvPicture& p = m_background;
    p = YuvPicture::Filled(width, height, 128, 128, 128);
    const auto w = static_cast<std::size_t>(width);
    const auto ch = static_cast<std::uint32_t>(m_channel);
    const int skyEnd = height * 3 / 10;
    const int wallEnd = height * 11 / 20;
    const int tintCb = kWallTint[static_cast<std::size_t>(m_channel)][0];
    const int tintCr = kWallTint[static_cast<std::size_t>(m_channel)][1];
    // Window and paving cells scale with the picture, so every size shows the same view.
    const int windowW = std::max(width / 22, 4);
    const int windowH = std::max(height / 14, 4);
    const int tileW = std::max(width / 20, 4);

    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = p.y.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < width; ++x) {
            const auto ux = static_cast<std::uint32_t>(x);
            const auto uy = static_cast<std::uint32_t>(y);
            int v = 0;
            if (y < skyEnd) {
                // Sky: bright at the top, hazier towards the horizon, a slow sideways drift
                // of light.
                v = 200 - 60 * y / skyEnd + 12 * x / width;
            } else if (y < wallEnd) {
                // A wall with rows of windows; some are lit.
                const int wx = x / windowW;
                const int wy = (y - skyEnd) / windowH;
                const int inX = x % windowW;
                const int inY = (y - skyEnd) % windowH;
                const bool pane = inX > windowW / 5 && inX < windowW * 4 / 5 && inY > windowH / 4 &&
                                  inY < windowH * 4 / 5;
                const std::uint32_t lit =
                    Hash(ch, static_cast<std::uint32_t>(wx), static_cast<std::uint32_t>(wy) + 1000);
                if (pane) {
                    v = (lit & 3u) == 0 ? 190 : 50 + static_cast<int>(lit >> 28);
                } else {
                    v = 115 + static_cast<int>(Hash(ux, uy, ch) & 15u) - 8;
                }
            } else {
                // Paving: tiles that get taller towards the camera, each a little different,
                // with dark joints and a fine grain.
                const int depth = y - wallEnd;
                const int tileH = std::max(height / 80, 3) + depth / 6;
                const int ty = depth / tileH;
                const int shift = (ty % 2) * tileW / 2;
                const int tx = (x + shift) / tileW;
                const bool joint = (x + shift) % tileW < 2 || depth % tileH < 1;
                const int tone = static_cast<int>(
                    Hash(ch + 99, static_cast<std::uint32_t>(tx), static_cast<std::uint32_t>(ty)) %
                    36u);
                v = joint ? 60 : 85 + tone + 30 * depth / std::max(height - wallEnd, 1);
                v += static_cast<int>(Hash(ux, uy, ch + 7) & 7u) - 4;
            }
            row[x] = Luma(v);
        }
    }
    const int cw = width / 2;
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < cw; ++x) {
            const std::size_t c = static_cast<std::size_t>(y) * static_cast<std::size_t>(cw) +
                                  static_cast<std::size_t>(x);
            int cb = 128;
            int cr = 128;
            if (2 * y < skyEnd) {
                cb = 150 - 10 * 2 * y / skyEnd;
                cr = 118;
            } else if (2 * y < wallEnd) {
                cb = 128 + tintCb;
                cr = 128 + tintCr;
            } else {
                cb = 126 + tintCb / 4;
                cr = 130 + tintCr / 4;
            }
            p.u[c] = ChromaSample(cb);
            p.v[c] = ChromaSample(cr);
        }
    }
}

YuvPicture CCameraScene::Frame(std::uint32_t frame) const {
    if (m_background.width == 0) {
        return {};
    }
    frame %= kCameraSceneFrames;
    YuvPicture p = m_background;
    DrawMovers(p, frame);
    DrawClock(p, frame);
    AddNoise(p, frame);
    return p;
}

void CCameraScene::DrawMovers(YuvPicture& p, std::uint32_t frame) const {
    const int tintCb = kWallTint[static_cast<std::size_t>(m_channel)][0];
    const int tintCr = kWallTint[static_cast<std::size_t>(m_channel)][1];
    for (std::size_t i = 0; i < kMovers.size(); ++i) {
        const Mover& m = kMovers[i];
        const int h = std::max(p.height * m.sizeY / 1000, 4);
        const int bottom = p.height * m.laneY / 1000;
        // Speeds and colours differ per channel: every other channel runs its traffic the
        // other way, and the colours turn with the channel's tint.
        const int cycles = (m_channel % 2 == 0) ? m.cycles : -m.cycles;
        const int cb = m.cb + tintCr;
        const int cr = m.cr - tintCb;
        const int luma = m.luma + (m_channel % 3) * 10 - 10;
        const auto index = static_cast<int>(i);
        switch (m.shape) {
            case Shape::Car: {
                const int w = h * 2;
                const int x = MoverX(p.width, w, cycles, frame, m_channel, index);
                const int roof = bottom - h;
                FillShaded(p, x + w / 5, roof, x + w * 4 / 5, roof + h / 3, luma + 20, luma, cb,
                           cr);
                FillShaded(p, x + w / 5 + 2, roof + 2, x + w * 4 / 5 - 2, roof + h / 3, 60, 40, 128,
                           128);
                FillShaded(p, x, roof + h / 3, x + w, bottom - h / 6, luma + 25, luma - 25, cb, cr);
                FillEllipse(p, x + w / 8, bottom - h / 3, x + w / 8 + h / 3, bottom, 30, 128, 128);
                FillEllipse(p, x + w * 7 / 8 - h / 3, bottom - h / 3, x + w * 7 / 8, bottom, 30,
                            128, 128);
                break;
            }
            case Shape::Person: {
                const int w = std::max(h / 3, 2);
                const int x = MoverX(p.width, w, cycles, frame, m_channel, index);
                const int head = h / 5;
                FillEllipse(p, x + w / 2 - head / 2, bottom - h, x + w / 2 + head / 2,
                            bottom - h + head, 170, 118, 146);
                FillShaded(p, x, bottom - h + head, x + w, bottom - h / 3, luma + 20, luma - 10, cb,
                           cr);
                // Legs: apart and together by turns, the stride of a walk.
                const int stride = (frame / 3) % 2 == 0 ? w / 4 : 0;
                FillRect(p, x + w / 8 - stride, bottom - h / 3, x + w / 2 - 1 - stride / 2, bottom,
                         40, 128, 128);
                FillRect(p, x + w / 2 + 1 + stride / 2, bottom - h / 3, x + w * 7 / 8 + stride,
                         bottom, 40, 128, 128);
                break;
            }
            case Shape::Ball: {
                const int w = h;
                const int x = MoverX(p.width, w, cycles, frame, m_channel, index);
                // Bounces four times per period: a parabola per bounce.
                const std::int64_t bounce = kCameraSceneFrames / 4;
                const std::int64_t t = frame % bounce;
                const std::int64_t lift = 4 * t * (bounce - t) * (p.height / 4) / (bounce * bounce);
                const int y = bottom - h - static_cast<int>(lift);
                FillEllipse(p, x, y, x + w, y + h, luma, cb, cr);
                break;
            }
        }
    }
}

void CCameraScene::DrawClock(YuvPicture& p, std::uint32_t frame) const {
    // Minutes, seconds and pictures of the scene's own clock: "00:SS:FF".
    const std::uint32_t seconds = frame / kCameraSceneRate;
    const std::uint32_t pictures = frame % kCameraSceneRate;
    const std::array<int, 6> digits = {0,
                                       0,
                                       static_cast<int>(seconds / 10),
                                       static_cast<int>(seconds % 10),
                                       static_cast<int>(pictures / 10),
                                       static_cast<int>(pictures % 10)};
    const int dh = std::max(p.height / 16, 8) & ~1;
    const int dw = dh / 2;
    const int t = std::max(dh / 8, 1);
    const int gap = std::max(dw / 3, 2);
    const int colon = 3 * t;
    const int textW = 6 * dw + 5 * gap + 2 * colon;
    const int margin = std::max(p.height / 40, 4);
    const int x0 = p.width - margin - textW;
    const int y0 = p.height - margin - dh;
    FillRect(p, x0 - t * 2, y0 - t * 2, x0 + textW + t * 2, y0 + dh + t * 2, 24, 128, 128);
    int x = x0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const std::uint8_t s = kSegments[static_cast<std::size_t>(digits[i])];
        const int mid = y0 + dh / 2;
        const auto seg = [&](int bit, int ax, int ay, int bx, int by) {
            if ((s >> bit) & 1u) {
                FillRect(p, ax, ay, bx, by, 225, 118, 138);
            }
        };
        seg(0, x, y0, x + dw, y0 + t);
        seg(1, x + dw - t, y0, x + dw, mid);
        seg(2, x + dw - t, mid, x + dw, y0 + dh);
        seg(3, x, y0 + dh - t, x + dw, y0 + dh);
        seg(4, x, mid, x + t, y0 + dh);
        seg(5, x, y0, x + t, mid);
        seg(6, x, mid - t / 2, x + dw, mid - t / 2 + t);
        x += dw + gap;
        if (i == 1 || i == 3) {
            FillRect(p, x, y0 + dh / 4, x + t, y0 + dh / 4 + t, 225, 118, 138);
            FillRect(p, x, y0 + dh * 3 / 4, x + t, y0 + dh * 3 / 4 + t, 225, 118, 138);
            x += colon;
        }
    }
}

void CCameraScene::AddNoise(YuvPicture& p, std::uint32_t frame) const {
    // Sensor noise: -2..+2 on luma, from a xorshift generator seeded by channel and frame,
    // so the same frame always gets the same grain.
    std::uint32_t state = Hash(static_cast<std::uint32_t>(m_channel), frame, 0x5EED) | 1u;
    std::uint32_t bits = 0;
    int left = 0;
    for (std::uint8_t& sample : p.y) {
        if (left == 0) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            bits = state;
            left = 8;
        }
        // Four bits a sample, mapped onto -2..2 (0..15 * 5 / 16 = 0..4).
        const int delta = static_cast<int>((bits & 15u) * 5u / 16u) - 2;
        bits >>= 4;
        --left;
        sample = Luma(sample + delta);
    }
}

YuvPicture MakeCameraScene(int channel, std::uint32_t frame, int width, int height) {
    const CCameraScene scene(channel, width, height);
    return scene.Frame(frame);
}

}  // namespace taviro::sim
