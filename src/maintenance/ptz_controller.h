// CPtzController: the state of pan-tilt-zoom control for one connection and the rules of
// its three windows (the PTZ panel, the preset window and the dome menu window), without
// any window. The windows are thin views: they report presses here and redraw from the
// state when the observer is called. The main window feeds it the session (the link), the
// live flag, the rights, the channel scene, the recorder's answer
// (maintenance::WM_PTZ_CHANNEL_ACK), its keys and wheel, and reads back which pane shows the PTZ
// icon.
//
// A held move never outlives what it was aimed at: the controller remembers the move under
// way and sends PTZ_MOVE_STOP when the panel closes, the pointer capture is lost, live view
// stops, another channel is steered or the session closes, not only on the button's
// release.
//
// Threads: the owner's (window) thread only; it never waits (the link queues requests).
// Ownership: the link belongs to the connection and must outlive its use here (SetLink
// with null before the connection goes); the sink is the owner's.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "maintenance/ptz_rules.h"
#include "maintenance/ptz_service.h"
#include "platform/message_sink.h"
#include "protocol/channel_mask.h"
#include "protocol/rights.h"

namespace taviro::maintenance {

enum class PtzResult { kDone, kIgnored, kRefused };

// What the channel grid shows, for choosing the steered channel.
struct PtzScene {
    int selected = -1;       // the selected pane's channel (-1: none)
    std::vector<int> shown;  // the visible panes' channels, in pane order
    protocol::ChannelMask videoLoss = 0;
};

// Keys that steer while the panel is open: the arrow keys move, + and - zoom.
enum class PtzKey { Up, Down, Left, Right, ZoomIn, ZoomOut };

// The main window's PTZ icon: on `channel`'s pane, picture kPicIconPtz1 for state 1 (pan)
// and kPicIconPtz2 for state 2 (zoom); state 0 shows none.
struct PtzIcon {
    int channel = -1;
    int state = 0;
};

// How long a wheel notch zooms before its stop.
inline constexpr std::chrono::milliseconds kWheelZoomTime{200};

class CPtzController {
  public:
    explicit CPtzController(platform::IMessageSink& owner) : m_owner(owner) {}

    // --- the connection ---
    // The session's PTZ link (null: no session). A new link starts from a closed panel;
    // taking the link away closes everything without sending (the session already stopped
    // the move it knew of).
    void SetLink(IPtzLink* link);
    // The session is about to close: a held move is stopped and the windows close.
    void OnSessionClosing();
    // Live view started or stopped (stopping closes the windows, protocol::WM_CLOSE_PTZ).
    void SetLive(bool on);

    // --- the main window's commands ---
    // Buttons 355 "Pan" (mode Pan) and 356 "Zoom" (mode Zoom): open, switch or close the
    // panel. Refused rights close the windows and post (15, 0).
    PtzResult Command(PtzMode mode, const protocol::RightsContext& rights, const PtzScene& scene);
    // "Pan" and "Zoom" on the open panel: switch to the mode, or close when it is the
    // current one (the rights were checked when the panel opened; a withdrawal closes it).
    void PanelCommand(PtzMode mode);
    // The closing procedure ("X", the toggle, protocol::WM_CLOSE_PTZ, lost rights).
    void Close();
    // maintenance::WM_PTZ_CHANNEL_ACK.
    void OnChannelAck(int channel, PtzAvailability availability);
    // The operator selected a pane: its channel is steered from now on.
    void SelectChannel(int channel);
    // The layout or the pane order changed (the channel CGridLayout::PtzResend names): the
    // channel is sent again even when it stays the same.
    void ResendChannel(int channel);

    // --- the panel ---
    void Press(PtzButton button);
    void Release(PtzButton button);
    // The pad lost the pointer while a button was held (no release will come).
    void CaptureLost();

    // --- the preset window ---
    void PresetPress(PresetKey key);
    void PresetDigit(int digit);

    // --- the dome menu window ---
    void DomeSelect();
    void DomePrevious();
    void DomeClose();

    // --- keys and wheel (while the panel is open); true when the key was used ---
    bool KeyDown(PtzKey key);
    bool KeyUp(PtzKey key);
    // A wheel notch on `channel`'s pane: zooms in (delta > 0) or out. Returns how long
    // until the owner calls EndWheel(); nullopt when the wheel did nothing.
    std::optional<std::chrono::milliseconds> Wheel(int channel, int delta);
    void EndWheel();

    // --- state for the views ---
    [[nodiscard]] bool PanelOpen() const { return m_bPanelOpen; }
    [[nodiscard]] PtzMode Mode() const { return m_mode; }
    [[nodiscard]] bool PresetOpen() const { return m_bPresetOpen; }
    [[nodiscard]] bool DomeMenuOpen() const { return m_bDomeMenu; }
    [[nodiscard]] bool Learning() const { return m_bLearning; }
    [[nodiscard]] int LearnNumber() const { return m_nLearnNumber; }
    [[nodiscard]] int SteeredChannel() const { return m_nChannel; }
    [[nodiscard]] PtzAvailability Availability() const { return m_availability; }
    // The four direction buttons and the preset button may be used.
    [[nodiscard]] bool PadEnabled() const { return m_bPanelOpen && m_bPadEnabled; }
    [[nodiscard]] bool Moving() const { return m_move.has_value(); }
    [[nodiscard]] const CPresetPad& Pad() const { return m_pad; }
    [[nodiscard]] PtzIcon Icon() const;
    // Called after every change of the state above.
    void SetObserver(std::function<void()> observer) { m_observer = std::move(observer); }

  private:
    // Where the move under way came from, so that only its own release ends it.
    enum class Source { Button, Key, Wheel };
    struct Move {
        Source source;
        int which;  // button or key index
    };

    bool CanSteer() const;
    bool StartMove(std::uint8_t code, Source source, int which);
    void StopMove();
    void EndMove(Source source, int which);
    void Steer(int channel);
    void CloseWindows(bool sendLeave);
    void Changed();

    platform::IMessageSink& m_owner;
    IPtzLink* m_link = nullptr;
    bool m_bLive = false;
    bool m_bPanelOpen = false;
    PtzMode m_mode = PtzMode::Pan;
    bool m_bPresetOpen = false;
    bool m_bDomeMenu = false;
    bool m_bLearning = false;
    int m_nLearnNumber = 0;
    int m_nChannel = -1;
    PtzAvailability m_availability = PtzAvailability::Unknown;
    bool m_bPadEnabled = false;
    std::optional<Move> m_move;
    CPresetPad m_pad;
    std::function<void()> m_observer;
};

}  // namespace taviro::maintenance
