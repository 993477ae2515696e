// The socket stand-in: connecting with a limit and a cancel hook, address parsing and
// resolution, socket pairs, waits and the RAII handle.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace taviro::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

sockaddr_in Loopback(std::uint16_t port) {
    auto a = ParseIPv4("127.0.0.1", port);
    EXPECT_TRUE(a.has_value());
    return a.value_or(sockaddr_in{});
}

bool IsNonBlocking(int fd) {
    return (::fcntl(fd, F_GETFL, 0) & O_NONBLOCK) != 0;
}

TEST(ConnectTest, ClosedPortIsRefused) {
    std::uint16_t port = 0;
    {
        CSocket probe = ListenTcp("127.0.0.1", 0);
        ASSERT_TRUE(probe.Valid());
        port = BoundPort(probe);
        ASSERT_NE(port, 0);
    }  // closed again: nothing listens on the port now
    CSocket s = CSocket::CreateTcp();
    ASSERT_TRUE(s.Valid());
    int err = 0;
    const auto start = Clock::now();
    EXPECT_EQ(ConnectWithTimeout(s, Loopback(port), 5s, nullptr, nullptr, &err),
              ConnectResult::Refused);
    EXPECT_EQ(err, ECONNREFUSED);
    EXPECT_LT(Since(start), 2s);
}

TEST(ConnectTest, ListeningSocketAcceptsAndTheSocketIsLeftBlocking) {
    CSocket listener = ListenTcp("127.0.0.1", 0);
    ASSERT_TRUE(listener.Valid());
    CSocket s = CSocket::CreateTcp();
    int err = -1;
    ASSERT_EQ(ConnectWithTimeout(s, Loopback(BoundPort(listener)), 5s, nullptr, nullptr, &err),
              ConnectResult::Ok);
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(IsNonBlocking(s.Fd()));
    CSocket server = AcceptWithTimeout(listener, 2s);
    ASSERT_TRUE(server.Valid());
    ASSERT_EQ(::send(s.Fd(), "ping", 4, MSG_NOSIGNAL), 4);
    char got[4] = {};
    ASSERT_EQ(::recv(server.Fd(), got, 4, MSG_WAITALL), 4);
    EXPECT_EQ(std::memcmp(got, "ping", 4), 0);
}

TEST(ConnectTest, InvalidSocketIsAnError) {
    CSocket none;
    EXPECT_EQ(ConnectWithTimeout(none, Loopback(1), 1s), ConnectResult::OtherError);
}

// A listener with a backlog of 0 whose queue is already taken: further connects get no
// answer and stay pending, which is what a distant unresponsive recorder looks like.
class PendingConnectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_listener = ListenTcp("127.0.0.1", 0, 0);
        ASSERT_TRUE(m_listener.Valid());
        m_port = BoundPort(m_listener);
        for (int i = 0; i < 8; ++i) {
            CSocket s = CSocket::CreateTcp();
            const auto r = ConnectWithTimeout(s, Loopback(m_port), 200ms);
            if (r == ConnectResult::TimedOut) {
                return;  // the queue is full: connects from now on hang
            }
            ASSERT_EQ(r, ConnectResult::Ok);
            m_fillers.push_back(std::move(s));
        }
        GTEST_SKIP() << "this system answers connects beyond the listen backlog";
    }

    CSocket m_listener;
    std::uint16_t m_port = 0;
    std::vector<CSocket> m_fillers;
};

struct CancelAfter {
    Clock::time_point when;
    std::atomic<int> polls{0};
};

bool CancelWhenDue(const void* context) {
    auto* c = static_cast<CancelAfter*>(const_cast<void*>(context));
    c->polls.fetch_add(1);
    return Clock::now() >= c->when;
}

TEST_F(PendingConnectTest, CancelStopsAConnectInProgress) {
    CSocket s = CSocket::CreateTcp();
    CancelAfter cancel{Clock::now() + 250ms};
    int err = 0;
    const auto start = Clock::now();
    EXPECT_EQ(ConnectWithTimeout(s, Loopback(m_port), 10s, &CancelWhenDue, &cancel, &err),
              ConnectResult::Cancelled);
    const auto elapsed = Since(start);
    EXPECT_GE(elapsed, 240ms);
    EXPECT_LT(elapsed, 1500ms);  // polled about every 100 ms, not at the end of the limit
    EXPECT_GE(cancel.polls.load(), 2);
}

TEST_F(PendingConnectTest, NoAnswerTimesOutAfterTheLimit) {
    CSocket s = CSocket::CreateTcp();
    int err = 0;
    const auto start = Clock::now();
    EXPECT_EQ(ConnectWithTimeout(s, Loopback(m_port), 300ms, nullptr, nullptr, &err),
              ConnectResult::TimedOut);
    const auto elapsed = Since(start);
    EXPECT_GE(elapsed, 290ms);
    EXPECT_LT(elapsed, 2s);
    EXPECT_EQ(err, ETIMEDOUT);
}

TEST(AddressTest, ParseIPv4TakesDottedAddressesOnly) {
    const auto a = ParseIPv4("192.168.1.20", 9000);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->sin_family, AF_INET);
    EXPECT_EQ(ntohs(a->sin_port), 9000);
    const auto* b = reinterpret_cast<const std::uint8_t*>(&a->sin_addr);
    EXPECT_EQ(b[0], 192);
    EXPECT_EQ(b[1], 168);
    EXPECT_EQ(b[2], 1);
    EXPECT_EQ(b[3], 20);
    for (const char* bad : {"localhost", "recorder.example", "", "1.2.3", "256.1.1.1", " 1.2.3.4",
                            "1.2.3.4 ", "1.2.3.4.5", "::1", "01x.2.3.4"}) {
        EXPECT_FALSE(ParseIPv4(bad, 80).has_value()) << bad;
    }
}

TEST(AddressTest, ResolveLocalhostAndDottedText) {
    EXPECT_EQ(ResolveIPv4("localhost"), std::optional<std::string>("127.0.0.1"));
    EXPECT_EQ(ResolveIPv4("10.1.2.3"), std::optional<std::string>("10.1.2.3"));
    EXPECT_FALSE(ResolveIPv4("").has_value());
}

TEST(SocketPairTest, BytesFlowBothWays) {
    auto pair = MakeSocketPair();
    ASSERT_TRUE(pair.has_value());
    auto& [a, b] = *pair;
    ASSERT_TRUE(a.Valid());
    ASSERT_TRUE(b.Valid());
    ASSERT_EQ(::send(a.Fd(), "abc", 3, MSG_NOSIGNAL), 3);
    ASSERT_EQ(::send(b.Fd(), "xy", 2, MSG_NOSIGNAL), 2);
    char got[3] = {};
    ASSERT_EQ(::recv(b.Fd(), got, 3, MSG_WAITALL), 3);
    EXPECT_EQ(std::memcmp(got, "abc", 3), 0);
    ASSERT_EQ(::recv(a.Fd(), got, 2, MSG_WAITALL), 2);
    EXPECT_EQ(std::memcmp(got, "xy", 2), 0);
}

TEST(WaitTest, ReadableAfterDataOrHangUpAndTimeoutOtherwise) {
    auto pair = MakeSocketPair();
    ASSERT_TRUE(pair.has_value());
    CSocket& a = pair->first;
    CSocket& b = pair->second;
    const auto start = Clock::now();
    EXPECT_EQ(WaitReadable(a.Fd(), 100ms), WaitResult::Timeout);
    EXPECT_GE(Since(start), 90ms);
    EXPECT_EQ(WaitWritable(a.Fd(), 100ms), WaitResult::Ready);
    std::thread later([&] {
        std::this_thread::sleep_for(50ms);
        ::send(b.Fd(), "!", 1, MSG_NOSIGNAL);
    });
    EXPECT_EQ(WaitReadable(a.Fd(), 2s), WaitResult::Ready);
    later.join();
    char c;
    ASSERT_EQ(::recv(a.Fd(), &c, 1, 0), 1);
    b.Close();
    EXPECT_EQ(WaitReadable(a.Fd(), 2s), WaitResult::Ready);  // the hang-up wakes the waiter
    EXPECT_EQ(WaitReadable(-1, 10ms), WaitResult::Error);
    EXPECT_EQ(WaitWritable(-1, 10ms), WaitResult::Error);
}

TEST(SocketHandleTest, ClosesOnDestructionAndMovesOwnership) {
    int fd = -1;
    {
        CSocket s = CSocket::CreateTcp();
        ASSERT_TRUE(s.Valid());
        fd = s.Fd();
        CSocket moved(std::move(s));
        EXPECT_FALSE(s.Valid());  // NOLINT(bugprone-use-after-move): the point of the test
        EXPECT_EQ(moved.Fd(), fd);
        CSocket assigned;
        assigned = std::move(moved);
        EXPECT_EQ(assigned.Fd(), fd);
        EXPECT_NE(::fcntl(fd, F_GETFD), -1);
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // closed exactly when its last owner went
    EXPECT_EQ(errno, EBADF);

    CSocket r = CSocket::CreateTcp();
    const int raw = r.Release();
    EXPECT_FALSE(r.Valid());
    EXPECT_NE(::fcntl(raw, F_GETFD), -1);
    ::close(raw);
}

TEST(SocketHandleTest, AssigningOverAnOpenSocketClosesTheOldOne) {
    CSocket a = CSocket::CreateTcp();
    CSocket b = CSocket::CreateTcp();
    const int oldFd = a.Fd();
    a = std::move(b);
    EXPECT_EQ(::fcntl(oldFd, F_GETFD), -1);
    EXPECT_TRUE(a.Valid());
}

TEST(SocketHandleTest, KeepAliveTimesAreRoundedUpToWholeSeconds) {
    CSocket s = CSocket::CreateTcp();
    ASSERT_TRUE(s.SetKeepAlive(3000ms, 2000ms));
    int on = 0;
    int idle = 0;
    int interval = 0;
    socklen_t len = sizeof(int);
    ASSERT_EQ(::getsockopt(s.Fd(), SOL_SOCKET, SO_KEEPALIVE, &on, &len), 0);
    ASSERT_EQ(::getsockopt(s.Fd(), IPPROTO_TCP, TCP_KEEPIDLE, &idle, &len), 0);
    ASSERT_EQ(::getsockopt(s.Fd(), IPPROTO_TCP, TCP_KEEPINTVL, &interval, &len), 0);
    EXPECT_NE(on, 0);
    EXPECT_EQ(idle, 3);
    EXPECT_EQ(interval, 2);
    ASSERT_TRUE(s.SetKeepAlive(1500ms, 1ms));
    ASSERT_EQ(::getsockopt(s.Fd(), IPPROTO_TCP, TCP_KEEPIDLE, &idle, &len), 0);
    ASSERT_EQ(::getsockopt(s.Fd(), IPPROTO_TCP, TCP_KEEPINTVL, &interval, &len), 0);
    EXPECT_EQ(idle, 2);
    EXPECT_EQ(interval, 1);
}

TEST(SocketHandleTest, NonBlockingSwitch) {
    CSocket s = CSocket::CreateTcp();
    ASSERT_TRUE(s.SetNonBlocking(true));
    EXPECT_TRUE(IsNonBlocking(s.Fd()));
    ASSERT_TRUE(s.SetNonBlocking(false));
    EXPECT_FALSE(IsNonBlocking(s.Fd()));
    CSocket none;
    EXPECT_FALSE(none.SetNonBlocking(true));
}

TEST(ListenTest, AcceptTimesOutWithoutAConnection) {
    CSocket listener = ListenTcp("127.0.0.1", 0);
    ASSERT_TRUE(listener.Valid());
    const auto start = Clock::now();
    EXPECT_FALSE(AcceptWithTimeout(listener, 100ms).Valid());
    EXPECT_GE(Since(start), 90ms);
    EXPECT_FALSE(ListenTcp("not-an-address", 0).Valid());
}

}  // namespace
}  // namespace taviro::platform
