#include "timeline/ui/timeline_page.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "controls/ui/skin_style.h"

#include "platform/ui/qt_owned.h"

namespace taviro::timeline::ui {

using platform::ui::Child;

namespace {

constexpr int kLabelY = 52;
constexpr int kButtonsY = 372;
// A press this close to a mark's line takes the mark rather than the time under it.
constexpr int kMarkGrip = 3;
const QColor kInColour(0x40, 0xC8, 0x60);
// The strip of event marks under the bar, and each kind's colour.
constexpr int kEventTop = kTimelineBottom + 2;
constexpr int kEventBottom = kTimelineBottom + 10;
QColor EventColour(std::uint8_t kind) {
    switch (kind) {
        case 1:
            return {0xE8, 0x40, 0x40};  // alarm
        case 2:
            return {0xF0, 0xA0, 0x30};  // motion
        default:
            return {0x50, 0x90, 0xF0};  // audio
    }
}
const QColor kOutColour(0xE8, 0x48, 0x40);

using controls::ui::SkinColour;

// A time label: whole hours, hours and minutes, or everything.
QString PixelTimeText(int seconds) {
    const int h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (m == 0 && s == 0)
        return QString::asprintf("%d", h);
    if (s == 0)
        return QString::asprintf("%d:%d", h, m);
    return QString::asprintf("%d:%d:%d", h, m, s);
}

}  // namespace

QString TimeOfDayText(int seconds) {
    return QString::asprintf("%02d : %02d : %02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

QString DateText(int year, int month0, int day0, int dateFormat) {
    switch (dateFormat) {
        case 1:
            return QString::asprintf("%02d - %02d - %04d", month0 + 1, day0 + 1, year);
        case 2:
            return QString::asprintf("%02d - %02d - %04d", day0 + 1, month0 + 1, year);
        default:
            return QString::asprintf("%04d - %02d - %02d", year, month0 + 1, day0 + 1);
    }
}

CTimelinePage::CTimelinePage(bool backup, QWidget* parent) : QWidget(parent), m_backup(backup) {
    setFixedSize(420, 440);
    setMouseTracking(false);
    m_date = Child<QLabel>(this);
    m_date->setGeometry(113, 8, 288, 22);
    m_date->setAlignment(Qt::AlignCenter);
    for (int i = 0; i < 4; ++i) {
        auto* label = Child<QLabel>(this);
        label->setGeometry(kTimelineLeft + 72 * i - 2, kLabelY, 70, 16);
        m_timeLabels.push_back(label);
    }
    m_selectedLabel = Child<QLabel>(this);
    m_selectedLabel->setGeometry(150, kButtonsY, 130, 24);
    m_selectedLabel->setAlignment(Qt::AlignCenter);
    auto* back = Child<QPushButton>(this, QStringLiteral("<"));
    back->setGeometry(113, kButtonsY, 32, 24);
    connect(back, &QPushButton::clicked, this, [this] {
        Select(
            StepSelected(m_view, m_backup && !m_setStart->isChecked() ? m_end : m_selected, false));
    });
    auto* forward = Child<QPushButton>(this, QStringLiteral(">"));
    forward->setGeometry(285, kButtonsY, 32, 24);
    connect(forward, &QPushButton::clicked, this, [this] {
        Select(
            StepSelected(m_view, m_backup && !m_setStart->isChecked() ? m_end : m_selected, true));
    });
    if (!m_backup) {
        auto* play = Child<QPushButton>(this, QStringLiteral("Play"));
        play->setGeometry(330, kButtonsY, 72, 24);
        connect(play, &QPushButton::clicked, this, [this] { emit Play(m_selected); });
        m_play = play;
        // The clip's marks: set at the selected time, by these buttons or the keys I and O.
        setFocusPolicy(Qt::StrongFocus);
        auto* in = Child<QPushButton>(this, QStringLiteral("In"));
        in->setGeometry(8, kButtonsY, 48, 24);
        in->setToolTip(QStringLiteral("Mark the start of a clip at the selected time (I)"));
        connect(in, &QPushButton::clicked, this, [this] { SetMark(Mark::In, m_selected); });
        auto* out = Child<QPushButton>(this, QStringLiteral("Out"));
        out->setGeometry(60, kButtonsY, 48, 24);
        out->setToolTip(QStringLiteral("Mark the end of a clip at the selected time (O)"));
        connect(out, &QPushButton::clicked, this, [this] { SetMark(Mark::Out, m_selected); });
        m_marksLabel = Child<QLabel>(this);
        m_marksLabel->setObjectName(QStringLiteral("MarksText"));
        m_marksLabel->setGeometry(8, kButtonsY + 28, 236, 24);
        auto* backupMarks = Child<QPushButton>(this, QStringLiteral("Backup"));
        backupMarks->setGeometry(250, kButtonsY + 28, 72, 24);
        backupMarks->setToolTip(QStringLiteral("Back up the marked range"));
        connect(backupMarks, &QPushButton::clicked, this, [this] {
            if (m_in && m_out)
                emit BackupMarks(*m_in, *m_out);
        });
        m_markBackup = backupMarks;
        auto* clip = Child<QPushButton>(this, QStringLiteral("Clip\u2026"));
        clip->setGeometry(330, kButtonsY + 28, 72, 24);
        clip->setToolTip(QStringLiteral("Write the marked range to a video file per channel"));
        connect(clip, &QPushButton::clicked, this, [this] {
            if (m_in && m_out)
                emit Clip(*m_in, *m_out);
        });
        m_clip = clip;
    } else {
        // Which end of the range a click sets; the capacity and start buttons belong to the
        // backup download.
        m_setStart = Child<QRadioButton>(this, QStringLiteral("Start"));
        m_setStart->setGeometry(8, kButtonsY, 70, 22);
        m_setStart->setChecked(true);
        auto* setEnd = Child<QRadioButton>(this, QStringLiteral("End"));
        setEnd->setGeometry(8, kButtonsY + 24, 70, 22);
        m_endLabel = Child<QLabel>(this);
        m_endLabel->setGeometry(150, kButtonsY + 26, 130, 24);
        m_endLabel->setAlignment(Qt::AlignCenter);
        auto* capacity = Child<QPushButton>(this, QStringLiteral("Capacity"));
        capacity->setGeometry(330, kButtonsY, 72, 24);
        connect(capacity, &QPushButton::clicked, this, [this] {
            // The page waits for the answer; a new range needs a new size.
            m_capacity->setEnabled(false);
            m_start->setEnabled(false);
            emit Capacity(m_selected, m_end);
        });
        m_capacity = capacity;
        auto* start = Child<QPushButton>(this, QStringLiteral("Start"));
        start->setGeometry(330, kButtonsY + 28, 72, 24);
        start->setEnabled(false);
        connect(start, &QPushButton::clicked, this, [this] {
            m_start->setEnabled(false);
            emit StartBackup(m_selected, m_end);
        });
        m_start = start;
        m_capacityLabel = Child<QLabel>(this);
        m_capacityLabel->setObjectName(QStringLiteral("CapacityText"));
        m_capacityLabel->setGeometry(230, kButtonsY + 28, 96, 24);
        m_capacityLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    UpdateLabels();
}

void CTimelinePage::SetDay(int year, int month0, int day0, std::vector<DayInfoRecord> records,
                           int channels, protocol::ChannelMask shown, int dateFormat, int initial) {
    m_records = std::move(records);
    const std::int64_t dayStart = DayStart(year, month0, day0);
    const bool sameDay = m_bHasDay && dayStart == m_dayStart;
    m_bHasDay = true;
    m_dayStart = dayStart;
    m_channels = std::clamp(channels, 1, protocol::kMaxChannels);
    m_shown = shown;
    if (!sameDay)
        m_events.clear();  // the day's own come once asked for
    if (!(m_backup && sameDay)) {
        m_selected = std::clamp(initial, 0, kDaySeconds - 1);
        m_end = kDaySeconds - 1;
    }
    if (!sameDay) {
        m_in.reset();  // marks belong to the day they were set on
        m_out.reset();
    }
    UpdateMarks();
    if (m_backup) {
        m_start->setEnabled(false);  // the size is asked again for what is shown now
        m_capacityLabel->clear();
    }
    m_date->setText(DateText(year, month0, day0, dateFormat));
    SetView(TimelineView{});
}

void CTimelinePage::SetView(const TimelineView& view) {
    m_view = view;
    m_stretches = LayoutStretches(m_records, m_dayStart, m_view, m_shown);
    UpdateLabels();
    update();
}

void CTimelinePage::Select(int seconds) {
    if (m_backup && !m_setStart->isChecked()) {
        if (seconds < m_selected)
            return;  // the end never goes before the start
        m_end = seconds;
    } else if (m_backup && seconds > m_end) {
        return;
    } else {
        m_selected = seconds;
    }
    if (m_backup && m_start) {
        m_start->setEnabled(false);  // the size shown is for the old range
        m_capacityLabel->clear();
    }
    UpdateLabels();
    update();
}

QString CTimelinePage::SelectedText() const {
    return TimeOfDayText(m_selected);
}

QWidget* CTimelinePage::PlayButton() const {
    return m_play;
}

QString CTimelinePage::CapacityText() const {
    return m_capacityLabel ? m_capacityLabel->text() : QString();
}

void CTimelinePage::SetCapacity(std::optional<QString> text, bool startable) {
    if (!m_backup)
        return;
    m_capacityLabel->setText(text.value_or(QString()));
    m_capacity->setEnabled(true);
    m_start->setEnabled(text.has_value() && startable);
}

void CTimelinePage::SetBackupRange(int start, int end) {
    if (!m_backup)
        return;
    m_selected = std::clamp(start, 0, kDaySeconds - 1);
    m_end = std::clamp(end, m_selected, kDaySeconds - 1);
    UpdateLabels();
    update();
}

void CTimelinePage::SetShown(protocol::ChannelMask shown) {
    m_shown = shown;
    if (m_backup)
        SetCapacity(std::nullopt, false);
    SetView(m_view);
}

int CTimelinePage::EventStripY() {
    return (kEventTop + kEventBottom) / 2;
}

void CTimelinePage::SetEvents(std::vector<DayEvent> events) {
    m_events = std::move(events);
    update();
}

void CTimelinePage::SetMark(Mark mark, int seconds) {
    if (m_backup || !m_bHasDay)
        return;
    seconds =
        ClampToRecorded(m_records, m_dayStart, m_shown, std::clamp(seconds, 0, kDaySeconds - 1));
    if (mark == Mark::In) {
        m_in = seconds;
        if (m_out && *m_out <= seconds)
            m_out.reset();
    } else {
        m_out = seconds;
        if (m_in && *m_in >= seconds)
            m_in.reset();
    }
    UpdateMarks();
    update();
}

QString CTimelinePage::MarksText() const {
    const auto text = [](const std::optional<int>& mark) {
        return mark ? TimeOfDayText(*mark).remove(QLatin1Char(' ')) : QStringLiteral("--:--:--");
    };
    return QStringLiteral("In %1  Out %2").arg(text(m_in), text(m_out));
}

void CTimelinePage::UpdateMarks() {
    if (m_backup)
        return;
    m_marksLabel->setText(MarksText());
    const bool range = m_in && m_out;
    m_clip->setEnabled(range);
    m_markBackup->setEnabled(range);
}

void CTimelinePage::keyPressEvent(QKeyEvent* event) {
    if (!m_backup && event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_I || event->key() == Qt::Key_O)) {
        SetMark(event->key() == Qt::Key_I ? Mark::In : Mark::Out, m_selected);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CTimelinePage::UpdateLabels() {
    for (int i = 0; i < 4; ++i)
        m_timeLabels[static_cast<std::size_t>(i)]->setText(
            PixelTimeText(TimeOfPixel(m_view, kTimelineLeft + 72 * i)));
    m_selectedLabel->setText(TimeOfDayText(m_selected));
    if (m_endLabel)
        m_endLabel->setText(TimeOfDayText(m_end));
}

void CTimelinePage::paintEvent(QPaintEvent*) {
    namespace c = controls::ui::skin_colour;
    QPainter p(this);
    p.fillRect(rect(), SkinColour(c::kBackground));
    p.fillRect(QRect(kTimelineLeft, kTimelineTop, kTimelinePixels, kTimelineBottom - kTimelineTop),
               SkinColour(c::kField));
    p.setPen(SkinColour(c::kBorder));
    for (int i = 0; i <= 4; ++i)
        p.drawLine(kTimelineLeft + 72 * i, kTimelineTop, kTimelineLeft + 72 * i, kTimelineBottom);
    p.setPen(SkinColour(c::kText));
    for (int n = 0; n < m_channels; ++n) {
        p.drawText(QRect(60, 75 + 18 * n - 3, 50, 14), Qt::AlignRight | Qt::AlignVCenter,
                   QString::asprintf("%s%02d", "CH", n + 1));
        p.fillRect(
            QRect(kTimelineLeft, StretchTop(n), kTimelinePixels, StretchBottom(n) - StretchTop(n)),
            SkinColour(c::kPanel));
    }
    const QColor continuous = SkinColour(c::kAccent);
    const QBrush event(QColor(0xE0, 0x6C, 0x3C), Qt::Dense3Pattern);
    for (const TimelineStretch& s : m_stretches) {
        if (s.channel >= m_channels)
            continue;
        const QRect r(s.x0, StretchTop(s.channel), std::max(1, s.x1 - s.x0),
                      StretchBottom(s.channel) - StretchTop(s.channel));
        if (s.event) {
            p.fillRect(r, QColor(0x5A, 0x2A, 0x18));
            p.fillRect(r, event);
        } else {
            p.fillRect(r, continuous);
        }
    }
    // The selected time (and the backup's end) as lines over the rows.
    auto marker = [&](int seconds, QColor colour) {
        if (seconds < m_view.start || seconds > m_view.end)
            return;
        const int x = PixelOfTime(m_view, seconds);
        p.setPen(QPen(colour, 1));
        p.drawLine(x, kTimelineTop, x, kTimelineBottom);
    };
    marker(m_selected, Qt::white);
    if (m_backup)
        marker(m_end, QColor(0xFF, 0xC0, 0x40));
    // The marked range shaded over the rows, each mark a line with a flag above the bar.
    if (m_in && m_out && *m_out >= m_view.start && *m_in <= m_view.end) {
        const int x0 = PixelOfTime(m_view, std::max(*m_in, m_view.start));
        const int x1 = PixelOfTime(m_view, std::min(*m_out, m_view.end));
        p.fillRect(QRect(x0, kTimelineTop, std::max(1, x1 - x0), kTimelineBottom - kTimelineTop),
                   QColor(0xFF, 0xFF, 0xFF, 40));
    }
    const auto flag = [&](const std::optional<int>& mark, const QColor& colour, bool in) {
        if (!mark || *mark < m_view.start || *mark > m_view.end)
            return;
        const int x = PixelOfTime(m_view, *mark);
        p.setPen(QPen(colour, 2));
        p.drawLine(x, kTimelineTop, x, kTimelineBottom);
        const int tip = in ? 6 : -6;  // In points into the range, Out back into it
        const QPoint triangle[3] = {
            {x, kTimelineTop}, {x + tip, kTimelineTop - 4}, {x, kTimelineTop - 8}};
        p.setBrush(colour);
        p.drawPolygon(triangle, 3);
        p.setBrush(Qt::NoBrush);
    };
    flag(m_in, kInColour, true);
    flag(m_out, kOutColour, false);
    // The day's events: from start to end in the strip, at least a tick wide.
    for (const DayEvent& e : m_events) {
        if (e.end < m_view.start || e.start > m_view.end)
            continue;
        const int x0 = PixelOfTime(m_view, std::max(e.start, m_view.start));
        const int x1 = PixelOfTime(m_view, std::min(e.end, m_view.end));
        p.fillRect(QRect(x0, kEventTop, std::max(2, x1 - x0), kEventBottom - kEventTop),
                   EventColour(e.kind));
    }
    if (m_dragging && m_pressX) {
        // The rubber band of a zoom drag.
        p.setPen(QPen(Qt::white, 2));
        p.drawRect(QRect(QPoint(std::min(*m_pressX, m_dragX), kTimelineTop),
                         QPoint(std::max(*m_pressX, m_dragX), kTimelineBottom)));
    }
}

void CTimelinePage::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (!m_backup && event->button() == Qt::LeftButton && pos.y() >= kEventTop - 1 &&
        pos.y() <= kEventBottom + 1) {
        // An event mark: play from its start (the latest one starting under the pointer).
        const int at = TimeOfPixel(m_view, pos.x());
        const int slack = m_view.secondsPerPixel * kMarkGrip;
        const DayEvent* hit = nullptr;
        for (const DayEvent& e : m_events)
            if (at >= e.start - slack && at <= std::max(e.end, e.start + slack) &&
                (hit == nullptr || e.start > hit->start))
                hit = &e;
        if (hit != nullptr) {
            Select(hit->start);
            emit Play(hit->start);
        }
        return;
    }
    if (event->button() != Qt::LeftButton || pos.x() < kTimelineLeft || pos.x() > kTimelineRight ||
        pos.y() < kTimelineTop || pos.y() > kTimelineBottom)
        return;
    // A press on a mark's line takes the mark along.
    for (const auto& [mark, at] : {std::pair{Mark::In, m_in}, std::pair{Mark::Out, m_out}}) {
        if (!m_backup && at && *at >= m_view.start && *at <= m_view.end &&
            std::abs(PixelOfTime(m_view, *at) - pos.x()) <= kMarkGrip) {
            m_dragMark = mark;
            m_bMarkMoved = false;
            return;
        }
    }
    m_pressX = pos.x();
    m_dragX = pos.x();
}

void CTimelinePage::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragMark) {
        // The mark follows the pointer, never past the other one.
        const int x =
            std::clamp(static_cast<int>(event->position().x()), kTimelineLeft, kTimelineRight);
        const int seconds = ClampToRecorded(m_records, m_dayStart, m_shown, TimeOfPixel(m_view, x));
        m_bMarkMoved = true;
        if (*m_dragMark == Mark::In) {
            m_in = m_out ? std::min(seconds, *m_out - 1) : seconds;
        } else {
            m_out = m_in ? std::max(seconds, *m_in + 1) : seconds;
        }
        UpdateMarks();
        update();
        return;
    }
    if (!m_pressX)
        return;
    m_dragX = std::clamp(static_cast<int>(event->position().x()), kTimelineLeft, kTimelineRight);
    m_dragging = m_dragX != *m_pressX;
    update();
}

void CTimelinePage::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        SetView(ZoomOut(m_view));
        return;
    }
    if (event->button() == Qt::LeftButton && m_dragMark) {
        m_dragMark.reset();
        if (!m_bMarkMoved) {
            // A mark pressed and let go where it was: a click, which chooses that time.
            Select(TimeOfPixel(m_view, std::clamp(static_cast<int>(event->position().x()),
                                                  kTimelineLeft, kTimelineRight)));
        }
        return;
    }
    if (event->button() != Qt::LeftButton || !m_pressX)
        return;
    const int x0 = *m_pressX;
    const int x1 =
        std::clamp(static_cast<int>(event->position().x()), kTimelineLeft, kTimelineRight);
    m_pressX.reset();
    m_dragging = false;
    if (x0 == x1) {
        Select(TimeOfPixel(m_view, x1));
    } else {
        SetView(ZoomToDrag(m_view, x0, x1));
    }
    update();
}

void CTimelinePage::wheelEvent(QWheelEvent* event) {
    // A turn away from the user (a positive delta) moves the view later in the day.
    SetView(Shift(m_view, event->angleDelta().y()));
}

}  // namespace taviro::timeline::ui
