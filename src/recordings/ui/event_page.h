// The event list of the search window's Search or Backup menu: the kind buttons (Alarm,
// Motion, Audio), the list of the chosen kind's events (number, start, channels) with its
// filter, the page controls (Prev, the page field, "/  n", Next) and, on the Search side,
// Play; on the Backup side, Capacity and Start for the minute from the event's start.
// What a button asks is CEventPager's; the window sends the request and hands the answer
// back through SetAnswer.
//
// Thread: the GUI thread.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "recordings/event_list.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace taviro::lists::ui {
class CListPage;
}

namespace taviro::recordings::ui {

class CEventPage final : public QWidget {
    Q_OBJECT
  public:
    // `busy`: whether the window has a request outstanding (buttons ask nothing then).
    CEventPage(bool backupSide, int channels, int dateOrder, std::function<bool()> busy,
               QWidget* parent = nullptr);

    // An answer for this list (`paged`: it began with the page header).
    void SetAnswer(std::shared_ptr<const std::vector<std::uint8_t>> bytes, bool paged);
    // Shown again from what a playback started from it kept (kind, answer).
    void Restore(EventKind kind, std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                 bool paged);
    // The backup's size answer: the text to show and whether Start may be pressed.
    void SetCapacity(const std::optional<QString>& text, bool startable);
    // Play and Capacity are refused while local playback runs (the window tells).
    void SetPlayAllowed(bool allowed);

    // For the window and tests.
    QPushButton* KindButton(EventKind kind) const;
    QPushButton* PlayButton() const { return m_play; }
    QPushButton* CapacityButton() const { return m_capacity; }
    QPushButton* StartButton() const { return m_start; }
    QPushButton* PrevButton() const { return m_prev; }
    QPushButton* NextButton() const { return m_next; }
    QLineEdit* PageField() const { return m_pageField; }
    QLabel* PageLabel() const { return m_pageLabel; }
    lists::ui::CListPage* List() const { return m_list; }
    [[nodiscard]] const CEventPager& Pager() const { return m_pager; }
    [[nodiscard]] std::shared_ptr<const std::vector<std::uint8_t>> Answer() const {
        return m_bytes;
    }
    [[nodiscard]] bool AnswerPaged() const { return m_paged; }
    // The event of the selected row, nullopt when none.
    [[nodiscard]] std::optional<EventRecord> Selected() const;

  signals:
    void Request(EventKind kind, std::int32_t page);
    void Play(EventRecord event);
    void Capacity(EventRecord event);
    void StartBackup(EventRecord event);

  private:
    void Ask(std::optional<std::int32_t> page);
    void Rebuild();
    void UpdateButtons();

    bool m_backup;
    int m_dateOrder;
    std::function<bool()> m_busy;
    CEventPager m_pager;
    std::vector<EventEntry> m_entries;
    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
    bool m_paged = false;
    bool m_playAllowed = true;
    bool m_startable = false;
    std::vector<QPushButton*> m_kinds;
    lists::ui::CListPage* m_list = nullptr;
    QPushButton* m_play = nullptr;
    QPushButton* m_capacity = nullptr;
    QPushButton* m_start = nullptr;
    QLabel* m_size = nullptr;
    QPushButton* m_prev = nullptr;
    QPushButton* m_next = nullptr;
    QLineEdit* m_pageField = nullptr;
    QLabel* m_pageLabel = nullptr;
};

}  // namespace taviro::recordings::ui
