#include "app/local_setup.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "app/storage_folders.h"

namespace taviro::app {

namespace {

std::string UpperCased(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    return upper;
}

std::string IndexedKey(std::string_view group, std::size_t index) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02u", static_cast<unsigned>((index + 1) % 100));
    std::string key = "LocalSetup/";
    key += group;
    key += '/';
    key += digits;
    return key;
}

// A DWORD value within 0..max, else nothing.
std::optional<std::uint8_t> ReadSmallInt(const platform::ISettingsStore& store,
                                         std::string_view path, std::uint8_t max) {
    const std::optional<std::uint32_t> value = store.GetInt(path);
    if (!value || *value > max)
        return std::nullopt;
    return static_cast<std::uint8_t>(*value);
}

// The reader asks for up to `maxSize` bytes and keeps the first; a larger value does not
// fit the request and counts as absent, as does an empty one.
std::optional<std::uint8_t> ReadFirstByte(const platform::ISettingsStore& store,
                                          std::string_view path, std::size_t maxSize) {
    const std::optional<std::vector<std::uint8_t>> bytes = store.GetBytes(path);
    if (!bytes || bytes->empty() || bytes->size() > maxSize)
        return std::nullopt;
    return bytes->front();
}

bool WriteByte(platform::ISettingsStore& store, const std::string& path, std::uint8_t value) {
    const std::uint8_t bytes[1] = {value};
    return store.SetBytes(path, bytes);
}

}  // namespace

std::uint8_t DrawModeFromBranding(std::string_view text) {
    return UpperCased(text) == "RGB" ? kDrawModeRgb : kDrawModeYuv;
}

std::uint8_t DateFormatFromBranding(std::string_view text) {
    const std::string upper = UpperCased(text);
    if (upper == "MM-DD-YYYY")
        return kDateMonthDayYear;
    if (upper == "DD-MM-YYYY")
        return kDateDayMonthYear;
    return kDateYearMonthDay;
}

LocalSetup DefaultLocalSetup(const Branding& branding) {
    LocalSetup setup;
    setup.drawMode = DrawModeFromBranding(branding.drawMode);
    setup.dateFormat = DateFormatFromBranding(branding.dateFormat);
    setup.location = DefaultLocation(branding).string();
    return setup;
}

bool IsUsableLocation(std::string_view location) {
    return !location.empty() && location.size() <= kLocationMax &&
           location.find('\0') == std::string_view::npos && location.front() == '/';
}

namespace setup_key {
std::string Opacity(std::size_t index) {
    return IndexedKey("Opacity", index);
}
std::string AudioBuffer(std::size_t index) {
    return IndexedKey("AudioBuf", index);
}
std::string Deinterlace(std::size_t channel) {
    return IndexedKey("Deinterlace", channel);
}
}  // namespace setup_key

LocalSetup LoadLocalSetup(const platform::ISettingsStore& store, const Branding& branding) {
    LocalSetup setup = DefaultLocalSetup(branding);

    setup.drawMode =
        ReadSmallInt(store, setup_key::kDrawMode, kDrawModeRgb).value_or(setup.drawMode);
    setup.dateFormat =
        ReadSmallInt(store, setup_key::kDateFormat, kDateDayMonthYear).value_or(setup.dateFormat);
    setup.saveFormat =
        ReadSmallInt(store, setup_key::kSaveFormat, kSaveFormatMax).value_or(setup.saveFormat);
    setup.hourSystem =
        ReadSmallInt(store, setup_key::kHourSystem, kHourSystemMax).value_or(setup.hourSystem);
    setup.watermark =
        ReadSmallInt(store, setup_key::kWatermark, kWatermarkMax).value_or(setup.watermark);
    setup.reconnect = ReadSmallInt(store, setup_key::kReconnect, 1).value_or(setup.reconnect);
    setup.drawModeChosen =
        ReadSmallInt(store, setup_key::kDrawModeChosen, 1).value_or(setup.drawModeChosen);

    if (const std::optional<std::string> location = store.GetString(setup_key::kLocation);
        location && IsUsableLocation(*location))
        setup.location = *location;

    for (std::size_t i = 0; i < kStoredOpacityCount; ++i)
        setup.opacity[i] = ReadFirstByte(store, setup_key::Opacity(i), 4).value_or(kDefaultOpacity);
    setup.opacity[opacity::kPopup] = kDefaultOpacity;

    for (std::size_t i = 0; i < kAudioBufferCount; ++i) {
        const std::optional<std::uint8_t> depth =
            ReadFirstByte(store, setup_key::AudioBuffer(i), 4);
        setup.audioBuffer[i] = (depth && *depth <= kAudioBufferMax) ? *depth : kDefaultAudioBuffer;
    }

    for (std::size_t i = 0; i < kDeinterlaceCount; ++i) {
        const std::optional<std::uint8_t> flag = ReadFirstByte(store, setup_key::Deinterlace(i), 1);
        setup.deinterlace[i] = (flag && *flag != 0) ? 1 : 0;
    }
    return setup;
}

bool SaveLocalSetup(platform::ISettingsStore& store, const LocalSetup& setup) {
    bool ok = true;
    ok &= store.SetInt(setup_key::kDrawMode, setup.drawMode);
    ok &= store.SetInt(setup_key::kDrawModeChosen, setup.drawModeChosen);
    ok &= store.SetInt(setup_key::kDateFormat, setup.dateFormat);
    ok &= store.SetInt(setup_key::kSaveFormat, setup.saveFormat);
    if (IsUsableLocation(setup.location)) {
        ok &= store.SetString(setup_key::kLocation, setup.location);
    } else {
        ok = false;
    }
    for (std::size_t i = 0; i < kStoredOpacityCount; ++i)
        ok &= WriteByte(store, setup_key::Opacity(i), setup.opacity[i]);
    for (std::size_t i = 0; i < kAudioBufferCount; ++i)
        ok &= WriteByte(store, setup_key::AudioBuffer(i), setup.audioBuffer[i]);
    for (std::size_t i = 0; i < kDeinterlaceCount; ++i)
        ok &= WriteByte(store, setup_key::Deinterlace(i), setup.deinterlace[i]);
    ok &= store.SetInt(setup_key::kHourSystem, setup.hourSystem);
    ok &= store.SetInt(setup_key::kWatermark, setup.watermark);
    ok &= store.SetInt(setup_key::kReconnect, setup.reconnect);
    return ok;
}

}  // namespace taviro::app
