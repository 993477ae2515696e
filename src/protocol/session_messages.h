// What the session tells the windows through the message sink: its log-in, live view's
// channels and grid mode, the controls whose state it owns, talk, the rights it withdraws and
// the windows that close with it. Posted from the session's threads, read on the window's.
#pragma once

#include <cstdint>

namespace taviro::protocol {

inline constexpr std::uint32_t WM_DB_INFO = 0x5227;
inline constexpr std::uint32_t WM_TALK_STARTED = 0x523D;
inline constexpr std::uint32_t WM_TALK_STOPPED = 0x523E;
// wParam = DialogGroup, lParam = 1 once logged in.
inline constexpr std::uint32_t WM_CLOSE_SESSION_DIALOGS = 0x5401;
inline constexpr std::uint32_t WM_CLEAR_CHANNEL_GRID = 0x5402;
// The session asks its owner to discard it (a failed connect).
inline constexpr std::uint32_t WM_RELEASE_SESSION = 0x5403;
// The login answer was accepted; identity is readable.
inline constexpr std::uint32_t WM_SESSION_LOGGED_IN = 0x5404;
// wParam = mask of channels this user must not see.
inline constexpr std::uint32_t WM_CHANNEL_HIDDEN = 0x5405;
// wParam = channels with a picture, lParam = video-loss set.
inline constexpr std::uint32_t WM_CHANNEL_AVAILABLE = 0x5406;
inline constexpr std::uint32_t WM_REDRAW_CHANNEL_GRID = 0x5407;
// wParam = GridMode, lParam = layout number (its button down).
inline constexpr std::uint32_t WM_CHANNEL_GRID_MODE = 0x5408;
inline constexpr std::uint32_t WM_STOP_LIVE_AUDIO = 0x5409;
inline constexpr std::uint32_t WM_CLOSE_PTZ = 0x540A;
// wParam = RightsWithdrawal bits.
inline constexpr std::uint32_t WM_RIGHTS_WITHDRAWN = 0x540B;
// The channel titles changed; read them from the session.
inline constexpr std::uint32_t WM_CHANNEL_TITLES = 0x540C;

// The search window's month answers (the session answers a refused request with an empty
// one), and which of playback and backup remain allowed (21077).
inline constexpr std::uint32_t WM_PLAY_MONTH_READY = 0x5234;
inline constexpr std::uint32_t WM_BACKUP_MONTH_READY = 0x5236;
inline constexpr std::uint32_t WM_SEARCH_RIGHTS = 0x5255;

// A player's state changed (remote or local playback): the panes' playback icon follows.
inline constexpr std::uint32_t WM_PLAYER_INFO = 0x5256;

// The channel grid's modes (WM_CHANNEL_GRID_MODE).
enum GridMode : std::uint64_t { kGridNone = 0, kGridLive = 1, kGridPlayback = 2, kGridLocal = 3 };

// What the main window must stop when the recorder withdraws rights (WM_RIGHTS_WITHDRAWN).
enum RightsWithdrawal : std::uint64_t {
    kCloseSearchDialog = 1,  // the search dialog and its children
    kStopPlayback = 2,       // remote playback, if it runs
    kStopBackup = 4,         // backup, if it runs
    kDiscardSearch = 8,      // the session's search state and calendar buffers
};

enum DialogGroup : std::uint64_t {
    kDependentDialogs = 0,  // current modeless dialog, search and playback dialog
    kRemainingDialogs = 1,  // information, PTZ and similar session windows
};

// The main window's controls whose state the session reports (WM_CONTROL_STATE).
enum SessionControl : std::uint64_t {
    kCtlMike = 376,
    kCtlConnect = 360,
    kCtlLive = 369,
    kCtlAudio = 378,
    kCtlRecord = 344,  // the record button's lamp
    // Groups of controls reported together.
    kCtlLiveButtons = 0x10000,     // the buttons that only work in live view
    kCtlChannelButtons = 0x10001,  // channel buttons 300..315
};

}  // namespace taviro::protocol
