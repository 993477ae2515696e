// The main window's keys: one table of key -> command that the window binds and the About
// dialog lists. Every command does what its button does; the window runs the button's own
// code path for it.
//
// Keys are written in the portable key-sequence text ("F11", "PgDown", "Ctrl+S", "1"), so the
// window turns them into shortcuts as they stand and the About dialog shows them as they are.
// Keys that other parts of the window already take are not used here: the arrows, + and -
// steer while the PTZ panel is open; Space, Left, Right and Escape drive remote playback;
// Escape and Return leave full screen.
//
// Threads: constant data, any thread.
#pragma once

#include <span>
#include <string_view>

namespace taviro::app {

enum class KeyCommand {
    kLayout,         // argument: the layout button 320..328
    kNextPage,       // the current layout's button again (its next page)
    kPreviousPage,   // the page before, in the current layout
    kFullScreen,     // full screen on, or off again
    kCycleOsd,       // the OSD button: full -> title -> off -> statistics -> full
    kStatisticsOsd,  // the statistics OSD on, or back to the mode before it
    kSnapshot,       // the Save button: every shown channel
    kNextAudio,      // the SelAudio button: the next channel with audio is heard
    kMute,           // the Sound button: our own output muted or not
    kAbout,          // program name, version and this table
};

struct KeyBinding {
    std::string_view key;  // portable key-sequence text
    KeyCommand command;
    int argument;  // kLayout: the button id; otherwise 0
    std::string_view meaning;
};

// Every binding, in the order the About dialog lists them.
std::span<const KeyBinding> KeyBindings();

// The button a key presses (`layoutButton`: the current layout's), or -1 for the keys that
// have no button of their own (the previous page, the statistics, About).
int KeyButton(const KeyBinding& key, int layoutButton);

// Every command, once (for checks that each has a key and a text).
std::span<const KeyCommand> AllKeyCommands();

}  // namespace taviro::app
