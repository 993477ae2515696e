// The simulated recorder: a TCP server that plays the recorder's side of the protocol for
// one client at a time. Tests run it in-process; taviro-recorder-sim wraps it for scripts
// and for trying the desktop client without hardware.
//
//   CRecorderSim sim(config);
//   if (!sim.Start()) { ... sim.LastError() ... }
//   connect to 127.0.0.1:sim.Port(), speak the protocol, look at sim.Journal()
//   sim.Stop();   // or let the destructor do it
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "sim/archive.h"
#include "sim/camera_loop.h"
#include "sim/connection.h"
#include "sim/journal.h"
#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

// The services one client is served by, in dispatch order: login, live, device, talk,
// recordings (month and day index, playback), then the faults. `archive` is what the
// recordings services serve; `camera` holds the camera channels' live video loops.
std::vector<std::unique_ptr<ISimService>> MakeServices(
    const SimConfig& config, std::shared_ptr<const SimArchive> archive,
    std::shared_ptr<const CCameraLoops> camera = nullptr);

class CRecorderSim {
  public:
    explicit CRecorderSim(SimConfig config);
    ~CRecorderSim();
    CRecorderSim(const CRecorderSim&) = delete;
    CRecorderSim& operator=(const CRecorderSim&) = delete;

    // Checks the configuration, loads the archive, opens the journal, binds and listens,
    // writes the port file and starts the server thread. False (see LastError) when any of that
    // fails or when already started.
    bool Start();
    // Ends the current connection, stops accepting and joins the server thread.
    // Idempotent; safe to call from any thread but the server thread.
    void Stop();

    // The bound port (useful with port 0); 0 before Start.
    [[nodiscard]] std::uint16_t Port() const { return m_port.load(); }
    // True from Start until the server thread ends (Stop, or the first client with `once`).
    [[nodiscard]] bool Running() const { return m_running.load(); }
    // With `once`: waits until the first client is done. False on timeout.
    bool WaitUntilFinished(std::chrono::milliseconds timeout) const;
    // Clients accepted so far / connections that have ended.
    [[nodiscard]] std::uint32_t ClientsAccepted() const { return m_accepted.load(); }
    // Connections the drop fault has cut so far.
    [[nodiscard]] std::uint32_t Drops() const { return m_drops.load(); }
    [[nodiscard]] std::uint32_t ClientsServed() const { return m_served.load(); }
    [[nodiscard]] std::string LastError() const;

    // The journal kept in memory (also written to SimConfig::journal_path when set).
    [[nodiscard]] std::vector<JournalEntry> Journal() const { return m_journal.Entries(); }
    bool WaitForJournal(const CJournal::Predicate& predicate,
                        std::chrono::milliseconds timeout) const {
        return m_journal.WaitFor(predicate, timeout);
    }

    [[nodiscard]] const SimConfig& Config() const { return m_config; }
    // The camera channels' loops, encoding in the background from Start (null without
    // camera channels). Call from the thread that called Start.
    [[nodiscard]] std::shared_ptr<const CCameraLoops> CameraLoops() const { return m_camera; }

  private:
    void Serve();
    void ServeClient(platform::CSocket client);

    const SimConfig m_config;
    // Loaded by Start; the recordings every client sees.
    std::shared_ptr<const SimArchive> m_archive;
    // Made by Start when camera channels stream; shared with every client's live service.
    std::shared_ptr<const CCameraLoops> m_camera;
    CJournal m_journal;
    platform::CSocket m_listener;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    std::atomic<std::uint16_t> m_port{0};
    std::atomic<std::uint32_t> m_accepted{0};
    std::atomic<std::uint32_t> m_drops{0};  // connections cut by the drop fault
    std::atomic<std::uint32_t> m_served{0};
    CConnectionAbort m_abort;
    mutable std::mutex m_controlLock;  // Start, Stop and the error text
    mutable std::mutex m_finishLock;
    mutable std::condition_variable m_finished;
    std::string m_error;
};

}  // namespace taviro::sim
