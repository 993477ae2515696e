#include "recordings/ui/playback_bar.h"

#include <QPainter>
#include <algorithm>

#include "controls/ui/skin_style.h"
#include "timeline/timeline.h"

namespace taviro::recordings::ui {

namespace {

using controls::ui::SkinColour;

}  // namespace

CPlaybackBar::CPlaybackBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CPlaybackBar::SetDay(std::int64_t dayStart, std::vector<timeline::DayInfoRecord> records,
                          protocol::ChannelMask channels) {
    m_dayStart = dayStart;
    m_records = std::move(records);
    m_channels = channels;
    update();
}

void CPlaybackBar::Clear() {
    m_records.clear();
    m_position = -1;
    update();
}

void CPlaybackBar::SetSpan(int from, int to) {
    if (to <= from || (from == m_spanFrom && to == m_spanTo))
        return;
    m_spanFrom = from;
    m_spanTo = to;
    update();
}

void CPlaybackBar::SetPosition(int secondOfDay) {
    if (secondOfDay == m_position)
        return;
    m_position = secondOfDay;
    update();
}

void CPlaybackBar::paintEvent(QPaintEvent*) {
    namespace c = controls::ui::skin_colour;
    QPainter p(this);
    p.fillRect(rect(), SkinColour(c::kField));
    const std::int64_t w = width();
    const std::int64_t first = m_spanFrom;
    const std::int64_t span = std::max(1, m_spanTo - m_spanFrom);
    const auto xOf = [w, first, span](std::int64_t second) {
        return static_cast<int>(std::clamp<std::int64_t>(second - first, 0, span) * w / span);
    };
    // Continuous stretches first, event stretches over them.
    for (const bool event : {false, true}) {
        for (const timeline::DayInfoRecord& r : m_records) {
            if ((r.channels & m_channels) == 0 || r.end < r.start ||
                ((r.kinds & timeline::kKindEvent) != 0) != event ||
                (r.kinds & (timeline::kKindEvent | timeline::kKindContinuous)) == 0)
                continue;
            const std::int64_t from = r.start - m_dayStart;
            const std::int64_t to = r.end - m_dayStart;
            if (to < m_spanFrom || from > m_spanTo)
                continue;
            const int x0 = xOf(from);
            const int x1 = std::max(x0 + 1, xOf(to));
            p.fillRect(QRect(x0, 0, x1 - x0, height()),
                       event ? QColor(0xE0, 0x6C, 0x3C) : SkinColour(c::kAccent));
        }
    }
    if (m_position >= 0) {
        p.setPen(Qt::white);
        const int x = xOf(m_position);
        p.drawLine(x, 0, x, height());
    }
}

}  // namespace taviro::recordings::ui
