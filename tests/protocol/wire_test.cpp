// The socket operations every sender and receive handler is built on, run over a real
// connected socket pair. The far end is driven with plain system calls so that what the
// client writes and what it accepts are checked independently of the code under test.
#include "protocol/wire.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <latch>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "protocol/catalogue.h"

namespace taviro::protocol {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

std::chrono::milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Blocking write of everything (the peer end stays in blocking mode).
bool PeerWrite(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
bool PeerWrite(int fd, const Bytes& b) {
    return PeerWrite(fd, b.data(), b.size());
}

// Reads exactly `size` bytes within `timeout`, at most `chunk` bytes per call.
bool PeerRead(int fd, void* data, std::size_t size, std::chrono::milliseconds timeout = 5s,
              std::size_t chunk = 1 << 20) {
    auto* p = static_cast<std::uint8_t*>(data);
    const auto deadline = Clock::now() + timeout;
    while (size > 0) {
        pollfd pfd{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        const ssize_t n = ::recv(fd, p, std::min(size, chunk), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// True when nothing is waiting to be read on `fd` right now.
bool NothingPending(int fd) {
    std::uint8_t b;
    const ssize_t n = ::recv(fd, &b, 1, MSG_DONTWAIT | MSG_PEEK);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

std::chrono::microseconds ThreadCpuTime() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return std::chrono::seconds(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           std::chrono::microseconds(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

Bytes BytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
}

class WireTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto pair = platform::MakeSocketPair();
        ASSERT_TRUE(pair.has_value());
        m_wire.Attach(std::move(pair->first));
        m_peer = std::move(pair->second);
        ASSERT_TRUE(m_wire.Valid());
    }
    int Peer() const { return m_peer.Fd(); }

    CWireSocket m_wire;
    platform::CSocket m_peer;
};

TEST_F(WireTest, SendPacketWritesHeaderThenPayloadAndNothingElse) {
    const auto payload = Pattern(32, 0x41);
    const auto header = PacketHeader::Make(msg::HELLO, 32);
    const auto before = header.word;
    ASSERT_TRUE(SendPacket(m_wire, header, payload.data(), payload.size()));
    EXPECT_EQ(header.word, before);  // the caller's header is left as it was

    std::array<std::uint8_t, 48> got{};
    ASSERT_TRUE(PeerRead(Peer(), got.data(), got.size()));
    const std::uint8_t head[16] = {0, 0, 0, 0x80, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(got.data(), head, 16), 0);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), got.begin() + 16));
    EXPECT_TRUE(NothingPending(Peer()));
}

TEST_F(WireTest, EmptyPayloadSendsTheHeaderAlone) {
    ASSERT_TRUE(SendPacket(m_wire, PacketHeader::Make(msg::KEEP_ALIVE, 0), nullptr, 0));
    std::array<std::uint8_t, 16> got{};
    ASSERT_TRUE(PeerRead(Peer(), got.data(), got.size()));
    const std::array<std::uint8_t, 16> keepAlive = {0, 0, 0xFF, 0x80, 0, 0, 0, 0,
                                                    0, 0, 0,    0,    0, 0, 0, 0};
    EXPECT_EQ(got, keepAlive);
    EXPECT_TRUE(NothingPending(Peer()));
}

TEST_F(WireTest, SendMessageFillsLengthAndFlags) {
    const auto payload = Pattern(8000, 3);
    ASSERT_TRUE(SendMessage(m_wire, msg::FW_DATA, payload, true));
    std::array<std::uint8_t, 16> head{};
    ASSERT_TRUE(PeerRead(Peer(), head.data(), head.size()));
    const auto h = PacketHeader::FromNetwork(head.data());
    EXPECT_EQ(h.Command(), msg::FW_DATA);
    EXPECT_EQ(h.word[1], 0x40000000u + 8000u);
    Bytes body(8000);
    ASSERT_TRUE(PeerRead(Peer(), body.data(), body.size()));
    EXPECT_EQ(body, payload);
    EXPECT_TRUE(NothingPending(Peer()));
}

TEST_F(WireTest, LargestPayloadGoesOutWholeAndOversizedIsRefused) {
    const auto payload = Pattern(0xFFFF, 9);
    std::thread reader([&] {
        Bytes got(16 + payload.size());
        ASSERT_TRUE(PeerRead(Peer(), got.data(), got.size()));
        EXPECT_EQ(PacketHeader::FromNetwork(got.data()).Length(), 0xFFFF);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), got.begin() + 16));
    });
    EXPECT_TRUE(SendPacket(m_wire, PacketHeader::Make(msg::FW_DATA, 0xFFFF), payload.data(),
                           payload.size()));
    reader.join();

    // 65,536 bytes cannot be described by the 16-bit length: nothing may be sent.
    const Bytes tooBig(0x10000, 1);
    EXPECT_FALSE(
        SendPacket(m_wire, PacketHeader::Make(msg::FW_DATA, 0), tooBig.data(), tooBig.size()));
    EXPECT_FALSE(SendMessage(m_wire, msg::FW_DATA, tooBig));
    EXPECT_FALSE(SendPacket(m_wire, PacketHeader::Make(msg::FW_DATA, 4), nullptr, 4));
    EXPECT_TRUE(NothingPending(Peer()));
}

TEST_F(WireTest, SendingOnAClosedSocketFails) {
    m_wire.Close();
    EXPECT_FALSE(m_wire.Valid());
    EXPECT_EQ(m_wire.Fd(), -1);
    EXPECT_FALSE(SendPacket(m_wire, PacketHeader::Make(msg::BYE, 0), nullptr, 0));
    m_wire.Close();  // idempotent
    std::uint8_t b = 0;
    EXPECT_FALSE(RecvExact(m_wire, &b, 1));
}

TEST(WireSocketTest, ConstructedFromASocketIsUsable) {
    auto pair = platform::MakeSocketPair();
    ASSERT_TRUE(pair.has_value());
    CWireSocket wire(std::move(pair->first));
    EXPECT_TRUE(wire.Valid());
    EXPECT_GE(wire.Fd(), 0);
    ASSERT_TRUE(PeerWrite(pair->second.Fd(), "abcd", 4));
    std::array<char, 4> got{};
    wire.SetRecvLimit(2s);
    ASSERT_TRUE(RecvExact(wire, got.data(), got.size()));
    EXPECT_EQ(std::string(got.data(), 4), "abcd");
}

TEST(WireSocketTest, DefaultLimitIs180Seconds) {
    CWireSocket wire;
    EXPECT_EQ(wire.RecvLimit(), std::chrono::milliseconds(180'000));
    EXPECT_FALSE(wire.Valid());
}

TEST_F(WireTest, RecvExactOfZeroBytesSucceedsWithoutReading) {
    ASSERT_TRUE(PeerWrite(Peer(), "WXYZ", 4));
    EXPECT_TRUE(RecvExact(m_wire, nullptr, 0));
    char got[4] = {};
    ASSERT_TRUE(RecvExact(m_wire, got, 4));
    EXPECT_EQ(std::string(got, 4), "WXYZ");  // the zero-byte read took nothing

    CWireSocket closed;  // no socket at all: still nothing to do, so still true
    EXPECT_TRUE(RecvExact(closed, nullptr, 0));
}

TEST_F(WireTest, RecvExactAssemblesPiecesThatArriveWithDelays) {
    ASSERT_TRUE(m_wire.SetNonBlocking(true));  // as while the session is connected
    m_wire.SetRecvLimit(5s);
    const auto data = Pattern(5000, 0x20);
    std::thread writer([&] {
        const std::size_t cuts[] = {1, 15, 16, 17, 999, 1000, 3000, 4999, 5000};
        std::size_t at = 0;
        for (std::size_t cut : cuts) {
            std::this_thread::sleep_for(15ms);
            ASSERT_TRUE(PeerWrite(Peer(), data.data() + at, cut - at));
            at = cut;
        }
    });
    Bytes got(data.size(), 0);
    EXPECT_TRUE(RecvExact(m_wire, got.data(), got.size()));
    writer.join();
    EXPECT_EQ(got, data);
}

TEST_F(WireTest, RecvExactReadsNoMoreThanAsked) {
    ASSERT_TRUE(PeerWrite(Peer(), Pattern(100, 0)));
    Bytes first(30, 0xFF);
    ASSERT_TRUE(RecvExact(m_wire, first.data(), first.size()));
    EXPECT_EQ(first, Pattern(30, 0));
    Bytes rest(70);
    ASSERT_TRUE(RecvExact(m_wire, rest.data(), rest.size()));
    EXPECT_EQ(rest[0], static_cast<std::uint8_t>(30 * 7));
    EXPECT_TRUE(NothingPending(m_wire.Fd()));
}

TEST_F(WireTest, StalledPeerFailsAfterTheLimitAndNotBefore) {
    const auto limit = 300ms;
    m_wire.SetRecvLimit(limit);
    ASSERT_TRUE(PeerWrite(Peer(), Pattern(10, 0)));  // 10 of the 20 bytes asked for
    Bytes got(20);
    const auto start = Clock::now();
    EXPECT_FALSE(RecvExact(m_wire, got.data(), got.size()));
    const auto elapsed = Since(start);
    EXPECT_GE(elapsed, limit);
    EXPECT_LT(elapsed, limit + 1500ms);
}

TEST_F(WireTest, LimitCountsFromTheStartEvenWhileBytesTrickleIn) {
    const auto limit = 300ms;
    m_wire.SetRecvLimit(limit);
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        // One byte every 40 ms: 20 bytes would take 800 ms, far past the limit.
        for (int i = 0; i < 20 && !stop.load(); ++i) {
            std::this_thread::sleep_for(40ms);
            if (!PeerWrite(Peer(), "t", 1))
                return;
        }
    });
    Bytes got(20);
    const auto start = Clock::now();
    const bool ok = RecvExact(m_wire, got.data(), got.size());
    const auto elapsed = Since(start);
    stop.store(true);
    trickle.join();
    EXPECT_FALSE(ok);
    EXPECT_GE(elapsed, limit);
    EXPECT_LT(elapsed, limit + 400ms);  // each byte must not restart the clock
}

TEST_F(WireTest, DataCompletingWithinTheLimitSucceeds) {
    m_wire.SetRecvLimit(3s);
    ASSERT_TRUE(PeerWrite(Peer(), "abc", 3));
    std::thread late([&] {
        std::this_thread::sleep_for(200ms);
        PeerWrite(Peer(), "defg", 4);
    });
    char got[7] = {};
    const auto start = Clock::now();
    EXPECT_TRUE(RecvExact(m_wire, got, sizeof got));
    EXPECT_GE(Since(start), 150ms);
    late.join();
    EXPECT_EQ(std::string(got, 7), "abcdefg");
}

TEST_F(WireTest, WaitingForDataDoesNotSpinTheProcessor) {
    const auto limit = 500ms;
    m_wire.SetRecvLimit(limit);
    std::uint8_t b[4];
    const auto cpuBefore = ThreadCpuTime();
    const auto start = Clock::now();
    EXPECT_FALSE(RecvExact(m_wire, b, sizeof b));
    const auto wall = Since(start);
    const auto cpu = ThreadCpuTime() - cpuBefore;
    EXPECT_GE(wall, limit);
    // A busy loop would burn about the whole wall time; a wait burns next to nothing.
    EXPECT_LT(cpu, std::chrono::microseconds(100'000)) << "cpu " << cpu.count() << " us";
}

TEST_F(WireTest, PeerCloseFailsPromptly) {
    m_wire.SetRecvLimit(10s);
    ASSERT_TRUE(PeerWrite(Peer(), "abc", 3));
    std::thread closer([&] {
        std::this_thread::sleep_for(50ms);
        m_peer.Close();
    });
    Bytes got(10);
    const auto start = Clock::now();
    EXPECT_FALSE(RecvExact(m_wire, got.data(), got.size()));
    EXPECT_LT(Since(start), 2s);
    closer.join();
}

TEST_F(WireTest, PeerShuttingDownItsSendingSideFailsPromptly) {
    m_wire.SetRecvLimit(10s);
    ::shutdown(Peer(), SHUT_WR);
    std::uint8_t b[16];
    const auto start = Clock::now();
    EXPECT_FALSE(RecvExact(m_wire, b, sizeof b));
    EXPECT_LT(Since(start), 2s);
}

TEST_F(WireTest, ConcurrentSendersNeverInterleaveMessages) {
    // A small send buffer and a slow reader force partial writes, so a message is written
    // in several pieces; no other sender's bytes may get between them.
    int small = 8192;
    ASSERT_EQ(::setsockopt(m_wire.Fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    m_wire.SetRecvLimit(20s);  // also bounds each send
    constexpr int kThreads = 6;
    constexpr int kPerThread = 30;
    auto fill = [](int t, int seq, std::size_t i) {
        return static_cast<std::uint8_t>(t * 59 + seq * 7 + static_cast<int>(i % 251));
    };
    auto sizeOf = [](int t, int seq) {
        return static_cast<std::size_t>(20000 + (seq * 7919 + t * 10477) % 45535);
    };

    std::latch go(kThreads + 1);
    std::atomic<int> failures{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            go.arrive_and_wait();
            for (int seq = 0; seq < kPerThread; ++seq) {
                Bytes payload(sizeOf(t, seq));
                payload[0] = static_cast<std::uint8_t>(t);
                payload[1] = static_cast<std::uint8_t>(seq);
                for (std::size_t i = 2; i < payload.size(); ++i)
                    payload[i] = fill(t, seq, i);
                if (!SendMessage(m_wire, static_cast<std::uint16_t>(200 + t), payload)) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    go.arrive_and_wait();

    std::array<int, kThreads> nextSeq{};
    int received = 0;
    bool intact = true;
    for (int m = 0; m < kThreads * kPerThread && intact; ++m) {
        std::array<std::uint8_t, 16> head{};
        if (!PeerRead(Peer(), head.data(), head.size(), 10s, 7000)) {
            ADD_FAILURE() << "header " << m << " did not arrive";
            break;
        }
        const auto h = PacketHeader::FromNetwork(head.data());
        const int t = h.Command() - 200;
        if (t < 0 || t >= kThreads || h.word[2] != 0 || h.word[3] != 0) {
            ADD_FAILURE() << "message " << m << " has a torn header, code " << h.Command();
            break;
        }
        Bytes payload(h.Length());
        if (!PeerRead(Peer(), payload.data(), payload.size(), 10s, 7000)) {
            ADD_FAILURE() << "payload " << m << " did not arrive";
            break;
        }
        const int seq = nextSeq[static_cast<std::size_t>(t)]++;
        intact = payload.size() == sizeOf(t, seq) && payload[0] == t && payload[1] == seq;
        for (std::size_t i = 2; intact && i < payload.size(); ++i) {
            intact = payload[i] == fill(t, seq, i);
        }
        EXPECT_TRUE(intact) << "message " << m << " from sender " << t << " is not whole";
        ++received;
        if (m % 8 == 0)
            std::this_thread::sleep_for(1ms);  // the slow reader
    }
    if (received < kThreads * kPerThread) {
        m_peer.Close();  // a broken stream: let the senders fail at once instead of waiting
    }
    for (auto& s : senders)
        s.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(received, kThreads * kPerThread);
    if (m_peer.Valid()) {
        EXPECT_TRUE(NothingPending(Peer()));
    }
}

TEST_F(WireTest, ReaderThatStopsReadingMakesTheSenderGiveUpAndEndsTheStream) {
    // A peer that never reads must not hold the sender (and every other sender behind the
    // lock) forever; half a message on the wire must not be followed by more.
    m_wire.SetRecvLimit(300ms);
    int small = 4096;
    ASSERT_EQ(::setsockopt(m_wire.Fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    const Bytes payload(0xFFFF, 0x5A);
    const auto start = Clock::now();
    EXPECT_FALSE(SendMessage(m_wire, msg::FW_DATA, payload));
    const auto elapsed = Since(start);
    EXPECT_GE(elapsed, 250ms);
    EXPECT_LT(elapsed, 3s);

    // The peer gets the piece that went out, then the end of the stream.
    std::array<std::uint8_t, 4096> buf{};
    std::size_t total = 0;
    for (;;) {
        pollfd p{Peer(), POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, 2000), 0) << "the stream was left open";
        const ssize_t n = ::recv(Peer(), buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    EXPECT_GT(total, 0u);
    EXPECT_LT(total, 16u + payload.size());
    EXPECT_FALSE(SendMessage(m_wire, msg::KEEP_ALIVE, {}));
}

class NackTest : public WireTest {
  protected:
    void SetUp() override {
        WireTest::SetUp();
        m_wire.SetRecvLimit(2s);
        m_extra.fill(0xAA);
    }
    // After a refusal has been read, the next bytes must be exactly the marker that
    // followed it: the stream is still in step.
    void ExpectMarkerNext() {
        char got[4] = {};
        ASSERT_TRUE(RecvExact(m_wire, got, 4));
        EXPECT_EQ(std::string(got, 4), "NEXT");
    }
    std::array<std::uint8_t, 8> m_extra{};
};

TEST_F(NackTest, TwelveBytePayloadGivesTheReasonAndTheTwoExtraValues) {
    const Bytes payload = {0x00, 0x00, 0x00, 0x35, 1, 2, 3, 4, 0xF5, 0xF6, 0xF7, 0xF8};
    ASSERT_TRUE(PeerWrite(Peer(), payload));
    ASSERT_TRUE(PeerWrite(Peer(), "NEXT", 4));
    const auto h = PacketHeader::Make(msg::TRANS_ON_NACK, 12);
    EXPECT_EQ(ReadNackReason(m_wire, h, &m_extra), 53);
    const std::array<std::uint8_t, 8> expected = {1, 2, 3, 4, 0xF5, 0xF6, 0xF7, 0xF8};
    EXPECT_EQ(m_extra, expected);
    ExpectMarkerNext();
}

TEST_F(NackTest, FourBytePayloadLeavesExtraUntouched) {
    ASSERT_TRUE(PeerWrite(Peer(), Bytes{0x00, 0x00, 0x00, 0x41}));
    ASSERT_TRUE(PeerWrite(Peer(), "NEXT", 4));
    EXPECT_EQ(ReadNackReason(m_wire, PacketHeader::Make(msg::REC_ON_NACK, 4), &m_extra), 65);
    for (auto b : m_extra)
        EXPECT_EQ(b, 0xAA);
    ExpectMarkerNext();
}

TEST_F(NackTest, OtherLengthsAreReadWholeButOnlyTwelveFillsExtra) {
    // 8 and 16 bytes: the reason is the first word, the rest is read and dropped.
    for (std::size_t len : {8u, 16u}) {
        Bytes payload(len, 0x11);
        payload[0] = 0;
        payload[1] = 0;
        payload[2] = 0;
        payload[3] = 0x57;
        ASSERT_TRUE(PeerWrite(Peer(), payload));
        ASSERT_TRUE(PeerWrite(Peer(), "NEXT", 4));
        const auto h = PacketHeader::Make(msg::TRANS_ON_NACK, static_cast<std::uint16_t>(len));
        EXPECT_EQ(ReadNackReason(m_wire, h, &m_extra), 87);
        for (auto b : m_extra)
            EXPECT_EQ(b, 0xAA);
        ExpectMarkerNext();
    }
}

TEST_F(NackTest, TwelveBytesWithoutAnExtraBufferStillReadsTheReason) {
    ASSERT_TRUE(PeerWrite(Peer(), Bytes{0, 0, 0, 0x57, 9, 9, 9, 9, 8, 8, 8, 8}));
    ASSERT_TRUE(PeerWrite(Peer(), "NEXT", 4));
    EXPECT_EQ(ReadNackReason(m_wire, PacketHeader::Make(msg::TRANS_ON_NACK, 12), nullptr), 87);
    ExpectMarkerNext();
}

TEST_F(NackTest, EmptyPayloadGivesMinus100AndReadsNothing) {
    ASSERT_TRUE(PeerWrite(Peer(), "NEXT", 4));
    EXPECT_EQ(ReadNackReason(m_wire, PacketHeader::Make(msg::LIVE_NACK, 0), &m_extra), -100);
    for (auto b : m_extra)
        EXPECT_EQ(b, 0xAA);
    ExpectMarkerNext();
}

TEST_F(NackTest, NegativeReasonsKeepTheirSign) {
    ASSERT_TRUE(PeerWrite(Peer(), Bytes{0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(ReadNackReason(m_wire, PacketHeader::Make(msg::BYE48, 4)), -2);
    ASSERT_TRUE(PeerWrite(Peer(), Bytes{0x80, 0x00, 0x00, 0x00}));
    EXPECT_EQ(ReadNackReason(m_wire, PacketHeader::Make(msg::BYE48, 4)),
              std::numeric_limits<std::int32_t>::min());
    ASSERT_TRUE(PeerWrite(Peer(), Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ReadNackReason(m_wire, PacketHeader::Make(msg::BYE48, 4)),
              std::numeric_limits<std::int32_t>::max());
}

TEST_F(NackTest, FlagsInTheLengthWordDoNotChangeHowMuchIsRead) {
    ASSERT_TRUE(PeerWrite(Peer(), Bytes{0, 0, 0, 1}));
    ASSERT_TRUE(PeerWrite(Peer(), "NEXT", 4));
    PacketHeader h = PacketHeader::Make(msg::LIVE_NACK, 4, true);
    h.word[1] |= 0x0FC00000u;  // channel bits too
    EXPECT_EQ(ReadNackReason(m_wire, h), 1);
    ExpectMarkerNext();
}

TEST_F(NackTest, ShortPayloadIsConsumedAndHoldsNoReason) {
    ASSERT_TRUE(PeerWrite(Peer(), Bytes{0, 0, 1}));
    ASSERT_TRUE(PeerWrite(Peer(), "NEXT", 4));
    const auto reason = ReadNackReason(m_wire, PacketHeader::Make(msg::LIVE_NACK, 3), &m_extra);
    EXPECT_EQ(reason, kReasonEmpty);
    for (auto b : m_extra)
        EXPECT_EQ(b, 0xAA);
    ExpectMarkerNext();
}

TEST_F(NackTest, ReadFailureGivesMinus99) {
    m_wire.SetRecvLimit(300ms);
    ASSERT_TRUE(PeerWrite(Peer(), Bytes{0, 0}));  // 2 of the 12 bytes, then silence
    EXPECT_EQ(ReadNackReason(m_wire, PacketHeader::Make(msg::TRANS_ON_NACK, 12), &m_extra), -99);
    for (auto b : m_extra)
        EXPECT_EQ(b, 0xAA);

    m_peer.Close();  // and once the peer has gone
    EXPECT_EQ(ReadNackReason(m_wire, PacketHeader::Make(msg::LIVE_NACK, 4)), -99);
}

TEST_F(WireTest, DiscardPayloadKeepsTheNextMessageReadable) {
    m_wire.SetRecvLimit(2s);
    // An unknown code with 1,000 bytes, then a keep-alive-sized message.
    auto unknown = PacketHeader::Make(500, 1000).ToNetwork();
    ASSERT_TRUE(PeerWrite(Peer(), unknown.data(), unknown.size()));
    ASSERT_TRUE(PeerWrite(Peer(), Pattern(1000, 1)));
    auto next = PacketHeader::Make(msg::SYS_NOTICE, 4).ToNetwork();
    ASSERT_TRUE(PeerWrite(Peer(), next.data(), next.size()));
    ASSERT_TRUE(PeerWrite(Peer(), "tail", 4));

    std::array<std::uint8_t, 16> head{};
    ASSERT_TRUE(RecvExact(m_wire, head.data(), head.size()));
    const auto h = PacketHeader::FromNetwork(head.data());
    EXPECT_EQ(h.Command(), 500);
    EXPECT_TRUE(DiscardPayload(m_wire, h));

    ASSERT_TRUE(RecvExact(m_wire, head.data(), head.size()));
    const auto h2 = PacketHeader::FromNetwork(head.data());
    EXPECT_EQ(h2.Command(), msg::SYS_NOTICE);
    EXPECT_EQ(h2.Length(), 4);
    char tail[4];
    ASSERT_TRUE(RecvExact(m_wire, tail, 4));
    EXPECT_EQ(std::string(tail, 4), "tail");
}

TEST_F(WireTest, DiscardPayloadOfTheLargestPayload) {
    m_wire.SetRecvLimit(5s);
    std::thread writer([&] {
        ASSERT_TRUE(PeerWrite(Peer(), Pattern(0xFFFF, 2)));
        ASSERT_TRUE(PeerWrite(Peer(), "END!", 4));
    });
    PacketHeader h = PacketHeader::Make(msg::LIVE_DATA, 0xFFFF, true);
    EXPECT_TRUE(DiscardPayload(m_wire, h));
    char tail[4];
    ASSERT_TRUE(RecvExact(m_wire, tail, 4));
    EXPECT_EQ(std::string(tail, 4), "END!");
    writer.join();
}

TEST_F(WireTest, DiscardPayloadOfNothingAndOnFailure) {
    m_wire.SetRecvLimit(300ms);
    ASSERT_TRUE(PeerWrite(Peer(), "abcd", 4));
    EXPECT_TRUE(DiscardPayload(m_wire, PacketHeader::Make(msg::PLAY_ON_DONE, 0)));
    char got[4];
    ASSERT_TRUE(RecvExact(m_wire, got, 4));
    EXPECT_EQ(std::string(got, 4), "abcd");

    ASSERT_TRUE(PeerWrite(Peer(), Pattern(10, 0)));
    EXPECT_FALSE(DiscardPayload(m_wire, PacketHeader::Make(500, 100)));
}

TEST(WireSocketTest, MessagesTravelBetweenTwoWireSockets) {
    auto pair = platform::MakeSocketPair();
    ASSERT_TRUE(pair.has_value());
    CWireSocket a;
    CWireSocket b;
    a.Attach(std::move(pair->first));
    b.Attach(std::move(pair->second));
    b.SetRecvLimit(2s);
    const auto payload = BytesOf("0123456789");
    ASSERT_TRUE(SendMessage(a, msg::LIVE_REQ, payload, false, false));
    std::array<std::uint8_t, 16> head{};
    ASSERT_TRUE(RecvExact(b, head.data(), head.size()));
    const auto h = PacketHeader::FromNetwork(head.data());
    EXPECT_EQ(h.Command(), msg::LIVE_REQ);
    EXPECT_EQ(h.Length(), payload.size());
    Bytes got(h.Length());
    ASSERT_TRUE(RecvExact(b, got.data(), got.size()));
    EXPECT_EQ(got, payload);
}

}  // namespace
}  // namespace taviro::protocol
