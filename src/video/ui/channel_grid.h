// CChannelGrid: the window of channel panes inside the main window. It paints every pane of
// the current layout page through its renderer, asks for a repaint of a pane when that
// channel's decoder hands over a picture, and turns the mouse, the keys and the main
// window's layout buttons into CGridLayout transitions.
//
// The grid shows the channels of one recorder, or of several (SetSite): their channels are
// numbered in one row, recorder 1's first, and every pane reads its picture from the views
// of its channel's recorder.
//
// Ownership: the owner (the main window) owns the CChannelViews, which outlive the grid;
// the grid owns its CGridLayout, its renderer (a child widget covering it), the drag image
// and, in full screen, the toolbar. The grid is the picture listener of every views in its
// site (through a listener per recorder that knows where its channels start) for as long as
// they are.
//
// Threads: everything runs on the user-interface thread except OnPicture, which a decoder
// thread calls under the channel's lock; it only marks the channel and, once until the pane
// is painted, queues a repaint of that pane.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "video/channel_views.h"
#include "video/layouts.h"
#include "video/site_channels.h"
#include "video/stream_stats.h"
#include "video/ui/pane_painter.h"
#include "video/ui/pane_plan.h"
#include "video/ui/pane_renderer.h"

class QMimeData;

namespace taviro::video::ui {

class CFullScreenToolbar;

// A channel dragged onto the grid (from the recorder panel): "recorder id, channel" as text
// under this type. The id is the one SetSite gave.
inline constexpr const char* kChannelMimeType = "application/x-taviro-channel";
QMimeData* MakeChannelMime(int recorderId, int channel);
// The recorder id and channel of a dragged channel; nothing for anything else (a drop may
// come from any program).
std::optional<std::pair<int, int>> ReadChannelMime(const QMimeData* mime);

class CChannelGrid final : public QWidget, public IPaneSource, public IPictureListener {
    Q_OBJECT
  public:
    // `drawMode` is the DrawMode setting (0 YUV when OpenGL works, 1 RGB). The grid is
    // placed at the main window's grid rectangle. It shows `views` (its channels numbered as
    // the recorder numbers them) until SetSite says otherwise; `views` also keeps the OSD mode.
    CChannelGrid(CChannelViews& views, int drawMode, QWidget* parent);
    ~CChannelGrid() override;

    // The recorders whose channels the grid shows, in site order (each one's views and
    // channel count; ids as the owner knows them). Empty: the views given at creation.
    void SetSite(std::vector<SiteRecorder> recorders);
    [[nodiscard]] const CSiteChannels& Site() const { return m_site; }

    // The renderer chosen at creation, and the decoder output format it draws.
    [[nodiscard]] RendererKind Renderer() const { return m_renderer->Kind(); }
    // The renderer that draws, named for the operator (About).
    [[nodiscard]] QString RendererText() const { return RendererDescription(Renderer()); }
    [[nodiscard]] std::uint32_t PictureFormat() const { return m_renderer->PictureFormat(); }

    void SetStatus(const GridStatus& status);
    [[nodiscard]] const GridStatus& Status() const { return m_status; }
    void SetPictures(GridPictures pictures);
    void SetContextProvider(std::function<GridContext()> provider) {
        m_context = std::move(provider);
    }
    // The grid's channel count and its channels with a picture to show (each recorder's
    // LIVE_CHANNEL_INFO in its place; each recorder's views get their part).
    void SetChannelCount(int count);
    void SetAvailableChannels(PaneMask mask);
    // 0 full, 1 title only, 2 off, 3 statistics.
    void SetOsdMode(int mode);

    // The stream statistics: once a second the grid asks the source for each recorder's
    // counters' totals (by the id SetSite gave; it must only read atomics: it runs on this
    // thread, which never waits), puts its own count of pictures shown in, and samples.
    // Null: no stream, zero counters.
    using StatsSource = std::function<StreamCounters(int recorderId)>;
    void SetStatsSource(StatsSource source) { m_statsSource = std::move(source); }
    // A recorder's counters start again (a new connection; -1: every recorder's): the next
    // sample measures from zero, and the pictures shown count from now.
    void ResetStatistics(int recorderId = -1);
    // The last second's statistics per channel of the first recorder, and of the recorder
    // at a place.
    [[nodiscard]] const StreamStats& Statistics(int place = 0) const;
    // New pictures painted per channel: a pane counts its channel's picture the first time
    // it paints it (what "shown" means for the statistics).
    [[nodiscard]] std::uint64_t PicturesShown(int channel) const;

    CGridLayout& Layout() { return m_layout; }
    const CGridLayout& Layout() const { return m_layout; }
    // Pane rectangles as the widget shows them (grid coordinates), by slot.
    [[nodiscard]] QRect PaneRect(int slot) const;
    // What the renderer shows now, pictures and OSD, at the size of its surface.
    QImage GrabPanes() { return m_renderer->Grab(); }
    // The widget the renderer draws on (a child of the grid).
    [[nodiscard]] QWidget* Surface() const { return m_renderer->Surface(); }
    // Panes drawn since creation, by slot (empty positions count as slot kMaxPanes), and in all.
    [[nodiscard]] std::uint64_t PaneDraws(int slot) const;
    [[nodiscard]] std::uint64_t TotalPaneDraws() const { return m_totalDraws; }
    // Pictures drawn per channel (a pane showing that channel's decoded picture).
    [[nodiscard]] std::uint64_t PicturesDrawn(int channel) const;
    [[nodiscard]] bool IsFullScreen() const { return m_layout.FullScreen(); }
    [[nodiscard]] QWidget* Toolbar() const;
    [[nodiscard]] QWidget* DragImage() const { return m_dragLabel; }
    // The notice shown over the panes, empty when none is.
    [[nodiscard]] QString Notice() const;

    // IPictureListener (decoder thread, under the channel lock): a channel of the grid.
    void OnPicture(int channel) override;

    // IPaneSource (user-interface thread).
    std::vector<PanePlan> Plan() const override;
    OsdState Osd() const override;
    QColor Background() const override;
    std::uint64_t PictureSerial(int channel) const override;
    void PaneDrawn(const PanePlan& plan) override;

  public slots:
    // Moves the grid (in its parent's coordinates) and recomputes every pane rectangle.
    void Place(const taviro::video::Rect& rect, int border, std::uint32_t colour);
    void SelectLayout(int layout);
    void SelectChannel(int channel);
    void Arrange();
    // A saved view's arrangement (slot -> channel, a permutation of the panes).
    void ArrangeAs(std::span<const int> arrangement);
    void SetFullScreen(bool on);
    // Live view starting with the recorder's channel count; remote playback starting.
    void StartLive(int channelCount);
    void StartPlayback();
    // The OSD button: 0 -> 1 -> 2 -> 3 (statistics) -> 0.
    void CycleOsdMode();
    // The statistics key: statistics on, or back to the mode they replaced.
    void ToggleStatisticsOsd();
    // The current layout's next (+1) or previous (-1) page, as its button pages.
    void StepPage(int step);
    // Repaints every pane (state changes the grid cannot see itself).
    void RepaintAll();
    // One line across the middle of the grid, for when its panes cannot show anything and
    // the user is to know why (local playback stopped without a recorder connected); empty
    // hides it. Live view or playback starting hides it too.
    void SetNotice(const QString& text);

  signals:
    // After every transition that did something; the owner sends effects.request and
    // updates its buttons, audio and PTZ channel.
    void LayoutApplied(const taviro::video::LayoutEffects& effects);
    void FullScreenChanged(bool on);
    // The right button over a pane that shows a channel (for the pane's own menu), and the
    // wheel over one (positive steps away from the user); `channel` is 0..15.
    void PaneContextMenu(int channel, QPoint globalPosition);
    // The left button went down over a pane that shows a channel (the grid's numbering).
    void PaneClicked(int channel);
    void PaneWheel(int channel, int steps);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void Apply(const LayoutEffects& effects);
    void ApplyByOperator(LayoutEffects effects);
    // The channel of the visible pane under a point of the grid, or -1.
    [[nodiscard]] int ChannelAt(QPoint p) const;
    void UpdatePaneWidths();
    void DrainPending();
    void SchedulePane(int channel);
    void MoveDragImage(QPoint pointer);
    void EndDragImage();
    GridContext Context() const { return m_context ? m_context() : GridContext{}; }

    // A recorder's picture listener: its channels are the grid's from `offset` on.
    class CRecorderListener final : public IPictureListener {
      public:
        CChannelGrid* grid = nullptr;
        std::atomic<int> offset{-1};
        void OnPicture(int channel) override;
    };
    // Every views the site names no longer hears from this grid once this returns.
    void Detach(CChannelViews& views);

    CChannelViews& m_views;
    CSiteChannels m_site;
    std::array<CRecorderListener, kMaxSiteRecorders> m_listeners;
    std::function<int(std::string_view)> m_textWidth;
    CGridLayout m_layout;
    IPaneRenderer* m_renderer = nullptr;  // child widget, owned by this
    GridStatus m_status;
    GridPictures m_pictures;
    std::function<GridContext()> m_context;

    // Decoder threads set a channel's bit; one queued call drains the mask.
    std::atomic<PaneMask> m_pending{0};
    std::array<std::atomic<std::uint64_t>, kMaxPanes> m_serial{};
    std::array<std::uint64_t, kMaxPanes + 1> m_paneDraws{};
    std::array<std::uint64_t, kMaxPanes> m_picturesDrawn{};
    std::uint64_t m_totalDraws = 0;

    QTimer m_frameRateTimer;

    // Stream statistics (this thread only, except the painted counts, read by any).
    void SampleStatistics();
    QTimer m_statsTimer;
    StatsSource m_statsSource;
    std::array<CStreamStatsSampler, kMaxSiteRecorders> m_samplers;  // by place
    std::chrono::steady_clock::time_point m_lastSample;
    std::array<std::atomic<std::uint64_t>, kMaxPanes> m_shown{};
    std::array<std::uint64_t, kMaxPanes> m_shownBase{};  // window thread
    std::array<std::uint64_t, kMaxPanes> m_lastShownSerial{};
    int m_osdBeforeStatistics = kOsdFull;

    // Drag and drop.
    QLabel* m_dragLabel = nullptr;  // child, owned by this
    QLabel* m_notice = nullptr;     // child, owned by this; made on first use
    void PlaceNotice();
    QPoint m_dragOffset;  // drag image's top-left minus the pointer
    bool m_dragging = false;
    int m_wheelRest = 0;  // wheel eighths of a degree not yet a whole step

    // Full screen.
    QPointer<QWidget> m_savedParent;
    std::unique_ptr<CFullScreenToolbar> m_toolbar;
    QRect m_toolbarArea;
};

}  // namespace taviro::video::ui
