#include "client/site_rows.h"

namespace taviro::client {

namespace {

RecorderStatus EndStatus(protocol::SessionEnd end) {
    switch (end) {
        case protocol::SessionEnd::kGoodbye:
        case protocol::SessionEnd::kRefused:
            return RecorderStatus::kRefused;
        case protocol::SessionEnd::kConnectFailed:
            return RecorderStatus::kUnreachable;
        default:
            return RecorderStatus::kDisconnected;
    }
}

RecorderStatus StatusOf(const CRecorderLink& link) {
    const CConnection* connection = link.Connection();
    // A session that has ended before its owner took it down (the popup that says why is
    // still up) is shown as it ended.
    const protocol::SessionEnd ended = connection != nullptr
                                           ? connection->Session().Transport().EndCause()
                                           : protocol::SessionEnd::kRunning;
    if (connection != nullptr && !link.Retrying() &&
        (ended == protocol::SessionEnd::kGoodbye || ended == protocol::SessionEnd::kRefused ||
         ended == protocol::SessionEnd::kConnectFailed))
        return EndStatus(ended);
    if (connection != nullptr) {
        switch (link.State()) {
            case ConnectionState::kClosing:
                return RecorderStatus::kClosing;
            case ConnectionState::kConnected:
                return connection->LiveRunning() ? RecorderStatus::kLive
                                                 : RecorderStatus::kConnected;
            default:
                return link.Retrying() ? RecorderStatus::kComingBack : RecorderStatus::kConnecting;
        }
    }
    switch (link.Reconnect().State()) {
        case ReconnectState::kWaiting:
        case ReconnectState::kConnecting:
            return RecorderStatus::kComingBack;
        case ReconnectState::kRefused:
            return RecorderStatus::kRefused;
        default:
            break;
    }
    return EndStatus(link.LastEnd());
}

std::string StatusText(const CRecorderLink& link, RecorderStatus status,
                       CReconnectController::Clock::time_point now) {
    switch (status) {
        case RecorderStatus::kConnecting:
            return "Connecting\u2026";
        case RecorderStatus::kLive:
            return "Live";
        case RecorderStatus::kConnected:
            return "Connected";
        case RecorderStatus::kComingBack: {
            const int left = link.Reconnect().SecondsLeft(now);
            return left > 0 ? "Lost, reconnecting in " + std::to_string(left) + " s"
                            : std::string("Lost, reconnecting\u2026");
        }
        case RecorderStatus::kRefused:
            return link.Reconnect().RefusedWhy().empty()
                       ? std::string("Refused")
                       : "Refused: " + link.Reconnect().RefusedWhy();
        case RecorderStatus::kUnreachable:
            return "Not reachable";
        case RecorderStatus::kDisconnected:
            return link.Held() ? "Not connected" : "Disconnected";
        case RecorderStatus::kClosing:
            return "Disconnecting\u2026";
    }
    return {};
}

}  // namespace

std::string RecorderLabel(const CRecorderLink& link) {
    const auto& target = link.Target();
    if (!target)
        return {};
    return target->description.empty() ? target->address + ":" + std::to_string(target->port)
                                       : target->description;
}

RecorderRow MakeRecorderRow(const CRecorderLink& link, int id, int place,
                            CReconnectController::Clock::time_point now, bool channels) {
    RecorderRow row;
    row.id = id;
    row.place = place;
    if (const auto& target = link.Target())
        row.address = target->address + ":" + std::to_string(target->port);
    row.name = RecorderLabel(link);
    row.status = StatusOf(link);
    row.statusText = StatusText(link, row.status, now);
    const CConnection* connection = link.Connection();
    if (!channels || connection == nullptr || !link.LoggedIn())
        return row;
    const protocol::CClientSession& session = connection->Session();
    const protocol::DeviceState device = session.Live().Device();
    row.recording = session.Live().Recording();
    const int count = session.Login().ChannelCount();
    for (int c = 0; c < count && c < protocol::kMaxChannels; ++c) {
        RecorderChannelRow channel;
        channel.channel = c;
        channel.title = session.Live().Title(c);
        channel.videoLoss = protocol::HasChannel(device.videoLoss, c);
        channel.hidden = protocol::HasChannel(device.hidden, c);
        row.channels.push_back(std::move(channel));
    }
    return row;
}

std::vector<RecorderRow> SiteRows(const CSite& site, CReconnectController::Clock::time_point now,
                                  bool channels) {
    std::vector<RecorderRow> rows;
    for (int i = 0; i < site.Count(); ++i)
        rows.push_back(MakeRecorderRow(*site.At(i), site.IdAt(i), i + 1, now, channels));
    return rows;
}

}  // namespace taviro::client
