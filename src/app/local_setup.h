// The client's own preferences: how video is drawn, how dates and hours are shown, where
// files are stored, the snapshot format, the transparency of each kind of window, audio
// buffer depths, per-channel de-interlacing and the watermark check. Read once when the
// main window starts, written back when the local setup dialog is confirmed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/branding.h"
#include "platform/settings_store.h"

namespace taviro::app {

inline constexpr std::size_t kOpacityCount = 9;        // index 8 (popup) is never stored
inline constexpr std::size_t kStoredOpacityCount = 8;  // "Opacity/01".."Opacity/08"
inline constexpr std::size_t kAudioBufferCount = 3;    // 1 live, 2 remote, 3 local playback
inline constexpr std::size_t kDeinterlaceCount = 16;   // channels 1..16
// The location lives in a 260-byte buffer with its terminator: at most 259 bytes of text.
inline constexpr std::size_t kLocationMax = 259;

// Ranges the client accepts; a stored value outside them falls back to its default.
inline constexpr std::uint8_t kDrawModeYuv = 0;
inline constexpr std::uint8_t kDrawModeRgb = 1;
inline constexpr std::uint8_t kDateYearMonthDay = 0;
inline constexpr std::uint8_t kDateMonthDayYear = 1;
inline constexpr std::uint8_t kDateDayMonthYear = 2;
inline constexpr std::uint8_t kSaveFormatMax = 2;  // 0 JPEG, 1 BMP, 2 TIFF
inline constexpr std::uint8_t kHourSystemMax = 1;  // 0 12-hour clock, 1 24-hour clock
inline constexpr std::uint8_t kWatermarkMax = 1;   // off / on
// The audio chunk is 4 × depth + 32 blocks; beyond 8 the delay passes a second.
inline constexpr std::uint8_t kAudioBufferMax = 8;

inline constexpr std::uint8_t kDefaultOpacity = 255;
inline constexpr std::uint8_t kDefaultAudioBuffer = 2;
inline constexpr std::uint8_t kDefaultSaveFormat = 0;
inline constexpr std::uint8_t kDefaultHourSystem = 1;
inline constexpr std::uint8_t kDefaultWatermark = 0;

// Opacity indexes and the windows that use them.
namespace opacity {
inline constexpr std::size_t kConnect = 0;       // connect dialog and its follow-ups
inline constexpr std::size_t kRemoteSearch = 1;  // remote search dialog
inline constexpr std::size_t kLocalPlayer = 3;   // local archive player, bookmark window
inline constexpr std::size_t kLocalSetup = 4;    // local setup dialog, PTZ zoom panel
inline constexpr std::size_t kPtz = 5;           // PTZ panel, player information window
inline constexpr std::size_t kFirmware = 6;      // firmware upgrade dialog
inline constexpr std::size_t kPopup = 8;         // notification popup, opaque at every start
}  // namespace opacity

template <std::size_t N>
constexpr std::array<std::uint8_t, N> MakeFilled(std::uint8_t value) {
    std::array<std::uint8_t, N> a{};
    a.fill(value);
    return a;
}

struct LocalSetup {
    std::uint8_t drawMode = kDrawModeYuv;
    std::uint8_t dateFormat = kDateYearMonthDay;
    std::uint8_t saveFormat = kDefaultSaveFormat;
    std::string location;  // the storage folder, at most kLocationMax bytes
    std::array<std::uint8_t, kOpacityCount> opacity = MakeFilled<kOpacityCount>(kDefaultOpacity);
    std::array<std::uint8_t, kAudioBufferCount> audioBuffer =
        MakeFilled<kAudioBufferCount>(kDefaultAudioBuffer);
    std::uint8_t hourSystem = kDefaultHourSystem;
    std::uint8_t watermark = kDefaultWatermark;
    std::array<std::uint8_t, kDeinterlaceCount> deinterlace{};  // 0 off, 1 on
    // 1: after a network loss the client connects again by itself ("Reconnect/Enabled").
    std::uint8_t reconnect = 1;
    // 1: the operator picked the draw mode in the local setup. Until then YUV drawing gives
    // way to RGB by itself where OpenGL only renders in software ("Renderer/Chosen").
    std::uint8_t drawModeChosen = 0;

    bool operator==(const LocalSetup&) const = default;

    [[nodiscard]] std::filesystem::path LocationPath() const { return location; }
    [[nodiscard]] bool DeinterlaceOn(std::size_t channel) const {
        return channel < kDeinterlaceCount && deinterlace[channel] != 0;
    }
};

// The branding file's defaults, compared after upper-casing: "RGB" → 1, anything else 0;
// "MM-DD-YYYY" → 1, "DD-MM-YYYY" → 2, anything else 0.
std::uint8_t DrawModeFromBranding(std::string_view text);
std::uint8_t DateFormatFromBranding(std::string_view text);

// Every value at its default: draw mode and date format from the branding file, the
// location $HOME/<folder name> (see DefaultLocation).
LocalSetup DefaultLocalSetup(const Branding& branding);

// A location the client can use: non-empty, absolute, at most kLocationMax bytes, no NUL.
bool IsUsableLocation(std::string_view location);

// Store paths of the values ("LocalSetup/DrawMode", "LocalSetup/Opacity/01", ...).
namespace setup_key {
inline constexpr std::string_view kDrawMode = "LocalSetup/DrawMode";
inline constexpr std::string_view kDateFormat = "LocalSetup/DateFormat";
inline constexpr std::string_view kSaveFormat = "LocalSetup/SaveFormat";
inline constexpr std::string_view kLocation = "LocalSetup/Location";
inline constexpr std::string_view kHourSystem = "LocalSetup/HourSystem";
inline constexpr std::string_view kWatermark = "LocalSetup/Watermark";
// Outside "LocalSetup": a preference of this client that the recorder's tools never read.
inline constexpr std::string_view kReconnect = "Reconnect/Enabled";
inline constexpr std::string_view kDrawModeChosen = "Renderer/Chosen";
// "LocalSetup/Opacity/01".."08" for index 0..7.
std::string Opacity(std::size_t index);
// "LocalSetup/AudioBuf/01".."03" for index 0..2.
std::string AudioBuffer(std::size_t index);
// "LocalSetup/Deinterlace/01".."16" for channel 0..15.
std::string Deinterlace(std::size_t channel);
}  // namespace setup_key

// Reads every value; an absent value, one of the wrong type or one out of range takes its
// default. DWORDs: draw mode, date format, save format, hour system, watermark. Text: the
// location. Bytes: each opacity and audio depth keeps the first of up to 4 bytes, each
// de-interlace flag is exactly 1 byte (non-zero is on). The popup opacity is always 255.
LocalSetup LoadLocalSetup(const platform::ISettingsStore& store, const Branding& branding);

// Writes every value (DWORDs, the location as text of its length, the bytes one each).
// Failures are not reported to the user; false when any write failed. A location that is
// not usable is not written, so the stored one stays.
bool SaveLocalSetup(platform::ISettingsStore& store, const LocalSetup& setup);

}  // namespace taviro::app
