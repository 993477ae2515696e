// The strip under the main window's position slider while remote playback runs: the day's
// recorded stretches (continuous and event recordings, all played channels together) and
// the position, so the operator sees where a seek can land.
//
// Thread: the GUI thread. The records are the bar's own copy.
#pragma once

#include <QWidget>
#include <vector>

#include "protocol/channel_mask.h"
#include "timeline/calendar.h"
#include "timeline/timeline.h"

namespace taviro::recordings::ui {

class CPlaybackBar final : public QWidget {
    Q_OBJECT
  public:
    explicit CPlaybackBar(QWidget* parent = nullptr);
    // The day that begins at `dayStart` (recorder time) and its records; `channels` the
    // played channels.
    void SetDay(std::int64_t dayStart, std::vector<timeline::DayInfoRecord> records,
                protocol::ChannelMask channels);
    void Clear();
    // The part of the day drawn over the bar's width (seconds of the day), the same as the
    // position slider above it spans.
    void SetSpan(int from, int to);
    // The position as a second of the day (-1: none).
    void SetPosition(int secondOfDay);
    [[nodiscard]] std::int64_t DayStart() const { return m_dayStart; }
    [[nodiscard]] std::size_t RecordCount() const { return m_records.size(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::int64_t m_dayStart = 0;
    std::vector<timeline::DayInfoRecord> m_records;
    protocol::ChannelMask m_channels = 0;
    int m_position = -1;
    int m_spanFrom = 0;
    int m_spanTo = timeline::kDaySeconds - 1;
};

}  // namespace taviro::recordings::ui
