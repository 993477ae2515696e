#include "video/ui/channel_grid.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/ui/qt_owned.h"
#include "video/ui/full_screen_toolbar.h"

namespace taviro::video::ui {

namespace {

constexpr int kFrameRateTickMs = 2000;
constexpr int kStatsTickMs = 1000;
constexpr int kEmptyPositionIndex = kMaxPanes;

Rect FromQRect(const QRect& r) {
    return Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// The drag image: the pane shrunk by a pixel on each side, framed, translucent.
QPixmap MakeDragImage(const QImage& pane, const QSize& size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setOpacity(0.6);
    painter.drawImage(QRect(QPoint(0, 0), size), pane);
    painter.setOpacity(1.0);
    QPen pen(FromColorRef(kDragFrameColour));
    pen.setWidth(kDragFramePen);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const int inset = kDragFramePen / 2;
    painter.drawRect(
        QRect(inset, inset, size.width() - kDragFramePen, size.height() - kDragFramePen));
    painter.end();
    return QPixmap::fromImage(image);
}

}  // namespace

QMimeData* MakeChannelMime(int recorderId, int channel) {
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kChannelMimeType),
                  QStringLiteral("%1 %2").arg(recorderId).arg(channel).toLatin1());
    return mime;
}

std::optional<std::pair<int, int>> ReadChannelMime(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasFormat(QString::fromLatin1(kChannelMimeType)))
        return std::nullopt;
    // Anything may be dropped here by another program: two small numbers or nothing.
    const QByteArray data = mime->data(QString::fromLatin1(kChannelMimeType)).left(32);
    const QList<QByteArray> parts = data.split(' ');
    if (parts.size() != 2)
        return std::nullopt;
    bool okId = false;
    bool okChannel = false;
    const int id = parts[0].toInt(&okId);
    const int channel = parts[1].toInt(&okChannel);
    if (!okId || !okChannel || id < 0 || channel < 0 || channel >= 16)
        return std::nullopt;
    return std::make_pair(id, channel);
}

CChannelGrid::CChannelGrid(CChannelViews& views, int drawMode, QWidget* parent)
    : QWidget(parent), m_views(views) {
    setFocusPolicy(Qt::ClickFocus);
    setAcceptDrops(true);  // a channel dragged from the recorder panel
    m_renderer = CreatePaneRenderer(drawMode, *this, this);
    m_renderer->Surface()->setGeometry(rect());
    m_dragLabel = platform::ui::Child<QLabel>(this);
    m_dragLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dragLabel->hide();

    // Arrangement swaps happen under every channel lock of the site, taken recorder by
    // recorder in channel order, as the decoders never hold more than one.
    m_layout.SetAllChannelsLock([this](const std::function<void()>& change) {
        std::vector<std::unique_lock<std::mutex>> locks;
        for (const SiteRecorder& r : m_site.Recorders())
            for (int c = 0; c < protocol::kMaxChannels; ++c)
                locks.emplace_back(r.views->Channel(c).lock);
        change();
    });

    // Titles are fitted as the panes are painted; each call measures with a font of its own,
    // so no font object is shared should another thread measure too (a test, a tool).
    const QFont osd = OsdFont();
    const QString family = osd.family();
    m_textWidth = [family](std::string_view text) {
        QFont font(family);
        font.setBold(true);
        font.setPixelSize(kOsdFontPixels);
        const QFontMetrics metrics(font);
        return metrics.horizontalAdvance(
            QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    };

    // The rate is the pictures counted over one nominal tick (25 in two seconds give 13),
    // whatever the timer's actual lateness.
    m_frameRateTimer.setInterval(kFrameRateTickMs);
    connect(&m_frameRateTimer, &QTimer::timeout, this, [this] {
        const auto& recorders = m_site.Recorders();
        for (std::size_t place = 0; place < recorders.size(); ++place) {
            const protocol::ChannelMask changed =
                recorders[place].views->TickFrameRate(kFrameRateTickMs);
            const int offset = m_site.OffsetAt(static_cast<int>(place));
            for (int c = 0; c < recorders[place].channelCount; ++c)
                if (protocol::HasChannel(changed, c))
                    SchedulePane(offset + c);
        }
    });
    m_frameRateTimer.start();

    // The rates are taken over the time that really passed between two samples.
    m_lastSample = std::chrono::steady_clock::now();
    m_statsTimer.setInterval(kStatsTickMs);
    connect(&m_statsTimer, &QTimer::timeout, this, &CChannelGrid::SampleStatistics);
    m_statsTimer.start();

    for (CRecorderListener& listener : m_listeners)
        listener.grid = this;
    Place(kMainGridRect, kMainGridBorder, kMainGridColour);
    SetSite({});
}

CChannelGrid::~CChannelGrid() {
    for (const SiteRecorder& r : m_site.Recorders())
        Detach(*r.views);
    m_toolbar.reset();
}

void CChannelGrid::Detach(CChannelViews& views) {
    views.SetListener(nullptr);
    // A decoder calls the listener under its channel lock: taking each lock once waits out
    // any call still running.
    for (int c = 0; c < protocol::kMaxChannels; ++c)
        std::lock_guard lock(views.Channel(c).lock);
    views.SetTextWidth({});
}

void CChannelGrid::SetSite(std::vector<SiteRecorder> recorders) {
    if (recorders.empty())
        recorders.push_back(SiteRecorder{-1, &m_views, protocol::kMaxChannels});
    std::erase_if(recorders, [](const SiteRecorder& r) { return r.views == nullptr; });
    const std::vector<SiteRecorder> before = m_site.Recorders();
    m_site.Set(std::move(recorders));
    const auto& now = m_site.Recorders();
    for (const SiteRecorder& old : before) {
        const bool stays = std::any_of(
            now.begin(), now.end(), [&old](const SiteRecorder& r) { return r.views == old.views; });
        if (!stays)
            Detach(*old.views);
    }
    for (std::size_t place = 0; place < m_listeners.size(); ++place) {
        CRecorderListener& listener = m_listeners[place];
        listener.offset.store(m_site.OffsetAt(static_cast<int>(place)));
        if (place < now.size()) {
            now[place].views->SetTextWidth(m_textWidth);
            now[place].views->SetListener(&listener);
        }
    }
    // A channel of the grid may now be another recorder's: every picture is read again.
    for (auto& serial : m_serial)
        serial.fetch_add(1, std::memory_order_relaxed);
    UpdatePaneWidths();
    RepaintAll();
}

void CChannelGrid::CRecorderListener::OnPicture(int channel) {
    const int first = offset.load();
    if (first >= 0 && channel >= 0 && channel < protocol::kMaxChannels)
        grid->OnPicture(first + channel);
}

void CChannelGrid::SetStatus(const GridStatus& status) {
    if (status == m_status)
        return;
    m_status = status;
    RepaintAll();
}

void CChannelGrid::SetPictures(GridPictures pictures) {
    m_pictures = std::move(pictures);
    RepaintAll();
}

void CChannelGrid::SetChannelCount(int count) {
    m_layout.SetChannelCount(count);
    RepaintAll();
}

void CChannelGrid::SetAvailableChannels(PaneMask mask) {
    for (const SiteRecorder& r : m_site.Recorders())
        r.views->SetAvailableMask(m_site.RecorderMask(mask, r.id));
    m_layout.SetAvailableChannels(mask);
    RepaintAll();
}

void CChannelGrid::SetOsdMode(int mode) {
    m_views.SetOsdMode(mode);
    RepaintAll();
}

void CChannelGrid::CycleOsdMode() {
    SetOsdMode((m_views.OsdMode() + 1) % kOsdModeCount);
}

void CChannelGrid::ToggleStatisticsOsd() {
    const int mode = m_views.OsdMode();
    if (mode == kOsdStatistics) {
        SetOsdMode(m_osdBeforeStatistics);
        return;
    }
    m_osdBeforeStatistics = mode;
    SetOsdMode(kOsdStatistics);
}

void CChannelGrid::SampleStatistics() {
    const auto now = std::chrono::steady_clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_lastSample);
    m_lastSample = now;
    const auto& recorders = m_site.Recorders();
    for (std::size_t place = 0; place < recorders.size(); ++place) {
        StreamCounters counters =
            m_statsSource ? m_statsSource(recorders[place].id) : StreamCounters{};
        const int offset = m_site.OffsetAt(static_cast<int>(place));
        for (int c = 0; c < recorders[place].channelCount; ++c) {
            const auto g = static_cast<std::size_t>(offset + c);
            counters[static_cast<std::size_t>(c)].shown =
                m_shown[g].load(std::memory_order_relaxed) - m_shownBase[g];
        }
        m_samplers[place].Sample(counters, elapsed);
    }
    if (m_views.OsdMode() == kOsdStatistics)
        RepaintAll();
}

void CChannelGrid::ResetStatistics(int recorderId) {
    const auto& recorders = m_site.Recorders();
    for (std::size_t place = 0; place < recorders.size(); ++place) {
        if (recorderId >= 0 && recorders[place].id != recorderId)
            continue;
        m_samplers[place].NewSource();
        const int offset = m_site.OffsetAt(static_cast<int>(place));
        for (int c = 0; c < recorders[place].channelCount; ++c) {
            const auto g = static_cast<std::size_t>(offset + c);
            m_shownBase[g] = m_shown[g].load(std::memory_order_relaxed);
        }
    }
}

const StreamStats& CChannelGrid::Statistics(int place) const {
    const auto at = static_cast<std::size_t>(std::clamp(place, 0, kMaxSiteRecorders - 1));
    return m_samplers[at].Last();
}

std::uint64_t CChannelGrid::PicturesShown(int channel) const {
    if (channel < 0 || channel >= kMaxPanes)
        return 0;
    return m_shown[static_cast<std::size_t>(channel)].load(std::memory_order_relaxed);
}

QRect CChannelGrid::PaneRect(int slot) const {
    return ToQRect(m_layout.SlotRect(slot));
}

std::uint64_t CChannelGrid::PaneDraws(int slot) const {
    if (slot < 0 || slot > kEmptyPositionIndex)
        return 0;
    return m_paneDraws[static_cast<std::size_t>(slot)];
}

std::uint64_t CChannelGrid::PicturesDrawn(int channel) const {
    if (channel < 0 || channel >= kMaxPanes)
        return 0;
    return m_picturesDrawn[static_cast<std::size_t>(channel)];
}

QWidget* CChannelGrid::Toolbar() const {
    return m_toolbar.get();
}

void CChannelGrid::OnPicture(int channel) {
    if (channel < 0 || channel >= kMaxPanes)
        return;
    m_serial[static_cast<std::size_t>(channel)].fetch_add(1, std::memory_order_relaxed);
    // Only the first picture after a drain queues the drain; the rest wait for it.
    if (m_pending.fetch_or(PaneBit(channel)) == 0)
        QMetaObject::invokeMethod(this, &CChannelGrid::DrainPending, Qt::QueuedConnection);
}

void CChannelGrid::DrainPending() {
    const PaneMask pending = m_pending.exchange(0);
    for (int c = 0; c < kMaxPanes; ++c)
        if (HasPane(pending, c))
            SchedulePane(c);
}

void CChannelGrid::SchedulePane(int channel) {
    const int slot = m_layout.SlotOfChannel(channel);
    if (m_layout.SlotVisible(slot))
        m_renderer->Invalidate(QRegion(PaneRect(slot)));
}

std::vector<PanePlan> CChannelGrid::Plan() const {
    return PlanPanes(m_layout, m_site, m_status);
}

OsdState CChannelGrid::Osd() const {
    OsdState osd;
    osd.osdMode = m_views.OsdMode();
    osd.status = &m_status;
    osd.pictures = &m_pictures;
    osd.trimStills = m_renderer && m_renderer->Kind() == RendererKind::Yuv;
    for (std::size_t place = 0; place < m_site.Recorders().size(); ++place)
        osd.stats.push_back(&m_samplers[place].Last());
    if (m_renderer)
        osd.renderer = m_renderer->Kind() == RendererKind::Yuv
                           ? QStringLiteral("renderer: OpenGL YUV")
                           : QStringLiteral("renderer: RGB");
    return osd;
}

QColor CChannelGrid::Background() const {
    return FromColorRef(m_layout.CurrentPlacement().colour);
}

std::uint64_t CChannelGrid::PictureSerial(int channel) const {
    if (channel < 0 || channel >= kMaxPanes)
        return 0;
    return m_serial[static_cast<std::size_t>(channel)].load(std::memory_order_relaxed);
}

void CChannelGrid::PaneDrawn(const PanePlan& plan) {
    ++m_totalDraws;
    ++m_paneDraws[static_cast<std::size_t>(plan.slot < 0 ? kEmptyPositionIndex : plan.slot)];
    if (plan.channel < 0 || plan.channel >= kMaxPanes)
        return;
    if (plan.kind == PaneKind::Picture) {
        const auto c = static_cast<std::size_t>(plan.channel);
        ++m_picturesDrawn[c];
        // A repaint of the same picture (layout change, statistics refresh) is not a new
        // picture shown.
        const std::uint64_t serial = PictureSerial(plan.channel);
        if (serial != m_lastShownSerial[c]) {
            m_lastShownSerial[c] = serial;
            m_shown[c].fetch_add(1, std::memory_order_relaxed);
        }
    }
}

void CChannelGrid::Place(const taviro::video::Rect& rect, int border, std::uint32_t colour) {
    Apply(m_layout.Place(rect, border, colour));
    setGeometry(ToQRect(rect));
}

void CChannelGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_renderer->Surface()->setGeometry(rect());
    const Placement p = m_layout.CurrentPlacement();
    if (p.rect.Width() != width() || p.rect.Height() != height())
        Apply(m_layout.Place(FromQRect(geometry()), p.border, p.colour));
    UpdatePaneWidths();
    PlaceNotice();
    m_renderer->InvalidateAll();
}

void CChannelGrid::UpdatePaneWidths() {
    for (int slot = 0; slot < kMaxPanes; ++slot) {
        if (!m_layout.SlotVisible(slot))
            continue;
        const auto at = m_site.At(m_layout.ChannelOfSlot(slot));
        if (!at || at->views == nullptr)
            continue;
        ChannelView& view = at->views->Channel(at->channel);
        std::lock_guard lock(view.lock);
        view.paneWidth = m_layout.SlotRect(slot).Width();
    }
}

void CChannelGrid::RepaintAll() {
    m_renderer->InvalidateAll();
}

void CChannelGrid::Apply(const LayoutEffects& effects) {
    if (effects.ignored)
        return;
    if (effects.clearHasPicture)
        m_views.ClearHasPicture();
    if (effects.repaint) {
        UpdatePaneWidths();
        m_renderer->InvalidateAll();
    }
    if (effects.repaintAfterMs > 0)
        QTimer::singleShot(effects.repaintAfterMs, this, &CChannelGrid::RepaintAll);
    emit LayoutApplied(effects);
}

void CChannelGrid::ApplyByOperator(LayoutEffects effects) {
    effects.byOperator = true;
    Apply(effects);
}

void CChannelGrid::SelectLayout(int layout) {
    Apply(m_layout.SelectLayout(layout, Context()));
}

void CChannelGrid::StepPage(int step) {
    Apply(m_layout.SelectLayout(m_layout.Layout(), Context(), step));
}

void CChannelGrid::SelectChannel(int channel) {
    Apply(m_layout.SelectChannel(channel, Context()));
}

void CChannelGrid::Arrange() {
    Apply(m_layout.ResetArrangement());
}

void CChannelGrid::ArrangeAs(std::span<const int> arrangement) {
    Apply(m_layout.Arrange(arrangement));
}

void CChannelGrid::StartLive(int channelCount) {
    SetNotice(QString());
    Apply(m_layout.StartLive(channelCount, Context()));
}

void CChannelGrid::StartPlayback() {
    SetNotice(QString());
    Apply(m_layout.StartPlayback(Context()));
}

void CChannelGrid::SetNotice(const QString& text) {
    if (text.isEmpty()) {
        if (m_notice)
            m_notice->hide();
        return;
    }
    if (!m_notice) {
        m_notice = new QLabel(this);
        m_notice->setObjectName(QStringLiteral("GridNotice"));
        m_notice->setAlignment(Qt::AlignCenter);
        m_notice->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_notice->setStyleSheet(QStringLiteral(
            "QLabel { color: white; background: rgba(0, 0, 0, 170); padding: 8px 16px; }"));
        QFont font = OsdFont();
        m_notice->setFont(font);
    }
    m_notice->setText(text);
    PlaceNotice();
    m_notice->show();
    m_notice->raise();  // above the renderer's surface
}

QString CChannelGrid::Notice() const {
    return m_notice && !m_notice->isHidden() ? m_notice->text() : QString();
}

void CChannelGrid::PlaceNotice() {
    if (!m_notice)
        return;
    m_notice->adjustSize();
    const QSize size = m_notice->size().boundedTo(this->size());
    m_notice->setGeometry(
        QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size));
}

void CChannelGrid::SetFullScreen(bool on) {
    if (on == m_layout.FullScreen())
        return;
    if (on) {
        QWidget* main = window();
        const QPoint centre = main->mapToGlobal(main->rect().center());
        std::vector<MonitorInfo> monitors;
        const auto screens = QGuiApplication::screens();
        for (QScreen* s : screens)
            monitors.push_back(
                MonitorInfo{FromQRect(s->geometry()), FromQRect(s->availableGeometry())});
        const FullScreenEffects f =
            m_layout.EnterFullScreen(monitors, Point{centre.x(), centre.y()});
        if (f.ignored)
            return;
        m_savedParent = parentWidget();
        EndDragImage();
        setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
        if (f.monitorIndex >= 0 && f.monitorIndex < screens.size()) {
            QScreen* screen = screens[f.monitorIndex];
            create();
            windowHandle()->setScreen(screen);
        }
        setGeometry(ToQRect(f.grid.rect));
        setMouseTracking(true);
        show();
        raise();
        activateWindow();
        setFocus(Qt::OtherFocusReason);
        m_toolbar = std::make_unique<CFullScreenToolbar>();
        m_toolbarArea = ToQRect(f.toolbar);
        m_toolbar->setGeometry(m_toolbarArea);
        connect(m_toolbar.get(), &CFullScreenToolbar::Command, this, [this](int command) {
            const int layout = LayoutOfToolbarCommand(command);
            if (layout >= 0)
                SelectLayout(layout);
            else
                SetFullScreen(false);
        });
        UpdatePaneWidths();
        m_renderer->InvalidateAll();
        emit FullScreenChanged(true);
        return;
    }
    const FullScreenEffects f = m_layout.LeaveFullScreen();
    if (f.ignored)
        return;
    m_toolbar.reset();
    EndDragImage();
    setMouseTracking(false);
    setParent(m_savedParent, Qt::Widget);
    setGeometry(ToQRect(f.grid.rect));
    show();
    if (f.showMainWindow && m_savedParent) {
        m_savedParent->window()->show();
        m_savedParent->window()->activateWindow();
    }
    UpdatePaneWidths();
    m_renderer->InvalidateAll();
    emit FullScreenChanged(false);
}

void CChannelGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint p = event->position().toPoint();
    if (const int channel = ChannelAt(p); channel >= 0)
        emit PaneClicked(channel);
    const auto drag = m_layout.BeginDrag(Point{p.x(), p.y()}, Context());
    if (!drag)
        return;
    const QRect image = ToQRect(drag->image);
    const QImage panes = m_renderer->Grab();
    m_dragLabel->setPixmap(MakeDragImage(panes.copy(ToQRect(drag->pane)), image.size()));
    m_dragLabel->setGeometry(image);
    m_dragOffset = image.topLeft() - p;
    m_dragging = true;
    m_dragLabel->show();
    m_dragLabel->raise();
    setCursor(Qt::DragMoveCursor);
}

void CChannelGrid::MoveDragImage(QPoint pointer) {
    m_dragLabel->move(pointer + m_dragOffset);
}

void CChannelGrid::EndDragImage() {
    m_dragging = false;
    m_dragLabel->hide();
    unsetCursor();
}

void CChannelGrid::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging)
        MoveDragImage(event->position().toPoint());
    // The toolbar shows while the pointer is at the bottom edge and goes again once the
    // pointer moves back over the panes, so that it does not cover the bottom row.
    if (m_toolbar) {
        const bool atEdge = m_toolbarArea.contains(event->globalPosition().toPoint());
        if (atEdge && !m_toolbar->isVisible())
            m_toolbar->show();
        else if (!atEdge && m_toolbar->isVisible())
            m_toolbar->hide();
    }
    QWidget::mouseMoveEvent(event);
}

void CChannelGrid::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton && m_dragging) {
        EndDragImage();
        ApplyByOperator(m_layout.EndDrag(Point{p.x(), p.y()}, Context()));
        return;
    }
    if (event->button() == Qt::RightButton && m_layout.FullScreen()) {
        SetFullScreen(false);
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void CChannelGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    // A double click is no drag, whatever its first press started.
    if (m_dragging)
        EndDragImage();
    const QPoint p = event->position().toPoint();
    ApplyByOperator(m_layout.DoubleClick(Point{p.x(), p.y()}, Context()));
}

void CChannelGrid::keyPressEvent(QKeyEvent* event) {
    if (m_layout.FullScreen() &&
        (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
         event->key() == Qt::Key_Enter)) {
        SetFullScreen(false);
        return;
    }
    QWidget::keyPressEvent(event);
}

int CChannelGrid::ChannelAt(QPoint p) const {
    const int slot = m_layout.SlotAt(Point{p.x(), p.y()});
    return slot < 0 ? -1 : m_layout.ChannelOfSlot(slot);
}

void CChannelGrid::contextMenuEvent(QContextMenuEvent* event) {
    const int channel = ChannelAt(event->pos());
    if (channel < 0 || channel >= kMaxPanes) {
        QWidget::contextMenuEvent(event);
        return;
    }
    emit PaneContextMenu(channel, event->globalPos());
}

void CChannelGrid::wheelEvent(QWheelEvent* event) {
    const int channel = ChannelAt(event->position().toPoint());
    // One step per notch (120 eighths of a degree); touchpads send smaller amounts.
    m_wheelRest += event->angleDelta().y();
    const int steps = m_wheelRest / 120;
    m_wheelRest -= steps * 120;
    if (channel >= 0 && channel < kMaxPanes && steps != 0)
        emit PaneWheel(channel, steps);
    event->accept();
}

void CChannelGrid::dragEnterEvent(QDragEnterEvent* event) {
    if (ReadChannelMime(event->mimeData()))
        event->acceptProposedAction();
}

void CChannelGrid::dragMoveEvent(QDragMoveEvent* event) {
    const auto dropped = ReadChannelMime(event->mimeData());
    if (dropped && m_layout.SlotAt(Point{event->position().toPoint().x(),
                                         event->position().toPoint().y()}) >= 0)
        event->acceptProposedAction();
    else
        event->ignore();
}

void CChannelGrid::dropEvent(QDropEvent* event) {
    const auto dropped = ReadChannelMime(event->mimeData());
    if (!dropped)
        return;
    const int channel = m_site.GridChannel(dropped->first, dropped->second);
    if (channel < 0)
        return;
    const QPoint p = event->position().toPoint();
    ApplyByOperator(m_layout.PlaceChannel(Point{p.x(), p.y()}, channel, Context()));
    event->acceptProposedAction();
}

void CChannelGrid::closeEvent(QCloseEvent* event) {
    // Alt+F4 on the full-screen grid is swallowed; only the keys and the toolbar leave.
    if (m_layout.FullScreen()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace taviro::video::ui
