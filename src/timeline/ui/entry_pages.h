// The small pages of the search window's menus: the time entry (year, month and day in the
// settings' date order, then hour, minute and second) that plays from a typed time, and the
// channel picker that edits the window's channel mask.
//
// Thread: the GUI thread.
#pragma once

#include <QWidget>
#include <array>
#include <optional>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"

class QCheckBox;
class QSpinBox;

class QDateTimeEdit;
class QLabel;

namespace taviro::timeline::ui {

class CDateTimePage final : public QWidget {
    Q_OBJECT
  public:
    // `dateFormat` 0 year-month-day, 1 month-day-year, 2 day-month-year.
    CDateTimePage(int dateFormat, QWidget* parent = nullptr);
    // The fields, as the recorder counts time.
    void SetTime(protocol::RecorderTime time);
    [[nodiscard]] protocol::RecorderTime Time() const;
    QWidget* PlayButton() const { return m_play; }

  signals:
    void Play(protocol::RecorderTime start);

  private:
    void ClampDay();

    QSpinBox* m_year = nullptr;
    QSpinBox* m_month = nullptr;
    QSpinBox* m_day = nullptr;
    QSpinBox* m_hour = nullptr;
    QSpinBox* m_minute = nullptr;
    QSpinBox* m_second = nullptr;
    QWidget* m_play = nullptr;
};

class CChannelPage final : public QWidget {
    Q_OBJECT
  public:
    explicit CChannelPage(QWidget* parent = nullptr);
    // The recorder's channels (the others stay disabled) and the mask shown.
    void SetChannels(int count, protocol::ChannelMask mask);
    [[nodiscard]] protocol::ChannelMask Mask() const;

  signals:
    void MaskChanged(protocol::ChannelMask mask);

  private:
    void SetAll(bool on);

    int m_count = 16;
    std::array<QCheckBox*, protocol::kMaxChannels> m_boxes{};
};

// The backup's time entry: the start and end of the range typed in (the recorder's wall
// clock), the size of the range and the start of the backup, as on the backup timeline.
class CBackupRangePage final : public QWidget {
    Q_OBJECT
  public:
    CBackupRangePage(int dateFormat, QWidget* parent = nullptr);
    void SetRange(protocol::RecorderTime start, protocol::RecorderTime end);
    [[nodiscard]] protocol::RecorderTime Start() const;
    [[nodiscard]] protocol::RecorderTime End() const;
    // The answer to the size request (nothing: refused or no room; the size is cleared).
    void SetCapacity(std::optional<QString> text, bool startable);
    QWidget* CapacityButton() const { return m_capacity; }
    QWidget* StartButton() const { return m_start; }

  signals:
    void Capacity(protocol::RecorderTime start, protocol::RecorderTime end);
    void StartBackup(protocol::RecorderTime start, protocol::RecorderTime end);

  private:
    QDateTimeEdit* m_from = nullptr;
    QDateTimeEdit* m_to = nullptr;
    QLabel* m_size = nullptr;
    QWidget* m_capacity = nullptr;
    QWidget* m_start = nullptr;
};

}  // namespace taviro::timeline::ui
