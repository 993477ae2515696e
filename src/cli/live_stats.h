// `taviro-cli live --stats`: while live view runs, every channel's stream statistics once a
// second, as JSON lines (--json) or text lines. The JSON line is a contract for scripts:
//
//   {"event":"stats","second":N,"channel":C,"kbps":K,"received_fps":R,"decoded_fps":D,
//    "shown_fps":S,"dropped":X,"dropped_total":T,"decode_ms":M}
//
// second: 1, 2, ... since live view was joined; channel: 1..16; kbps: kbit/s (1000 bits) of
// video payload handed to the channel's queue; received_fps: video elements handed to it per
// second; decoded_fps: pictures decoded; shown_fps: pictures handed to the view for display
// (there is no screen here); dropped: frames dropped in this second (dropped_total: since
// the start); decode_ms: mean time in the decoder library per frame of this second. A line
// is printed for a channel only in a second in which something arrived, or was decoded or
// dropped.
//
// Thread: the command's own (the one that runs the connection's loop).
#pragma once

#include <chrono>

#include "cli/command_session.h"
#include "video/stream_stats.h"

namespace taviro::cli {

// The statistics of one command run, across the connections a reconnect makes: seconds
// count from construction, and each Stay prints at every whole second it passes.
class CStatsPrinter {
  public:
    explicit CStatsPrinter(CCommandSession& command);
    // Like CCommandSession::Stay for `duration`, printing on the way; returns its status.
    int Stay(std::chrono::milliseconds duration);

  private:
    using Clock = std::chrono::steady_clock;
    static std::chrono::milliseconds Left(Clock::time_point until);

    CCommandSession& m_command;
    video::CStreamStatsSampler m_sampler;
    Clock::time_point m_start;
    Clock::time_point m_last;
    long long m_second = 1;
    std::uint32_t m_generation = 0;  // of the connection the sampler measures
};

// Stays in the session for `duration` like CCommandSession::Stay, sampling and printing the
// statistics at every whole second. Returns Stay's status.
int StayPrintingStats(CCommandSession& command, std::chrono::seconds duration);

}  // namespace taviro::cli
