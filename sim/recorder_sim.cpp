#include "sim/recorder_sim.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/trace.h"
#include "sim/backup_service.h"
#include "sim/device_service.h"
#include "sim/event_service.h"
#include "sim/fault_script.h"
#include "sim/firmware_service.h"
#include "sim/live_service.h"
#include "sim/log_service.h"
#include "sim/login_service.h"
#include "sim/playback_service.h"
#include "sim/ptz_service.h"
#include "sim/search_service.h"
#include "sim/status_service.h"
#include "sim/talk_service.h"

namespace taviro::sim {

namespace {

using Clock = std::chrono::steady_clock;

// The accept loop wakes this often to look at the stop flag.
constexpr std::chrono::milliseconds kAcceptStep{100};

std::string PeerText(const platform::CSocket& socket) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getpeername(socket.Fd(), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

// Written to a neighbour first and renamed, so a script polling for the file never reads
// half a number.
bool WritePortFile(const std::string& path, std::uint16_t port) {
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fprintf(f, "%u\n", static_cast<unsigned>(port)) > 0;
    if (std::fclose(f) != 0 || !ok) {
        std::remove(temp.c_str());
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

}  // namespace

std::vector<std::unique_ptr<ISimService>> MakeServices(const SimConfig& config,
                                                       std::shared_ptr<const SimArchive> archive,
                                                       std::shared_ptr<const CCameraLoops> camera) {
    std::vector<std::unique_ptr<ISimService>> services;
    services.push_back(std::make_unique<CLoginService>(config));
    services.push_back(std::make_unique<CLiveService>(config, std::move(camera)));
    services.push_back(std::make_unique<CDeviceService>(config));
    services.push_back(std::make_unique<CTalkService>(config));
    services.push_back(std::make_unique<CSearchService>(config, archive));
    services.push_back(std::make_unique<CPlaybackService>(config, archive));
    services.push_back(std::make_unique<CBackupService>(config, archive));
    services.push_back(std::make_unique<CEventService>(config, *archive));
    services.push_back(std::make_unique<CLogService>(config));
    services.push_back(std::make_unique<CStatusService>(config));
    services.push_back(std::make_unique<CFirmwareService>(config));
    services.push_back(std::make_unique<CPtzService>(config));
    // New services (logs, PTZ, firmware ...) go here, before the faults.
    services.push_back(std::make_unique<CFaultScript>(config));
    return services;
}

CRecorderSim::CRecorderSim(SimConfig config) : m_config(std::move(config)) {}

CRecorderSim::~CRecorderSim() {
    Stop();
}

bool CRecorderSim::Start() {
    std::lock_guard lock(m_controlLock);
    if (m_thread.joinable()) {
        m_error = "already started";
        return false;
    }
    m_error = ValidateConfig(m_config);
    if (!m_error.empty()) {
        return false;
    }
    auto archive = LoadArchive(m_config, &m_error);
    if (!archive) {
        return false;
    }
    m_archive = std::make_shared<const SimArchive>(std::move(*archive));
    // Encoding the camera loops takes seconds: it runs beside the server, and channels
    // send the test pattern until their loop is ready.
    m_camera.reset();
    if (m_config.live_stream && m_config.camera_channels != 0) {
        m_camera = std::make_shared<const CCameraLoops>(m_config.live_width, m_config.live_height,
                                                        m_config.camera_channels);
    }
    m_journal.SetStart(Clock::now());
    m_journal.SetEcho(m_config.verbose);
    if (!m_config.journal_path.empty() && !m_journal.OpenFile(m_config.journal_path)) {
        m_error = "cannot write the journal " + m_config.journal_path + ": " + std::strerror(errno);
        return false;
    }
    m_listener = platform::ListenTcp(m_config.bind_address, m_config.port);
    if (m_listener.Valid() && m_config.receive_buffer > 0) {
        // Accepted sockets take it over from the listener.
        m_listener.SetReceiveBuffer(m_config.receive_buffer);
    }
    if (!m_listener.Valid()) {
        m_error = "cannot listen on " + m_config.bind_address + ":" +
                  std::to_string(m_config.port) + ": " + std::strerror(errno);
        return false;
    }
    m_port.store(platform::BoundPort(m_listener));
    if (!m_config.port_file.empty() && !WritePortFile(m_config.port_file, m_port.load())) {
        m_error = "cannot write the port file " + m_config.port_file;
        m_listener.Close();
        return false;
    }
    m_stop.store(false);
    m_running.store(true);
    m_journal.Event("listen", m_config.bind_address + ":" + std::to_string(m_port.load()));
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void CRecorderSim::Stop() {
    std::lock_guard lock(m_controlLock);
    m_stop.store(true);
    m_abort.Abort();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_listener.Close();
}

bool CRecorderSim::WaitUntilFinished(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_finishLock);
    return m_finished.wait_for(lock, timeout, [this] { return !m_running.load(); });
}

std::string CRecorderSim::LastError() const {
    std::lock_guard lock(m_controlLock);
    return m_error;
}

void CRecorderSim::Serve() {
    while (!m_stop.load()) {
        const auto before = Clock::now();
        platform::CSocket client = platform::AcceptWithTimeout(m_listener, kAcceptStep);
        if (!client.Valid()) {
            // A failing accept (out of descriptors, say) returns at once; do not spin on it.
            if (Clock::now() - before < std::chrono::milliseconds(5)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            continue;
        }
        ServeClient(std::move(client));
        if (m_config.once) {
            break;
        }
    }
    {
        std::lock_guard lock(m_finishLock);
        m_running.store(false);
    }
    m_finished.notify_all();
}

void CRecorderSim::ServeClient(platform::CSocket client) {
    m_accepted.fetch_add(1);
    const std::string peer = PeerText(client);
    m_journal.Event("accept", peer);
    platform::Trace("sim: client %s connected\n", peer.c_str());
    // Fresh services per client: nothing one client did leaks into the next one's session.
    // A one-time drop has happened once it cut a connection; later clients keep theirs.
    SimConfig config = m_config;
    if (!config.drop_repeat && m_drops.load() > 0) {
        config.drop_after.reset();
    }
    const auto services = MakeServices(config, m_archive, m_camera);
    CSimConnection connection(std::move(client), m_journal, m_config.read_timeout, &m_abort);
    connection.SetStopReadingAfter(m_config.stop_reading_after);
    const std::string why = connection.Run(services, m_stop);
    if (why == kDropReason) {
        m_drops.fetch_add(1);
    }
    platform::Trace("sim: client done (%s)\n", why.c_str());
    m_served.fetch_add(1);
}

}  // namespace taviro::sim
