// The session's live and device side: starting, steering and stopping live view, recording
// on/off, the records the recorder pushes about itself and this user, the settings
// database, archive initialisation and reboot. Requests run on the owner's thread; the
// RecvFn_ handlers on the receive thread. What windows must show is posted, never done.
#include <thread>

#include "platform/trace.h"
#include "protocol/byte_order.h"
#include "protocol/session.h"

namespace taviro::protocol {

using platform::ControlState;
using platform::Trace;
using platform::Window;

namespace {

constexpr std::chrono::milliseconds kAfterLiveStop{50};
constexpr std::chrono::milliseconds kAfterArchiveInit{50};

}  // namespace

// --- live view -------------------------------------------------------------------------

void CRecorderSession::RequestLive() {
    if (m_bLivePending.load() || m_bLocalPlayer.load()) {
        return;
    }
    if (m_bLiveStarting.exchange(true)) {
        return;  // another thread is in here right now
    }
    m_bLivePending = true;
    const int channels = ChannelCount();
    const std::int64_t layout = channels <= 4 ? kLayout4 : (channels > 8 ? kLayout16 : kLayout9);
    // One message: reset the grid, live mode, the split buttons up but the chosen one.
    m_owner.Post(Window::Main, platform::WM_CHANNEL_GRID_MODE, platform::kGridLive, layout);
    m_nLiveSlots.fetch_or(MaskOfFirst(channels));
    std::uint8_t payload[4];
    StoreBE32(payload, kAllChannels);
    Send(msg::LIVE_REQ, payload);
    PostControl(platform::kCtlLive, ControlState::kPressed);
    m_owner.Post(Window::Main, platform::WM_CLEAR_CHANNEL_GRID, 0, 0);
    PostControl(platform::kCtlLiveButtons, ControlState::kEnabled);
    m_bFrozen = false;
    m_bLiveStarting = false;
}

bool CRecorderSession::SendLiveSelection(ChannelMask visible) {
    std::uint8_t payload[4];
    if (m_bLiveOn.load()) {
        StoreBE32(payload, visible & kAllChannels);
        return Send(msg::LIVE_REQ, payload);
    }
    if (m_bPlaybackOn.load() && m_bPlayViewCh.load()) {
        StoreBE32(payload, m_nPlaybackMask.load() & visible & kAllChannels);
        return Send(msg::PLAY_VIEW_CH, payload);
    }
    return false;
}

void CRecorderSession::StopLive() {
    m_bLiveOn = false;
    m_nLiveSequence = 0;
    m_bLivePending = false;
    m_bLiveStarting = false;
    Send(msg::LIVE_STOP);
    std::this_thread::sleep_for(kAfterLiveStop);
    PostControl(platform::kCtlLiveButtons, ControlState::kReleased);
    m_bFrozen = false;
    ILiveConsumers* consumers = m_pLiveConsumers.load();
    if (consumers != nullptr) {
        consumers->SetFrozen(false);
        consumers->DrainAndStopAudio();
    }
    // What else the main window keeps for live view (the audio lamp, the PTZ panels).
    m_owner.Post(Window::Main, platform::WM_STOP_LIVE_AUDIO, 0, 0);
    m_owner.Post(Window::Main, platform::WM_CLOSE_PTZ, 0, 0);
    if (consumers != nullptr) {
        consumers->DrainAndStopDecoders();
    }
    m_nLiveSlots = 0;
    PostControl(platform::kCtlLive, ControlState::kReleased);
    m_owner.Post(Window::Main, platform::WM_CLEAR_CHANNEL_GRID, 0, 0);
    m_owner.Post(Window::Main, platform::WM_CHANNEL_GRID_MODE, platform::kGridNone, kLayout16);
    PostControl(platform::kCtlChannelButtons, ControlState::kReleased);
}

void CRecorderSession::SetFrozen(bool frozen) {
    if (ILiveConsumers* consumers = m_pLiveConsumers.load()) {
        consumers->SetFrozen(frozen);
    }
    if (frozen) {
        if (!m_bFrozen.exchange(true)) {
            m_nLiveSequence.fetch_add(1);  // decoders wait for a key frame afterwards
        }
        return;
    }
    m_bFrozen = false;
}

// --- device requests -------------------------------------------------------------------

bool CRecorderSession::ToggleRecording() {
    if (!m_bLoggedIn.load()) {
        return false;
    }
    if (!MayUse(Feature::RecordOnOff)) {
        m_owner.Notify(15, 0);
        return false;
    }
    return m_bRecording.load() ? RecordOff() : RecordOn();
}

bool CRecorderSession::RecordOn() {
    return Send(msg::REC_ON_REQ);
}

bool CRecorderSession::RecordOff() {
    return Send(msg::REC_OFF_REQ);
}

bool CRecorderSession::Reboot() {
    return Send(msg::REBOOT_REQ);
}

bool CRecorderSession::InitArchive() {
    const bool sent = Send(msg::DB_INIT_REQ);
    std::this_thread::sleep_for(kAfterArchiveInit);
    return sent;
}

bool CRecorderSession::SendDatabase() {
    std::vector<std::uint8_t> database;
    {
        std::lock_guard lock(m_deviceLock);
        database = m_device.database;
    }
    const auto unit = BuildDatabaseUpdate(database);
    return Send(msg::DB_UPDATE_REQ, unit);
}

RightsContext CRecorderSession::Rights() const {
    RightsContext c;
    {
        std::lock_guard lock(m_helloLock);
        c.productMajor = m_hello.product_major_ver;
        c.productMinor = m_hello.product_minor_ver;
        c.account = m_hello.account;
    }
    {
        std::lock_guard lock(m_deviceLock);
        c.tables = m_device.tables;
        c.userSlot = m_device.userSlot;
    }
    c.liveOn = m_bLiveOn.load();
    return c;
}

bool CRecorderSession::MayUse(Feature feature) const {
    return protocol::MayUse(feature, Rights());
}

DeviceState CRecorderSession::Device() const {
    std::lock_guard lock(m_deviceLock);
    return m_device;
}

std::string CRecorderSession::Title(int channel) const {
    if (channel < 0 || channel >= kMaxChannels) {
        return {};
    }
    std::lock_guard lock(m_deviceLock);
    return FieldText(m_device.titles[static_cast<std::size_t>(channel)]);
}

// --- receive handlers ------------------------------------------------------------------

bool CRecorderSession::ReadPayload(const PacketHeader& header, std::vector<std::uint8_t>& out) {
    out.resize(header.Length());
    return RecvExact(m_socket, out.data(), out.size());
}

bool CRecorderSession::RecvFn_LiveChannelInfo(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
        return false;
    }
    const auto word = ParseLeadingWord(payload);
    if (!word) {
        Trace("Recv...LIVE_CHANNEL_INFO... %zu bytes, dropped\n", payload.size());
        return true;
    }
    m_bLivePending = false;
    m_nLiveSequence.fetch_add(1);
    LiveChannelState state;
    {
        std::lock_guard lock(m_deviceLock);
        state = ApplyLiveChannelInfo(*word, m_device.hidden, m_nLiveSlots.load());
        m_device.available = state.available;
        m_device.videoLoss = state.videoLoss;
    }
    m_bLiveOn = true;
    // The video side starts a new stream generation and drops any half-built element.
    if (IStreamReceiver* receiver = m_pStreamReceiver.load()) {
        receiver->OnChannelInfo(payload);
    }
    m_owner.Post(Window::Main, platform::WM_CHANNEL_AVAILABLE, state.available, state.videoLoss);
    return true;
}

bool CRecorderSession::RecvFn_StreamData(const PacketHeader& header) {
    const std::size_t length = header.Length();  // at most kMaxPayload, the buffer's size
    if (!RecvExact(m_socket, m_pStreamBuffer.get(), length)) {
        return false;
    }
    if (IStreamReceiver* receiver = m_pStreamReceiver.load()) {
        receiver->OnStreamPiece(header.Command(), header,
                                std::span<const std::uint8_t>(m_pStreamBuffer.get(), length));
    }
    return true;
}

void CRecorderSession::SetRecording(bool on) {
    m_bRecording = on;
    PostControl(platform::kCtlRecord, on ? ControlState::kPressed : ControlState::kReleased);
}

bool CRecorderSession::RecvFn_RecOnAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
        return false;
    }
    if (const auto status = ParseLeadingWord(payload)) {
        SetRecording(RecordingAfterRecOnAck(*status));
    }
    return true;
}

bool CRecorderSession::RecvFn_RecOffAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
        return false;
    }
    if (const auto status = ParseLeadingWord(payload)) {
        SetRecording(RecordingAfterRecOffAck(*status));
    }
    return true;
}

bool CRecorderSession::RecvFn_RecStatus(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
        return false;
    }
    if (const auto recording = ParseRecStatus(payload)) {
        SetRecording(*recording);
    } else {
        Trace("Recv...REC_STATUS... %zu bytes, dropped\n", payload.size());
    }
    return true;
}

void CRecorderSession::RecomputeHidden() {
    const bool covertVisible = MayUse(Feature::CovertVisible);
    const int channels = ChannelCount();
    ChannelMask hidden = 0;
    ChannelMask before = 0;
    {
        std::lock_guard lock(m_deviceLock);
        hidden = ComputeHidden(m_device.covert, m_device.livePermission,
                               m_device.userSlot.value_or(0), channels, covertVisible);
        before = m_device.hidden;
        m_device.hidden = hidden;
    }
    m_owner.Post(Window::Main, platform::WM_CHANNEL_HIDDEN, hidden, 0);
    if (hidden != before) {
        m_owner.Post(Window::Main, platform::WM_REDRAW_CHANNEL_GRID, 0, 0);
    }
}

bool CRecorderSession::RecvFn_DbChange(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
        return false;
    }
    const auto record = ParseDbChange(payload);
    if (!record) {
        Trace("Recv...DB_CHANGE... %zu bytes, dropped\n", payload.size());
        return true;
    }
    const HelloAck hello = Hello();
    const auto channels = static_cast<std::size_t>(EffectiveChannelCount(hello.channel_num));
    {
        std::lock_guard lock(m_deviceLock);
        m_device.dbChange = *record;
        m_device.covert = record->covert;
        for (std::size_t n = 0; n < channels; ++n) {
            m_device.titles[n] = record->titles[n];
        }
    }
    m_owner.Post(Window::Main, platform::WM_CHANNEL_TITLES, 0, 0);
    RecomputeHidden();
    if (hello.product_major_ver == 0) {
        std::lock_guard lock(m_helloLock);
        m_strPassword = FieldText(record->archivePass);
    }
    return true;
}

void CRecorderSession::ApplyRights(const RightsRecord&) {
    const RightsContext c = Rights();
    const bool search = RowAllows(c, right_row::kSearch);
    const bool backup = RowAllows(c, right_row::kBackup);
    const std::uint64_t stopPlayback =
        m_bPlaybackOn.load() ? std::uint64_t{platform::kStopPlayback} : 0;
    const std::uint64_t stopBackup = m_bBackupOn.load() ? std::uint64_t{platform::kStopBackup} : 0;
    std::uint64_t withdraw = 0;
    if (UsesLegacyRightsApplication(c.productMajor, c.productMinor)) {
        if (!search) {
            withdraw = platform::kCloseSearchDialog | stopPlayback | stopBackup;
        }
    } else if (!search && !backup) {
        withdraw = platform::kCloseSearchDialog | stopPlayback | stopBackup;
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
        m_owner.Post(Window::Search, platform::WM_SEARCH_RIGHTS, remains, 0);
    }
    if (!search) {
        withdraw |= platform::kDiscardSearch;
    }
    if (withdraw != 0) {
        m_owner.Post(Window::Main, platform::WM_RIGHTS_WITHDRAWN, withdraw, 0);
    }
    RightsContext ptz = c;
    ptz.liveOn = true;  // the panels are closed by the right alone
    if (!protocol::MayUse(Feature::Ptz, ptz)) {
        m_owner.Post(Window::Main, platform::WM_CLOSE_PTZ, 0, 0);
    }
}

bool CRecorderSession::RecvFn_RightChange(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
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
    const auto match = MatchUser(*record, m_config.userId);
    if (!match) {
        return true;
    }
    const std::size_t k = *match;
    if (record->rows[right_row::kLogin1][k] == 0 || record->rows[right_row::kLogin2][k] == 0) {
        Trace("RecvFn_RightChange... user refused\n");
        m_owner.Notify(15, 0);
        m_bRecvStop = true;  // the receive loop ends after this message
        return true;
    }
    {
        std::lock_guard lock(m_deviceLock);
        m_device.userSlot = record->firstClientSlot + k;
    }
    {
        std::lock_guard lock(m_helloLock);
        m_strPassword = FieldText(std::span<const std::uint8_t>(record->passwords[k]).first(8));
    }
    ApplyRights(*record);
    RecomputeHidden();
    return true;
}

bool CRecorderSession::RecvFn_StoredRecord(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
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
        m_owner.Post(Window::Main, platform::WM_REDRAW_CHANNEL_GRID, 0, 0);
    }
    return true;
}

bool CRecorderSession::RecvFn_DvrTimeAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
        return false;
    }
    if (const auto time = ParseLeadingWord(payload)) {
        Trace("Recv...DVR_TIME_ACK... %u\n", static_cast<unsigned>(*time));
    }
    return true;
}

bool CRecorderSession::RecvFn_SysNotice(const PacketHeader& header) {
    return DiscardPayload(m_socket, header);
}

bool CRecorderSession::RecvFn_DbInfoAck(const PacketHeader& header) {
    std::vector<std::uint8_t> payload;
    if (!ReadPayload(header, payload)) {
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
            m_owner.Post(Window::Main, platform::WM_DB_INFO, 0, 0);
            break;
        case CDatabaseAssembly::Result::BadCrc:
        case CDatabaseAssembly::Result::TooLarge:
            Trace("Recv...DB_INFO_ACK... database refused\n");
            m_bBusy = false;
            m_owner.Notify(9, 0);
            break;
    }
    return true;
}

bool CRecorderSession::RecvFn_DbUpdateAck(const PacketHeader& header) {
    if (!DiscardPayload(m_socket, header)) {
        return false;
    }
    m_owner.Notify(10, 0);
    return true;
}

}  // namespace taviro::protocol
