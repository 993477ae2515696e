// The device side of live view: recording on/off, the records the recorder pushes about
// itself and this user, the rights rule, the settings database, archive initialisation
// and reboot.
#include <thread>

#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "protocol/live_service.h"
#include "protocol/session_messages.h"

namespace taviro::protocol {

using platform::ControlState;
using platform::Trace;
using platform::Window;

namespace {

constexpr std::chrono::milliseconds kAfterArchiveInit{50};

}  // namespace

// --- device requests -------------------------------------------------------------------

bool CLiveService::ToggleRecording() {
    if (!m_login.LoggedIn()) {
        return false;
    }
    if (!MayUse(Feature::RecordOnOff)) {
        m_session.Owner().Notify(15, 0);
        return false;
    }
    return m_bRecording.load() ? RecordOff() : RecordOn();
}

bool CLiveService::RecordOn() {
    return m_session.Send(msg::REC_ON_REQ);
}

bool CLiveService::RecordOff() {
    return m_session.Send(msg::REC_OFF_REQ);
}

bool CLiveService::Reboot() {
    return m_session.Send(msg::REBOOT_REQ);
}

bool CLiveService::InitArchive() {
    const bool sent = m_session.Send(msg::DB_INIT_REQ);
    std::this_thread::sleep_for(kAfterArchiveInit);
    return sent;
}

bool CLiveService::SendDatabase() {
    std::vector<std::uint8_t> database;
    {
        std::lock_guard lock(m_deviceLock);
        database = m_device.database;
    }
    const auto unit = BuildDatabaseUpdate(database);
    return m_session.Send(msg::DB_UPDATE_REQ, unit);
}

RightsContext CLiveService::Rights() const {
    RightsContext c;
    const HelloAck hello = m_login.Hello();
    c.productMajor = hello.product_major_ver;
    c.productMinor = hello.product_minor_ver;
    c.account = hello.account;
    {
        std::lock_guard lock(m_deviceLock);
        c.tables = m_device.tables;
        c.userSlot = m_device.userSlot;
    }
    c.liveOn = m_bLiveOn.load();
    return c;
}

bool CLiveService::MayUse(Feature feature) const {
    return protocol::MayUse(feature, Rights());
}

DeviceState CLiveService::Device() const {
    std::lock_guard lock(m_deviceLock);
    return m_device;
}

std::string CLiveService::Title(int channel) const {
    if (channel < 0 || channel >= kMaxChannels) {
        return {};
    }
    std::lock_guard lock(m_deviceLock);
    return FieldText(m_device.titles[static_cast<std::size_t>(channel)]);
}

// --- receive handlers ------------------------------------------------------------------

void CLiveService::SetRecording(bool on) {
    m_bRecording = on;
    m_session.PostControl(protocol::kCtlRecord,
                          on ? ControlState::kPressed : ControlState::kReleased);
}

bool CLiveService::RecvFn_RecOnAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    if (const auto status = ParseLeadingWord(payload)) {
        SetRecording(RecordingAfterRecOnAck(*status));
    }
    return true;
}

bool CLiveService::RecvFn_RecOffAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    if (const auto status = ParseLeadingWord(payload)) {
        SetRecording(RecordingAfterRecOffAck(*status));
    }
    return true;
}

bool CLiveService::RecvFn_RecStatus(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    if (const auto recording = ParseRecStatus(payload)) {
        SetRecording(*recording);
    } else {
        Trace("Recv...REC_STATUS... %zu bytes, dropped\n", payload.size());
    }
    return true;
}

void CLiveService::RecomputeHidden() {
    const bool covertVisible = MayUse(Feature::CovertVisible);
    const int channels = m_login.ChannelCount();
    ChannelMask hidden = 0;
    ChannelMask before = 0;
    {
        std::lock_guard lock(m_deviceLock);
        hidden = ComputeHidden(m_device.covert, m_device.livePermission,
                               m_device.userSlot.value_or(0), channels, covertVisible);
        before = m_device.hidden;
        m_device.hidden = hidden;
    }
    Post(protocol::WM_CHANNEL_HIDDEN, hidden, 0);
    if (hidden != before) {
        Post(protocol::WM_REDRAW_CHANNEL_GRID, 0, 0);
    }
}

bool CLiveService::RecvFn_DbChange(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    const auto record = ParseDbChange(payload);
    if (!record) {
        Trace("Recv...DB_CHANGE... %zu bytes, dropped\n", payload.size());
        return true;
    }
    const HelloAck hello = m_login.Hello();
    const auto channels = static_cast<std::size_t>(EffectiveChannelCount(hello.channel_num));
    {
        std::lock_guard lock(m_deviceLock);
        m_device.dbChange = *record;
        m_device.covert = record->covert;
        for (std::size_t n = 0; n < channels; ++n) {
            m_device.titles[n] = record->titles[n];
        }
    }
    Post(protocol::WM_CHANNEL_TITLES, 0, 0);
    RecomputeHidden();
    if (hello.product_major_ver == 0) {
        m_login.SetPassword(FieldText(record->archivePass));
    }
    return true;
}

void CLiveService::ApplyRights() {
    const RightsContext c = Rights();
    const bool search = RowAllows(c, right_row::kSearch);
    const bool backup = RowAllows(c, right_row::kBackup);
    const std::uint64_t stopPlayback =
        m_session.ServiceOn(Service::Playback) ? std::uint64_t{protocol::kStopPlayback} : 0;
    const std::uint64_t stopBackup =
        m_session.ServiceOn(Service::Backup) ? std::uint64_t{protocol::kStopBackup} : 0;
    std::uint64_t withdraw = 0;
    if (UsesLegacyRightsApplication(c.productMajor, c.productMinor)) {
        if (!search) {
            withdraw = protocol::kCloseSearchDialog | stopPlayback | stopBackup;
        }
    } else if (!search && !backup) {
        withdraw = protocol::kCloseSearchDialog | stopPlayback | stopBackup;
    } else {
        // Tell the search dialog which of its halves remain: 1 backup only, 2 playback only.
        std::uint64_t remains = 0;
        if (!search) {
            withdraw = stopPlayback;
            remains = 1;
        } else if (!backup) {
            withdraw = stopBackup;
            remains = 2;
        }
        m_session.Owner().Post(Window::Search, protocol::WM_SEARCH_RIGHTS, remains, 0);
    }
    if (!search) {
        withdraw |= protocol::kDiscardSearch;
    }
    if (withdraw != 0) {
        Post(protocol::WM_RIGHTS_WITHDRAWN, withdraw, 0);
    }
    RightsContext ptz = c;
    ptz.liveOn = true;  // the panels are closed by the right alone
    if (!protocol::MayUse(Feature::Ptz, ptz)) {
        Post(protocol::WM_CLOSE_PTZ, 0, 0);
    }
}

bool CLiveService::RecvFn_RightChange(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    const bool second = header.Command() == msg::RIGHT_CHANGE2;
    const auto record = second ? ParseRightChange2(payload) : ParseRightChange(payload);
    if (!record) {
        Trace("Recv...RIGHT_CHANGE%s... %zu bytes, dropped\n", second ? "2" : "", payload.size());
        return true;
    }
    {
        std::lock_guard lock(m_deviceLock);
        (second ? m_device.rightChange2 : m_device.rightChange) = *record;
        for (std::size_t k = 0; k < record->keptSlots; ++k) {
            const std::size_t slot = record->firstClientSlot + k;
            for (std::size_t r = 0; r < kPermissionRows; ++r) {
                m_device.tables[r][slot] = record->rows[r][k];
            }
            m_device.userNames[slot] = record->names[k];
            m_device.userPasswords[slot] = record->passwords[k];
        }
    }
    const auto match = MatchUser(*record, m_session.Config().userId);
    if (!match) {
        return true;
    }
    const std::size_t k = *match;
    if (record->rows[right_row::kLogin1][k] == 0 || record->rows[right_row::kLogin2][k] == 0) {
        Trace("RecvFn_RightChange... user refused\n");
        m_session.Owner().Notify(15, 0);
        m_session.StopReceiving();  // the receive loop ends after this message
        return true;
    }
    {
        std::lock_guard lock(m_deviceLock);
        m_device.userSlot = record->firstClientSlot + k;
    }
    m_login.SetPassword(FieldText(std::span<const std::uint8_t>(record->passwords[k]).first(8)));
    ApplyRights();
    RecomputeHidden();
    return true;
}

bool CLiveService::RecvFn_StoredRecord(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    const std::uint16_t command = header.Command();
    bool kept = true;
    {
        std::lock_guard lock(m_deviceLock);
        switch (command) {
            case msg::NETLIVE_CH_CHANGE: {
                // The old copy is cleared first and stays cleared when the new one is bad.
                m_device.livePermission.fill(0);
                const auto r = ParseStored<kLivePermissionSize>(payload);
                kept = r.has_value();
                if (r) {
                    m_device.livePermission = *r;
                }
                break;
            }
            case msg::CAM_INFO_CHANGE: {
                m_device.camInfo.fill(0);
                const auto r = ParseStored<kCamInfoSize>(payload);
                kept = r.has_value();
                if (r) {
                    m_device.camInfo = *r;
                }
                break;
            }
            case msg::SYS_ETC_INFO: {
                m_device.etcInfo = SysEtcInfo{};
                const auto r = ParseStored<kSysEtcInfoSize>(payload);
                kept = r.has_value();
                if (r) {
                    m_device.etcInfo = *r;
                }
                break;
            }
            case msg::SYS_ETC_INFO_EX: {
                const auto r = ParseStored<kSysEtcInfoExSize>(payload);
                kept = r.has_value();
                if (r) {
                    m_device.etcInfoEx = *r;
                }
                break;
            }
            case msg::DST_INFO: {
                const auto r = ParseDstInfo(payload);
                kept = r.has_value();
                if (r) {
                    m_device.dstInfo = *r;
                }
                break;
            }
            default:
                break;
        }
    }
    if (!kept) {
        Trace("Recv...%s... %zu bytes, dropped\n",
              MessageName(command, Direction::RecorderToClient).data(), payload.size());
    }
    if (command == msg::CAM_INFO_CHANGE) {
        Post(protocol::WM_REDRAW_CHANNEL_GRID, 0, 0);
    }
    return true;
}

bool CLiveService::RecvFn_DvrTimeAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    if (const auto time = ParseLeadingWord(payload)) {
        Trace("Recv...DVR_TIME_ACK... %u\n", static_cast<unsigned>(*time));
    }
    return true;
}

bool CLiveService::RecvFn_DbInfoAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!m_session.ReadPayload(header, payload)) {
        return false;
    }
    CDatabaseAssembly::Result result = CDatabaseAssembly::Result::Partial;
    {
        std::lock_guard lock(m_deviceLock);
        result = m_dbAssembly.Add(payload, header.LastFragment());
        if (result == CDatabaseAssembly::Result::Good) {
            const auto& database = m_dbAssembly.Database();
            m_device.database.assign(
                database.begin(), database.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                         database.size(), kDatabaseWindowLimit)));
        }
    }
    switch (result) {
        case CDatabaseAssembly::Result::Partial:
            break;
        case CDatabaseAssembly::Result::Good:
            Post(protocol::WM_DB_INFO, 0, 0);
            break;
        case CDatabaseAssembly::Result::BadCrc:
        case CDatabaseAssembly::Result::TooLarge:
            Trace("Recv...DB_INFO_ACK... database refused\n");
            m_bBusy = false;
            m_session.Owner().Notify(9, 0);
            break;
    }
    return true;
}

bool CLiveService::RecvFn_DbUpdateAck(const PacketHeader& header) {
    if (!m_session.Discard(header)) {
        return false;
    }
    m_session.Owner().Notify(10, 0);
    return true;
}

}  // namespace taviro::protocol
