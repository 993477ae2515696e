#include "maintenance/ui/ptz_windows.h"

#include <QEvent>
#include <QFont>
#include <QPainter>

namespace taviro::maintenance::ui {

namespace {

constexpr Qt::WindowFlags kToolFlags = Qt::Tool | Qt::FramelessWindowHint;

QPushButton* MakeButton(QWidget* parent, const QString& text, const QRect& place) {
    auto* button = new QPushButton(text, parent);
    button->setGeometry(place);
    button->setFocusPolicy(Qt::NoFocus);  // the main window keeps the arrow keys
    return button;
}

void ShowIf(QWidget* window, bool shown) {
    if (window->isVisible() != shown) {
        window->setVisible(shown);
    }
}

}  // namespace

CPtzPanel::CPtzPanel(CPtzController& controller, QWidget* parent)
    : QWidget(parent, kToolFlags), m_ptz(controller) {
    setFixedSize(147, 171);
    const std::array<QRect, 4> places = {QRect(52, 8, 44, 36), QRect(52, 96, 44, 36),
                                         QRect(6, 52, 44, 36), QRect(98, 52, 44, 36)};
    const std::array<const char*, 4> names = {"Up", "Down", "Left", "Right"};
    for (std::size_t i = 0; i < m_directions.size(); ++i) {
        m_directions[i] = MakeButton(this, names[i], places[i]);
        const auto button = static_cast<PtzButton>(i);
        connect(m_directions[i], &QPushButton::pressed, this,
                [this, button] { m_ptz.Press(button); });
        connect(m_directions[i], &QPushButton::released, this,
                [this, button] { m_ptz.Release(button); });
    }
    // "Preset Pan" and "Preset Zoom" share the centre; the mode decides which is shown.
    m_presetPan = MakeButton(this, "Preset", QRect(52, 52, 44, 36));
    m_presetZoom = MakeButton(this, "Preset", QRect(52, 52, 44, 36));
    for (QPushButton* preset : {m_presetPan, m_presetZoom}) {
        connect(preset, &QPushButton::pressed, this, [this] { m_ptz.Press(PtzButton::Preset); });
    }
    m_pan = MakeButton(this, "Pan", QRect(6, 140, 44, 26));
    m_zoom = MakeButton(this, "Zoom", QRect(52, 140, 44, 26));
    QPushButton* close = MakeButton(this, "X", QRect(98, 140, 44, 26));
    // The panel's own Pan, Zoom and X only switch or close an open panel: the rights were
    // checked when it opened, and a withdrawal closes it (protocol::WM_CLOSE_PTZ).
    connect(m_pan, &QPushButton::clicked, this, [this] { m_ptz.PanelCommand(PtzMode::Pan); });
    connect(m_zoom, &QPushButton::clicked, this, [this] { m_ptz.PanelCommand(PtzMode::Zoom); });
    connect(close, &QPushButton::clicked, this, [this] { m_ptz.Close(); });
}

void CPtzPanel::Sync() {
    const bool enabled = m_ptz.PadEnabled();
    for (QPushButton* b : m_directions) {
        b->setEnabled(enabled);
    }
    const bool pan = m_ptz.Mode() == PtzMode::Pan;
    m_presetPan->setVisible(pan);
    m_presetZoom->setVisible(!pan);
    for (QPushButton* preset : {m_presetPan, m_presetZoom}) {
        preset->setEnabled(enabled);
        // While a pattern is learned the preset buttons show their active state.
        preset->setCheckable(true);
        preset->setChecked(m_ptz.Learning());
    }
    m_pan->setCheckable(true);
    m_zoom->setCheckable(true);
    m_pan->setChecked(pan);
    m_zoom->setChecked(!pan);
}

void CPtzPanel::hideEvent(QHideEvent* event) {
    m_ptz.CaptureLost();
    QWidget::hideEvent(event);
}

void CPtzPanel::changeEvent(QEvent* event) {
    // A button held while the window loses activation never sees its release.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        m_ptz.CaptureLost();
    }
    QWidget::changeEvent(event);
}

CPtzPresetWindow::CPtzPresetWindow(CPtzController& controller, QWidget* parent)
    : QWidget(parent, kToolFlags), m_ptz(controller) {
    setFixedSize(320, 200);
    const auto key = [this](const QString& text, const QRect& place, PresetKey k) {
        QPushButton* b = MakeButton(this, text, place);
        connect(b, &QPushButton::clicked, this, [this, k] { m_ptz.PresetPress(k); });
        return b;
    };
    m_modes[0] = key("Preset", QRect(10, 10, 70, 28), PresetKey::Preset);
    m_modes[1] = key("Learn", QRect(86, 10, 70, 28), PresetKey::Learn);
    key("Dome", QRect(162, 10, 70, 28), PresetKey::Dome);
    key("X", QRect(280, 10, 30, 28), PresetKey::Close);
    m_modes[2] = key("Set", QRect(10, 50, 70, 28), PresetKey::Set);
    m_modes[3] = key("Call", QRect(10, 84, 70, 28), PresetKey::Call);
    m_tour = m_modes[4] = key("Tour", QRect(10, 118, 70, 28), PresetKey::Tour);
    key("OK", QRect(250, 160, 60, 30), PresetKey::Ok);
    for (int d = 1; d <= 9; ++d) {
        const int row = (d - 1) / 3;
        const int col = (d - 1) % 3;
        QPushButton* b =
            MakeButton(this, QString::number(d), QRect(100 + col * 50, 50 + row * 34, 44, 28));
        connect(b, &QPushButton::clicked, this, [this, d] { m_ptz.PresetDigit(d); });
    }
    m_zero = MakeButton(this, "0", QRect(250, 118, 44, 28));
    connect(m_zero, &QPushButton::clicked, this, [this] { m_ptz.PresetDigit(0); });
    for (QPushButton* b : m_modes) {
        b->setCheckable(true);
    }
}

void CPtzPresetWindow::Sync() {
    const CPresetPad& pad = m_ptz.Pad();
    m_tour->setVisible(pad.TourShown());
    m_zero->setVisible(pad.ZeroShown());
    m_modes[0]->setChecked(pad.Mode() == PresetMode::Preset);
    m_modes[1]->setChecked(pad.Mode() == PresetMode::Learn);
    m_modes[2]->setChecked(pad.Choice() == PresetChoice::Set);
    m_modes[3]->setChecked(pad.Choice() == PresetChoice::Call);
    m_modes[4]->setChecked(pad.Choice() == PresetChoice::Tour);
    update(QRect(110, 173, 50, 20));
}

void CPtzPresetWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    QFont font("Arial");
    font.setPixelSize(20);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x50, 0x50, 0x50));
    painter.drawText(QRect(110, 173, 50, 20), Qt::AlignCenter,
                     QString::asprintf("%d", m_ptz.Pad().Number()));
}

CPtzDomeWindow::CPtzDomeWindow(CPtzController& controller, QWidget* parent)
    : QWidget(parent, kToolFlags) {
    setFixedSize(54, 108);
    QPushButton* select = MakeButton(this, "Sel", QRect(4, 4, 46, 30));
    QPushButton* previous = MakeButton(this, "Prev", QRect(4, 38, 46, 30));
    QPushButton* close = MakeButton(this, "X", QRect(4, 72, 46, 30));
    connect(select, &QPushButton::clicked, this, [&controller] { controller.DomeSelect(); });
    connect(previous, &QPushButton::clicked, this, [&controller] { controller.DomePrevious(); });
    connect(close, &QPushButton::clicked, this, [&controller] { controller.DomeClose(); });
}

CPtzWindows::CPtzWindows(CPtzController& controller, QWidget* mainWindow)
    : QObject(mainWindow),
      m_ptz(controller),
      m_main(mainWindow),
      m_panel(new CPtzPanel(controller, mainWindow)),
      m_preset(new CPtzPresetWindow(controller, mainWindow)),
      m_dome(new CPtzDomeWindow(controller, mainWindow)) {
    m_ptz.SetObserver([this] { Sync(); });
    Place();
    Sync();
}

CPtzWindows::~CPtzWindows() {
    m_ptz.SetObserver(nullptr);
    // The windows tell the controller when they hide (a held button loses its release): they
    // go now, while the controller still exists, not later with the main window's children.
    delete m_panel;
    delete m_preset;
    delete m_dome;
}

void CPtzWindows::Place() {
    const QPoint origin = m_main->mapToGlobal(QPoint(0, 0));
    m_panel->move(origin + QPoint(730, 550));
    m_preset->move(origin + QPoint(0, m_main->height() - m_preset->height()));
    m_dome->move(origin + QPoint(m_main->width() - m_dome->width(), 0));
}

void CPtzWindows::Sync() {
    m_panel->Sync();
    m_preset->Sync();
    ShowIf(m_panel, m_ptz.PanelOpen());
    ShowIf(m_preset, m_ptz.PresetOpen());
    ShowIf(m_dome, m_ptz.DomeMenuOpen());
}

}  // namespace taviro::maintenance::ui
