// Firmware upgrade through the session: the image's FW_DATA pieces as the recorder reads
// them, and whole upgrades against the simulated recorder, driven through the window's
// logic as the window drives it (answers ignored when nothing waits for them, refusals
// and failures that move on, Stop, and a connection that ends mid-transfer).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "firmware_images.h"
#include "maintenance/firmware_service.h"
#include "maintenance/firmware_upgrade.h"
#include "platform/message_sink.h"
#include "protocol/client_session.h"
#include "protocol/crc32.h"
#include "sim/recorder_sim.h"
#include "support/fake_recorder.h"
#include "support/sanitizer_time.h"
#include "support/temp_folder_test.h"

namespace taviro::maintenance::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace msg = protocol::msg;
using platform::PostedMessage;

constexpr protocol::RecorderTime kBuilt = 1'300'000'000;

protocol::SessionConfig SessionFor(std::uint16_t port) {
    protocol::SessionConfig config;
    config.address = "127.0.0.1";
    config.port = port;
    config.userId = "admin";
    config.password = "1234";
    config.closeGrace = 0ms;
    return config;
}

class FirmwareTransferTest : public taviro::testing::CTempFolderTest {
  protected:
    FirmwareTransferTest() : CTempFolderTest("taviro_fw_transfer_") {}
};

TEST_F(FirmwareTransferTest, ImageGoesOutInPiecesOfAtMost8000Bytes) {
    std::filesystem::create_directories(m_root);
    platform::CQueueSink sink;
    auto pair = platform::MakeSocketPair();
    ASSERT_TRUE(pair);
    protocol::CClientSession session(sink, nullptr, SessionFor(0));
    CFirmwareService service(session.Transport());
    session.Transport().AddService(service);
    taviro::testing::CFakeRecorder recorder(std::move(pair->second));
    session.ConnectOver(std::move(pair->first));
    ASSERT_TRUE(recorder.ReadUntil(msg::HELLO));

    // (file size, the second header word of each piece as the recorder reads it)
    const std::vector<std::pair<std::size_t, std::vector<std::uint32_t>>> cases = {
        {8000, {0x40001F40}},
        {8001, {0x00001F40, 0x40000001}},
        {16001, {0x00001F40, 0x00001F40, 0x40000001}},
    };
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const auto& [size, words] = cases[n];
        const auto path = m_root / ("image" + std::to_string(n));
        const Bytes image = ComponentImage("APP", 7, size);
        WriteFile(path, image);
        ASSERT_TRUE(service.StartTransfer(n, path));
        Bytes received;
        for (const std::uint32_t word : words) {
            const auto piece = recorder.ReadUntil(msg::FW_DATA);
            ASSERT_TRUE(piece) << size;
            EXPECT_EQ(piece->header.word[1], word) << size;
            EXPECT_EQ(piece->header.word[0], msg::FW_DATA << 7);
            received.insert(received.end(), piece->payload.begin(), piece->payload.end());
        }
        EXPECT_EQ(received, image);
        ASSERT_TRUE(sink.WaitFor(
            [n](const PostedMessage& m) {
                return m.message == maintenance::WM_FW_WORKER_ENDED && m.wParam == n;
            },
            5s));
        const auto history = sink.History();
        std::int64_t lastProgress = -1;
        for (const auto& m : history) {
            if (m.message == maintenance::WM_FW_PROGRESS && m.wParam == n) {
                EXPECT_GT(m.lParam, lastProgress);
                lastProgress = m.lParam;
            }
            if (m.message == maintenance::WM_FW_WORKER_ENDED && m.wParam == n) {
                EXPECT_EQ(m.lParam, kFwSent);
            }
        }
        EXPECT_EQ(lastProgress, 100);
    }
    // A file that cannot be opened ends the worker at once with its own result.
    ASSERT_TRUE(service.StartTransfer(9, m_root / "missing"));
    EXPECT_TRUE(sink.WaitFor(
        [](const PostedMessage& m) {
            return m.message == maintenance::WM_FW_WORKER_ENDED && m.wParam == 9 &&
                   m.lParam == kFwOpenFailed;
        },
        5s));
    std::thread reader([&] { recorder.ReadAll(2s); });
    session.DestroyWindow();
    reader.join();
}

// A recorder that stops reading leaves the worker stuck in a send; the shutdown (or Stop)
// waits for it. The window may press Start meanwhile: it is told no at once, never made
// to wait on the network, and no second transfer starts.
TEST_F(FirmwareTransferTest, StartWhileAStuckWorkerIsJoinedAnswersAtOnce) {
    std::filesystem::create_directories(m_root);
    platform::CQueueSink sink;
    auto pair = platform::MakeSocketPair();
    ASSERT_TRUE(pair);
    protocol::SessionConfig config = SessionFor(0);
    config.recvLimit = 3s;  // also the bound of a send
    protocol::CClientSession session(sink, nullptr, config);
    CFirmwareService service(session.Transport());
    session.Transport().AddService(service);
    taviro::testing::CFakeRecorder recorder(std::move(pair->second));
    session.ConnectOver(std::move(pair->first));
    ASSERT_TRUE(recorder.ReadUntil(msg::HELLO));

    const auto path = m_root / "big.bin";
    WriteFile(path, ComponentImage("APP", 7, 16'000'000));
    ASSERT_TRUE(service.StartTransfer(0, path));
    std::this_thread::sleep_for(500ms);  // the socket's buffers fill; the recorder reads none
    ASSERT_TRUE(service.TransferRunning());

    std::thread closing([&] { service.CloseGates(); });
    std::this_thread::sleep_for(200ms);  // the shutdown now waits for the worker
    const auto before = Clock::now();
    EXPECT_FALSE(service.StartTransfer(1, path));
    EXPECT_LT(Clock::now() - before, 200ms) << "the window thread waited on the network";
    closing.join();
    EXPECT_FALSE(service.TransferRunning());
    std::thread reader([&] { recorder.ReadAll(1s); });
    session.DestroyWindow();
    reader.join();
    for (const auto& m : sink.History()) {
        EXPECT_FALSE(m.message == maintenance::WM_FW_WORKER_ENDED && m.wParam == 1)
            << "a second transfer started";
    }
}

// An upgrade window's logic on a real connection to the simulated recorder.
class FirmwareUpgradeSimTest : public taviro::testing::CTempFolderTest {
  protected:
    FirmwareUpgradeSimTest() : CTempFolderTest("taviro_fw_upgrade_") {}

    void SetUp() override {
        CTempFolderTest::SetUp();
        std::filesystem::create_directories(m_root);
    }
    void Start(sim::SimConfig config) {
        for (const char* name : {"BOOT", "LOADER", "KERNEL", "APP", "FS", "UI", "LOGO"}) {
            config.firmware.push_back({name, kBuilt});
        }
        m_sim = std::make_unique<sim::CRecorderSim>(std::move(config));
        ASSERT_TRUE(m_sim->Start()) << m_sim->LastError();
        m_session =
            std::make_unique<protocol::CClientSession>(m_sink, nullptr, SessionFor(m_sim->Port()));
        m_service = std::make_unique<CFirmwareService>(m_session->Transport());
        m_session->Transport().AddService(*m_service);
        m_session->Connect();
        const auto until = Clock::now() + 10s * taviro::testing::kSanitizerSlowdown;
        // Ready, not only logged in: the login answer (the firmware list) has been read.
        while (!m_session->Login().Ready() && Clock::now() < until)
            std::this_thread::sleep_for(2ms);
        ASSERT_TRUE(m_session->Login().Ready());
        m_upgrade = std::make_unique<CFirmwareUpgrade>(
            *m_service, m_sink, ScanUpgradeFolder(m_root, m_session->Login().Hello()));
    }
    void TearDown() override {
        m_upgrade.reset();
        if (m_session)
            m_session->DestroyWindow();
        m_session.reset();
        m_service.reset();
        m_sim.reset();
        CTempFolderTest::TearDown();
    }
    void Put(const std::string& name, const Bytes& bytes) { WriteFile(m_root / name, bytes); }

    // Hands the upgrade window's messages to its logic, as the window does, until `done`.
    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        const auto until = Clock::now() + limit * taviro::testing::kSanitizerSlowdown;
        while (!done()) {
            if (Clock::now() >= until)
                return false;
            if (auto m = m_sink.Take(5ms); m && m->window == platform::Window::Firmware) {
                m_upgrade->OnMessage(m->message, m->wParam, m->lParam);
            }
        }
        return true;
    }
    bool Idle() const { return m_upgrade->CurrentState() == CFirmwareUpgrade::State::Idle; }
    std::size_t Count(const std::function<bool(const sim::JournalEntry&)>& match) const {
        std::size_t n = 0;
        for (const auto& e : m_sim->Journal())
            n += match(e) ? 1u : 0u;
        return n;
    }
    int Status(std::size_t row) const { return m_upgrade->View().rows[row].statusText; }

    platform::CQueueSink m_sink;
    std::unique_ptr<sim::CRecorderSim> m_sim;
    std::unique_ptr<protocol::CClientSession> m_session;
    std::unique_ptr<CFirmwareService> m_service;
    std::unique_ptr<CFirmwareUpgrade> m_upgrade;
};

std::string ImageEvent(int component, const Bytes& image) {
    char text[96];
    std::snprintf(text, sizeof text, "component=%d bytes=%zu crc=%08X", component, image.size(),
                  protocol::Crc32(image));
    return text;
}

TEST_F(FirmwareUpgradeSimTest, UpgradesTheCheckedSlotsInOrderAndIgnoresARepeatedAck) {
    const Bytes app = ComponentImage("APP", kBuilt + 1, 20'000);
    const Bytes fs = ComponentImage("FS", kBuilt + 1, 8'000);
    Put("fs.bin", fs);
    Put("app.bin", app);
    Put("ui.bin", ComponentImage("UI", kBuilt + 1, 100));
    sim::SimConfig config;
    config.fw_duplicate_ack = true;
    Start(config);

    const FwView& view = m_upgrade->View();
    EXPECT_TRUE(view.rows[1].checked && view.rows[2].checked && view.rows[4].checked);
    EXPECT_FALSE(view.rows[0].enabled || view.rows[6].enabled || view.rows[6].hasSlot);
    m_upgrade->SetChecked(4, false);
    ASSERT_TRUE(m_upgrade->Start());
    EXPECT_FALSE(m_upgrade->Start());  // one run at a time
    ASSERT_TRUE(Pump([&] { return Idle(); }));

    EXPECT_EQ(Status(1), kFwTextDone);
    EXPECT_EQ(Status(2), kFwTextDone);
    EXPECT_EQ(Status(4), kFwTextNone);
    EXPECT_EQ(view.rows[1].percent, 100);
    EXPECT_EQ(m_upgrade->Successes(), 2);
    // The unchecked row is still offered; the upgraded ones are done.
    EXPECT_TRUE(view.rows[4].enabled);
    EXPECT_FALSE(view.rows[1].enabled || view.rows[2].enabled);
    EXPECT_TRUE(view.startVisible && !view.stopVisible && view.closeEnabled);

    std::vector<std::string> images;
    for (const auto& e : m_sim->Journal()) {
        if (e.IsEvent("fw-image"))
            images.push_back(e.why);
    }
    EXPECT_EQ(images, (std::vector<std::string>{ImageEvent(3, app), ImageEvent(4, fs)}));
    EXPECT_EQ(Count([](const auto& e) { return e.IsRx(msg::FW_UPDATE_REQ); }), 2u);
    EXPECT_EQ(Count([](const auto& e) { return e.IsEvent("fw-data"); }), 0u);

    m_upgrade->Close();
    EXPECT_EQ(m_sink.Notifications().back(), (std::pair<int, int>{8, 5}));
}

TEST_F(FirmwareUpgradeSimTest, RefusalsAndFailuresMoveOnToTheNextSlot) {
    struct Case {
        std::function<void(sim::SimConfig&)> configure;
        int text;
        std::size_t dataMessages;
    };
    const std::vector<Case> cases = {
        {[](sim::SimConfig& c) { c.fw_update_reason = 17; }, kFwTextRefused17, 0},
        {[](sim::SimConfig& c) { c.fw_update_reason = 1; }, kFwTextRefusedBusy, 0},
        {[](sim::SimConfig& c) { c.fw_result_reason = 3; }, kFwTextFailed, 2},
        {[](sim::SimConfig& c) { c.fw_data_reason = 2; }, kFwTextFailed, 2},
    };
    for (const Case& c : cases) {
        Put("app.bin", ComponentImage("APP", kBuilt + 1, 3'000));
        Put("logo.bin", ComponentImage("LOGO", kBuilt + 1, 3'000));
        sim::SimConfig config;
        c.configure(config);
        Start(config);
        ASSERT_TRUE(m_upgrade->Start());
        ASSERT_TRUE(Pump([&] { return Idle(); }));
        EXPECT_EQ(Status(1), c.text);
        EXPECT_EQ(Status(5), c.text);
        EXPECT_EQ(m_upgrade->Successes(), 0);
        EXPECT_EQ(Count([](const auto& e) { return e.IsRx(msg::FW_DATA); }), c.dataMessages);
        const std::size_t before = m_sink.Notifications().size();
        m_upgrade->Close();
        EXPECT_EQ(m_sink.Notifications().size(), before);  // nothing succeeded: no reboot offer
        TearDown();
        SetUp();
    }
}

TEST_F(FirmwareUpgradeSimTest, StopBeforeTheAckMakesTheLateAckStartNothing) {
    Put("app.bin", ComponentImage("APP", kBuilt + 1, 3'000));
    sim::SimConfig config;
    config.fw_ack_delay = 200ms;
    Start(config);
    ASSERT_TRUE(m_upgrade->Start());
    EXPECT_EQ(m_upgrade->CurrentState(), CFirmwareUpgrade::State::AwaitAck);
    m_upgrade->Stop();
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Status(1), kFwTextStopped);
    bool ackSeen = false;
    ASSERT_TRUE(Pump([&] {
        for (const auto& m : m_sink.History())
            ackSeen = ackSeen || m.message == maintenance::WM_FW_UPDATE_ACK;
        return ackSeen;
    }));
    // Whatever is still queued is handed over too.
    Pump([] { return false; }, 100ms);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(m_service->TransferRunning());
    EXPECT_EQ(Count([](const auto& e) { return e.IsRx(msg::FW_DATA); }), 0u);
}

TEST_F(FirmwareUpgradeSimTest, ConnectionClosedMidTransferEndsCleanly) {
    Put("app.bin", ComponentImage("APP", kBuilt + 1, 400'000));
    sim::SimConfig config;
    config.fw_close_mid_transfer = true;
    Start(config);
    ASSERT_TRUE(m_upgrade->Start());
    ASSERT_TRUE(Pump([&] { return Count([](const auto& e) { return e.IsEvent("close"); }) > 0; }));
    // The window closes while the worker may still be sending; the shutdown joins it.
    m_upgrade->Close();
    m_session->DestroyWindow();
    EXPECT_FALSE(m_service->TransferRunning());
    EXPECT_EQ(Count([](const auto& e) { return e.IsEvent("fw-image"); }), 0u);
    const auto notifications = m_sink.Notifications();
    EXPECT_EQ(std::count(notifications.begin(), notifications.end(), std::pair<int, int>{8, 5}), 0);
}

}  // namespace
}  // namespace taviro::maintenance::test
