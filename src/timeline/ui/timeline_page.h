// The day timeline page of the search window: per channel the day's recorded stretches on
// a 288-pixel bar (continuous and event recordings in their own patterns), four time labels,
// click to choose a time, drag to zoom in, the right button to zoom out, the wheel to shift,
// the two step buttons, and Play (playback side) or the start/end switch with the capacity
// and start buttons (backup side). The playback side also holds a clip's In and Out marks:
// set at the selected time by the In and Out buttons or the keys I and O, drawn on the bar
// and draggable there, kept inside the recorded stretches of the shown channels; Clip… and
// Backup act on the marked range. The arithmetic is timeline/timeline.h; this page draws
// and forwards the mouse.
//
// Thread: the GUI thread. The records are the page's own copy.
#pragma once

#include <QWidget>
#include <optional>
#include <vector>

#include "protocol/channel_mask.h"
#include "timeline/calendar.h"
#include "timeline/timeline.h"

class QLabel;
class QRadioButton;

namespace taviro::timeline::ui {

class CTimelinePage final : public QWidget {
    Q_OBJECT
  public:
    CTimelinePage(bool backup, QWidget* parent = nullptr);

    // The day (year, month0, day0) and its records; `channels` how many rows, `shown` the
    // channel mask whose stretches are drawn; `dateFormat` 0..2 as the settings keep it;
    // `initial` the selected time (remote playback's position when it runs). The backup
    // side keeps the range chosen when the day is the one it shows already (the user went
    // to pick channels and came back).
    void SetDay(int year, int month0, int day0, std::vector<DayInfoRecord> records, int channels,
                protocol::ChannelMask shown, int dateFormat, int initial = 0);

    [[nodiscard]] const TimelineView& View() const { return m_view; }
    [[nodiscard]] int Selected() const { return m_selected; }
    [[nodiscard]] int BackupEnd() const { return m_end; }
    [[nodiscard]] std::int64_t DayStartTime() const { return m_dayStart; }
    [[nodiscard]] const std::vector<TimelineStretch>& Stretches() const { return m_stretches; }
    [[nodiscard]] QString SelectedText() const;
    // Tests: the button that plays from the selected time.
    QWidget* PlayButton() const;
    // Backup side: the capacity and start buttons and the size text.
    QWidget* CapacityButton() const { return m_capacity; }
    QWidget* StartButton() const { return m_start; }
    [[nodiscard]] QString CapacityText() const;
    // The answer to the capacity request: the size text and whether Start may be pressed
    // (nothing: the request was refused or the disk is too small; the size is cleared).
    void SetCapacity(std::optional<QString> text, bool startable);
    // The range chosen, as seconds of the day (start, end).
    void SetBackupRange(int start, int end);
    // Other channels chosen: their stretches are drawn, the range stays, and the size shown
    // (of the old channels) is cleared.
    void SetShown(protocol::ChannelMask shown);

    // Playback side: the marks (seconds of the day), each unset until the user sets it.
    [[nodiscard]] std::optional<int> InMark() const { return m_in; }
    [[nodiscard]] std::optional<int> OutMark() const { return m_out; }
    [[nodiscard]] QString MarksText() const;
    QWidget* ClipButton() const { return m_clip; }
    // Playback side: the recorder's events of the day (alarm 1, motion 2, audio 7), drawn as
    // marks in a strip under the bar; a click on one plays from its start.
    struct DayEvent {
        std::uint8_t kind = 0;
        int start = 0;  // seconds of the day
        int end = 0;
        protocol::ChannelMask channels = 0;
    };
    void SetEvents(std::vector<DayEvent> events);
    [[nodiscard]] const std::vector<DayEvent>& Events() const { return m_events; }
    // The strip's y, for tests that click a mark.
    static int EventStripY();
    QWidget* MarkBackupButton() const { return m_markBackup; }

  signals:
    // Play from second `seconds` of the day (playback side).
    void Play(int seconds);
    // Backup side: the size of the range from `start` to `end` (seconds of the day), and the
    // backup of that range.
    void Capacity(int start, int end);
    void StartBackup(int start, int end);
    // Playback side: a clip, or the backup, of the marked range (seconds of the day).
    void Clip(int in, int out);
    void BackupMarks(int in, int out);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    enum class Mark { In, Out };
    // Sets a mark (clamped to the recordings); an In at or after the Out drops the Out, an
    // Out at or before the In drops the In.
    void SetMark(Mark mark, int seconds);
    void UpdateMarks();
    void Select(int seconds);
    void SetView(const TimelineView& view);
    void UpdateLabels();

    const bool m_backup;
    std::vector<DayInfoRecord> m_records;
    std::vector<TimelineStretch> m_stretches;
    std::int64_t m_dayStart = 0;
    bool m_bHasDay = false;
    int m_channels = 16;
    protocol::ChannelMask m_shown = protocol::kAllChannels;
    TimelineView m_view;
    int m_selected = 0;
    int m_end = kDaySeconds - 1;  // backup: the end of the range
    std::optional<int> m_pressX;
    int m_dragX = 0;
    bool m_dragging = false;
    std::optional<Mark> m_dragMark;  // a mark being dragged along the bar
    bool m_bMarkMoved = false;       // and whether it has moved since it was pressed
    std::vector<DayEvent> m_events;
    std::optional<int> m_in;
    std::optional<int> m_out;
    QLabel* m_marksLabel = nullptr;
    QWidget* m_clip = nullptr;
    QWidget* m_markBackup = nullptr;
    QLabel* m_date = nullptr;
    std::vector<QLabel*> m_timeLabels;
    QLabel* m_selectedLabel = nullptr;
    QLabel* m_endLabel = nullptr;
    QRadioButton* m_setStart = nullptr;
    QWidget* m_play = nullptr;
    QWidget* m_capacity = nullptr;
    QWidget* m_start = nullptr;
    QLabel* m_capacityLabel = nullptr;
};

// "%02d : %02d : %02d" of a second of the day.
QString TimeOfDayText(int seconds);
// The date as the settings' format shows it.
QString DateText(int year, int month0, int day0, int dateFormat);

}  // namespace taviro::timeline::ui
