// Backup download rate: the client's whole backup path (session, reassembly of the
// TRANS_ON_DATA fragments, the writer thread's queue, CBackupWriter and the .vid/.idx pair on
// disk) against a plain loopback copy of the same bytes into a file on the same disk.
//
// The records of one range of the simulated recorder's archive (16 channels of 704 x 480 by
// default) are made once up front with the simulator's own backup stream and cut into
// TRANS_ON_DATA messages exactly as it sends them. A second process then serves them:
//   - the recorder: the simulator's services (login and the rest), with a backup service in
//     front that answers the size and sends the prepared messages as fast as the socket
//     takes them, so that the recorder side costs the same as the yardstick's sender and
//     only the receiving sides differ;
//   - the yardstick: a plain TCP connection that sends the same messages, read by a plain
//     loop here (header, payload, write() to a file in a temporary folder on the same disk);
//   - the simulator as it is, which codes every picture while it sends: for comparison, since
//     its encoder, not the client, sets that rate.
// This process is the client and nothing else, so its CPU time (getrusage) is the client's.
// Runs of the backup and the yardstick alternate; the medians are reported.
//
// With --clip each run also downloads the same range as a clip (archive::CClipTransferWriter:
// one MP4 file per channel instead of the pair), and the clip's rate is set against the
// backup's of the same run.
//
//   bench_backup [--seconds N] [--repeat N] [--fragment N] [--no-sim] [--clip] [--quick]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "archive/clip_transfer.h"
#include "bench_args.h"
#include "client/connection.h"
#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "platform/socket.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/packet_header.h"
#include "protocol/recorder_time.h"
#include "protocol/session_messages.h"
#include "recordings/backup_service.h"
#include "recordings/messages.h"
#include "sim/archive.h"
#include "sim/backup_stream.h"
#include "sim/connection.h"
#include "sim/live_stream.h"
#include "sim/recorder_sim.h"
#include "video/channel_views.h"

namespace {

using namespace taviro;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace msg = protocol::msg;

struct Options {
    int seconds = 60;  // of the archive's 2010-10-12 08:00:00 stretch, every channel
    int repeat = 3;
    std::uint16_t fragment = 16384;
    bool simRun = true;
    bool clip = false;  // a clip of the range in each run, too
};

void Usage() {
    std::printf(
        "usage: bench_backup [options]\n"
        "  --seconds N    seconds of 16-channel recording backed up, 1..5400 (60: about 650 MB)\n"
        "  --repeat N     runs of the backup and of the plain copy each, in turn (3)\n"
        "  --fragment N   payload bytes per TRANS_ON_DATA message, 1024..65535 (16384)\n"
        "  --no-sim       skip the run against the simulator coding on the fly\n"
        "  --clip         also a clip of the range (16 MP4 files) in each run, against the backup\n"
        "  --quick        a smoke run: 8 seconds, one run each, no simulator run\n");
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto take = [&](long low, long high) {
            return taviro::bench::TakeNumber(argc, argv, i, low, high);
        };
        if (arg == "--seconds") {
            const auto n = take(1, 5400);
            if (!n)
                return std::nullopt;
            o.seconds = static_cast<int>(*n);
        } else if (arg == "--repeat") {
            const auto n = take(1, 20);
            if (!n)
                return std::nullopt;
            o.repeat = static_cast<int>(*n);
        } else if (arg == "--fragment") {
            const auto n = take(1024, 65535);
            if (!n)
                return std::nullopt;
            o.fragment = static_cast<std::uint16_t>(*n);
        } else if (arg == "--no-sim") {
            o.simRun = false;
        } else if (arg == "--clip") {
            o.clip = true;
        } else if (arg == "--quick") {
            o.seconds = 8;
            o.repeat = 1;
            o.simRun = false;
        } else {
            return std::nullopt;
        }
    }
    return o;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

bool SendAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

bool RecvAll(int fd, std::uint8_t* out, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::recv(fd, out, count, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        out += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// ---- The prepared transfer --------------------------------------------------------------

struct Message {
    protocol::PacketHeader header;
    std::size_t offset = 0;  // into Recording::wire
    std::size_t size = 0;    // header and payload
};

struct Recording {
    std::vector<std::uint8_t> wire;  // every TRANS_ON_DATA message, back to back
    std::vector<Message> messages;
    std::uint64_t recordBytes = 0;  // payload bytes: what the client counts as received
    std::uint64_t videoRecords = 0;
    std::uint64_t exemptRecords = 0;  // the copies a clip leaves out
    std::uint64_t records = 0;
};

sim::BackupRange RangeOf(const Options& o, protocol::ChannelMask mask) {
    const protocol::RecorderTime start = *sim::DayStart(2010, 10, 12) + 8 * 3600;
    return sim::BackupRange{mask, 63, start, start + o.seconds};
}

std::optional<Recording> Prepare(const sim::SimConfig& config,
                                 const std::shared_ptr<const sim::SimArchive>& archive,
                                 const Options& o) {
    const protocol::ChannelMask channels = sim::RecorderChannels(config);
    const sim::BackupRange range = RangeOf(o, channels);
    Recording r;
    const std::uint64_t estimate = sim::EstimateBackupBytes(*archive, channels, range);
    r.wire.reserve(static_cast<std::size_t>(estimate + estimate / 256 + (1u << 20)));
    sim::BackupStreamOptions options;
    options.pocStep = config.live_poc_step;
    sim::CBackupStream stream(archive, channels, range, options);
    while (const auto record = stream.Next()) {
        for (const auto& fragment : sim::SplitStreamElement(
                 msg::TRANS_ON_DATA, record->bytes, record->seconds, o.fragment, false, 0)) {
            r.messages.push_back(Message{fragment.header, r.wire.size(), fragment.wire.size()});
            r.wire.insert(r.wire.end(), fragment.wire.begin(), fragment.wire.end());
        }
        r.recordBytes += record->bytes.size();
        r.videoRecords += record->kind == sim::BackupRecordKind::Video ? 1u : 0u;
        r.exemptRecords += record->exempt ? 1u : 0u;
        ++r.records;
    }
    if (stream.Failed() || r.records == 0) {
        std::fprintf(stderr, "bench_backup: the simulator's backup stream failed\n");
        return std::nullopt;
    }
    return r;
}

// ---- The recorder side (second process) -------------------------------------------------

// The recorder's backup service over the prepared messages: the size answer, then every
// message, TRANS_ON_DONE, and TRANS_OFF_ACK for the client's stop. Sends through the
// simulator's connection like its own backup service, but with blocking sends, as a
// recorder's network stack and the yardstick's sender do: the simulator's own service
// stops as soon as the socket is full and its connection then waits up to 20 ms for the
// client before it sends again, which caps it at about a socket buffer per 20 ms. Bursts
// of at most 20 ms, so that the client's messages are read in between.
class CPreparedBackup final : public sim::ISimService {
  public:
    explicit CPreparedBackup(const Recording& recording) : m_recording(recording) {}

    [[nodiscard]] bool Handles(std::uint16_t code) const override {
        return code == msg::TRANS_ON_REQ || code == msg::TRANS_DATA_REQ ||
               code == msg::TRANS_OFF_REQ || code == msg::CAPA_CAL_CANCEL;
    }
    void OnMessage(sim::CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t>) override {
        std::array<std::uint8_t, 4> word{};
        switch (header.Command()) {
            case msg::TRANS_ON_REQ:
                protocol::StoreBE32(word.data(), static_cast<std::uint32_t>(
                                                     (m_recording.recordBytes + 1023) / 1024));
                connection.Send(msg::TRANS_ON_ACK, word);
                return;
            case msg::TRANS_DATA_REQ:
                m_next = 0;
                m_running = true;
                return;
            case msg::TRANS_OFF_REQ:
                m_running = false;
                connection.Send(msg::TRANS_OFF_ACK, {});
                return;
            default:
                return;
        }
    }
    void Poll(sim::CSimConnection& connection) override {
        m_busy = false;
        if (!m_running) {
            return;
        }
        const auto deadline = Clock::now() + 20ms;
        while (Clock::now() < deadline) {
            if (m_next == m_recording.messages.size()) {
                m_running = false;
                connection.Send(msg::TRANS_ON_DONE, {});
                return;
            }
            const Message& m = m_recording.messages[m_next++];
            if (!connection.SendPrebuilt(m.header,
                                         std::span(m_recording.wire).subspan(m.offset, m.size))) {
                return;
            }
        }
        m_busy = true;
    }
    [[nodiscard]] bool Busy() const override { return m_busy; }

  private:
    const Recording& m_recording;
    std::size_t m_next = 0;
    bool m_running = false;
    bool m_busy = false;
};

// The second process: serves the prepared backup on `recorder`, the plain copy on `plain`,
// and runs the simulator as it is (its port in config.port_file), until `control` reaches
// its end.
[[noreturn]] void ServeRecorders(const Recording& recording, const sim::SimConfig& config,
                                 std::shared_ptr<const sim::SimArchive> archive,
                                 platform::CSocket recorder, platform::CSocket plain, int control,
                                 bool simRun) {
    std::atomic<bool> stop{false};
    sim::CJournal journal;
    std::thread prepared([&] {
        while (!stop.load()) {
            platform::CSocket client = platform::AcceptWithTimeout(recorder, 100ms);
            if (!client.Valid()) {
                continue;
            }
            std::vector<std::unique_ptr<sim::ISimService>> services;
            services.push_back(std::make_unique<CPreparedBackup>(recording));
            for (auto& s : sim::MakeServices(config, archive)) {
                services.push_back(std::move(s));
            }
            sim::CSimConnection connection(std::move(client), journal, config.read_timeout);
            connection.Run(services, stop);
        }
    });
    std::thread copy([&] {
        while (!stop.load()) {
            platform::CSocket client = platform::AcceptWithTimeout(plain, 100ms);
            if (!client.Valid()) {
                continue;
            }
            for (const Message& m : recording.messages) {
                if (!SendAll(client.Fd(), std::span(recording.wire).subspan(m.offset, m.size))) {
                    break;
                }
            }
            client.ShutdownSend();
            // Until the reader has taken everything and closed its end.
            std::uint8_t byte = 0;
            while (::recv(client.Fd(), &byte, 1, 0) > 0) {
            }
        }
    });
    std::unique_ptr<sim::CRecorderSim> live;
    if (simRun) {
        live = std::make_unique<sim::CRecorderSim>(config);
        if (!live->Start()) {
            std::fprintf(stderr, "bench_backup: the simulator did not start: %s\n",
                         live->LastError().c_str());
        }
    }
    // Until the client's end of the pipe closes.
    char byte = 0;
    for (;;) {
        const ssize_t n = ::read(control, &byte, 1);
        if (n == 0 || (n < 0 && errno != EINTR)) {
            break;
        }
    }
    stop = true;
    if (live) {
        live->Stop();
    }
    prepared.join();
    copy.join();
    std::fflush(stderr);
    _exit(0);
}

// ---- The client side (this process) ------------------------------------------------------

struct RunResult {
    bool ok = false;
    std::uint64_t bytes = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    std::string note;
    [[nodiscard]] double Rate() const { return static_cast<double>(bytes) / 1e6 / seconds; }
    [[nodiscard]] double CpuPerMb() const {
        return cpuSeconds * 1e3 / (static_cast<double>(bytes) / 1e6);
    }
};

// One backup through the client's own connection, as the command-line client drives it:
// login, the size, the start, recordings::WM_BACKUP_FINISHED. Timed from the start to the pair
// closed.
// With `clip` the range goes into one MP4 file per channel instead of a pair.
RunResult RunBackup(std::uint16_t port, const std::filesystem::path& folder,
                    const sim::BackupRange& range, const Recording* expected, bool clip = false) {
    RunResult result;
    platform::CQueueSink sink;
    video::CChannelViews views;
    auto localLog = std::make_shared<logs::CLocalLog>(folder / "store");
    protocol::SessionConfig config;
    config.address = "127.0.0.1";
    config.port = port;
    config.userId = "admin";
    config.password = "1234";
    client::CConnection connection(sink, 1, localLog, views, config, {});
    connection.Start();
    const auto waitFor = [&](std::uint32_t message,
                             std::chrono::seconds limit) -> std::optional<platform::PostedMessage> {
        const auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            if (auto m = sink.Take(100ms); m && m->message == message) {
                return m;
            }
        }
        return std::nullopt;
    };
    if (!waitFor(protocol::WM_SESSION_LOGGED_IN, 15s)) {
        result.note = "no login";
        return result;
    }
    recordings::CBackupService& backup = connection.Backup();
    recordings::BackupTarget target;
    target.folder = folder / "Download";
    std::shared_ptr<archive::CClipTransferWriter> clipWriter;
    if (clip) {
        archive::ClipSetup setup;
        setup.from = static_cast<std::uint32_t>(range.start);
        setup.to = static_cast<std::uint32_t>(range.end);
        setup.channels = range.mask & 0xFFFFu;
        setup.folder = target.folder;
        setup.name = [](int channel, int part) {
            return "ch" + std::to_string(channel + 1) + "_" + std::to_string(part) + ".mp4";
        };
        target.makeWriter = [&clipWriter, setup] {
            clipWriter = std::make_shared<archive::CClipTransferWriter>(setup);
            return clipWriter;
        };
    }
    backup.SetTarget(target);
    const recordings::BackupRange request{range.mask, range.start, range.end};
    if (!backup.RequestCapacity(request)) {
        result.note = "the size request could not be sent";
        return result;
    }
    const auto capacity = waitFor(recordings::WM_BACKUP_CAPACITY, 60s);
    if (!capacity || capacity->lParam != 1) {
        result.note = capacity ? "the backup does not fit the disk" : "no size answer";
        return result;
    }
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    if (!backup.Start(request)) {
        result.note = "the backup could not be started";
        return result;
    }
    const bool finished = waitFor(recordings::WM_BACKUP_FINISHED, 600s).has_value();
    result.seconds = Seconds(Clock::now() - start);
    result.cpuSeconds = CpuSeconds() - cpu0;
    const auto outcome = backup.LastOutcome();
    connection.Close(client::CloseKind::kDisconnect);
    if (!finished || !outcome) {
        result.note = "the backup did not finish";
        return result;
    }
    result.bytes = outcome->bytesReceived;
    if (clipWriter) {
        const archive::ExportResult& files = clipWriter->Result();
        std::uint64_t frames = 0;
        std::uintmax_t size = 0;
        for (const archive::ExportedFile& file : files.files) {
            frames += file.frames;
            std::error_code ignored;
            size += std::filesystem::file_size(file.path, ignored);
        }
        if (outcome->failed || !files.ok ||
            (expected != nullptr && frames != expected->videoRecords - expected->exemptRecords)) {
            result.note = outcome->failed ? outcome->error
                                          : std::to_string(frames) + " frames in " +
                                                std::to_string(files.files.size()) + " files";
            return result;
        }
        result.note = std::to_string(frames) + " frames in " + std::to_string(files.files.size()) +
                      " files, " + std::to_string(size / 1'000'000) + " MB";
        result.ok = true;
        return result;
    }
    if (outcome->failed || outcome->pairs.size() != 1) {
        result.note = outcome->failed ? outcome->error
                                      : std::to_string(outcome->pairs.size()) + " pairs written";
        return result;
    }
    const archive::PairSummary& pair = outcome->pairs.front();
    if (expected != nullptr &&
        (result.bytes != expected->recordBytes || pair.videoFrames != expected->videoRecords)) {
        result.note = "received " + std::to_string(result.bytes) + " bytes and " +
                      std::to_string(pair.videoFrames) + " frames, sent " +
                      std::to_string(expected->recordBytes) + " and " +
                      std::to_string(expected->videoRecords);
        return result;
    }
    std::error_code error;
    result.note = std::to_string(pair.videoFrames) + " frames, .vid " +
                  std::to_string(std::filesystem::file_size(pair.vid, error) / 1'000'000) + " MB";
    result.ok = true;
    return result;
}

// The yardstick: the same messages over a plain TCP connection, each payload written to a
// file as it arrives (header, payload, write()), the file synced at the end as the backup
// writer syncs its pair. Timed from the connect to the file closed.
RunResult RunPlainCopy(std::uint16_t port, const std::filesystem::path& folder,
                       std::size_t fragment) {
    RunResult result;
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "plain.bin").string();
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    platform::CSocket socket = platform::CSocket::CreateTcp();
    const auto address = platform::ParseIPv4("127.0.0.1", port);
    if (!address ||
        platform::ConnectWithTimeout(socket, *address, 5s) != platform::ConnectResult::Ok) {
        result.note = "no connection";
        return result;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        result.note = "cannot create " + path;
        return result;
    }
    std::vector<std::uint8_t> payload(std::max<std::size_t>(fragment, protocol::kMaxPayload));
    std::array<std::uint8_t, protocol::kHeaderSize> head{};
    bool ok = true;
    while (ok && RecvAll(socket.Fd(), head.data(), head.size())) {
        const auto header = protocol::PacketHeader::FromNetwork(head.data());
        const std::size_t length = header.Length();
        ok = RecvAll(socket.Fd(), payload.data(), length);
        std::size_t done = 0;
        while (ok && done < length) {
            const ssize_t n = ::write(fd, payload.data() + done, length - done);
            ok = n > 0;
            done += ok ? static_cast<std::size_t>(n) : 0;
        }
        result.bytes += ok ? length : 0;
    }
    // The backup writer syncs its pair when it closes it; so does the copy.
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    result.seconds = Seconds(Clock::now() - start);
    result.cpuSeconds = CpuSeconds() - cpu0;
    result.ok = ok;
    result.note = ok ? "" : "a read or write failed";
    return result;
}

std::uint16_t ReadPort(const std::filesystem::path& file) {
    for (int i = 0; i < 400; ++i) {
        std::ifstream in(file);
        int port = 0;
        if (in >> port && port > 0) {
            return static_cast<std::uint16_t>(port);
        }
        std::this_thread::sleep_for(25ms);
    }
    return 0;
}

void PrintRun(const char* what, int run, const RunResult& r) {
    if (!r.ok) {
        std::printf("  run %d %s FAILED: %s\n", run, what, r.note.c_str());
        return;
    }
    std::printf("  run %d %s %7.1f MB in %6.3f s = %6.1f MB/s, client CPU %5.2f ms per MB%s%s\n",
                run, what, static_cast<double>(r.bytes) / 1e6, r.seconds, r.Rate(), r.CpuPerMb(),
                r.note.empty() ? "" : "  ", r.note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = ParseOptions(argc, argv);
    if (!parsed) {
        Usage();
        return 2;
    }
    const Options o = *parsed;
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                          ("taviro-bench-backup-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);

    sim::SimConfig config;
    config.live_fps = 25;
    config.live_gop = 25;
    config.backup_fragment_size = o.fragment;
    config.port_file = (scratch / "sim-port").string();
    std::string error;
    const auto loaded = sim::LoadArchive(config, &error);
    if (!loaded) {
        std::fprintf(stderr, "bench_backup: %s\n", error.c_str());
        return 1;
    }
    const auto archive = std::make_shared<const sim::SimArchive>(*loaded);
    const sim::BackupRange range = RangeOf(o, sim::RecorderChannels(config));

    std::printf(
        "bench_backup: %d s of 16 channels, 704x480, 25 frames/s, from 2010-10-12 08:00:00; "
        "%u-byte TRANS_ON_DATA messages; scratch %s\n",
        o.seconds, static_cast<unsigned>(o.fragment), scratch.string().c_str());
    std::printf("load average at start: %s\n", LoadAverage().c_str());
    const auto prepareStart = Clock::now();
    const auto recording = Prepare(config, archive, o);
    if (!recording) {
        return 1;
    }
    std::printf("prepared: %llu records (%llu video), %.1f MB in %zu messages, made in %.1f s\n",
                static_cast<unsigned long long>(recording->records),
                static_cast<unsigned long long>(recording->videoRecords),
                static_cast<double>(recording->recordBytes) / 1e6, recording->messages.size(),
                Seconds(Clock::now() - prepareStart));

    platform::CSocket recorderListener = platform::ListenTcp("127.0.0.1", 0);
    platform::CSocket plainListener = platform::ListenTcp("127.0.0.1", 0);
    int control[2] = {-1, -1};
    if (!recorderListener.Valid() || !plainListener.Valid() || ::pipe(control) != 0) {
        std::fprintf(stderr, "bench_backup: cannot listen\n");
        return 1;
    }
    const std::uint16_t recorderPort = platform::BoundPort(recorderListener);
    const std::uint16_t plainPort = platform::BoundPort(plainListener);
    // The recorder side runs in a process of its own, so that this process's CPU time is the
    // client's alone. No thread has been started yet, so the fork is safe.
    std::fflush(stdout);
    const pid_t server = ::fork();
    if (server < 0) {
        std::fprintf(stderr, "bench_backup: fork failed\n");
        return 1;
    }
    if (server == 0) {
        ::close(control[1]);
        ServeRecorders(*recording, config, archive, std::move(recorderListener),
                       std::move(plainListener), control[0], o.simRun);
    }
    ::close(control[0]);
    recorderListener.Close();
    plainListener.Close();

    bool allOk = true;
    std::vector<double> backupRates, plainRates, backupCpu, plainCpu, ratios;
    std::vector<double> clipRates, clipCpu, clipRatios;
    std::printf("\n%d runs each, in turn (MB = 10^6 bytes of records; the client's CPU time)\n",
                o.repeat);
    for (int run = 1; run <= o.repeat; ++run) {
        const auto folder = scratch / ("run-" + std::to_string(run));
        const RunResult b = RunBackup(recorderPort, folder, range, &*recording);
        PrintRun("backup:    ", run, b);
        std::filesystem::remove_all(folder);
        const RunResult p = RunPlainCopy(plainPort, folder, o.fragment);
        if (p.ok && p.bytes != recording->recordBytes) {
            std::printf("  run %d plain copy: %llu bytes instead of %llu\n", run,
                        static_cast<unsigned long long>(p.bytes),
                        static_cast<unsigned long long>(recording->recordBytes));
            allOk = false;
        }
        PrintRun("plain copy:", run, p);
        std::filesystem::remove_all(folder);
        if (o.clip) {
            const RunResult c = RunBackup(recorderPort, folder, range, &*recording, true);
            PrintRun("clip:      ", run, c);
            std::filesystem::remove_all(folder);
            allOk = allOk && c.ok;
            if (c.ok && b.ok) {
                clipRatios.push_back(c.Rate() / b.Rate());
                clipRates.push_back(c.Rate());
                clipCpu.push_back(c.CpuPerMb());
            }
        }
        allOk = allOk && b.ok && p.ok;
        if (b.ok && p.ok) {
            backupRates.push_back(b.Rate());
            plainRates.push_back(p.Rate());
            backupCpu.push_back(b.CpuPerMb());
            plainCpu.push_back(p.CpuPerMb());
            ratios.push_back(b.Rate() / p.Rate());
        }
    }
    std::optional<RunResult> simResult;
    if (o.simRun) {
        const std::uint16_t simPort = ReadPort(config.port_file);
        if (simPort == 0) {
            std::printf("  simulator: did not start\n");
            allOk = false;
        } else {
            const auto folder = scratch / "sim";
            simResult = RunBackup(simPort, folder, range, nullptr);
            PrintRun("simulator: ", 1, *simResult);
            std::filesystem::remove_all(folder);
            allOk = allOk && simResult->ok;
        }
    }
    ::close(control[1]);
    int status = 0;
    ::waitpid(server, &status, 0);
    std::filesystem::remove_all(scratch);

    if (!backupRates.empty()) {
        const double backup = taviro::bench::Median(backupRates);
        const double plain = taviro::bench::Median(plainRates);
        std::printf(
            "\nmedian of %zu: backup %.1f MB/s (%.2f ms CPU per MB), plain copy %.1f MB/s "
            "(%.2f ms CPU per MB)\n",
            backupRates.size(), backup, taviro::bench::Median(backupCpu), plain,
            taviro::bench::Median(plainCpu));
        std::printf("backup / plain copy: %.3f (median of the runs' ratios %.3f; target 0.8)\n",
                    backup / plain, taviro::bench::Median(ratios));
    }
    if (!clipRates.empty()) {
        std::printf(
            "clip %.1f MB/s (%.2f ms CPU per MB); clip / backup: median of the runs' "
            "ratios %.3f (target 0.9)\n",
            taviro::bench::Median(clipRates), taviro::bench::Median(clipCpu),
            taviro::bench::Median(clipRatios));
    }
    if (simResult && simResult->ok) {
        std::printf("against the simulator coding on the fly: %.1f MB/s (%.2f ms CPU per MB)\n",
                    simResult->Rate(), simResult->CpuPerMb());
    }
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    return allOk ? 0 : 1;
}
