// The simulated recorder's device side: the records it pushes at login, its live channel
// information, and its answers and configured refusals to the device requests. The pushed
// records are read back with the client's own parsers.
#include <gtest/gtest.h>

#include "platform/message_sink.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/client_session.h"
#include "protocol/crc32.h"
#include "protocol/device_records.h"
#include "protocol/session_messages.h"
#include "raw_client.h"
#include "sim/device_service.h"
#include "sim/options.h"
#include "sim/recorder_sim.h"

namespace taviro::sim::test {
namespace {

namespace msg = protocol::msg;
using Bytes = std::vector<std::uint8_t>;

SimConfig PushingConfig() {
    SimConfig c;
    c.fault_delay = 50ms;
    c.push_records = true;
    c.titles = {"Gate", "Yard"};
    c.covert = 0x0002;
    c.users = {SimUser{"admin", "1234", {1, 1, 1, 1, 1, 1, 1, 1, 1}},
               SimUser{"guest", "pw", {0, 0, 1, 0, 0, 0, 1, 0, 1}}};
    for (int i = 2; i < 8; ++i)
        c.users.push_back(SimUser{"user" + std::to_string(i), "p", {}});
    c.live_masks = {{1, 0x00F0}};
    c.cam_info = 0x0005;
    c.rec_status = 3;
    c.database_size = 40'000;
    return c;
}

Bytes Word(std::uint32_t v) {
    Bytes b(4);
    protocol::StoreBE32(b.data(), v);
    return b;
}

TEST(SimDevice, LoginPushesTheRecordsTheClientReads) {
    const SimConfig config = PushingConfig();
    CRecorderSim sim(config);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    std::vector<Received> got;
    while (auto m = client.Recv(1s)) {
        got.push_back(*m);
        if (m->header.Command() == msg::DB_INFO_ACK && m->header.LastFragment())
            break;
    }
    std::vector<std::uint16_t> codes;
    for (const auto& m : got)
        codes.push_back(m.header.Command());
    const std::vector<std::uint16_t> expected = {
        msg::RIGHT_CHANGE,    msg::RIGHT_CHANGE2, msg::NETLIVE_CH_CHANGE, msg::DB_CHANGE,
        msg::CAM_INFO_CHANGE, msg::SYS_ETC_INFO,  msg::SYS_ETC_INFO_EX,   msg::DST_INFO,
        msg::REC_STATUS,      msg::DB_INFO_ACK,   msg::DB_INFO_ACK};
    ASSERT_EQ(codes, expected);

    const auto rights = protocol::ParseRightChange(got[0].payload);
    ASSERT_TRUE(rights);
    EXPECT_EQ(protocol::MatchUser(*rights, "GUEST"), 1u);
    EXPECT_EQ(rights->rows[2][1], 1u);
    EXPECT_EQ(rights->rows[0][1], 0u);
    EXPECT_EQ(rights->rows[8][0], 1u);
    EXPECT_EQ(protocol::FieldText(rights->passwords[1]), "pw");
    EXPECT_EQ(protocol::FieldText(rights->names[7]), "user7");
    const auto rights2 = protocol::ParseRightChange2(got[1].payload);
    ASSERT_TRUE(rights2);
    EXPECT_EQ(protocol::MatchUser(*rights2, "user6"), 0u) << "the long list starts at user 6";
    EXPECT_FALSE(protocol::MatchUser(*rights2, "admin"));

    const auto live = protocol::ParseStored<protocol::kLivePermissionSize>(got[2].payload);
    ASSERT_TRUE(live);
    EXPECT_EQ(protocol::LivePermissionAt(*live, 1, 3), 0u);
    EXPECT_EQ(protocol::LivePermissionAt(*live, 1, 4), 1u);
    EXPECT_EQ(protocol::LivePermissionAt(*live, 0, 3), 1u);

    const auto db = protocol::ParseDbChange(got[3].payload);
    ASSERT_TRUE(db);
    EXPECT_EQ(protocol::FieldText(db->titles[1]), "Yard");
    EXPECT_EQ(protocol::FieldText(db->titles[2]), "");
    EXPECT_EQ(db->covert[1], 1u);
    EXPECT_EQ(db->covert[0], 0u);
    EXPECT_EQ(protocol::FieldText(db->archivePass), "1234");

    EXPECT_EQ(got[4].payload, (Bytes{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(got[5].payload.size(), protocol::kSysEtcInfoSize);
    EXPECT_EQ(got[6].payload.size(), protocol::kSysEtcInfoExSize);
    EXPECT_EQ(got[7].payload.size(), protocol::kDstInfoSize);
    EXPECT_EQ(protocol::ParseRecStatus(got[8].payload), true);

    protocol::CDatabaseAssembly assembly;
    EXPECT_FALSE(got[9].header.LastFragment());
    EXPECT_EQ(assembly.Add(got[9].payload, false), protocol::CDatabaseAssembly::Result::Partial);
    EXPECT_EQ(assembly.Add(got[10].payload, true), protocol::CDatabaseAssembly::Result::Good);
    EXPECT_EQ(assembly.Database().size(), 40'000u);
}

TEST(SimDevice, WithoutPushRecordsNothingFollowsTheLogin) {
    SimConfig c;
    c.database_size = 100;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    EXPECT_TRUE(client.StaysQuiet(200ms));
}

TEST(SimDevice, LiveRequestIsAnsweredWithChannelInformation) {
    SimConfig c;
    c.channels = 8;
    c.live_available = 0xFF0F;
    c.video_loss = 0x0106;
    c.live_stop_reason = 1;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    ASSERT_TRUE(client.Send(msg::LIVE_REQ, Word(0xFFFF)));
    auto info = client.Recv();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->header.Command(), msg::LIVE_CHANNEL_INFO);
    // Only the recorder's eight channels: bit 8 of both halves is gone.
    EXPECT_EQ(info->payload, Word(0x0006000F));
    ASSERT_TRUE(client.Send(msg::LIVE_STOP));
    auto nack = client.Recv();
    ASSERT_TRUE(nack);
    EXPECT_EQ(nack->header.Command(), msg::LIVE_STOP_NACK);
    EXPECT_EQ(nack->payload, Word(1));

    SimConfig refusing;
    refusing.live_reason = 1;
    CRecorderSim sim2(refusing);
    ASSERT_TRUE(sim2.Start());
    CRawClient client2;
    ASSERT_TRUE(client2.Login(sim2.Port()));
    ASSERT_TRUE(client2.Send(msg::LIVE_REQ, Word(0xFFFF)));
    auto refused = client2.Recv();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->header.Command(), msg::LIVE_NACK);
    EXPECT_EQ(refused->payload, Word(1));
}

TEST(SimDevice, DeviceRequestsAreAcknowledgedOrRefusedAsConfigured) {
    {
        CRecorderSim sim(SimConfig{});
        ASSERT_TRUE(sim.Start());
        CRawClient client;
        ASSERT_TRUE(client.Login(sim.Port()));
        struct Case {
            std::uint16_t request;
            Bytes payload;
            std::uint16_t answer;
            Bytes answerPayload;
        };
        Bytes database = {1, 2, 3, 4, 5};
        Bytes update = Word(protocol::Crc32(database));
        update.insert(update.end(), database.begin(), database.end());
        Bytes damaged = update;
        damaged[5] ^= 0xFF;
        const Case cases[] = {
            {msg::REC_ON_REQ, {}, msg::REC_ON_ACK, Word(49)},
            {msg::REC_OFF_REQ, {}, msg::REC_OFF_ACK, Word(50)},
            {msg::DB_UPDATE_REQ, update, msg::DB_UPDATE_ACK, {}},
            {msg::DB_UPDATE_REQ, damaged, msg::DB_UPDATE_NACK, Word(1)},
            {msg::DB_INIT_REQ, {}, msg::DB_INIT_ACK, {}},
            {msg::REBOOT_REQ, {}, msg::REBOOT_ACK, {}},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.request);
            ASSERT_TRUE(client.Send(c.request, c.payload));
            auto answer = client.Recv();
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->header.Command(), c.answer);
            EXPECT_EQ(answer->payload, c.answerPayload);
        }
        // A rebooting recorder ends the connection.
        EXPECT_TRUE(client.WaitForClose());
    }
    SimConfig c;
    c.rec_on_reason = 65;
    c.rec_off_reason = 66;
    c.db_update_reason = 81;
    c.db_init_reason = 98;
    c.reboot_reason = 2;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    CRawClient client;
    ASSERT_TRUE(client.Login(sim.Port()));
    const std::pair<std::uint16_t, std::pair<std::uint16_t, std::uint32_t>> refusals[] = {
        {msg::REC_ON_REQ, {msg::REC_ON_NACK, 65}},
        {msg::REC_OFF_REQ, {msg::REC_OFF_NACK, 66}},
        {msg::DB_UPDATE_REQ, {msg::DB_UPDATE_NACK, 81}},
        {msg::DB_INIT_REQ, {msg::DB_INIT_NACK, 98}},
        {msg::REBOOT_REQ, {msg::REBOOT_NACK, 2}},
    };
    for (const auto& [request, answer] : refusals) {
        SCOPED_TRACE(request);
        ASSERT_TRUE(client.Send(request, Word(0)));
        auto got = client.Recv();
        ASSERT_TRUE(got);
        EXPECT_EQ(got->header.Command(), answer.first);
        EXPECT_EQ(got->payload, Word(answer.second));
    }
    EXPECT_TRUE(client.StaysQuiet(400ms)) << "a refused reboot keeps the connection";
}

TEST(SimDevice, CommandLineOptionsOfTheDeviceSide) {
    const std::vector<std::string_view> args = {"--push-records",
                                                "--title",
                                                "Gate",
                                                "--title=Yard",
                                                "--covert",
                                                "0x8001",
                                                "--user-lists",
                                                "long",
                                                "--live-mask",
                                                "3=0x00ff",
                                                "--cam-info",
                                                "5",
                                                "--rec-status",
                                                "2",
                                                "--database-size",
                                                "1000",
                                                "--database-bad-crc",
                                                "--live-available",
                                                "0x000f",
                                                "--video-loss=0x0002",
                                                "--refuse-live=1",
                                                "--refuse-live-stop",
                                                "1",
                                                "--refuse-rec-on",
                                                "65",
                                                "--refuse-rec-off",
                                                "66",
                                                "--refuse-db-update",
                                                "-3",
                                                "--refuse-db-init",
                                                "97",
                                                "--refuse-reboot",
                                                "2"};
    const auto line = ParseCommandLine(args);
    ASSERT_TRUE(line.error.empty()) << line.error;
    const SimConfig& c = line.config;
    EXPECT_TRUE(c.push_records);
    EXPECT_EQ(c.titles, (std::vector<std::string>{"Gate", "Yard"}));
    EXPECT_EQ(c.covert, 0x8001);
    EXPECT_FALSE(c.send_right_change);
    EXPECT_TRUE(c.send_right_change2);
    ASSERT_EQ(c.live_masks.size(), 1u);
    EXPECT_EQ(c.live_masks[0], (std::pair<std::size_t, std::uint16_t>{3, 0xFF}));
    EXPECT_EQ(c.cam_info, 5);
    EXPECT_EQ(c.rec_status, 2u);
    EXPECT_EQ(c.database_size, 1000u);
    EXPECT_TRUE(c.database_bad_crc);
    EXPECT_EQ(c.live_available, 0x000F);
    EXPECT_EQ(c.video_loss, 2);
    EXPECT_EQ(c.live_reason, 1);
    EXPECT_EQ(c.live_stop_reason, 1);
    EXPECT_EQ(c.rec_on_reason, 65);
    EXPECT_EQ(c.rec_off_reason, 66);
    EXPECT_EQ(c.db_update_reason, -3);
    EXPECT_EQ(c.db_init_reason, 97);
    EXPECT_EQ(c.reboot_reason, 2);

    for (const auto& bad : std::vector<std::vector<std::string_view>>{
             {"--covert", "0x10000"},
             {"--covert", "0xZZ"},
             {"--live-mask", "58=1"},
             {"--live-mask", "3"},
             {"--user-lists", "some"},
             {"--database-size", "65532"},
             {"--title", "123456789012345678901234567890123"},
             {"--refuse-reboot", "x"}}) {
        SCOPED_TRACE(bad[0]);
        EXPECT_FALSE(ParseCommandLine(bad).error.empty());
    }
}

// The client's session against the simulated recorder: the pushed records arrive where the
// session keeps them, and a database with a wrong CRC is refused.
TEST(SimDevice, SessionTakesThePushedRecords) {
    SimConfig c = PushingConfig();
    c.database_bad_crc = true;
    c.product_major = 2;
    CRecorderSim sim(c);
    ASSERT_TRUE(sim.Start());
    platform::CQueueSink sink;
    protocol::SessionConfig config;
    config.address = "127.0.0.1";
    config.port = sim.Port();
    config.userId = "Guest";
    config.password = "pw";
    protocol::CClientSession session(sink, nullptr, config);
    session.Connect();
    ASSERT_TRUE(sink.WaitFor(
        [](const platform::PostedMessage& m) {
            return m.message == platform::WM_RECORDER_NOTIFY &&
                   m.lParam == platform::NotifyParam(9, 0);
        },
        5s));
    ASSERT_TRUE(sink.WaitFor(
        [](const platform::PostedMessage& m) {
            return m.message == protocol::WM_CHANNEL_AVAILABLE;
        },
        5s));
    EXPECT_TRUE(session.Transport().ServiceOn(protocol::Service::Live));
    const auto device = session.Live().Device();
    ASSERT_TRUE(device.userSlot);
    EXPECT_EQ(*device.userSlot, 1u);
    EXPECT_EQ(session.Live().Title(0), "Gate");
    // The guest may not see covert channel 1 and may watch only channels 4..7.
    EXPECT_EQ(device.hidden, 0xFF0Fu);
    EXPECT_TRUE(session.Live().Recording());
    EXPECT_TRUE(device.database.empty());
    EXPECT_TRUE(session.Live().MayUse(protocol::Feature::SearchPlayback));
    EXPECT_FALSE(session.Live().MayUse(protocol::Feature::RecordOnOff));
    session.DestroyWindow();
}

}  // namespace
}  // namespace taviro::sim::test
