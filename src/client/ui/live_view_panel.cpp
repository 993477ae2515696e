#include "client/ui/live_view_panel.h"

#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include "platform/ui/qt_owned.h"
#include "platform/ui/skin_library.h"
#include "video/ui/grid_pictures.h"

namespace taviro::client::ui {

namespace {

// How often the heard channel is checked against the audio mask and the page.
constexpr int kAudioRecheckMs = 250;

}  // namespace

CLiveViewPanel::CLiveViewPanel(LiveViewPanelContext context)
    : QObject(context.window), m_ctx(std::move(context)), m_controller(*m_ctx.views, *m_ctx.sound) {
    m_audioTimer = platform::ui::Child<QTimer>(this);
    m_audioTimer->setInterval(kAudioRecheckMs);
    connect(m_audioTimer, &QTimer::timeout, this, [this] { m_controller.RecheckAudio(); });
}

CLiveViewPanel::~CLiveViewPanel() {
    m_controller.SetView(nullptr);
    // The grid refers to the views, which the window destroys after this panel.
    platform::ui::DestroyChild(m_grid);
}

void CLiveViewPanel::CreateGrid(int drawMode) {
    std::optional<int> previousLayout;
    video::Rect rect = video::kMainGridRect;
    if (m_grid) {
        previousLayout = m_grid->Layout().Layout();
        rect = m_grid->Layout().CurrentPlacement().rect;
        // The old grid must be gone (and no longer the views' listener) before the new one
        // is made, so no decoder hands a picture to a window that is being destroyed.
        m_controller.SetView(nullptr);
        platform::ui::DestroyChild(m_grid);
        m_grid = nullptr;
    }
    m_grid = platform::ui::Child<video::ui::CChannelGrid>(m_ctx.window, *m_ctx.views, drawMode);
    m_grid->SetPictures(video::ui::LoadGridPictures(platform::ui::Skin()));
    m_grid->SetContextProvider([this] {
        video::GridContext ctx = m_controller.Context(m_ctx.mode());
        m_ctx.context(ctx);
        return ctx;
    });
    m_grid->SetStatsSource(m_ctx.stats);
    connect(m_grid, &video::ui::CChannelGrid::LayoutApplied, this,
            &CLiveViewPanel::OnLayoutApplied);
    m_controller.SetView(this);  // the site's recorders, when there are several
    m_ctx.gridMade(m_grid);
    m_grid->Place(rect, video::kMainGridBorder, video::kMainGridColour);
    m_grid->SetOsdMode(m_ctx.views->OsdMode());  // the views keep it across grids
    if (const auto count = m_controller.GridChannelCount())
        m_grid->SetChannelCount(*count);
    if (previousLayout)
        m_grid->SelectLayout(*previousLayout);
    Refresh();
    m_grid->show();
}

bool CLiveViewPanel::OnCommand(std::uint32_t id) {
    // A press that chooses what the panes show ends a view shown before.
    if ((id >= 300 && id <= 328) || id == 371)
        m_controller.ReleaseView();
    if (id >= 300 && id <= 328) {
        // A channel button shows that channel of the recorder of the selected pane.
        if (id <= 315) {
            const int channel = m_controller.GridChannelOf(static_cast<int>(id - 300));
            if (channel >= 0)
                m_grid->SelectChannel(channel);
        } else if (id >= 320)
            m_grid->SelectLayout(video::LayoutOfButton(static_cast<int>(id)));
        // Whatever the click did to its own button, the grid's layout decides which are down.
        m_ctx.buttons(m_grid->Layout().Buttons());
    } else if (id == 329) {
        m_grid->SetFullScreen(true);
    } else if (id == 370) {
        m_grid->CycleOsdMode();
    } else if (id == 371) {
        m_grid->Arrange();
    } else if (id == 368) {
        m_ctx.sound->SelectNext(m_controller.Shown());
    } else {
        return false;
    }
    return true;
}

void CLiveViewPanel::Refresh() {
    if (!m_grid)
        return;
    video::GridStatus status = m_controller.Status();
    m_ctx.status(status);
    m_grid->SetStatus(status);
    m_grid->RepaintAll();
}

void CLiveViewPanel::Restore(const ResumeState& resume) {
    m_controller.Restore(resume);
    if (m_grid)
        m_ctx.buttons(m_grid->Layout().Buttons());
}

void CLiveViewPanel::ShowPlayback(video::ViewMode mode) {
    m_grid->StartPlayback();
    // A playback shows in the selected recorder's views (the window's first without one).
    m_controller.AttachedViews().SetViewMode(mode);
    m_ctx.buttons(m_grid->Layout().Buttons());
    Refresh();
}

void CLiveViewPanel::ShowFirstLayout() {
    m_grid->SelectLayout(video::kInitialLayout);
    m_ctx.buttons(m_grid->Layout().Buttons());
    Refresh();
}

void CLiveViewPanel::ShowSegment(int layout, protocol::ChannelMask channels) {
    m_grid->SelectLayout(layout);
    m_ctx.buttons(m_grid->Layout().Buttons());
    m_grid->SetAvailableChannels(channels);
    Refresh();
}

void CLiveViewPanel::Stop() {
    m_audioTimer->stop();
    if (m_grid && m_grid->IsFullScreen())
        m_grid->SetFullScreen(false);
}

bool CLiveViewPanel::PaintPanes(QImage& shot, QWidget* window) const {
    if (!m_grid || !m_grid->isVisible() || m_grid->IsFullScreen())
        return false;
    QPainter painter(&shot);
    const QPoint at = m_grid->Surface()->mapTo(window, QPoint(0, 0));
    painter.drawImage(QRect(at, m_grid->Surface()->size()), m_grid->GrabPanes());
    return true;
}

void CLiveViewPanel::SetAudioPolling(bool on) {
    if (on)
        m_audioTimer->start();
    else
        m_audioTimer->stop();
}

void CLiveViewPanel::OnLayoutApplied(const video::LayoutEffects& effects) {
    if (effects.buttons)
        m_ctx.buttons(*effects.buttons);
    m_controller.OnLayoutApplied(effects);
    // A selected pane, or a new layout or pane order, while the PTZ panel is open.
    if (effects.ptzChannel)
        m_ctx.ptzChannel(*effects.ptzChannel);
}

}  // namespace taviro::client::ui
