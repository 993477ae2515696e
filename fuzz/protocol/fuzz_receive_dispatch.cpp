// The hostile recorder: the input is everything a recorder sends after the client's
// HELLO, byte for byte. A session sits on one end of a socket pair; a second thread plays
// the recorder on the other end, writes the input, closes its sending side and drops
// whatever the client sends. Whatever the bytes, the session must read them, end the
// connection, shut down, and leak nothing.
//
// The fuzzing thread itself runs the receive loop, one ReceiveOneMessage() after the
// other, so a finding replays the same way every time.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <thread>

#include "../fuzz_check.h"
#include "platform/message_sink.h"
#include "platform/socket.h"
#include "protocol/client_session.h"
#include "recordings/playback_service.h"
#include "recordings/search_service.h"
#include "stream/consumer_slots.h"
#include "stream/stream_frames.h"
#include "stream/stream_state.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace platform = taviro::platform;
namespace protocol = taviro::protocol;
namespace stream = taviro::stream;
namespace recordings = taviro::recordings;

constexpr std::size_t kMaxInput = 256 * 1024;
// Far above what one input needs (milliseconds); reaching it means the session hangs.
constexpr auto kSessionDeadline = 5s;

// Writes `stream` to the client, then half-closes. Reads and drops everything the client
// sends (HELLO, live request, keep-alive) so the client's sends never stall, until the
// client closes its end or the deadline passes.
void PlayRecorder(const platform::CSocket& peer, std::span<const std::uint8_t> stream,
                  Clock::time_point deadline) {
    std::size_t sent = 0;
    bool halfClosed = false;
    std::uint8_t scratch[4096];
    for (;;) {
        if (!halfClosed && sent == stream.size()) {
            ::shutdown(peer.Fd(), SHUT_WR);
            halfClosed = true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            return;
        }
        pollfd p{peer.Fd(), static_cast<short>(POLLIN | (halfClosed ? 0 : POLLOUT)), 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min(left, 100ms).count()));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (p.revents & POLLIN) {
            const ssize_t k = ::recv(peer.Fd(), scratch, sizeof scratch, MSG_DONTWAIT);
            if (k == 0) {
                return;  // the client has closed its end
            }
            if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return;
            }
        } else if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            return;
        }
        if (!halfClosed && (p.revents & POLLOUT)) {
            const ssize_t k = ::send(peer.Fd(), stream.data() + sent, stream.size() - sent,
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (k > 0) {
                sent += static_cast<std::size_t>(k);
            } else if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return;  // the client is gone before the end of the stream
            }
        }
    }
}

// Runs the receive loop on the fuzzing thread over `client` until the stream is used up;
// false when it did not end before the deadline.
bool RunSession(protocol::CClientSession& session, platform::CSocket client,
                Clock::time_point deadline) {
    session.Transport().AttachConnected(std::move(client));
    // Every pass takes at least a header off the stream, and a read gives up after the
    // receive limit, so this ends once the recorder has closed.
    while (Clock::now() < deadline) {
        if (!session.Transport().ReceiveOneMessage()) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    auto pair = platform::MakeSocketPair();
    if (!pair) {
        // Out of descriptors: something earlier leaked them.
        std::perror("socketpair");
        std::abort();
    }

    platform::CNullSink sink;
    protocol::SessionConfig config;
    config.address = "127.0.0.1";
    config.port = 4000;
    config.userId = "admin";
    config.password = "1234";
    config.recvLimit = 200ms;
    config.closeGrace = 0ms;
    {
        // The video side is attached as in live view, so stream pieces and the channel
        // info go through reassembly, parsing and queueing too.
        stream::CStreamState state;
        stream::CConsumerSlots slots;
        for (int c = 0; c < protocol::kMaxChannels; ++c) {
            slots.AttachVideo(c, std::make_shared<stream::CVideoQueue>());
        }
        slots.AttachAudio(std::make_shared<stream::CAudioQueue>());
        state.SetProductType(size % 2 == 0 ? 3 : 5);  // both byte orders of the stream records
        stream::CStreamFrames frames(state, slots);
        // The session with its core services (login, live view and device, talk), and the
        // recordings services: a month or day list is outstanding (which one the input's
        // size picks) and a playback request, so their answers and the play data are read
        // as after a real request.
        protocol::CClientSession session(sink, nullptr, config);
        session.Live().SetStreamReceiver(&frames);
        recordings::CSearchService search(session.Transport());
        recordings::CPlaybackService playback(session.Transport(), session.Login(), state);
        session.Transport().AddService(search);
        session.Transport().AddService(playback);
        playback.SetStreamReceiver(&frames);
        playback.SetRealTimePacing(false);
        frames.SetPlayGate(&playback);
        const auto side =
            (size / 2) % 2 == 0 ? recordings::SearchSide::Playback : recordings::SearchSide::Backup;
        if ((size / 4) % 2 == 0)
            search.RequestMonths(side);
        else
            search.RequestDay(side, 2010, 9, 11);
        recordings::PlayRequest request;
        request.channels = protocol::kAllChannels;
        playback.StartPlayback(request);
        const auto deadline = Clock::now() + kSessionDeadline;
        std::thread recorder(PlayRecorder, std::cref(pair->second), std::span(data, size),
                             deadline);
        // The bounded wait turns a hang into a finding instead of a stuck run.
        const bool ended = RunSession(session, std::move(pair->first), deadline);
        session.DestroyWindow();
        recorder.join();
        if (!ended) {
            std::fprintf(stderr, "session still reading after %lld s\n",
                         static_cast<long long>(kSessionDeadline.count()));
            std::abort();
        }
        TAVIRO_FUZZ_CHECK(!session.Transport().ReceiveThreadRunning());
        TAVIRO_FUZZ_CHECK(!session.Transport().KeepAliveRunning());
        TAVIRO_FUZZ_CHECK(!session.Login().Ready());
        TAVIRO_FUZZ_CHECK(!playback.Running());
    }
    return 0;
}
