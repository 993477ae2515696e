#include "app/key_map.h"

#include <array>

namespace taviro::app {

namespace {

// The digits follow the layout buttons from left to right (1, 4, 6, 7, 8, 9, 10, 13 and
// 16 panes), so the key row mirrors the button row.
constexpr std::array kBindings = {
    KeyBinding{"1", KeyCommand::kLayout, 320, "one channel"},
    KeyBinding{"2", KeyCommand::kLayout, 321, "4 panes"},
    KeyBinding{"3", KeyCommand::kLayout, 322, "6 panes"},
    KeyBinding{"4", KeyCommand::kLayout, 323, "7 panes"},
    KeyBinding{"5", KeyCommand::kLayout, 324, "8 panes"},
    KeyBinding{"6", KeyCommand::kLayout, 325, "9 panes"},
    KeyBinding{"7", KeyCommand::kLayout, 326, "10 panes"},
    KeyBinding{"8", KeyCommand::kLayout, 327, "13 panes"},
    KeyBinding{"9", KeyCommand::kLayout, 328, "16 panes"},
    KeyBinding{"PgDown", KeyCommand::kNextPage, 0, "next page of the layout"},
    KeyBinding{"PgUp", KeyCommand::kPreviousPage, 0, "previous page of the layout"},
    KeyBinding{"F11", KeyCommand::kFullScreen, 0, "full screen on / off (Esc also leaves)"},
    KeyBinding{"O", KeyCommand::kCycleOsd, 0, "on-screen display: full, title, off, statistics"},
    KeyBinding{"I", KeyCommand::kStatisticsOsd, 0,
               "stream statistics on / off (kbit/s, fps, drops, decode time)"},
    KeyBinding{"S", KeyCommand::kSnapshot, 0, "snapshot of every shown channel"},
    KeyBinding{"A", KeyCommand::kNextAudio, 0, "hear the next channel with audio"},
    KeyBinding{"M", KeyCommand::kMute, 0, "mute / unmute the sound"},
    KeyBinding{"F1", KeyCommand::kAbout, 0, "about Taviro and these keys"},
};

constexpr std::array kCommands = {
    KeyCommand::kLayout,     KeyCommand::kNextPage,  KeyCommand::kPreviousPage,
    KeyCommand::kFullScreen, KeyCommand::kCycleOsd,  KeyCommand::kStatisticsOsd,
    KeyCommand::kSnapshot,   KeyCommand::kNextAudio, KeyCommand::kMute,
    KeyCommand::kAbout,
};

}  // namespace

std::span<const KeyBinding> KeyBindings() {
    return kBindings;
}

std::span<const KeyCommand> AllKeyCommands() {
    return kCommands;
}

int KeyButton(const KeyBinding& key, int layoutButton) {
    switch (key.command) {
        case KeyCommand::kLayout:
            return key.argument;
        case KeyCommand::kNextPage:
            return layoutButton;  // pressed again, a layout's button shows its next page
        case KeyCommand::kFullScreen:
            return 329;
        case KeyCommand::kCycleOsd:
            return 370;
        case KeyCommand::kSnapshot:
            return 372;
        case KeyCommand::kNextAudio:
            return 368;
        case KeyCommand::kMute:
            return 366;
        case KeyCommand::kPreviousPage:
        case KeyCommand::kStatisticsOsd:
        case KeyCommand::kAbout:
            break;
    }
    return -1;
}

}  // namespace taviro::app
