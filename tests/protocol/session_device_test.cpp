// The session's live and device side against a scripted recorder: the live request and
// its channel information, hidden channels, recording state, the user lists and their
// refusal, the settings database and the stream hand-off.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "archive/backup_records.h"
#include "platform/message_sink.h"
#include "protocol/client_session.h"
#include "protocol/crc32.h"
#include "protocol/session_messages.h"
#include "recordings/backup_service.h"
#include "recordings/playback_service.h"
#include "stream/stream_state.h"
#include "support/fake_recorder.h"

namespace taviro::protocol {
namespace {

using namespace std::chrono_literals;
using platform::PostedMessage;
using testing::CFakeRecorder;
using testing::SupportedHello;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLast = 0x40000000u;

bool IsNotify(const PostedMessage& m, int category, int code) {
    return !m.messageBox && m.message == platform::WM_RECORDER_NOTIFY &&
           m.lParam == platform::NotifyParam(category, code);
}

Bytes Word(std::uint32_t v) {
    Bytes b(4);
    StoreBE32(b.data(), v);
    return b;
}

// A RIGHT_CHANGE (8 slots) or RIGHT_CHANGE2 (50 slots) naming `name` at `slot` with the
// given rows set for it.
Bytes RightsPayload(bool second, std::size_t slot, std::string_view name,
                    const std::vector<std::size_t>& rows, std::string_view password = "") {
    const std::size_t slots = second ? 50 : 8;
    Bytes p(second ? kRightChange2Size : kRightChangeSize);
    for (const std::size_t r : rows)
        p[r * slots + slot] = 1;
    std::copy(name.begin(), name.end(), p.begin() + static_cast<long>(9 * slots + slot * 32));
    std::copy(password.begin(), password.end(),
              p.begin() + static_cast<long>(9 * slots + slots * 32 + slot * 32));
    return p;
}

Bytes DbChangePayload(std::initializer_list<int> covert, std::string_view titlePrefix,
                      std::size_t size = kDbChangeSize) {
    Bytes p(size);
    for (const int n : covert)
        p[4 + static_cast<std::size_t>(n)] = 1;
    for (std::size_t n = 0; n < 16 && size >= kDbChangeSize; ++n) {
        const std::string t = std::string(titlePrefix) + std::to_string(n);
        std::copy(t.begin(), t.end(), p.begin() + static_cast<long>(20 + 32 * n));
    }
    if (size >= kDbChangeSize) {
        const std::string_view pass = "arch1234";
        std::copy(pass.begin(), pass.end(), p.begin() + 532);
    }
    return p;
}

class CPieceCollector final : public IStreamReceiver {
  public:
    void OnStreamPiece(std::uint16_t command, const PacketHeader& header,
                       std::span<const std::uint8_t> piece) override {
        std::lock_guard lock(m_lock);
        m_pieces.push_back({command, header.LastFragment(), Bytes(piece.begin(), piece.end())});
    }
    struct Piece {
        std::uint16_t command;
        bool last;
        Bytes bytes;
    };
    std::vector<Piece> Pieces() {
        std::lock_guard lock(m_lock);
        return m_pieces;
    }

  private:
    std::mutex m_lock;
    std::vector<Piece> m_pieces;
};

class SessionDeviceTest : public ::testing::Test {
  protected:
    void Start(HelloAck ack = SupportedHello(), IStreamReceiver* receiver = nullptr) {
        SessionConfig config;
        config.address = "127.0.0.1";
        config.userId = "Admin";
        config.password = "Secret";
        config.closeGrace = 0ms;
        config.keepAliveInterval = 10s;
        auto pair = platform::MakeSocketPair();
        ASSERT_TRUE(pair);
        m_session = std::make_unique<CClientSession>(*m_sink, nullptr, config);
        m_session->Live().SetStreamReceiver(receiver);
        // The long-running services of the recordings area, whose state the rights follow.
        m_playback = std::make_unique<recordings::CPlaybackService>(
            m_session->Transport(), m_session->Login(), m_streamState);
        m_playback->SetStreamReceiver(receiver);
        m_backup = std::make_unique<recordings::CBackupService>(m_session->Transport(),
                                                                m_session->Login());
        m_session->Transport().AddService(*m_playback);
        m_session->Transport().AddService(*m_backup);
        m_recorder = std::make_unique<CFakeRecorder>(std::move(pair->second));
        m_session->ConnectOver(std::move(pair->first));
        ASSERT_TRUE(m_recorder->ReadUntil(msg::HELLO));
        ASSERT_TRUE(m_recorder->SendHello(ack));
        ASSERT_TRUE(Wait(
            [](const PostedMessage& m) { return m.message == protocol::WM_SESSION_LOGGED_IN; }));
    }
    void TearDown() override {
        if (m_session) {
            std::thread reader([&] { m_recorder->ReadAll(2s); });
            m_session->DestroyWindow();
            reader.join();
        }
    }
    // The session goes before the services it was given.
    void Drop() {
        TearDown();
        m_session.reset();
        m_playback.reset();
        m_backup.reset();
        m_sink = std::make_unique<platform::CQueueSink>();
    }

    bool Wait(const std::function<bool(const PostedMessage&)>& match) {
        return m_sink->WaitFor(match, 3s);
    }
    std::size_t Count(const std::function<bool(const PostedMessage&)>& match) {
        std::size_t n = 0;
        for (const auto& m : m_sink->History())
            n += match(m) ? 1u : 0u;
        return n;
    }
    // Waits until `count` posts match.
    bool WaitCount(const std::function<bool(const PostedMessage&)>& match, std::size_t count) {
        const auto until = std::chrono::steady_clock::now() + 3s;
        while (std::chrono::steady_clock::now() < until) {
            if (Count(match) >= count)
                return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    static bool IsRecordLamp(const PostedMessage& m) {
        return m.message == platform::WM_CONTROL_STATE && m.wParam == protocol::kCtlRecord;
    }
    // Sends REC_STATUS as a marker and waits until it was handled: everything sent before
    // has been handled too.
    void Sync() {
        const std::size_t before = Count(IsRecordLamp);
        Bytes status(16);
        StoreBE32(status.data() + 4, 9);
        ASSERT_TRUE(m_recorder->Send(msg::REC_STATUS, status));
        ASSERT_TRUE(WaitCount(IsRecordLamp, before + 1));
    }

    std::unique_ptr<platform::CQueueSink> m_sink = std::make_unique<platform::CQueueSink>();
    // Declared first, destroyed last: the session refers to them.
    stream::CStreamState m_streamState;
    std::unique_ptr<recordings::CPlaybackService> m_playback;
    std::unique_ptr<recordings::CBackupService> m_backup;
    std::unique_ptr<CClientSession> m_session;
    std::unique_ptr<CFakeRecorder> m_recorder;
};

TEST_F(SessionDeviceTest, LiveRequestChannelInfoAndHiddenChannels) {
    Start();  // product_major_ver 2: the tables decide
    auto live = m_recorder->ReadUntil(msg::LIVE_REQ);
    ASSERT_TRUE(live);
    EXPECT_EQ(live->payload, Word(0xFFFF));
    EXPECT_TRUE(m_session->Live().LivePending());
    EXPECT_FALSE(m_session->Transport().ServiceOn(Service::Live));
    EXPECT_EQ(m_session->Live().LiveSlots(), 0xFFFFu);
    EXPECT_EQ(Count([](const PostedMessage& m) {
                  return m.message == protocol::WM_CHANNEL_GRID_MODE &&
                         m.wParam == protocol::kGridLive && m.lParam == kLayout16;
              }),
              1u);
    // While the request is outstanding a second one is not sent.
    m_session->Live().RequestLive();

    // The user may log in but not see covert channels; channel 1 is covert.
    ASSERT_TRUE(m_recorder->Send(msg::RIGHT_CHANGE, RightsPayload(false, 1, "ADMIN", {6, 8})));
    ASSERT_TRUE(m_recorder->Send(msg::DB_CHANGE, DbChangePayload({1}, "cam")));
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_CHANNEL_INFO, Word(0x00030003)));
    ASSERT_TRUE(Wait([](const PostedMessage& m) {
        return m.message == protocol::WM_CHANNEL_AVAILABLE && m.wParam == 0x1 && m.lParam == 0x3;
    }));
    EXPECT_TRUE(m_session->Transport().ServiceOn(Service::Live));
    EXPECT_FALSE(m_session->Live().LivePending());
    EXPECT_EQ(m_session->Live().LiveSequence(), 1u);
    const auto device = m_session->Live().Device();
    EXPECT_EQ(device.hidden, 0x2u);
    EXPECT_EQ(device.available, 0x1u);
    EXPECT_EQ(device.videoLoss, 0x3u);
    EXPECT_EQ(m_session->Live().Title(5), "cam5");
    EXPECT_TRUE(Count([](const PostedMessage& m) {
                    return m.message == protocol::WM_CHANNEL_HIDDEN && m.wParam == 0x2;
                }) >= 1);

    // The visible panes go out as the new selection, and nothing else was sent before.
    ASSERT_TRUE(m_session->Live().SendSelection(0x5));
    auto next = m_recorder->ReadUntil(msg::LIVE_REQ);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->payload, Word(0x5));

    // Live off: LIVE_STOP, then the window effects in order, with the audio output drained
    // before the channel decoders.
    struct Consumers final : ILiveConsumers {
        std::vector<std::string> calls;
        void LiveStarting() override { calls.push_back("starting"); }
        void SetFrozen(bool frozen) override { calls.push_back(frozen ? "frozen" : "running"); }
        void DrainAndStopAudio() override { calls.push_back("audio"); }
        void DrainAndStopDecoders() override { calls.push_back("decoders"); }
    } consumers;
    m_session->Live().SetLiveConsumers(&consumers);
    m_session->Live().SetFrozen(true);
    m_session->Live().StopLive();
    m_session->Live().SetLiveConsumers(nullptr);
    EXPECT_EQ(consumers.calls,
              (std::vector<std::string>{"frozen", "running", "audio", "decoders"}));
    ASSERT_TRUE(m_recorder->ReadUntil(msg::LIVE_STOP));
    EXPECT_FALSE(m_session->Transport().ServiceOn(Service::Live));
    EXPECT_EQ(m_session->Live().LiveSlots(), 0u);
    EXPECT_FALSE(m_session->Live().SendSelection(0x5)) << "neither live nor playback runs";
    const auto history = m_sink->History();
    std::vector<std::uint32_t> tail;
    for (auto it = history.rbegin(); it != history.rend() && tail.size() < 5; ++it) {
        tail.insert(tail.begin(), it->message == platform::WM_CONTROL_STATE
                                      ? static_cast<std::uint32_t>(it->wParam)
                                      : it->message);
    }
    EXPECT_EQ(tail, (std::vector<std::uint32_t>{
                        protocol::WM_CLOSE_PTZ, protocol::kCtlLive, protocol::WM_CLEAR_CHANNEL_GRID,
                        protocol::WM_CHANNEL_GRID_MODE, protocol::kCtlChannelButtons}));
    // A late answer to a request from before the stop does not turn live view on again.
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_CHANNEL_INFO, Word(0x0000FFFF)));
    Sync();
    EXPECT_FALSE(m_session->Live().Running());
    // Now a new request goes out, and its answer does.
    m_session->Live().RequestLive();
    auto again = m_recorder->ReadUntil(msg::LIVE_REQ);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->payload, Word(0xFFFF));
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_CHANNEL_INFO, Word(0x0000FFFF)));
    Sync();
    EXPECT_TRUE(m_session->Live().Running());
}

TEST_F(SessionDeviceTest, LayoutFollowsTheChannelCountAndPlaybackSelectionNeedsTheCapability) {
    for (const int channels : {4, 8}) {
        SCOPED_TRACE(channels);
        auto ack = SupportedHello(11, static_cast<std::uint8_t>(channels));
        ack.capabilities = 0;
        Start(ack);
        const std::int64_t layout = channels == 4 ? kLayout4 : kLayout9;
        EXPECT_EQ(Count([&](const PostedMessage& m) {
                      return m.message == protocol::WM_CHANNEL_GRID_MODE && m.lParam == layout;
                  }),
                  1u);
        EXPECT_EQ(m_session->Live().LiveSlots(), MaskOfFirst(channels));
        // Playback on a recorder without the capability: the layout change sends nothing.
        m_playback->SetRunning(true, 0xF);
        EXPECT_FALSE(m_session->Live().SendSelection(0x3));
        EXPECT_FALSE(m_playback->SendViewChannels(0x3));
        m_playback->SetRunning(false);
        Drop();
    }
    Start();  // with the capability: PLAY_VIEW_CH of playback AND visible
    ASSERT_TRUE(m_recorder->ReadUntil(msg::LIVE_REQ));
    m_playback->SetRunning(true, 0x0F);
    EXPECT_FALSE(m_session->Live().SendSelection(0x3C)) << "live view does not run";
    ASSERT_TRUE(m_playback->SendViewChannels(0x3C));
    auto view = m_recorder->ReadUntil(msg::PLAY_VIEW_CH);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->payload, Word(0x0C));
    m_playback->SetRunning(false);
}

TEST_F(SessionDeviceTest, RecordingStateFollowsAnswersAndStatus) {
    Start();
    struct Step {
        std::uint16_t code;
        std::uint32_t value;
        bool recording;
    };
    const Step steps[] = {
        {msg::REC_ON_ACK, 51, true},   {msg::REC_ON_ACK, 50, false}, {msg::REC_ON_ACK, 49, true},
        {msg::REC_OFF_ACK, 50, false}, {msg::REC_OFF_ACK, 49, true}, {msg::REC_OFF_ACK, 52, false},
        {msg::REC_STATUS, 5, true},    {msg::REC_STATUS, 6, false},
    };
    std::size_t lamps = Count(IsRecordLamp);
    for (const auto& s : steps) {
        SCOPED_TRACE(::testing::Message() << s.code << " " << s.value);
        Bytes payload;
        if (s.code == msg::REC_STATUS) {
            payload.resize(16);
            StoreBE32(payload.data() + 4, s.value);
        } else {
            payload = Word(s.value);
            payload.push_back(0xEE);  // only the first four bytes count
        }
        ASSERT_TRUE(m_recorder->Send(s.code, payload));
        ASSERT_TRUE(WaitCount(IsRecordLamp, ++lamps));
        EXPECT_EQ(m_session->Live().Recording(), s.recording);
        const auto last = m_sink->History();
        for (auto it = last.rbegin(); it != last.rend(); ++it) {
            if (IsRecordLamp(*it)) {
                EXPECT_EQ(it->lParam, s.recording ? platform::kPressed : platform::kReleased);
                break;
            }
        }
    }
    // A status of the wrong size and a too-short answer change nothing.
    ASSERT_TRUE(m_recorder->Send(msg::REC_STATUS, Bytes(12)));
    ASSERT_TRUE(m_recorder->Send(msg::REC_ON_ACK, Bytes{0, 0}));
    Sync();
    EXPECT_EQ(Count(IsRecordLamp), lamps + 1);
}

TEST_F(SessionDeviceTest, RecordButtonAsksTheRightsFirst) {
    Start();
    ASSERT_TRUE(m_recorder->ReadUntil(msg::LIVE_REQ));
    // No user list yet: a newer recorder grants nothing.
    EXPECT_FALSE(m_session->Live().ToggleRecording());
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 15, 0); }));
    ASSERT_TRUE(
        m_recorder->Send(msg::RIGHT_CHANGE, RightsPayload(false, 0, "admin", {0, 6, 8}, "pw")));
    Sync();
    ASSERT_TRUE(m_session->Live().ToggleRecording());
    ASSERT_TRUE(m_recorder->ReadUntil(msg::REC_ON_REQ));
    ASSERT_TRUE(m_recorder->Send(msg::REC_ON_ACK, Word(49)));
    ASSERT_TRUE(Wait(
        [](const PostedMessage& m) { return IsRecordLamp(m) && m.lParam == platform::kPressed; }));
    ASSERT_TRUE(m_session->Live().ToggleRecording());
    ASSERT_TRUE(m_recorder->ReadUntil(msg::REC_OFF_REQ));
    // The refusals of both map as the recorder's reasons say.
    ASSERT_TRUE(m_recorder->SendReason(msg::REC_OFF_NACK, 66));
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 5, 2); }));
}

TEST_F(SessionDeviceTest, UserListMatchesWithoutCaseAndReplacesThePassword) {
    Start();
    // Another user first, then this one in letter case of its own at slot 4.
    Bytes p = RightsPayload(false, 4, "aDmIn", {2, 6, 8}, "newpass9xyz");
    const std::string_view other = "admin2";
    std::copy(other.begin(), other.end(), p.begin() + 72 + 2 * 32);
    p[6 * 8 + 2] = 1;
    ASSERT_TRUE(m_recorder->Send(msg::RIGHT_CHANGE, p));
    ASSERT_TRUE(Wait([](const PostedMessage& m) {
        return m.message == protocol::WM_SEARCH_RIGHTS && m.window == platform::Window::Search &&
               m.wParam == 2;
    }));
    auto device = m_session->Live().Device();
    ASSERT_TRUE(device.userSlot);
    EXPECT_EQ(*device.userSlot, 4u);
    EXPECT_EQ(m_session->Login().Password(), "newpass9") << "the first 8 bytes of the password";
    EXPECT_EQ(device.tables[2][4], 1u);
    EXPECT_EQ(FieldText(device.userNames[2]), "admin2");
    EXPECT_TRUE(m_session->Live().MayUse(Feature::SearchPlayback));
    EXPECT_FALSE(m_session->Live().MayUse(Feature::RecordOnOff));
    // No PTZ right: the panels are closed.
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return m.message == protocol::WM_CLOSE_PTZ; }));
    EXPECT_EQ(Count([](const PostedMessage& m) { return m.message == protocol::WM_CLOSE_PTZ; }),
              1u);

    // RIGHT_CHANGE2 fills slots 6..26: record slot 3 becomes the user's slot 9.
    ASSERT_TRUE(m_recorder->Send(msg::RIGHT_CHANGE2,
                                 RightsPayload(true, 3, "ADMIN", {3, 4, 6, 8}, "second")));
    ASSERT_TRUE(Wait([](const PostedMessage& m) {
        return m.message == protocol::WM_SEARCH_RIGHTS && m.wParam == 1;
    }));
    device = m_session->Live().Device();
    EXPECT_EQ(*device.userSlot, 9u);
    EXPECT_EQ(m_session->Login().Password(), "second");
    EXPECT_FALSE(m_session->Live().MayUse(Feature::SearchPlayback));
    // Search withdrawn: the search state goes.
    EXPECT_TRUE(Wait([](const PostedMessage& m) {
        return m.message == protocol::WM_RIGHTS_WITHDRAWN &&
               (m.wParam & protocol::kDiscardSearch) != 0;
    }));
    // A wrong-sized list is read and dropped; the session reads on in step.
    ASSERT_TRUE(m_recorder->Send(msg::RIGHT_CHANGE, Bytes(583, 1)));
    Sync();
    EXPECT_EQ(*m_session->Live().Device().userSlot, 9u);
    EXPECT_TRUE(m_session->Transport().ReceiveThreadRunning());
}

TEST_F(SessionDeviceTest, WithdrawnSearchRightStopsWhatRuns) {
    struct Case {
        std::uint8_t major, minor;
        std::vector<std::size_t> rows;
        std::uint64_t withdrawn;
        std::optional<std::uint64_t> searchRights;
    };
    const Case cases[] = {
        // 1.0 and older: a missing search right closes the search dialog as a whole, even
        // with the backup right.
        {1,
         0,
         {3, 6, 8},
         protocol::kCloseSearchDialog | protocol::kStopPlayback | protocol::kStopBackup |
             protocol::kDiscardSearch,
         std::nullopt},
        {1, 0, {2, 6, 8}, 0, std::nullopt},
        // Newer: neither right closes everything; backup alone stops playback only.
        {1,
         1,
         {6, 8},
         protocol::kCloseSearchDialog | protocol::kStopPlayback | protocol::kStopBackup |
             protocol::kDiscardSearch,
         std::nullopt},
        {2, 0, {3, 6, 8}, protocol::kStopPlayback | protocol::kDiscardSearch, 1},
        {2, 0, {2, 3, 6, 8}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << int{c.major} << "." << int{c.minor} << " " << c.rows.size());
        auto ack = SupportedHello();
        ack.product_major_ver = c.major;
        ack.product_minor_ver = c.minor;
        Start(ack);
        m_playback->SetRunning(true, 0xF);
        m_backup->SetRunning(true);
        ASSERT_TRUE(m_recorder->Send(msg::RIGHT_CHANGE, RightsPayload(false, 0, "admin", c.rows)));
        // The hidden channels are recomputed last.
        ASSERT_TRUE(
            Wait([](const PostedMessage& m) { return m.message == protocol::WM_CHANNEL_HIDDEN; }));
        std::uint64_t withdrawn = 0;
        std::optional<std::uint64_t> searchRights;
        for (const auto& m : m_sink->History()) {
            if (m.message == protocol::WM_RIGHTS_WITHDRAWN)
                withdrawn = m.wParam;
            if (m.message == protocol::WM_SEARCH_RIGHTS)
                searchRights = m.wParam;
        }
        EXPECT_EQ(withdrawn, c.withdrawn);
        EXPECT_EQ(searchRights, c.searchRights);
        m_playback->SetRunning(false);
        m_backup->SetRunning(false);
        Drop();
    }
}

TEST_F(SessionDeviceTest, UserWithoutLoginRightsIsRefusedAndTheConnectionEnds) {
    for (const std::size_t missing : {6u, 8u}) {
        SCOPED_TRACE(missing);
        Start();
        const std::vector<std::size_t> rows = {missing == 6 ? 8u : 6u};
        ASSERT_TRUE(m_recorder->Send(msg::RIGHT_CHANGE, RightsPayload(false, 0, "ADMIN", rows)));
        ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 15, 0); }));
        ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 2, 0); }));
        EXPECT_FALSE(m_session->Transport().ReceiveThreadRunning());
        EXPECT_FALSE(m_session->Live().Device().userSlot);
        EXPECT_EQ(m_session->Login().Password(), "Secret");
        TearDown();
        m_session.reset();
        m_sink = std::make_unique<platform::CQueueSink>();
    }
}

TEST_F(SessionDeviceTest, DbChangeOfTheWrongSizeKeepsTheTitles) {
    auto ack = SupportedHello(11, 8);
    ack.product_major_ver = 0;  // old recorder: the archive password replaces ours
    ack.account = 0;
    Start(ack);
    ASSERT_TRUE(m_recorder->Send(msg::DB_CHANGE, DbChangePayload({}, "first")));
    ASSERT_TRUE(m_recorder->Send(msg::DB_CHANGE, DbChangePayload({0}, "", 595)));
    Sync();
    EXPECT_EQ(m_session->Live().Title(0), "first0");
    EXPECT_EQ(m_session->Live().Title(7), "first7");
    EXPECT_EQ(m_session->Live().Title(8), "") << "only the recorder's 8 channels are copied";
    EXPECT_EQ(m_session->Login().Password(), "arch1234");
    EXPECT_EQ(m_session->Live().Device().hidden, 0u) << "account 0 sees covert channels";
    EXPECT_EQ(
        Count([](const PostedMessage& m) { return m.message == protocol::WM_CHANNEL_TITLES; }), 1u);
}

TEST_F(SessionDeviceTest, StoredRecordsAndLivePermission) {
    auto ack = SupportedHello(11, 4);
    ack.product_major_ver = 0;
    ack.account = 3;  // covert channels are hidden from this user
    Start(ack);
    Bytes permission(kLivePermissionSize, 1);
    permission[2] = 0;  // slot 0, channel 2
    ASSERT_TRUE(m_recorder->Send(msg::NETLIVE_CH_CHANGE, permission));
    ASSERT_TRUE(m_recorder->Send(msg::DB_CHANGE, DbChangePayload({0}, "c")));
    ASSERT_TRUE(Wait([](const PostedMessage& m) {
        return m.message == protocol::WM_CHANNEL_HIDDEN && m.wParam == 0x5;
    }));
    Bytes cam(16, 0);
    cam[3] = 1;
    ASSERT_TRUE(m_recorder->Send(msg::CAM_INFO_CHANGE, cam));
    Bytes etc(kSysEtcInfoExSize, 0x42);
    ASSERT_TRUE(m_recorder->Send(msg::SYS_ETC_INFO_EX, etc));
    Bytes dst(kDstInfoSize, 0);
    StoreBE32(dst.data(), 0x01000000);
    ASSERT_TRUE(m_recorder->Send(msg::DST_INFO, dst));
    ASSERT_TRUE(m_recorder->Send(msg::DVR_TIME_ACK, Word(1286798400)));
    ASSERT_TRUE(m_recorder->Send(msg::SYS_NOTICE, Bytes(12, 9)));
    Sync();
    auto device = m_session->Live().Device();
    EXPECT_EQ(device.camInfo[3], 1u);
    EXPECT_EQ(device.camInfo[0], 0u);
    ASSERT_TRUE(device.etcInfoEx);
    EXPECT_EQ((*device.etcInfoEx)[3199], 0x42u);
    ASSERT_TRUE(device.dstInfo);
    EXPECT_EQ(device.dstInfo->firstWord, 0x01000000u);
    EXPECT_FALSE(device.etcInfo);

    // Wrong sizes: the live permission and camera flags are left cleared, the extended
    // information keeps its old copy, the grid is redrawn for the camera flags anyway.
    const auto redraws =
        Count([](const PostedMessage& m) { return m.message == protocol::WM_REDRAW_CHANNEL_GRID; });
    ASSERT_TRUE(m_recorder->Send(msg::NETLIVE_CH_CHANGE, Bytes(100, 1)));
    ASSERT_TRUE(m_recorder->Send(msg::CAM_INFO_CHANGE, Bytes(15, 1)));
    ASSERT_TRUE(m_recorder->Send(msg::SYS_ETC_INFO_EX, Bytes(10, 1)));
    ASSERT_TRUE(m_recorder->Send(msg::SYS_ETC_INFO, Bytes(10, 1)));
    Sync();
    device = m_session->Live().Device();
    EXPECT_EQ(device.livePermission[0], 0u);
    EXPECT_EQ(device.camInfo[3], 0u);
    ASSERT_TRUE(device.etcInfoEx);
    EXPECT_EQ((*device.etcInfoEx)[0], 0x42u);
    ASSERT_TRUE(device.etcInfo);
    EXPECT_EQ((*device.etcInfo)[0], 0u);
    EXPECT_GT(
        Count([](const PostedMessage& m) { return m.message == protocol::WM_REDRAW_CHANNEL_GRID; }),
        redraws);
}

TEST_F(SessionDeviceTest, SettingsDatabaseIsCheckedKeptAndSentBack) {
    Start();
    Bytes database(70'000);
    for (std::size_t i = 0; i < database.size(); ++i)
        database[i] = static_cast<std::uint8_t>(i % 251);
    Bytes unit = Word(Crc32(database));
    unit.insert(unit.end(), database.begin(), database.end());
    const std::span<const std::uint8_t> all(unit);
    ASSERT_TRUE(m_recorder->Send(msg::DB_INFO_ACK, Bytes(all.begin(), all.begin() + 40'000)));
    ASSERT_TRUE(
        m_recorder->Send(msg::DB_INFO_ACK, Bytes(all.begin() + 40'000, all.end()), 0, kLast));
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return m.message == protocol::WM_DB_INFO; }));
    auto kept = m_session->Live().Device().database;
    ASSERT_EQ(kept.size(), kDatabaseWindowLimit) << "the window keeps at most 64,512 bytes";
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), database.begin()));

    // A unit whose CRC does not match: (9, 0), busy cleared, the old database stays.
    m_session->Live().SetBusy(true);
    Bytes bad = Word(0x12345678);
    bad.insert(bad.end(), 100, 7);
    ASSERT_TRUE(m_recorder->Send(msg::DB_INFO_ACK, bad, 0, kLast));
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 9, 0); }));
    EXPECT_FALSE(m_session->Live().Busy());
    EXPECT_EQ(m_session->Live().Device().database, kept);

    ASSERT_TRUE(m_recorder->ReadUntil(msg::LIVE_REQ));
    ASSERT_TRUE(m_session->Live().SendDatabase());
    auto update = m_recorder->ReadUntil(msg::DB_UPDATE_REQ);
    ASSERT_TRUE(update);
    ASSERT_EQ(update->payload.size(), 4 + kDatabaseWindowLimit);
    EXPECT_EQ(LoadBE32(update->payload.data()), Crc32(kept));
    ASSERT_TRUE(m_recorder->Send(msg::DB_UPDATE_ACK));
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 10, 0); }));
    ASSERT_TRUE(m_recorder->SendReason(msg::DB_UPDATE_NACK, 51));
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 7, 2); }));
}

TEST_F(SessionDeviceTest, ArchiveRebootAndLiveRefusals) {
    Start();
    ASSERT_TRUE(m_recorder->ReadUntil(msg::LIVE_REQ));
    ASSERT_TRUE(m_session->Live().InitArchive());
    ASSERT_TRUE(m_session->Live().Reboot());
    auto init = m_recorder->ReadUntil(msg::DB_INIT_REQ);
    ASSERT_TRUE(init);
    EXPECT_TRUE(init->payload.empty());
    auto reboot = m_recorder->ReadUntil(msg::REBOOT_REQ);
    ASSERT_TRUE(reboot);
    EXPECT_TRUE(reboot->payload.empty());
    ASSERT_TRUE(m_recorder->SendReason(msg::DB_INIT_NACK, 97));
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 6, 7); }));
    ASSERT_TRUE(m_recorder->SendReason(msg::REBOOT_NACK, 2));
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 6, 1); }));
    ASSERT_TRUE(m_recorder->SendReason(msg::LIVE_STOP_NACK, 1));
    ASSERT_TRUE(Wait([](const PostedMessage& m) { return IsNotify(m, 5, 0); }));
    EXPECT_TRUE(m_session->Login().LoggedIn());
    ASSERT_TRUE(m_recorder->SendReason(msg::LIVE_NACK, 1));
    ASSERT_TRUE(
        Wait([](const PostedMessage& m) { return m.message == protocol::WM_STOP_LIVE_AUDIO; }));
    EXPECT_FALSE(m_session->Login().LoggedIn());
    EXPECT_FALSE(m_session->Live().LivePending()) << "a new live request may be tried";
    EXPECT_EQ(Count([](const PostedMessage& m) { return IsNotify(m, 5, 0); }), 2u);
}

TEST_F(SessionDeviceTest, StreamPiecesReachTheReceiverWhole) {
    CPieceCollector collector;
    Start(SupportedHello(), &collector);
    Bytes big(65'535);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 13);
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_DATA, Bytes{1, 2, 3}));
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_DATA, big, 0, kLast));
    ASSERT_TRUE(m_recorder->Send(msg::PLAY_DATA, Bytes{9}, 0, kLast));
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_DATA, Bytes{}));
    Sync();
    const auto pieces = collector.Pieces();
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[0].command, msg::LIVE_DATA);
    EXPECT_EQ(pieces[0].bytes, (Bytes{1, 2, 3}));
    EXPECT_FALSE(pieces[0].last);
    EXPECT_EQ(pieces[1].bytes, big);
    EXPECT_TRUE(pieces[1].last);
    EXPECT_EQ(pieces[2].command, msg::PLAY_DATA);
    EXPECT_TRUE(pieces[3].bytes.empty());
}

TEST_F(SessionDeviceTest, StreamPiecesWithoutReceiverAreReadInStep) {
    Start();
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_DATA, Bytes(5000, 0x11)));
    ASSERT_TRUE(m_recorder->Send(msg::PLAY_DATA, Bytes(65'535, 0x22), 0, kLast));
    Sync();
    EXPECT_FALSE(m_session->Live().Recording());
    EXPECT_TRUE(m_session->Transport().ReceiveThreadRunning());
}

// A stopped transfer's tail (a record the recorder had begun, what it sent before it took
// TRANS_OFF_REQ) never lands in the next backup: the next one waits for TRANS_OFF_ACK, and
// its first record is whole.
TEST_F(SessionDeviceTest, TheTailOfAStoppedBackupStaysOutOfTheNext) {
    Start();
    const auto folder =
        std::filesystem::temp_directory_path() / ("taviro-tail-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    recordings::BackupTarget target;
    target.folder = folder;
    m_backup->SetTarget(target);
    const recordings::BackupRange range{1, 1000, 2000};
    ASSERT_TRUE(m_backup->Start(range));
    ASSERT_TRUE(m_recorder->ReadUntil(msg::TRANS_DATA_REQ));
    testing::TestFrame frame;
    frame.time = 1000;
    frame.payload = 4000;
    const Bytes old = testing::VideoRecord(frame);
    // The first half of a record, then the user's stop.
    ASSERT_TRUE(m_recorder->Send(msg::TRANS_ON_DATA, Bytes(old.begin(), old.begin() + 2000)));
    Sync();
    m_backup->Stop();
    ASSERT_TRUE(m_recorder->ReadUntil(msg::TRANS_OFF_REQ));
    EXPECT_TRUE(m_backup->Finishing()) << "the recorder has not taken the stop yet";
    EXPECT_FALSE(m_backup->Start(range));
    // The rest of it, a whole record the recorder sent before the stop, then the answer.
    ASSERT_TRUE(
        m_recorder->Send(msg::TRANS_ON_DATA, Bytes(old.begin() + 2000, old.end()), 0, kLast));
    ASSERT_TRUE(m_recorder->Send(msg::TRANS_ON_DATA, old, 0, kLast));
    ASSERT_TRUE(m_recorder->Send(msg::TRANS_OFF_ACK));
    Sync();
    EXPECT_FALSE(m_backup->Finishing());

    ASSERT_TRUE(m_backup->Start(range));
    ASSERT_TRUE(m_recorder->ReadUntil(msg::TRANS_DATA_REQ));
    frame.time = 1500;
    frame.payload = 300;
    const Bytes fresh = testing::VideoRecord(frame);
    ASSERT_TRUE(m_recorder->Send(msg::TRANS_ON_DATA, Bytes(fresh.begin(), fresh.begin() + 100)));
    ASSERT_TRUE(
        m_recorder->Send(msg::TRANS_ON_DATA, Bytes(fresh.begin() + 100, fresh.end()), 0, kLast));
    ASSERT_TRUE(m_recorder->Send(msg::TRANS_ON_DONE));
    ASSERT_TRUE(m_recorder->ReadUntil(msg::TRANS_OFF_REQ));
    ASSERT_TRUE(m_recorder->Send(msg::TRANS_OFF_ACK));
    m_backup->Stop();
    const auto outcome = m_backup->LastOutcome();
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->failed) << outcome->error;
    ASSERT_EQ(outcome->pairs.size(), 1u);
    EXPECT_EQ(outcome->pairs[0].videoFrames, 1u) << "only the new backup's one record";
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace taviro::protocol
