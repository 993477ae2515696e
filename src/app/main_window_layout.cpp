#include "app/main_window_layout.h"

#include "protocol/session_messages.h"

#include <algorithm>
#include <array>

#include "platform/skin_numbers.h"

namespace taviro::app {
namespace {

namespace skin = platform::skin;

// Geometry of the rows and columns around the channel grid.
constexpr int kTopRowY = 35;
constexpr int kChannelButtonW = 28;
constexpr int kChannelButtonH = 26;
constexpr int kChannelStep = 30;
constexpr int kLayoutButtonW = 26;
constexpr int kLayoutStep = 28;
constexpr int kLayoutRowX = 596;  // ten buttons ending at the grid's right edge
constexpr int kSideW = 46;
constexpr int kSideH = 44;
constexpr int kSideStep = 48;
constexpr int kSideTop = 70;
constexpr int kLeftX = 4;
constexpr int kRightX = 878;
constexpr int kPlayW = 40;
constexpr int kPlayH = 32;
constexpr int kPlayStep = 44;
constexpr int kPlayY = 670;
constexpr int kPlayRowX = 540;

constexpr LayoutRect Channel(int i) {
    return LayoutRect{kChannelGridRect.x + i * kChannelStep, kTopRowY, kChannelButtonW,
                      kChannelButtonH};
}
constexpr LayoutRect Layout(int i) {
    return LayoutRect{kLayoutRowX + i * kLayoutStep, kTopRowY, kLayoutButtonW, kChannelButtonH};
}
constexpr LayoutRect Left(int row) {
    return LayoutRect{kLeftX, kSideTop + row * kSideStep, kSideW, kSideH};
}
constexpr LayoutRect Right(int row) {
    return LayoutRect{kRightX, kSideTop + row * kSideStep, kSideW, kSideH};
}
// Playback row, left to right: previous step, backward, pause, forward, next step, stop,
// then (after a gap) record.
constexpr LayoutRect Play(int slot) {
    return LayoutRect{kPlayRowX + slot * kPlayStep + (slot >= 6 ? 12 : 0), kPlayY, kPlayW, kPlayH};
}

constexpr std::uint32_t kFirstChannel = 300;
constexpr std::uint32_t kFirstLayout = 320;

using K = ControlKind;
using G = ControlGroup;

constexpr std::array<std::string_view, 16> kChannelLabels = {
    "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"};
constexpr std::array<std::string_view, 10> kLayoutLabels = {"1", "4",  "6",  "7",  "8",
                                                            "9", "10", "13", "16", "Full"};

constexpr auto MakeTable() {
    std::array<MainControl, 16 + 10 + 7 + 11 + 9 + 1 + 2> t{};
    std::size_t n = 0;
    for (int i = 0; i < 16; ++i)
        t[n++] = MainControl{kFirstChannel + static_cast<std::uint32_t>(i),
                             K::Radio,
                             G::Channels,
                             Channel(i),
                             skin::kPicChannelButtonFirst + i,
                             skin::kButtonFrames,
                             kChannelLabels[static_cast<std::size_t>(i)]};
    for (int i = 0; i < 10; ++i)
        t[n++] = MainControl{kFirstLayout + static_cast<std::uint32_t>(i),
                             i == 9 ? K::Push : K::Radio,
                             G::Layouts,
                             Layout(i),
                             skin::kPicLayoutButtonFirst + i,
                             skin::kButtonFrames,
                             kLayoutLabels[static_cast<std::size_t>(i)]};
    const auto play = [&](std::uint32_t id, K kind, int slot, int picture, std::string_view label) {
        t[n++] =
            MainControl{id, kind, G::Playback, Play(slot), picture, skin::kButtonFrames, label};
    };
    play(340, K::Push, 0, skin::kPicPlayPrevStep, "1");
    play(341, K::Push, 1, skin::kPicPlayBackward, "2");
    play(343, K::Push, 2, skin::kPicPlayPause, "4");
    play(342, K::Push, 3, skin::kPicPlayForward, "3");
    play(346, K::Push, 4, skin::kPicPlayNextStep, "7");
    play(345, K::Push, 5, skin::kPicPlayStop, "6");
    play(344, K::Check, 6, skin::kPicRecord, "5");
    const auto left = [&](std::uint32_t id, K kind, int row, int picture, std::string_view label) {
        t[n++] = MainControl{id, kind, G::Services, Left(row), picture, skin::kButtonFrames, label};
    };
    left(360, K::Check, 0, skin::kPicConnect, "Connect");
    left(361, K::Check, 1, skin::kPicRemoteSearch, "RSearch");
    left(362, K::Check, 2, skin::kPicRemoteSetup, "RSetup");
    left(363, K::Check, 3, skin::kPicLocalSearch, "LSearch");
    left(364, K::Check, 4, skin::kPicLocalSetup, "LSetup");
    left(372, K::Push, 5, skin::kPicSave, "Save");
    left(373, K::Push, 6, skin::kPicLoad, "Load");
    left(374, K::Push, 7, skin::kPicFirmware, "FirmUp");
    left(375, K::Push, 8, skin::kPicVersion, "VerInfo");
    // The recorder panel: the recorders of the site and their channels.
    left(kSiteButton, K::Check, 9, skin::kPicSite, "Site");
    // Quit sits apart at the foot of the column, where a stray click cannot reach it.
    t[n++] = MainControl{365,
                         K::Push,
                         G::Services,
                         LayoutRect{kLeftX, kChannelGridRect.Bottom() - kSideH - 4, kSideW, kSideH},
                         skin::kPicQuit,
                         skin::kButtonFrames,
                         "Quit"};
    const auto right = [&](std::uint32_t id, K kind, int row, int picture, std::string_view label) {
        t[n++] = MainControl{id, kind, G::Tools, Right(row), picture, skin::kButtonFrames, label};
    };
    right(369, K::Check, 0, skin::kPicLive, "Live");
    right(370, K::Push, 1, skin::kPicOsd, "OSD");
    right(371, K::Push, 2, skin::kPicArrange, "Arrange");
    right(355, K::Check, 3, skin::kPicPan, "Pan");
    right(356, K::Check, 4, skin::kPicZoom, "Zoom");
    right(376, K::Check, 5, skin::kPicMike, "Mike");
    right(378, K::Check, 6, skin::kPicAudio, "Audio");
    right(368, K::Push, 7, skin::kPicSelectAudio, "SelAudio");
    right(366, K::Check, 8, skin::kPicSound, "Sound");
    t[n++] = MainControl{
        kMinButtonId,           K::Push, G::Window, LayoutRect{904, 1, 16, 13}, skin::kPicMinButton,
        skin::kMinButtonFrames, "Min"};
    // The position slider fills the bottom row left of the transport buttons; the volume
    // slider hangs below Sound in the right column.
    t[n++] = MainControl{kPositionSliderId,
                         K::SliderHorizontal,
                         G::Playback,
                         LayoutRect{kChannelGridRect.x + 6, kPlayY + 8, 460, 16},
                         0,
                         1,
                         "slider"};
    t[n++] = MainControl{kVolumeSliderId,
                         K::SliderVertical,
                         G::Tools,
                         LayoutRect{kRightX + (kSideW - 16) / 2, kSideTop + 9 * kSideStep + 4, 16,
                                    kChannelGridRect.Bottom() - (kSideTop + 9 * kSideStep + 4) - 4},
                         0,
                         1,
                         "slider"};
    // Every slot is filled: a miscount fails the build here.
    if (n != t.size())
        throw "control table miscounted";
    return t;
}

constexpr auto kControls = MakeTable();

constexpr std::array<std::uint32_t, 25> MakeViewGroup() {
    std::array<std::uint32_t, 25> g{};
    for (std::uint32_t i = 0; i < 16; ++i)
        g[i] = kFirstChannel + i;
    for (std::uint32_t i = 0; i < 9; ++i)
        g[16 + i] = kFirstLayout + i;
    return g;
}

constexpr auto kViewGroup = MakeViewGroup();

ToolTip Text(int number) {
    return ToolTip{number, {}};
}
ToolTip Literal(std::string text) {
    return ToolTip{0, std::move(text)};
}

}  // namespace

std::span<const MainControl> MainWindowControls() {
    return kControls;
}

const MainControl* FindMainControl(std::uint32_t id) {
    const auto it = std::find_if(kControls.begin(), kControls.end(),
                                 [id](const MainControl& c) { return c.id == id; });
    return it == kControls.end() ? nullptr : &*it;
}

std::span<const std::uint32_t> ViewButtonGroup() {
    return kViewGroup;
}

std::optional<ToolTip> MainToolTip(std::uint32_t id, bool loggedIn, bool recording) {
    if (id >= 300 && id <= 315)
        return ToolTip{5009, " " + std::to_string(id - 299)};
    if (id >= 322 && id <= 328) {
        constexpr std::array<const char*, 7> kPanes = {"6", "7", "8", "9", "10", "13", "16"};
        return Literal(kPanes[id - 322]);
    }
    // The keys that work the playback buttons while playback runs follow their texts.
    if (id == 340)
        return ToolTip{5022, " (Left)"};
    if (id == 343)
        return ToolTip{5025, " (Space)"};
    if (id >= 341 && id <= 342)
        return Text(static_cast<int>(5022 + (id - 340)));
    if (id >= 361 && id <= 364)
        return Text(static_cast<int>(5001 + (id - 361)));
    if (id >= 369 && id <= 373)
        return Text(static_cast<int>(5013 + (id - 369)));
    switch (id) {
        case 320:
            return Text(5010);
        case 321:
            return Text(5011);
        case 329:
            return Text(5012);
        case 344:
            return Text(recording ? 5882 : 5883);
        case 345:
            return ToolTip{5027, " (Esc)"};
        case 346:
            return ToolTip{5028, " (Right)"};
        case 355:
            return Text(5005);
        case 356:
            return Text(5006);
        case 360:
            return Text(loggedIn ? 5830 : 5000);
        case 365:
            return Text(5008);
        case 366:
            return Text(5018);
        case 368:
            return Text(5020);
        case 374:
            return Text(5007);
        case 375:
            return Literal("Program Version");
        case kSiteButton:
            return Literal("Recorders of the site");
        case 376:
            return Text(5021);
        case 377:
            return Text(5029);
        case 378:
            return Text(5030);
        case 421:
            return Text(5019);
        default:
            return std::nullopt;
    }
}

std::vector<std::uint32_t> ControlsOfState(std::uint64_t control) {
    if (control == protocol::kCtlLiveButtons)
        return {343, 355, 356, 368, 372, 378};
    if (control == protocol::kCtlChannelButtons) {
        std::vector<std::uint32_t> ids;
        for (std::uint32_t id = 300; id <= 315; ++id)
            ids.push_back(id);
        return ids;
    }
    return {static_cast<std::uint32_t>(control)};
}

}  // namespace taviro::app
