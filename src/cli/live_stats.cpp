#include "cli/live_stats.h"

#include <algorithm>
#include <cstdio>

#include "video/stream_stats.h"

namespace taviro::cli {

namespace {

void PrintStats(CCommandSession& command, long long second, const video::StreamStats& stats) {
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        const video::ChannelStats& s = stats[static_cast<std::size_t>(c)];
        if (!s.active)
            continue;
        const auto dropped = static_cast<unsigned long long>(s.dropped);
        const auto total = static_cast<unsigned long long>(s.droppedTotal);
        char line[400];
        if (command.Json()) {
            std::snprintf(line, sizeof line,
                          "{\"event\":\"stats\",\"second\":%lld,\"channel\":%d,\"kbps\":%.1f,"
                          "\"received_fps\":%.1f,\"decoded_fps\":%.1f,\"shown_fps\":%.1f,"
                          "\"dropped\":%llu,\"dropped_total\":%llu,\"decode_ms\":%.3f}",
                          second, c + 1, s.kbps, s.receivedFps, s.decodedFps, s.shownFps, dropped,
                          total, s.decodeMs);
        } else {
            std::snprintf(line, sizeof line,
                          "stats %3llds ch%02d  %8.1f kbit/s  in %5.1f fps  decoded %5.1f  "
                          "shown %5.1f  dropped %llu (%llu)  decode %.2f ms",
                          second, c + 1, s.kbps, s.receivedFps, s.decodedFps, s.shownFps, dropped,
                          total, s.decodeMs);
        }
        command.Sink().PrintLine(line);
    }
}

}  // namespace

CStatsPrinter::CStatsPrinter(CCommandSession& command)
    : m_command(command), m_start(Clock::now()), m_last(m_start) {}

int CStatsPrinter::Stay(std::chrono::milliseconds duration) {
    const Clock::time_point end = Clock::now() + duration;
    for (;;) {
        const Clock::time_point now = Clock::now();
        // Seconds count from the start, so a late sample does not push the later ones back.
        // Seconds that went by without a sample (the connection was away) make one sample
        // over the whole gap, numbered with the last second passed.
        const auto passed = std::chrono::duration_cast<std::chrono::seconds>(now - m_start);
        if (passed.count() >= m_second) {
            m_second = passed.count();
            // A new connection after a reconnect counts from zero; the sampler takes a
            // counter that went back from where it is now.
            if (m_command.HasConnection()) {
                client::CConnection& connection = m_command.Connection();
                if (connection.Generation() != m_generation) {
                    m_generation = connection.Generation();
                    m_sampler.NewSource();  // a new connection counts from zero
                }
                const video::StreamStats& stats = m_sampler.Sample(
                    video::CollectCounters(&connection.Frames(), &connection.Pipeline().Decoders()),
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - m_last));
                PrintStats(m_command, m_second, stats);
            }
            m_last = now;
            ++m_second;
        }
        const auto next = m_start + std::chrono::seconds(m_second);
        if (next > end) {
            return m_command.Stay(Left(end));
        }
        // A connection that ends part way through a second gives no sample of that part.
        if (const int status = m_command.Stay(Left(next)); status != kExitOk) {
            return status;
        }
    }
}

std::chrono::milliseconds CStatsPrinter::Left(Clock::time_point until) {
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()),
                    std::chrono::milliseconds(0));
}

int StayPrintingStats(CCommandSession& command, std::chrono::seconds duration) {
    CStatsPrinter printer(command);
    return printer.Stay(duration);
}

}  // namespace taviro::cli
