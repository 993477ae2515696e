// CLiveViewController: live view as the operator sees it, without a window. It keeps the
// grid in step with the connection: the recorder's channel count and available channels,
// live view starting (the first layout, the heard channel checked now and then), the panes
// going idle when live view or the connection ends. A layout transition asks the recorder for
// exactly the channels shown and moves the heard channel with the chosen pane; after a
// reconnect the layout and page the operator had come back. The panes' facts (video loss,
// blocked channels, camera flags, a frozen picture, the channels with sound) are read from
// the connection's session here.
//
// With several recorders (SetRecorders) the grid numbers their channels in one row, recorder
// 1's first; each recorder is asked for live view of exactly its part of the panes shown,
// its channel count and available channels take their place in the row, and a recorder
// that is not connected keeps its panes, which say so, while the others play on. The sound
// and the window's services stay with the attached (selected) recorder.
//
// Threads: the owner's (window) thread only; nothing here waits (requests go out through
// the connection's worker).
// Ownership: the views, the sound controller and the view belong to the owner and outlive
// this; Attach() hands over the connection and Attach(nullptr) comes before it is destroyed;
// SetRecorders() is called again before any connection it names is destroyed.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/live_sound.h"
#include "client/reconnect.h"
#include "client/site_views.h"
#include "platform/message_sink.h"
#include "video/channel_views.h"
#include "video/layouts.h"
#include "video/site_channels.h"

namespace taviro::client {

// A recorder of the site as live view sees it.
struct LiveRecorder {
    int id = -1;
    CConnection* connection = nullptr;  // null while it has none
    video::CChannelViews* views = nullptr;
    std::string name;        // how its panes name it
    std::string state;       // what its panes say while it is not connected
    bool connected = false;  // logged in (its panes show its pictures)
    std::string key;         // "host:port", how saved views name it
    int knownChannels = 0;   // its channels before it logs in (remembered), 0: none yet
};

// The grid that shows live view, as the controller drives it. Called on the owner's thread.
class ILiveView {
  public:
    virtual ~ILiveView() = default;
    [[nodiscard]] virtual const video::CGridLayout& Layout() const = 0;
    // As the layout's button: a first press shows its first page, a press again the next.
    virtual void SelectLayout(int layout) = 0;
    virtual void StartLive(int channelCount) = 0;
    virtual void SetChannelCount(int count) = 0;
    // The grid's channels with a picture to show (the grid's numbering).
    virtual void SetAvailableChannels(video::PaneMask mask) = 0;
    // Whose channels the grid shows (empty: the owner's views alone).
    virtual void SetSite(std::vector<video::SiteRecorder> recorders) = 0;
    // Which channel each pane shows (slot -> grid channel, a permutation of the panes).
    virtual void Arrange(std::span<const int> arrangement) = 0;
    // A recorder's new connection: its statistics count from zero (-1: every recorder's).
    virtual void ResetStatistics(int recorderId) = 0;
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

    void SetView(ILiveView* view);
    void Attach(CConnection* connection) { m_connection = connection; }
    // The recorders of the site in order. With more than one the grid shows them all; the
    // attached connection stays the one the sound and the services follow.
    void SetRecorders(std::vector<LiveRecorder> recorders);
    // The connection of this generation is about to be destroyed: it is asked nothing more.
    void ConnectionGoing(std::uint32_t generation);
    [[nodiscard]] bool SeveralRecorders() const { return m_recorders.size() > 1; }
    // The grid's channel of the attached recorder's channel (the channel buttons), -1 when
    // the grid does not show it.
    [[nodiscard]] int GridChannelOf(int channel) const;
    // Whose channels the grid shows, and where each recorder's start.
    [[nodiscard]] const video::CSiteChannels& Site() const { return m_site; }

    // A message of the connection (WM_SESSION_LOGGED_IN, WM_CHANNEL_GRID_MODE,
    // WM_CLEAR_CHANNEL_GRID, WM_CHANNEL_AVAILABLE, the channel-state messages, WM_PLAYER_INFO,
    // WM_CONNECTION_CLOSED) of the recorder `recorderId` (-1: the attached one): the grid
    // follows. Other messages are left alone.
    void OnMessage(const platform::PostedMessage& message, int recorderId = -1);
    // A recorder's connection has gone (-1: the attached one's): no live view, no pictures
    // in its panes. Called after SetRecorders() no longer names that connection.
    void OnConnectionClosed(int recorderId = -1);

    // A layout transition's effects: the recorder is asked for the channels shown, and the
    // heard channel follows the chosen pane (or is checked against the panes shown).
    void OnLayoutApplied(const video::LayoutEffects& effects);
    // The heard channel checked against the panes shown.
    void RecheckAudio();

    // A saved view: shown now, and again whenever the row of channels changes (a recorder
    // logging in, joining or leaving), until the operator moves a pane or picks a layout or
    // channel himself (ReleaseView).
    void ShowView(SiteView view);
    void ReleaseView() { m_heldView.reset(); }
    [[nodiscard]] const std::optional<SiteView>& HeldView() const { return m_heldView; }
    // What the grid shows now, as a view (its name empty).
    [[nodiscard]] SiteView CaptureView() const;

    // What the grid shows, for a reconnect to bring back, and bringing it back: the layout
    // pressed once, then again until the page is reached (one round at most, since a page
    // the recorder no longer has is never reached).
    void Probe(ResumeState& state) const;
    void Restore(const ResumeState& resume);

    // The panes' facts from the session (`session` false without one); the owner adds its own.
    [[nodiscard]] video::GridStatus Status() const;
    // The attached recorder's channel count once logged in.
    [[nodiscard]] std::optional<int> ChannelCount() const;
    // The grid's: the attached recorder's, or every recorder's with several.
    [[nodiscard]] std::optional<int> GridChannelCount() const;
    // The session's part of a transition's context: the frozen picture, the channels with sound.
    [[nodiscard]] video::GridContext Context(protocol::GridMode mode) const;

    // The attached recorder's channels shown, as it numbers them (what its playback, its
    // snapshots and its sound act on).
    [[nodiscard]] protocol::ChannelMask Shown() const;
    // The attached recorder's views (the owner's without one): where its playback shows.
    [[nodiscard]] video::CChannelViews& AttachedViews() const;

  private:
    [[nodiscard]] const LiveRecorder* Find(int id) const;
    [[nodiscard]] int AttachedId() const;
    // The views of a grid of one recorder (the owner's without any).
    [[nodiscard]] video::CChannelViews& SingleViews() const;
    void Refresh();
    // Several recorders: the row of channels made again from what is known of each; the
    // grid is told when it changed (and starts live view over the new row when a recorder
    // shows live). True when it changed.
    bool Compose();
    void OnSiteMessage(const platform::PostedMessage& message, int recorderId);
    // Each recorder asked for its part of the panes shown.
    void SendSelections();
    void SendSelection(const LiveRecorder& recorder);
    [[nodiscard]] video::PaneMask AvailablePanes() const;
    void ApplyView();
    void ApplyViewPage();
    [[nodiscard]] std::string KeyOf(int recorderId) const;

    video::CChannelViews& m_views;
    std::vector<LiveRecorder> m_recorders;
    std::map<int, int> m_counts;                       // recorder id -> last channel count
    std::map<int, protocol::ChannelMask> m_available;  // recorder id -> channels offered
    std::map<int, protocol::ChannelMask> m_sent;       // recorder id -> channels last asked for
    video::CSiteChannels m_site;
    CLiveSoundController& m_sound;
    ILiveView* m_view = nullptr;
    CConnection* m_connection = nullptr;
    std::optional<SiteView> m_heldView;
    bool m_applyingView = false;  // the panes move for the held view, not for the operator
};

}  // namespace taviro::client
