// The calendar page of the search window (playback and backup side alike): the year, the
// twelve month buttons (highlighted and enabled when the month holds recordings), and the
// day buttons of the chosen month laid out by weekday, the days with recordings marked.
// A marked day asks for its day timeline; once its owner knows how much of a day is recorded
// the day's button is shaded by it (darker: more of the day). Everything else about it is
// the arithmetic of timeline/calendar.h.
//
// Thread: the GUI thread. The records are the page's own copy.
#pragma once

#include <QWidget>
#include <array>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "timeline/calendar.h"

class QLabel;
class QToolButton;

namespace taviro::timeline::ui {

class CCalendarPage final : public QWidget {
    Q_OBJECT
  public:
    explicit CCalendarPage(QWidget* parent = nullptr);

    // New records: opens on `page` (the latest month with recordings), or shows an empty
    // calendar of `fallbackYear` when there is none.
    void SetRecords(std::vector<MonthInfoRecord> records, std::optional<CalendarPage> page,
                    int fallbackYear);
    // Shows the month of `year` / `month0` (a month without recordings is ignored).
    void ShowMonth(int year, int month0);

    [[nodiscard]] int Year() const { return m_year; }
    [[nodiscard]] int Month() const { return m_month0; }
    // The shown month's latest day with recordings (0-based), shown chosen; -1: none.
    [[nodiscard]] int LatestDay() const;
    // The day button of day0 (tests), or null.
    QToolButton* DayButton(int day0) const;
    QToolButton* MonthButton(int month0) const;
    // How much of the day (0..1) is recorded, for its shading; forgotten with new records.
    void SetDayShare(int year, int month0, int day0, double share);
    [[nodiscard]] std::optional<double> DayShare(int year, int month0, int day0) const;

  signals:
    // A marked day was clicked.
    void DayChosen(int year, int month0, int day0);
    // Another month is shown (or new records came): the owner may tell its days' shares.
    void MonthShown(int year, int month0);

  private:
    void StepYear(int delta);
    // The day's shading and its tool-tip, from its share.
    void StyleDay(int day0, bool marked);
    void Relayout();

    std::vector<MonthInfoRecord> m_records;
    std::map<int, double> m_shares;                   // by YYYYMMDD (1-based month and day)
    std::optional<std::pair<int, int>> m_shownMonth;  // the last MonthShown
    int m_year = 2000;
    int m_month0 = 0;
    QLabel* m_yearLabel = nullptr;
    std::array<QToolButton*, 12> m_months{};
    std::array<QToolButton*, 31> m_days{};
};

}  // namespace taviro::timeline::ui
