#include "timeline/ui/calendar_page.h"

#include <QLabel>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "platform/ui/qt_owned.h"

namespace taviro::timeline::ui {

using platform::ui::Child;

namespace {

constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

}  // namespace

CCalendarPage::CCalendarPage(QWidget* parent) : QWidget(parent) {
    setFixedSize(408, 300);
    auto* previous = Child<QToolButton>(this);
    previous->setText(QStringLiteral("<"));
    previous->setGeometry(4, 4, 28, 24);
    connect(previous, &QToolButton::clicked, this, [this] { StepYear(-1); });
    m_yearLabel = Child<QLabel>(this);
    m_yearLabel->setGeometry(36, 4, 80, 24);
    m_yearLabel->setAlignment(Qt::AlignCenter);
    auto* next = Child<QToolButton>(this);
    next->setText(QStringLiteral(">"));
    next->setGeometry(120, 4, 28, 24);
    connect(next, &QToolButton::clicked, this, [this] { StepYear(1); });
    for (int m = 0; m < 12; ++m) {
        auto* b = Child<QToolButton>(this);
        b->setText(QString::fromLatin1(kMonthNames[m]));
        b->setCheckable(true);
        b->setGeometry(4 + (m % 6) * 67, 34 + (m / 6) * 24, 62, 22);
        connect(b, &QToolButton::clicked, this, [this, m] { ShowMonth(m_year, m); });
        m_months[static_cast<std::size_t>(m)] = b;
    }
    for (int d = 0; d < 7; ++d) {
        auto* label = Child<QLabel>(this, QString::fromLatin1(kWeekdays[d]));
        label->setGeometry(d * 57 + 4, 86, 52, 18);
        label->setAlignment(Qt::AlignCenter);
    }
    for (int d = 0; d < 31; ++d) {
        auto* b = Child<QToolButton>(this);
        b->setText(QString::number(d + 1));
        connect(b, &QToolButton::clicked, this, [this, d] { emit DayChosen(m_year, m_month0, d); });
        m_days[static_cast<std::size_t>(d)] = b;
    }
    Relayout();
}

void CCalendarPage::SetRecords(std::vector<MonthInfoRecord> records,
                               std::optional<CalendarPage> page, int fallbackYear) {
    m_records = std::move(records);
    m_shares.clear();
    m_shownMonth.reset();
    if (page) {
        m_year = page->year;
        m_month0 = page->month0;
    } else {
        m_year = std::clamp(fallbackYear, kFirstCalendarYear, kLastCalendarYear);
        m_month0 = 0;
    }
    Relayout();
}

void CCalendarPage::ShowMonth(int year, int month0) {
    const MonthInfoRecord* record = FindYear(m_records, year);
    if (record == nullptr || !MonthHasRecordings(*record, month0)) {
        Relayout();  // a month without recordings ignores the click
        return;
    }
    m_year = year;
    m_month0 = month0;
    Relayout();
}

void CCalendarPage::StepYear(int delta) {
    // Only years the recorder holds recordings in; their latest month.
    for (int y = m_year + delta; y >= kFirstCalendarYear && y <= kLastCalendarYear; y += delta) {
        const MonthInfoRecord* record = FindYear(m_records, y);
        if (record == nullptr)
            continue;
        for (int m = 11; m >= 0; --m) {
            if (MonthHasRecordings(*record, m)) {
                m_year = y;
                m_month0 = m;
                Relayout();
                return;
            }
        }
    }
}

void CCalendarPage::Relayout() {
    const MonthInfoRecord* record = FindYear(m_records, m_year);
    m_yearLabel->setText(QString::number(m_year));
    for (int m = 0; m < 12; ++m) {
        QToolButton* b = m_months[static_cast<std::size_t>(m)];
        const bool has = record != nullptr && MonthHasRecordings(*record, m);
        b->setEnabled(has);
        b->setChecked(has && m == m_month0);
    }
    const auto buttons = LayoutDays(record, m_year, m_month0);
    // The month's latest day with recordings is shown chosen: the day the calendar opens
    // on, one click (or Enter) from its timeline.
    int latest = -1;
    for (std::size_t d = 0; d < buttons.size() && d < m_days.size(); ++d)
        if (buttons[d].marked)
            latest = static_cast<int>(d);
    for (int d = 0; d < 31; ++d) {
        QToolButton* b = m_days[static_cast<std::size_t>(d)];
        if (d >= static_cast<int>(buttons.size())) {
            b->hide();
            continue;
        }
        const timeline::DayButton& day = buttons[static_cast<std::size_t>(d)];
        // The window's day grid starts 107 pixels down the calendar dialog; this page has
        // no title band above it.
        b->setGeometry(day.x, day.y, day.width, day.height);
        b->setEnabled(day.marked);
        b->setProperty("marked", day.marked);
        b->setAutoRaise(!day.marked);
        b->setCheckable(d == latest);
        b->setChecked(d == latest);
        StyleDay(d, day.marked);
        b->show();
        if (d == latest && isVisible())
            b->setFocus(Qt::OtherFocusReason);
    }
    if (record != nullptr && m_shownMonth != std::pair(m_year, m_month0)) {
        m_shownMonth = std::pair(m_year, m_month0);
        emit MonthShown(m_year, m_month0);
    }
}

void CCalendarPage::SetDayShare(int year, int month0, int day0, double share) {
    m_shares[year * 10000 + (month0 + 1) * 100 + day0 + 1] = share;
    // Only that day's button: the focus stays where the operator put it.
    if (year == m_year && month0 == m_month0 && day0 >= 0 && day0 < 31)
        StyleDay(day0, m_days[static_cast<std::size_t>(day0)]->isEnabled());
}

void CCalendarPage::StyleDay(int day0, bool marked) {
    QToolButton* b = m_days[static_cast<std::size_t>(day0)];
    const auto share = DayShare(m_year, m_month0, day0);
    if (marked && share) {
        // From a light tint for a few minutes to a strong one for the whole day.
        const int alpha = 50 + static_cast<int>(std::clamp(*share, 0.0, 1.0) * 180.0);
        b->setStyleSheet(
            QStringLiteral("QToolButton { background-color: rgba(64, 168, 96, %1); }").arg(alpha));
        b->setToolTip(QStringLiteral("%1 % of the day recorded")
                          .arg(static_cast<int>(std::lround(*share * 100.0))));
    } else {
        b->setStyleSheet(QString());
        b->setToolTip(QString());
    }
}

std::optional<double> CCalendarPage::DayShare(int year, int month0, int day0) const {
    const auto it = m_shares.find(year * 10000 + (month0 + 1) * 100 + day0 + 1);
    return it == m_shares.end() ? std::nullopt : std::optional<double>(it->second);
}

int CCalendarPage::LatestDay() const {
    for (int d = 30; d >= 0; --d)
        if (m_days[static_cast<std::size_t>(d)]->isVisible() &&
            m_days[static_cast<std::size_t>(d)]->isChecked())
            return d;
    return -1;
}

QToolButton* CCalendarPage::DayButton(int day0) const {
    if (day0 < 0 || day0 >= 31 || !m_days[static_cast<std::size_t>(day0)]->isVisible())
        return nullptr;
    return m_days[static_cast<std::size_t>(day0)];
}

QToolButton* CCalendarPage::MonthButton(int month0) const {
    return month0 >= 0 && month0 < 12 ? m_months[static_cast<std::size_t>(month0)] : nullptr;
}

}  // namespace taviro::timeline::ui
