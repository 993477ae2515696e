// CLiveViewController: live view as the operator sees it, without a window. It keeps the
// grid in step with the connection: the recorder's channel count and available channels,
// live view starting (the first layout, the heard channel checked now and then), the panes
// going idle when live view or the connection ends. A layout transition asks the recorder for
// exactly the channels shown and moves the heard channel with the chosen pane; after a
// reconnect the layout and page the operator had come back. The panes' facts (video loss,
// blocked channels, camera flags, a frozen picture, the channels with sound) are read from
// the connection's session here.
//
// Threads: the owner's (window) thread only; nothing here waits (requests go out through
// the connection's worker).
// Ownership: the views, the sound controller and the view belong to the owner and outlive
// this; Attach() hands over the connection and Attach(nullptr) comes before it is destroyed.
#pragma once

#include <optional>

#include "client/connection.h"
#include "client/live_sound.h"
#include "client/reconnect.h"
#include "platform/message_sink.h"
#include "video/channel_views.h"
#include "video/layouts.h"

namespace taviro::client {

// The grid that shows live view, as the controller drives it. Called on the owner's thread.
class ILiveView {
  public:
    virtual ~ILiveView() = default;
    [[nodiscard]] virtual const video::CGridLayout& Layout() const = 0;
    // As the layout's button: a first press shows its first page, a press again the next.
    virtual void SelectLayout(int layout) = 0;
    virtual void StartLive(int channelCount) = 0;
    virtual void SetChannelCount(int count) = 0;
    virtual void SetAvailableChannels(protocol::ChannelMask mask) = 0;
    // A new connection's statistics count from zero.
    virtual void ResetStatistics() = 0;
    // The panes' facts changed (Status()); every pane is drawn again.
    virtual void Refresh() = 0;
    // Whether the heard channel is to be checked now and then (RecheckAudio()).
    virtual void SetAudioPolling(bool on) = 0;
};

class CLiveViewController {
  public:
    // The heard channel and the panes' sound icons are kept while live view runs, with or
    // without a sound output (the icons say which channel has sound either way).
    CLiveViewController(video::CChannelViews& views, CLiveSoundController& sound);

    void SetView(ILiveView* view) { m_view = view; }
    void Attach(CConnection* connection) { m_connection = connection; }

    // A message of the connection (WM_SESSION_LOGGED_IN, WM_CHANNEL_GRID_MODE,
    // WM_CLEAR_CHANNEL_GRID, WM_CHANNEL_AVAILABLE, the channel-state messages, WM_PLAYER_INFO):
    // the grid follows. Other messages are left alone.
    void OnMessage(const platform::PostedMessage& message);
    // The connection has gone: no live view, no pictures.
    void OnConnectionClosed();

    // A layout transition's effects: the recorder is asked for the channels shown, and the
    // heard channel follows the chosen pane (or is checked against the panes shown).
    void OnLayoutApplied(const video::LayoutEffects& effects);
    // The heard channel checked against the panes shown.
    void RecheckAudio();

    // What the grid shows, for a reconnect to bring back, and bringing it back: the layout
    // pressed once, then again until the page is reached (one round at most, since a page
    // the recorder no longer has is never reached).
    void Probe(ResumeState& state) const;
    void Restore(const ResumeState& resume);

    // The panes' facts from the session (`session` false without one); the owner adds its own.
    [[nodiscard]] video::GridStatus Status() const;
    // The recorder's channel count once logged in.
    [[nodiscard]] std::optional<int> ChannelCount() const;
    // The session's part of a transition's context: the frozen picture, the channels with sound.
    [[nodiscard]] video::GridContext Context(protocol::GridMode mode) const;

  private:
    [[nodiscard]] protocol::ChannelMask Shown() const;

    video::CChannelViews& m_views;
    CLiveSoundController& m_sound;
    ILiveView* m_view = nullptr;
    CConnection* m_connection = nullptr;
};

}  // namespace taviro::client
