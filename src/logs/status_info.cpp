#include "logs/status_info.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "protocol/byte_order.h"

namespace taviro::logs {

namespace {

// Labels and words of the pages, by skin text number.
constexpr int kTextAddress = 5497;
constexpr int kTextPort = 5540;
constexpr int kTextDescription = 5881;
constexpr int kTextMac = 5145;
constexpr int kTextDiskTotal = 5135;
constexpr int kTextDiskRest = 5136;
constexpr int kTextDiskPart = 5137;
constexpr int kTextChannel = 5152;
constexpr int kTextNoRecording = 5144;
constexpr int kTextDevice = 5880;
constexpr int kTextDeviceValue = 5870;
constexpr int kTextValueUnit = 5871;
constexpr int kTextState = 5837;
constexpr std::array<int, 3> kStateTexts{5872, 5873, 5874};

std::string Format(const char* format, auto... values) {
    char text[128];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string ModeText(std::uint8_t mode, const platform::TextLookup& text) {
    switch (mode) {
        case 0:
            return text(kTextNoRecording);
        case 1:
            return "Continuous Recording";
        case 2:
        case 3:
            return "Event Recording";
        default:
            // A mode the recorder has no word for: its number, so nothing is hidden.
            return Format("Mode %d", static_cast<int>(mode));
    }
}

void AddDevice(std::vector<InfoRow>& rows, int index, std::uint8_t value, std::uint8_t state,
               const platform::TextLookup& text) {
    rows.push_back(InfoRow{
        text(kTextDevice) + std::to_string(index + 1), text(kTextDeviceValue),
        value == 0 ? text(kStateTexts[0])
                   : Format("%d %s", static_cast<int>(value), text(kTextValueUnit).c_str())});
    const std::string stateText =
        state < kStateTexts.size() ? text(kStateTexts[state]) : std::to_string(state);
    rows.push_back(InfoRow{"", text(kTextState), stateText});
}

}  // namespace

StatusInfo ParseStatusInfo(std::span<const std::uint8_t> reply) {
    std::array<std::uint8_t, kStatusInfoSize> bytes{};
    std::copy_n(reply.begin(), std::min(reply.size(), bytes.size()), bytes.begin());
    StatusInfo s;
    s.reserved0 = protocol::LoadBE32(bytes.data());
    s.reserved1 = protocol::LoadBE32(bytes.data() + 4);
    s.diskTotal = protocol::LoadBE32(bytes.data() + 8);
    s.diskPart = protocol::LoadBE32(bytes.data() + 12);
    std::copy_n(bytes.begin() + 16, 4, s.groupAPresent.begin());
    std::copy_n(bytes.begin() + 20, 4, s.groupAValue.begin());
    std::copy_n(bytes.begin() + 24, 4, s.groupAState.begin());
    std::copy_n(bytes.begin() + 28, 2, s.groupBPresent.begin());
    std::copy_n(bytes.begin() + 32, 2, s.groupBValue.begin());
    std::copy_n(bytes.begin() + 36, 2, s.groupBState.begin());
    std::copy_n(bytes.begin() + 40, 16, s.recordMode.begin());
    s.shortForm = reply.size() == kShortStatusSize;
    if (s.shortForm) {
        s.recordMode.fill(0);  // the short form has no modes: bytes beyond it read as 0
    }
    return s;
}

std::string SizeText(std::uint32_t megabytes) {
    if (megabytes < 1024) {
        return Format("%5lld MByte", static_cast<long long>(megabytes));
    }
    const std::uint32_t gigabytes = megabytes >> 10;
    if (gigabytes < 1024) {
        return Format("%5lld GByte", static_cast<long long>(gigabytes));
    }
    return Format("%6.2f TByte", static_cast<double>(gigabytes) / 1024.0);
}

std::vector<InfoRow> StatusRows(const StatusInfo& status, int channels,
                                const platform::TextLookup& text) {
    std::vector<InfoRow> rows;
    rows.push_back({text(kTextDiskTotal), SizeText(status.diskTotal), ""});
    // Unsigned: a part above the total wraps, as the recorder's own figure would.
    rows.push_back({text(kTextDiskRest), SizeText(status.diskTotal - status.diskPart), ""});
    rows.push_back({text(kTextDiskPart), SizeText(status.diskPart), ""});
    rows.push_back({});
    const int shown = std::clamp(channels, 0, static_cast<int>(status.recordMode.size()));
    for (int ch = 0; ch < shown; ++ch) {
        rows.push_back({Format("%s %02d", text(kTextChannel).c_str(), ch + 1),
                        ModeText(status.recordMode[static_cast<std::size_t>(ch)], text), ""});
    }
    if (status.shortForm) {
        return rows;
    }
    rows.push_back({});
    for (std::size_t i = 0; i < status.groupAPresent.size(); ++i) {
        if (status.groupAPresent[i] != 0) {
            AddDevice(rows, static_cast<int>(i), status.groupAValue[i], status.groupAState[i],
                      text);
        }
    }
    for (std::size_t i = 0; i < status.groupBPresent.size(); ++i) {
        if (status.groupBPresent[i] != 0) {
            AddDevice(rows, static_cast<int>(i), status.groupBValue[i], status.groupBState[i],
                      text);
        }
    }
    return rows;
}

std::vector<InfoRow> SystemRows(const SystemFacts& facts, const platform::TextLookup& text) {
    std::vector<InfoRow> rows;
    rows.push_back({text(kTextAddress), facts.address, ""});
    rows.push_back({text(kTextPort), std::to_string(facts.port), ""});
    rows.push_back({text(kTextDescription), facts.description, ""});
    const auto& mac = facts.hello.mac_address;
    std::string macText =
        Format("%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    std::transform(macText.begin(), macText.end(), macText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    rows.push_back({text(kTextMac), macText, ""});
    rows.push_back({});
    struct FirmwareRow {
        int label;
        std::size_t entry;
    };
    const bool subFirmware =
        facts.hello.product_major_ver != 0 || facts.hello.product_minor_ver > 1;
    for (const FirmwareRow row :
         {FirmwareRow{5146, 0}, FirmwareRow{5147, 3}, FirmwareRow{5148, 4}, FirmwareRow{5149, 2},
          FirmwareRow{5150, 5}, FirmwareRow{5151, 6}}) {
        if (row.label == 5149 && !subFirmware) {
            continue;
        }
        const platform::CivilTime t = platform::CivilFromSeconds(facts.hello.FirmVer[row.entry]);
        rows.push_back(
            {text(row.label),
             Format("%04d  %02d%02d  %02d%02d", t.year, t.month, t.day, t.hour, t.minute),
             facts.hello.FirmwareName(row.entry)});
    }
    return rows;
}

}  // namespace taviro::logs
