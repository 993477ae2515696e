// The small pages of the search window's menus: the time entry (year, month and day in the
// settings' date order, then hour, minute and second) that plays from a typed time, and the
// channel picker that edits the window's channel mask.
//
// Thread: the GUI thread.
#pragma once

#include <QWidget>
#include <array>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"

class QCheckBox;
class QSpinBox;

namespace taviro::recordings::ui {

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

}  // namespace taviro::recordings::ui
