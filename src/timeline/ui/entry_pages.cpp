#include "timeline/ui/entry_pages.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

#include "timeline/calendar.h"
#include "timeline/timeline.h"

#include "platform/ui/qt_owned.h"

namespace taviro::timeline::ui {

using platform::ui::Child;

namespace {

QSpinBox* Spin(QWidget* parent, int low, int high, const QRect& place) {
    auto* box = Child<QSpinBox>(parent);
    box->setRange(low, high);
    box->setGeometry(place);
    box->setAlignment(Qt::AlignCenter);
    return box;
}

}  // namespace

CDateTimePage::CDateTimePage(int dateFormat, QWidget* parent) : QWidget(parent) {
    setFixedSize(408, 200);
    m_year = Spin(this, kFirstCalendarYear, kLastCalendarYear, QRect());
    m_month = Spin(this, 1, 12, QRect());
    m_day = Spin(this, 1, 31, QRect());
    // The date in the order the settings show dates.
    std::array<QSpinBox*, 3> order{m_year, m_month, m_day};
    if (dateFormat == 1)
        order = {m_month, m_day, m_year};
    else if (dateFormat == 2)
        order = {m_day, m_month, m_year};
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i]->setGeometry(40 + static_cast<int>(i) * 110, 40, 90, 26);
    m_hour = Spin(this, 0, 23, QRect(40, 90, 90, 26));
    m_minute = Spin(this, 0, 59, QRect(150, 90, 90, 26));
    m_second = Spin(this, 0, 59, QRect(260, 90, 90, 26));
    for (QSpinBox* box : {m_hour, m_minute, m_second})
        box->setWrapping(true);
    connect(m_year, &QSpinBox::valueChanged, this, [this] { ClampDay(); });
    connect(m_month, &QSpinBox::valueChanged, this, [this] { ClampDay(); });
    auto* play = Child<QPushButton>(this, QStringLiteral("Play"));
    play->setObjectName(QStringLiteral("play"));
    play->setGeometry(290, 150, 72, 26);
    connect(play, &QPushButton::clicked, this, [this] { emit Play(Time()); });
    m_play = play;
    // Today, as the recorder's wall clock counts it, from midnight.
    const std::int64_t now = protocol::LocalWallClockNow(protocol::ProcessZoneOffset());
    SetTime(static_cast<protocol::RecorderTime>(now - now % kDaySeconds));
}

void CDateTimePage::ClampDay() {
    // The day never passes the length of the chosen month.
    m_day->setMaximum(DaysInMonth(m_year->value(), m_month->value() - 1));
}

void CDateTimePage::SetTime(protocol::RecorderTime time) {
    protocol::UserTime t;
    if (!protocol::GetTime_tToUsertime(time, &t))
        return;
    m_year->setValue(std::clamp(t.year, kFirstCalendarYear, kLastCalendarYear));
    m_month->setValue(t.month + 1);
    ClampDay();
    m_day->setValue(t.day + 1);
    m_hour->setValue(t.hour);
    m_minute->setValue(t.minute);
    m_second->setValue(t.second);
}

protocol::RecorderTime CDateTimePage::Time() const {
    const std::int64_t seconds =
        DayStart(m_year->value(), m_month->value() - 1, m_day->value() - 1) +
        m_hour->value() * 3600 + m_minute->value() * 60 + m_second->value();
    return static_cast<protocol::RecorderTime>(std::clamp<std::int64_t>(seconds, 0, 0x7FFFFFFF));
}

CChannelPage::CChannelPage(QWidget* parent) : QWidget(parent) {
    setFixedSize(408, 220);
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        auto* box = Child<QCheckBox>(this, QString::asprintf("CH%02d", c + 1));
        box->setGeometry(20 + (c % 4) * 96, 20 + (c / 4) * 32, 90, 24);
        connect(box, &QCheckBox::toggled, this, [this] { emit MaskChanged(Mask()); });
        m_boxes[static_cast<std::size_t>(c)] = box;
    }
    auto* all = Child<QPushButton>(this, QStringLiteral("All Check"));
    all->setGeometry(20, 160, 100, 26);
    connect(all, &QPushButton::clicked, this, [this] { SetAll(true); });
    auto* none = Child<QPushButton>(this, QStringLiteral("Beturn All"));
    none->setGeometry(130, 160, 100, 26);
    connect(none, &QPushButton::clicked, this, [this] { SetAll(false); });
}

void CChannelPage::SetChannels(int count, protocol::ChannelMask mask) {
    m_count = std::clamp(count, 0, protocol::kMaxChannels);
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        QCheckBox* box = m_boxes[static_cast<std::size_t>(c)];
        const QSignalBlocker quiet(box);
        box->setEnabled(c < m_count);
        box->setChecked(c < m_count && protocol::HasChannel(mask, c));
    }
}

void CChannelPage::SetAll(bool on) {
    for (int c = 0; c < m_count; ++c) {
        QCheckBox* box = m_boxes[static_cast<std::size_t>(c)];
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    }
    emit MaskChanged(Mask());
}

protocol::ChannelMask CChannelPage::Mask() const {
    protocol::ChannelMask mask = 0;
    for (int c = 0; c < m_count; ++c)
        if (m_boxes[static_cast<std::size_t>(c)]->isChecked())
            mask |= 1u << c;
    return mask;
}

CBackupRangePage::CBackupRangePage(int dateFormat, QWidget* parent) : QWidget(parent) {
    setFixedSize(408, 220);
    const QString date = dateFormat == 1   ? QStringLiteral("MM-dd-yyyy")
                         : dateFormat == 2 ? QStringLiteral("dd-MM-yyyy")
                                           : QStringLiteral("yyyy-MM-dd");
    const auto edit = [&](const QString& label, int y) {
        auto* text = Child<QLabel>(this, label);
        text->setGeometry(20, y, 60, 26);
        auto* box = Child<QDateTimeEdit>(this);
        box->setTimeSpec(Qt::UTC);  // the recorder's wall clock, counted as UTC
        box->setDisplayFormat(date + QStringLiteral("  HH:mm:ss"));
        box->setGeometry(90, y, 220, 26);
        return box;
    };
    m_from = edit(QStringLiteral("Start"), 30);
    m_to = edit(QStringLiteral("End"), 70);
    m_size = Child<QLabel>(this);
    m_size->setObjectName(QStringLiteral("CapacityText"));
    m_size->setGeometry(90, 110, 220, 26);
    auto* capacity = Child<QPushButton>(this, QStringLiteral("Capacity"));
    capacity->setGeometry(90, 150, 100, 26);
    auto* start = Child<QPushButton>(this, QStringLiteral("Start"));
    start->setGeometry(210, 150, 100, 26);
    start->setEnabled(false);
    m_capacity = capacity;
    m_start = start;
    connect(capacity, &QPushButton::clicked, this, [this] {
        m_capacity->setEnabled(false);
        m_start->setEnabled(false);
        emit Capacity(Start(), End());
    });
    connect(start, &QPushButton::clicked, this, [this] {
        m_start->setEnabled(false);
        emit StartBackup(Start(), End());
    });
    // A new range needs a new size before it can start.
    for (QDateTimeEdit* box : {m_from, m_to}) {
        connect(box, &QDateTimeEdit::dateTimeChanged, this, [this] {
            m_start->setEnabled(false);
            m_size->clear();
        });
    }
    const auto day = static_cast<protocol::RecorderTime>(DayStart(kFirstCalendarYear, 0, 0));
    SetRange(day, day + 3600);
}

void CBackupRangePage::SetRange(protocol::RecorderTime start, protocol::RecorderTime end) {
    m_from->setDateTime(QDateTime::fromSecsSinceEpoch(start, Qt::UTC));
    m_to->setDateTime(QDateTime::fromSecsSinceEpoch(end, Qt::UTC));
}

protocol::RecorderTime CBackupRangePage::Start() const {
    return static_cast<protocol::RecorderTime>(m_from->dateTime().toSecsSinceEpoch());
}

protocol::RecorderTime CBackupRangePage::End() const {
    return static_cast<protocol::RecorderTime>(m_to->dateTime().toSecsSinceEpoch());
}

void CBackupRangePage::SetCapacity(std::optional<QString> text, bool startable) {
    m_size->setText(text.value_or(QString()));
    m_capacity->setEnabled(true);
    m_start->setEnabled(text.has_value() && startable && End() > Start());
}

}  // namespace taviro::timeline::ui
