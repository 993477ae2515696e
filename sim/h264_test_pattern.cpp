#include "sim/h264_test_pattern.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

namespace taviro::sim {
namespace {

// 5 x 7 glyphs, one byte a row, bit 4 the leftmost column.
using Glyph = std::array<std::uint8_t, 7>;
constexpr std::array<Glyph, 10> kDigits = {{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
}};
constexpr Glyph kLetterC = {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E};
constexpr Glyph kLetterH = {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11};

// A colour per channel (Cb, Cr) for the background tint, so channels tell apart at a glance.
struct Chroma {
    std::uint8_t cb;
    std::uint8_t cr;
};
constexpr std::array<Chroma, 16> kChannelTint = {{
    {128, 128},
    {160, 112},
    {104, 160},
    {144, 144},
    {112, 104},
    {168, 136},
    {96, 120},
    {136, 168},
    {120, 96},
    {152, 96},
    {96, 152},
    {176, 128},
    {128, 176},
    {80, 128},
    {128, 80},
    {150, 150},
}};

constexpr std::uint8_t kWhite = 235;
constexpr std::uint8_t kBlack = 16;

class CCanvas {
  public:
    explicit CCanvas(YuvPicture& p) : m_p(p) {}

    void Fill(int x0, int y0, int x1, int y1, std::uint8_t luma, Chroma chroma) {
        FillYuvRect(m_p, x0, y0, x1, y1, luma, chroma.cb, chroma.cr);
    }

    void DrawGlyph(const Glyph& glyph, int x, int y, int scale) {
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if ((glyph[static_cast<std::size_t>(row)] >> (4 - col) & 1) != 0) {
                    Fill(x + col * scale, y + row * scale, x + (col + 1) * scale,
                         y + (row + 1) * scale, kWhite, {128, 128});
                }
            }
        }
    }

  private:
    YuvPicture& m_p;
};

void DrawText(CCanvas& canvas, const std::string& text, int x, int y, int scale) {
    for (const char ch : text) {
        if (ch >= '0' && ch <= '9') {
            canvas.DrawGlyph(kDigits[static_cast<std::size_t>(ch - '0')], x, y, scale);
        } else if (ch == 'C') {
            canvas.DrawGlyph(kLetterC, x, y, scale);
        } else if (ch == 'H') {
            canvas.DrawGlyph(kLetterH, x, y, scale);
        }
        x += 6 * scale;  // 5 columns and one of spacing
    }
}

}  // namespace

YuvPicture MakeH264TestPattern(int channel, std::uint32_t frame, int width, int height) {
    if (width < 16 || height < 16 || width % 2 != 0 || height % 2 != 0) {
        return {};
    }
    const Chroma tint = kChannelTint[static_cast<std::size_t>(channel & 15)];
    YuvPicture p = YuvPicture::Filled(width, height, kBlack, tint.cb, tint.cr);
    CCanvas canvas(p);

    // Background: a left-to-right luma ramp in 16-pixel steps, 40..200.
    for (int x = 0; x < width; x += 16) {
        const auto luma = static_cast<std::uint8_t>(40 + (x / 16) * 160 / std::max(1, width / 16));
        canvas.Fill(x, 0, x + 16, height, luma, tint);
    }

    const int scale = std::max(2, height / 40);
    const int margin = 2 * scale;

    // Channel label, e.g. "CH7", on a dark plate.
    const std::string label = "CH" + std::to_string(channel + 1);
    const int labelWidth = static_cast<int>(label.size()) * 6 * scale;
    canvas.Fill(margin / 2, margin / 2, margin + labelWidth + margin / 2, margin + 8 * scale,
                kBlack, {128, 128});
    DrawText(canvas, label, margin, margin, scale);

    // Frame counter, six digits at half the size, on its own plate below the label.
    const int small = std::max(1, scale / 2);
    const int clockY = margin + 9 * scale;
    std::string counter = std::to_string(frame % 1000000u);
    counter.insert(0, 6 - counter.size(), '0');
    canvas.Fill(margin / 2, clockY - small, margin + 36 * small + margin / 2, clockY + 8 * small,
                kBlack, {128, 128});
    DrawText(canvas, counter, margin, clockY, small);

    // A bar moving 8 pixels a frame along the bottom sixth, wrapping round.
    const int bandTop = height - height / 6;
    canvas.Fill(0, bandTop, width, height, 60, {128, 128});
    const int barWidth = 24;
    const int barX =
        static_cast<int>((std::uint64_t{frame} * 8u) % static_cast<std::uint64_t>(width));
    canvas.Fill(barX, bandTop, barX + barWidth, height, 210, {80, 200});
    if (barX + barWidth > width) {
        canvas.Fill(0, bandTop, barX + barWidth - width, height, 210, {80, 200});
    }
    return p;
}

}  // namespace taviro::sim
