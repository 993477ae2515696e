// The picture of a snapshot, from the channel's copy to the 800 x 600 image that is written:
// YUV 4:2:0 converted (fixed-point BT.601) or RGB copied, the pane border cropped away,
// stretched to 800 x 600, the caption written near the bottom, then read back in the
// display's pixel format and expanded to 8-bit RGB, as the picture on screen would be.
//
// Everything here is pure computation on buffers the caller owns; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "snapshot/snapshot_job.h"

namespace taviro::snapshot {

inline constexpr int kOutputWidth = 800;
inline constexpr int kOutputHeight = 600;
// The caption colour as a COLORREF (0x00BBGGRR): red 0, green 255, blue 255.
inline constexpr std::uint32_t kCaptionColour = 0x00FFFF00;
inline constexpr int kCaptionFontHeight = -21;  // 21 pixels, as a font height
inline constexpr int kCaptionY = kOutputHeight + kCaptionFontHeight - 10;  // 569

// Pixels as 3 bytes each, rows top-down and packed (no padding).
struct BgrImage {  // blue, green, red
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;
};
struct RgbImage {  // red, green, blue
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The part of a source of this size that is kept: up to 700 wide, 6 pixels in and
// (w - 11) x (h - 10); wider, 12 pixels in and (w - 22) x (h - 20).
Rect CropRect(int width, int height);

// Why a source cannot be used, or nullopt when it can: odd or too small sizes (no crop
// left), or a picture larger than the copy holds in its format.
std::optional<std::string> CheckSource(int width, int height, std::uint32_t pictureFormat);

// One Y, U, V sample to blue, green, red (fixed point, scaled by 64, 16-bit intermediates).
void YuvToBgr(int y, int u, int v, std::uint8_t* bgr);

// The job's picture as a top-down BGR image of the source size; nullopt with `error` for an
// unusable source. YUV chroma samples serve 2 x 2 pixels each.
std::optional<BgrImage> SourceImage(const SnapshotJob& job, std::string* error);

// `source`'s rectangle stretched bilinearly to width x height.
BgrImage Stretch(const BgrImage& source, Rect from, int width, int height);

// Writes the caption into the finished picture. The headless build has no fonts, so its
// painter draws nothing; the desktop client and the command-line tool use Qt's.
// Thread: the job's worker; implementations must be safe on several workers at once.
class ICaptionPainter {
  public:
    virtual ~ICaptionPainter() = default;
    // `image` is top-down BGR; (x, y) is the top-left corner of the text cell; `colour` a
    // COLORREF. The background stays as it is (transparent).
    virtual void Paint(BgrImage& image, int x, int y, std::string_view text,
                       std::uint32_t colour) = 0;
};

class CNullCaptionPainter final : public ICaptionPainter {
  public:
    void Paint(BgrImage&, int, int, std::string_view, std::uint32_t) override {}
};

// Where the caption goes: x = (800 + length x font height / 2) / 2 in integer arithmetic
// with the negative font height, roughly centred; y = 569.
int CaptionX(std::size_t length);

// The display's pixel format that the picture is read back in.
enum class Pixel16Layout { kNone, k555, k565 };
struct DisplayFormat {
    int bitsPerPixel = 32;                        // 32, 24 or 16
    Pixel16Layout layout = Pixel16Layout::kNone;  // 16 bits only
};

// The picture as the display stores it, expanded again to 8-bit RGB: 32 and 24 bits keep
// every colour; 16 bits lose the low bits (white on 5-6-5 comes back as 248, 252, 248).
// nullopt for any other depth or a 16-bit display of unknown layout.
std::optional<RgbImage> ReadBack(const BgrImage& image, DisplayFormat display);

// Steps 3 to 7 of a job: the source, cropped and stretched to 800 x 600, captioned, read
// back in the display's format. nullopt with `error` when any step fails.
std::optional<RgbImage> ComposeSnapshot(const SnapshotJob& job, ICaptionPainter& painter,
                                        DisplayFormat display, std::string* error);

}  // namespace taviro::snapshot
