// The channel grid's layout logic without any window: the nine split layouts and their pane
// rectangles, paging through channels, the arrangement of channels over pane slots (drag and
// drop, "Arrange"), single-channel view and double-click zoom, full-screen placement, and the
// visible-channel request that keeps the recorder streaming only what is shown.
//
// Every transition returns a LayoutEffects record saying what the window must do (repaint,
// forget has-picture marks, send a request, show buttons pressed); nothing here calls out.
//
// Threads: transitions run on the user-interface thread. Decoder threads read the
// arrangement (SlotOfChannel, ChannelOfSlot) at any time; its entries are atomics, and swaps
// run inside the runner given to SetAllChannelsLock so they happen under all 16 channel locks.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/message_sink.h"
#include "protocol/channel_mask.h"
#include "protocol/session_messages.h"

namespace taviro::video {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    [[nodiscard]] int Width() const { return right - left; }
    [[nodiscard]] int Height() const { return bottom - top; }
    // Right and bottom edges are outside, as with window rectangles.
    [[nodiscard]] bool Contains(int x, int y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// The slots of one recorder's channels; a site of several recorders has up to kMaxPanes.
inline constexpr int kSlotCount = protocol::kMaxChannels;
// Channels of all recorders in one grid, and so pane slots; slot and channel numbers up to
// kSlotCount follow the recorder family's paging rules, beyond that every layout pages
// through the channels in order.
inline constexpr int kMaxPanes = 64;
// One bit per slot, or per channel of the grid (the site's channels in recorder order).
using PaneMask = std::uint64_t;
constexpr PaneMask PaneBit(int index) {
    return index >= 0 && index < kMaxPanes ? PaneMask{1} << static_cast<unsigned>(index) : 0;
}
constexpr bool HasPane(PaneMask mask, int index) {
    return (mask & PaneBit(index)) != 0;
}
// The grid channels 0..15 as one recorder's mask (the grid of a single recorder).
constexpr protocol::ChannelMask FirstRecorderMask(PaneMask mask) {
    return static_cast<protocol::ChannelMask>(mask & protocol::kAllChannels);
}
inline constexpr int kLayoutCount = 9;
// The layout identifiers in button order; the gaps belong to the recorder family's numbering.
inline constexpr std::array<int, kLayoutCount> kLayoutIds = {0, 1, 2, 3, 5, 6, 7, 13, 14};
inline constexpr int kInitialLayout = 14;

// Main-window controls.
inline constexpr int kChannelButtonFirst = 300;  // 300..315 channel 0..15 alone
inline constexpr int kLayoutButtonFirst = 320;   // 320..328 in kLayoutIds order
inline constexpr int kFullScreenButton = 329;
inline constexpr int kArrangeButton = 371;
// Full-screen toolbar commands 400..408 select the layouts in kLayoutIds order.
inline constexpr int kToolbarLayoutFirst = 400;

// Where the main window places the grid, and its border and background there.
inline constexpr Rect kMainGridRect{54, 67, 874, 661};
inline constexpr int kMainGridBorder = 1;
inline constexpr std::uint32_t kMainGridColour = 0x969696;  // RGB(150, 150, 150)
// The drag image's frame.
inline constexpr int kDragFramePen = 4;
inline constexpr std::uint32_t kDragFrameColour = 0x505096;  // RGB(150, 80, 80) as COLORREF
// The full-screen toolbar dialog.
inline constexpr int kToolbarWidth = 401;
inline constexpr int kToolbarHeight = 44;
inline constexpr int kMaxMonitors = 4;

// Position in kLayoutIds (0..8), or -1 for an unknown layout identifier.
int LayoutOrdinal(int layout);
// Panes on one page of the layout (0 for an unknown layout).
int PanesPerPage(int layout);
int LayoutButton(int layout);  // 320..328, or -1
// The layout a button (320..328) or toolbar command (400..408) selects, or -1.
int LayoutOfButton(int controlId);
int LayoutOfToolbarCommand(int command);

// Pages per layout by channel count, in kLayoutIds order. The creation table is used at start
// and whenever the channel count is set; live view replaces it with its own.
using PageTable = std::array<int, kLayoutCount>;
PageTable CreationPageTable(int channelCount);
PageTable LivePageTable(int channelCount);
// The layout live view and remote playback start with.
int StartLayout(int channelCount);

// Rectangle of each of the 16 pane slots of a layout on a page, in grid client coordinates,
// for a grid of width x height with the given border. Slots that the page does not show keep
// the rectangle of their position on their own page. Unknown layouts give empty rectangles.
// `channelCount` above kSlotCount: every layout pages through the slots in order.
std::array<Rect, kMaxPanes> PaneRects(int layout, int page, int width, int height, int border,
                                      int channelCount = kSlotCount);
// The rectangle of one position (0 .. panes-1) of a page; empty when out of range.
Rect PositionRect(int layout, int position, int width, int height, int border);
// Slots shown by a page (bit s = slot s), before any availability check.
PaneMask VisibleSlots(int layout, int page, int channelCount);

// What the rest of the client tells the grid; the owner sets it whenever it changes.
// A recorder of a grid of several, as its panes name it.
struct PaneRecorder {
    std::string name;   // its description, else host:port
    std::string state;  // why it shows nothing ("reconnecting in 4 s"); empty while connected
    bool connected = true;
    friend bool operator==(const PaneRecorder&, const PaneRecorder&) = default;
};

// The panes' facts, by channel of the grid (one recorder's channels as it numbers them).
struct GridStatus {
    bool session = false;  // a recorder session exists
    PaneMask videoLoss = 0;
    PaneMask blocked = 0;                               // covert or no viewing right
    std::array<std::uint8_t, kMaxPanes> cameraFlags{};  // per-channel camera flags of the recorder
    bool audioOutput = false;                           // a sound output device exists
    int ptzChannel = -1;
    int ptzState = 0;     // 0 inactive, 1 and 2 the two active states
    int playerSpeed = 0;  // speed code of the remote or local player
    // With several recorders in the grid, each by its place; empty for a grid of one (whose
    // panes name no recorder).
    std::vector<PaneRecorder> recorders;
    friend bool operator==(const GridStatus&, const GridStatus&) = default;
};

// What the window knows about the rest of the client when a transition runs.
struct GridContext {
    protocol::GridMode mode = protocol::kGridNone;
    protocol::ChannelMask playbackChannels = 0;  // channels being played back remotely
    int playState = 0;                           // remote player state
    int localPlayState = 0;                      // local player state
    bool ptzDomeMenu = false;                    // requests are ignored in dome-menu mode
    bool ptzOpen = false;
    int ptzChannel = -1;
    PaneMask audioMask = 0;  // channels with audio (the grid's numbering)
    bool liveFrozen = false;
};

// The recorder request for the visible set: LIVE_REQ in live view, PLAY_VIEW_CH in remote
// playback, with the mask as one big-endian word.
struct VisibleRequest {
    std::uint16_t code = 0;
    protocol::ChannelMask mask = 0;
    std::array<std::uint8_t, 4> payload{};
};

// The buttons the main window shows pressed: the layout button, and the channel button after
// a single-channel selection (-1 when none).
struct PressedButtons {
    int layoutButton = -1;
    int channelButton = -1;
    friend bool operator==(const PressedButtons&, const PressedButtons&) = default;
};

struct LayoutEffects {
    bool ignored = false;          // nothing happened (dome-menu mode, unavailable channel ...)
    bool repaint = false;          // repaint the whole grid now
    int repaintAfterMs = 0;        // also repaint once after this delay (frozen live view)
    bool clearHasPicture = false;  // CChannelViews::ClearHasPicture
    bool availableShown = false;   // a page with an available channel is shown
    bool visibleChanged = false;   // the visible channel set differs from before
    PaneMask visibleChannels = 0;
    // The recorder's request, for a grid of one recorder (up to kSlotCount channels); a
    // grid of several asks each recorder for its part of visibleChannels.
    std::optional<VisibleRequest> request;
    std::optional<PressedButtons> buttons;
    bool recheckAudio = false;            // re-check the selected audio channel
    std::optional<int> audioChannel;      // becomes the selected audio channel
    std::optional<int> ptzChannel;        // (re-)send this PTZ channel
    bool markPlaybackReposition = false;  // remote playback in state 1 or 7
    bool tellLocalPlayer = false;         // local playback in state 4: new visible set
    bool swapped = false;                 // the arrangement changed
    bool byOperator = false;              // the operator's own drag, drop or double click
};

// A monitor as enumerated at start.
struct MonitorInfo {
    Rect monitor;
    Rect workArea;
};

// Keeps the first four monitors only.
std::vector<MonitorInfo> RecordMonitors(std::span<const MonitorInfo> enumerated);

struct Placement {
    Rect rect;  // in the parent's coordinates (the screen in full screen)
    int border = kMainGridBorder;
    std::uint32_t colour = kMainGridColour;
};

struct FullScreenEffects {
    bool ignored = false;
    int monitorIndex = -1;
    Placement grid;      // where the grid (now a pop-up) goes
    Rect toolbar;        // the toolbar dialog, centred at the monitor's bottom edge
    Rect savedGridRect;  // restored when full screen ends
    bool showMainWindow = false;
};

// A drag in progress: the slot it started from and the pane's rectangle; the drag image is
// that rectangle shrunk by one pixel on each side.
struct DragStart {
    int slot = -1;
    Rect pane;
    Rect image;
};

class CGridLayout {
  public:
    CGridLayout();

    // Runs its argument under all 16 channel locks of the grid; default: runs it directly.
    void SetAllChannelsLock(std::function<void(const std::function<void()>&)> runner);

    // --- state ---
    [[nodiscard]] int Layout() const { return m_layout; }
    [[nodiscard]] int Page() const { return m_page; }
    [[nodiscard]] int PageCount(int layout) const;  // 0 counts as 1
    [[nodiscard]] int ChannelCount() const { return m_channelCount; }
    [[nodiscard]] bool PageLock() const { return m_pageLock; }
    [[nodiscard]] bool Zoomed() const { return m_zoomed; }
    [[nodiscard]] bool FullScreen() const { return m_fullScreen; }
    [[nodiscard]] PaneMask VisiblePanes() const { return m_visiblePanes; }
    [[nodiscard]] PaneMask VisibleChannels() const;
    [[nodiscard]] PaneMask AvailableChannels() const { return m_available; }
    [[nodiscard]] PressedButtons Buttons() const { return m_buttons; }
    [[nodiscard]] Placement CurrentPlacement() const { return m_placement; }

    // Decoder threads ask these to find their pane.
    [[nodiscard]] int ChannelOfSlot(int slot) const;
    [[nodiscard]] int SlotOfChannel(int channel) const;
    // Rectangle of a slot in the current layout and page (grid client coordinates).
    [[nodiscard]] Rect SlotRect(int slot) const;
    [[nodiscard]] bool SlotVisible(int slot) const;
    // The channels of the panes shown, in slot order.
    [[nodiscard]] std::vector<int> ShownChannels() const;
    // The visible slot whose pane contains the point, or -1.
    [[nodiscard]] int SlotAt(Point p) const;

    // --- inputs ---
    // Channel count and availability come from the recorder; setting the count rebuilds the
    // pages table with the creation row.
    void SetChannelCount(int count);
    void SetAvailableChannels(PaneMask mask) { m_available = mask; }
    // Live view starting: the live pages table, then the start layout.
    LayoutEffects StartLive(int channelCount, const GridContext& ctx);
    // Remote playback starting selects the start layout with the current table.
    LayoutEffects StartPlayback(const GridContext& ctx);

    // Moves the grid and recomputes every pane rectangle.
    LayoutEffects Place(const Rect& rect, int border, std::uint32_t colour);

    // Layout button (320..328) or toolbar layout command. The current layout's button pages
    // on by `step` (the page keys go back with -1); pages without an available channel are
    // skipped in the same direction.
    LayoutEffects SelectLayout(int layout, const GridContext& ctx, int step = 1);
    // Channel button 300..315.
    LayoutEffects SelectChannel(int channel, const GridContext& ctx);
    // Double click; `down` is where the button went down.
    LayoutEffects DoubleClick(Point down, const GridContext& ctx);

    // Drag and drop of panes. Nothing when no drag may start there.
    std::optional<DragStart> BeginDrag(Point down, const GridContext& ctx);
    [[nodiscard]] bool Dragging() const { return m_dragSlot >= 0; }
    // Button up at `pointer`: the drag image's centre decides the target slot.
    LayoutEffects EndDrag(Point pointer, const GridContext& ctx);
    // A channel dropped on the pane under `at` (from the recorder panel): that pane shows it,
    // and the pane that showed it takes the channel the pane under `at` had.
    LayoutEffects PlaceChannel(Point at, int channel, const GridContext& ctx);
    // Button "Arrange": every slot shows its own channel again.
    LayoutEffects ResetArrangement();
    // A saved view's arrangement, slot -> channel; ignored unless it is a permutation of
    // 0..kMaxPanes-1 (so no channel is ever shown twice or lost).
    LayoutEffects Arrange(std::span<const int> arrangement);

    // Full screen on the first recorded monitor whose work area holds `mainClientCentre`
    // (else the first monitor).
    FullScreenEffects EnterFullScreen(std::span<const MonitorInfo> monitors,
                                      Point mainClientCentre);
    // Enter, Escape, right button up, or a toolbar command other than 400..408.
    FullScreenEffects LeaveFullScreen();

  private:
    // Slots in use: 16 for a grid of one recorder, one per channel beyond that.
    [[nodiscard]] int SlotLimit() const { return std::max(kSlotCount, m_channelCount); }
    void RecomputeVisible();
    LayoutEffects Finish(PaneMask before, const GridContext& ctx);
    LayoutEffects ShowChannelAlone(int channel, const GridContext& ctx, bool clearZoom);
    void Swap(int slotA, int slotB);
    std::optional<int> PtzResend(const GridContext& ctx) const;

    int m_layout = kInitialLayout;
    int m_page = 0;
    int m_channelCount = kSlotCount;
    PageTable m_pages{};
    std::array<std::atomic<int>, kMaxPanes> m_arrangement{};
    PaneMask m_visiblePanes = 0xFFFF;
    PaneMask m_available = 0;
    bool m_pageLock = true;
    bool m_zoomed = false;
    int m_savedLayout = kInitialLayout;
    int m_savedPage = 0;
    bool m_fullScreen = false;
    Rect m_savedGridRect{};
    Placement m_placement{kMainGridRect, kMainGridBorder, kMainGridColour};
    PressedButtons m_buttons{LayoutButton(kInitialLayout), -1};
    int m_dragSlot = -1;
    Point m_dragOffset{};  // drag image centre minus the button-down point
    std::function<void(const std::function<void()>&)> m_underAllLocks;
};

}  // namespace taviro::video
