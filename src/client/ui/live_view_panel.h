// CLiveViewPanel: the channel grid of the main window with the live view controller that
// drives it. The panel makes the grid (again, when the drawing mode changes, keeping its
// place and layout), hands the controller's decisions to it, asks the controller and the
// window for the panes' facts, checks the heard channel four times a second while live
// view runs with sound, and arranges the grid when a playback begins or ends.
//
// Threads: the GUI thread only; nothing here waits. Ownership: the panel owns the
// controller and (through Qt, as a child of the window) the grid; the views and the sound
// controller are the window's and outlive it. The grid goes before the views: the window
// deletes the panel first.
#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "client/live_view.h"
#include "video/stream_stats.h"
#include "video/ui/channel_grid.h"

class QImage;
class QTimer;
class QWidget;

namespace taviro::client::ui {

struct LiveViewPanelContext {
    QWidget* window = nullptr;  // the grid's parent
    video::CChannelViews* views = nullptr;
    CLiveSoundController* sound = nullptr;
    // The grid's mode as the window's owner keeps it.
    std::function<protocol::GridMode()> mode;
    // The window's own part of the panes' facts (sound output, player speed, PTZ icon) and of
    // a transition's context (the PTZ panel).
    std::function<void(video::GridStatus&)> status;
    std::function<void(video::GridContext&)> context;
    // The layout and channel buttons to show down.
    std::function<void(const video::PressedButtons&)> buttons;
    // A transition chose the pane the open PTZ panel steers.
    std::function<void(int channel)> ptzChannel;
    // A grid was made: the window binds its keys, menus and wheel to it.
    std::function<void(video::ui::CChannelGrid*)> gridMade;
    // The stream counters for the statistics (atomics only).
    video::ui::CChannelGrid::StatsSource stats;
};

class CLiveViewPanel final : public QObject, private ILiveView {
    Q_OBJECT
  public:
    explicit CLiveViewPanel(LiveViewPanelContext context);
    ~CLiveViewPanel() override;

    CLiveViewController& Controller() { return m_controller; }
    video::ui::CChannelGrid* Grid() const { return m_grid; }

    // The grid's buttons: channels 300..315, layouts 320..328, full screen 329, the OSD 370,
    // the arrangement 371, and the next channel heard 368. False: not live view's button.
    bool OnCommand(std::uint32_t id);
    // Makes the grid with `drawMode` (the old one goes first, its place and layout kept).
    void CreateGrid(int drawMode);
    // The panes' facts changed: the grid is told and drawn again.
    void Refresh() override;
    // A message of the connection for live view.
    void OnPosted(const platform::PostedMessage& message, int recorderId = -1) {
        m_controller.OnMessage(message, recorderId);
    }
    void OnConnectionClosed(int recorderId = -1) { m_controller.OnConnectionClosed(recorderId); }
    // The view a restored connection had.
    void Restore(const ResumeState& resume);
    // A playback of `mode` takes the panes; back to the first layout when one ends.
    void ShowPlayback(video::ViewMode mode);
    void ShowFirstLayout();
    // A local segment's layout with its channels.
    void ShowSegment(int layout, protocol::ChannelMask channels);
    // Quit: the heard channel is checked no more.
    void Stop();
    // The grid's pictures and OSD painted over a grab of `window` (which does not redraw the
    // renderer's own surface); false when the grid is not in the window to be painted.
    bool PaintPanes(QImage& shot, QWidget* window) const;

  private:
    // ILiveView.
    [[nodiscard]] const video::CGridLayout& Layout() const override { return m_grid->Layout(); }
    void SelectLayout(int layout) override { m_grid->SelectLayout(layout); }
    void StartLive(int channelCount) override { m_grid->StartLive(channelCount); }
    void SetChannelCount(int count) override { m_grid->SetChannelCount(count); }
    void SetAvailableChannels(video::PaneMask mask) override { m_grid->SetAvailableChannels(mask); }
    void SetSite(std::vector<video::SiteRecorder> recorders) override {
        m_grid->SetSite(std::move(recorders));
    }
    void ResetStatistics(int recorderId) override { m_grid->ResetStatistics(recorderId); }
    void Arrange(std::span<const int> arrangement) override { m_grid->ArrangeAs(arrangement); }
    void SetAudioPolling(bool on) override;

    void OnLayoutApplied(const video::LayoutEffects& effects);

    LiveViewPanelContext m_ctx;
    CLiveViewController m_controller;
    video::ui::CChannelGrid* m_grid = nullptr;
    QTimer* m_audioTimer = nullptr;
};

}  // namespace taviro::client::ui
