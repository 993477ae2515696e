// The recorder's lists of what it holds, for the calendar and the day timeline of both
// sides (playback and backup): the month request (which days of which years hold
// recordings) and the day request (the recorded stretches of one day). Answers come in
// fragments; the reply collector gathers the one outstanding answer, bounded, and hands it
// to the search window as a posted message with its own copy of the bytes.
//
// The busy flag: every request sets it through one helper and is refused while it is set;
// every answer, refusal or cancel clears it, so the window can never lock up.
//
// Threads: requests and Cancel from any thread (they never wait); the RecvFn_ handlers on
// the receive thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

#include "protocol/reply_collector.h"
#include "protocol/session.h"
#include "protocol/session_service.h"
#include "recordings/event_list.h"
#include "recordings/messages.h"

namespace taviro::recordings {

enum class SearchSide : int { Playback = 0, Backup = 1 };

// The search window's receive buffer: the largest answer taken.
inline constexpr std::size_t kSearchReplyCapacity = 2'400'000;

// wParam of a day answer: the day it describes, as YYYYMMDD (month and day 1-based).
constexpr std::uint64_t DayParam(int year, int month0, int day0) {
    return static_cast<std::uint64_t>(year) * 10000u +
           static_cast<std::uint64_t>(month0 + 1) * 100u + static_cast<std::uint64_t>(day0 + 1);
}

// wParam of a day-events answer: the kind asked for and the page.
constexpr std::uint64_t DayEventsParam(EventKind kind, std::int32_t page) {
    return (static_cast<std::uint64_t>(kind) << 32) | static_cast<std::uint32_t>(page);
}

class CSearchService final : public protocol::ISessionService {
  public:
    explicit CSearchService(protocol::CRecorderSession& session,
                            std::size_t capacity = kSearchReplyCapacity);

    [[nodiscard]] std::string_view Name() const override { return "search"; }
    void Register(protocol::CDispatchTable& table) override;
    void CloseGates() override;

    // PLAY_INFO_MONTH_REQ / TRANS_INFO_MONTH_REQ; the answer comes as
    // protocol::WM_PLAY_MONTH_READY (Window::Search) / protocol::WM_BACKUP_MONTH_READY
    // (Window::Backup) with the records' bytes. False (nothing sent) while busy or closing.
    bool RequestMonths(SearchSide side);
    // PLAY_INFO_DAY_REQ / TRANS_INFO_DAY_REQ for (year, month0 0..11, day0 0..30); the
    // answer comes as recordings::WM_PLAY_DAY_READY / recordings::WM_BACKUP_DAY_READY, wParam
    // DayParam, to the search window (or the backup window), or to `to` when given (the main
    // window's playback bar).
    bool RequestDay(SearchSide side, int year, int month0, int day0,
                    std::optional<platform::Window> to = std::nullopt);
    // The same request for the calendar's shading: the answer comes to the side's window as
    // recordings::WM_PLAY_DAY_SHARE / recordings::WM_BACKUP_DAY_SHARE, wParam DayParam.
    bool RequestDayShare(SearchSide side, int year, int month0, int day0);
    // EVENT_INFO_REQ for (kind, page); the answer goes to the side's event list (the page
    // that asked): the paged form as recordings::WM_EVENT_PAGE_READY, the whole list as
    // recordings::WM_EVENT_LIST_READY, with the answer's bytes. A refusal clears the list: an empty
    // recordings::WM_EVENT_PAGE_READY (page 0 of 0) to the same page.
    bool RequestEvents(SearchSide side, EventKind kind, std::int32_t page);
    // The same request for the day timeline's event marks: the answer comes to the search
    // window as recordings::WM_DAY_EVENTS_PAGE / recordings::WM_DAY_EVENTS_LIST, wParam
    // DayEventsParam(kind, page), never to an event list.
    bool RequestDayEvents(EventKind kind, std::int32_t page);
    // The window gave up waiting (Cancel, or it closed): busy off, the answer is dropped.
    void Cancel();
    [[nodiscard]] bool Busy() const { return m_bBusy.load(); }

  private:
    bool RequestDayAs(SearchSide side, int year, int month0, int day0, platform::Window to,
                      std::uint32_t message);
    // The one place a request is begun: busy on, the collector told what to expect, the
    // request queued; busy off again when it cannot be queued.
    bool Begin(const protocol::ReplyRoute& route, std::uint16_t request,
               std::span<const std::uint8_t> payload);
    bool RecvFn_Answer(const protocol::PacketHeader& header);
    bool RecvFn_Refusal(const protocol::PacketHeader& header);
    bool RecvFn_EventRefusal(const protocol::PacketHeader& header);

    protocol::CRecorderSession& m_session;
    protocol::CReplyCollector m_collector;
    std::atomic<bool> m_bBusy{false};
    std::atomic<bool> m_bClosed{false};
    // The window of the event request outstanding (for its refusal); the receive thread
    // reads it, requests write it.
    std::atomic<platform::Window> m_eventWindow{platform::Window::Search};
    // What a refusal of the event request outstanding is told as (message, wParam): an
    // empty page to whoever asked.
    std::mutex m_eventLock;
    std::pair<std::uint32_t, std::uint64_t> m_eventRefusal{recordings::WM_EVENT_PAGE_READY, 0};
};

}  // namespace taviro::recordings
