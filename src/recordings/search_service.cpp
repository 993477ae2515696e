#include "recordings/search_service.h"

#include <vector>

#include "platform/trace.h"
#include "protocol/catalogue.h"
#include "protocol/session_messages.h"
#include "protocol/wire.h"
#include "recordings/messages.h"
#include "timeline/calendar.h"

namespace taviro::recordings {

namespace {

namespace msg = protocol::msg;
using platform::Window;
using protocol::PacketHeader;

}  // namespace

CSearchService::CSearchService(protocol::CRecorderSession& session, std::size_t capacity)
    : m_session(session), m_collector(session.Owner(), capacity) {}

void CSearchService::Register(protocol::CDispatchTable& table) {
    for (const std::uint16_t code :
         {msg::PLAY_INFO_MONTH_ACK, msg::PLAY_INFO_DAY_ACK, msg::TRANS_INFO_MONTH_ACK,
          msg::TRANS_INFO_DAY_ACK, msg::EVENT_INFO_ACK, msg::EVENT_INFO_ACK_BYPG}) {
        table.Register(code, [this](const PacketHeader& h) { return RecvFn_Answer(h); });
    }
    for (const std::uint16_t code : {msg::PLAY_INFO_MONTH_NACK, msg::PLAY_INFO_DAY_NACK,
                                     msg::TRANS_INFO_MONTH_NACK, msg::TRANS_INFO_DAY_NACK}) {
        table.Register(code, [this](const PacketHeader& h) { return RecvFn_Refusal(h); });
    }
    for (const std::uint16_t code : {msg::EVENT_INFO_NACK, msg::EVENT_INFO_NACK_BYPG}) {
        table.Register(code, [this](const PacketHeader& h) { return RecvFn_EventRefusal(h); });
    }
}

void CSearchService::CloseGates() {
    m_bClosed = true;
    Cancel();
}

bool CSearchService::Begin(const protocol::ReplyRoute& route, std::uint16_t request,
                           std::span<const std::uint8_t> payload) {
    if (m_bClosed.load() || m_bBusy.exchange(true)) {
        return false;  // one request at a time: clicks while busy do nothing
    }
    m_collector.Expect(route);
    if (!m_session.Send(request, payload)) {
        m_collector.Cancel();
        m_bBusy = false;
        return false;
    }
    return true;
}

bool CSearchService::RequestMonths(SearchSide side) {
    const bool play = side == SearchSide::Playback;
    const protocol::ReplyRoute route{
        play ? msg::PLAY_INFO_MONTH_ACK : msg::TRANS_INFO_MONTH_ACK,
        play ? Window::Search : Window::Backup,
        play ? protocol::WM_PLAY_MONTH_READY : protocol::WM_BACKUP_MONTH_READY, 0};
    return Begin(route, play ? msg::PLAY_INFO_MONTH_REQ : msg::TRANS_INFO_MONTH_REQ, {});
}

bool CSearchService::RequestDay(SearchSide side, int year, int month0, int day0,
                                std::optional<platform::Window> to) {
    const bool play = side == SearchSide::Playback;
    return RequestDayAs(side, year, month0, day0,
                        to.value_or(play ? Window::Search : Window::Backup),
                        play ? recordings::WM_PLAY_DAY_READY : recordings::WM_BACKUP_DAY_READY);
}

bool CSearchService::RequestDayShare(SearchSide side, int year, int month0, int day0) {
    const bool play = side == SearchSide::Playback;
    return RequestDayAs(side, year, month0, day0, play ? Window::Search : Window::Backup,
                        play ? recordings::WM_PLAY_DAY_SHARE : recordings::WM_BACKUP_DAY_SHARE);
}

bool CSearchService::RequestDayAs(SearchSide side, int year, int month0, int day0, Window to,
                                  std::uint32_t message) {
    if (month0 < 0 || month0 > 11 || day0 < 0 || day0 > 30) {
        return false;
    }
    const bool play = side == SearchSide::Playback;
    const protocol::ReplyRoute route{play ? msg::PLAY_INFO_DAY_ACK : msg::TRANS_INFO_DAY_ACK, to,
                                     message, DayParam(year, month0, day0)};
    const auto payload = timeline::DayRequestPayload(year, month0, day0);
    platform::Trace("Send... %s... %d %d %d\n", play ? "PLAY_INFO_DAY_REQ" : "TRANS_INFO_DAY_REQ",
                    year, month0 + 1, day0 + 1);
    return Begin(route, play ? msg::PLAY_INFO_DAY_REQ : msg::TRANS_INFO_DAY_REQ, payload);
}

bool CSearchService::RequestDayEvents(EventKind kind, std::int32_t page) {
    protocol::ReplyRoute route{msg::EVENT_INFO_ACK_BYPG, Window::Search,
                               recordings::WM_DAY_EVENTS_PAGE, DayEventsParam(kind, page)};
    route.alternateCode = msg::EVENT_INFO_ACK;
    route.alternateMessage = recordings::WM_DAY_EVENTS_LIST;
    m_eventWindow = Window::Search;
    {
        std::lock_guard lock(m_eventLock);
        m_eventRefusal = {recordings::WM_DAY_EVENTS_PAGE, route.wParam};
    }
    platform::Trace("Send... EVENT_INFO_REQ... %d %d (day marks)\n", static_cast<int>(kind), page);
    return Begin(route, msg::EVENT_INFO_REQ, EventRequestPayload(kind, page));
}

bool CSearchService::RequestEvents(SearchSide side, EventKind kind, std::int32_t page) {
    const Window window = side == SearchSide::Playback ? Window::Search : Window::Backup;
    protocol::ReplyRoute route{msg::EVENT_INFO_ACK_BYPG, window, recordings::WM_EVENT_PAGE_READY,
                               static_cast<std::uint64_t>(side)};
    route.alternateCode = msg::EVENT_INFO_ACK;
    route.alternateMessage = recordings::WM_EVENT_LIST_READY;
    m_eventWindow = window;
    {
        std::lock_guard lock(m_eventLock);
        m_eventRefusal = {recordings::WM_EVENT_PAGE_READY, route.wParam};
    }
    platform::Trace("Send... EVENT_INFO_REQ... %d %d\n", static_cast<int>(kind), page);
    return Begin(route, msg::EVENT_INFO_REQ, EventRequestPayload(kind, page));
}

void CSearchService::Cancel() {
    m_collector.GiveUp();
    m_bBusy = false;
}

bool CSearchService::RecvFn_Answer(const PacketHeader& header) {
    // Only the outstanding answer is taken, never beyond the capacity; the rest of the
    // payload is still read, so the stream stays in step.
    return m_session.ReadReply(header, m_collector, [this] { m_bBusy = false; });
}

bool CSearchService::RecvFn_Refusal(const PacketHeader& header) {
    // The refusal of the request outstanding (each refusal's code follows its answer's)
    // ends it; a late one of an earlier request leaves the current one alone. The
    // notification (or the empty calendar of code 83 on a month request) comes from the
    // refusal table either way.
    const auto code = static_cast<std::uint16_t>(header.Command() - 1);
    if (!m_collector.TakeOwed(code) && m_collector.Outstanding() == code) {
        m_collector.Cancel();
        m_bBusy = false;
    }
    return m_session.HandleRefusal(header) != protocol::kReasonReadFailed;
}

bool CSearchService::RecvFn_EventRefusal(const PacketHeader& header) {
    // Either refusal ends the event request outstanding; its page is cleared (page 0 of 0)
    // after the notification, so the window shows an empty list rather than waiting.
    // A refusal of a request given up settles that one; the one outstanding goes on.
    const bool ours =
        !m_collector.TakeOwed(msg::EVENT_INFO_ACK_BYPG) &&
        (m_collector.Expects(msg::EVENT_INFO_ACK) || m_collector.Expects(msg::EVENT_INFO_ACK_BYPG));
    platform::PostedMessage message;
    if (ours) {
        // Who asked is read now: once the request is over, the window may ask again.
        message.window = m_eventWindow.load();
        std::lock_guard lock(m_eventLock);
        message.message = m_eventRefusal.first;
        message.wParam = m_eventRefusal.second;
    }
    if (ours) {
        m_collector.Cancel();
        m_bBusy = false;
    }
    const std::int32_t reason = m_session.HandleRefusal(header);
    if (reason == protocol::kReasonReadFailed) {
        return false;
    }
    if (ours) {
        message.data = std::make_shared<const std::vector<std::uint8_t>>();
        m_session.Owner().Deliver(std::move(message));
    }
    return true;
}

}  // namespace taviro::recordings
