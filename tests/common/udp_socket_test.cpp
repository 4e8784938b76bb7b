// UDPSocket against real loopback sockets: the results and the exact error
// lines the host application sees, the same under Winsock and BSD sockets.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "udp_socket.h"

#ifndef _WIN32
#include <cerrno>
#endif

namespace {

using talvek::UDPSocket;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kLoopback = "127.0.0.1";

// Long enough for a loopback datagram to be queued on any machine; only
// reached when something is broken.
constexpr int kArrivalTimeoutMs = 2000;

// The codes the log lines carry: Winsock's own numbers on Windows.
#ifdef _WIN32
constexpr int kAddressInUse = 10048;    // WSAEADDRINUSE
constexpr int kMessageTooLong = 10040;  // WSAEMSGSIZE
#else
constexpr int kAddressInUse = EADDRINUSE;
constexpr int kMessageTooLong = EMSGSIZE;  // 90 on Linux
#endif

// Runs f and returns what it wrote to stderr.
template <typename F>
std::string stderr_of(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

// Bytes that differ from their neighbours and from a shifted copy, so a
// dropped, repeated or reordered byte shows up in a comparison.
std::vector<uint8_t> pattern(size_t size, uint8_t seed = 0) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 31u + i / 251u + seed) & 0xFFu);
    }
    return bytes;
}

int send_bytes(UDPSocket& from, const UDPSocket& to, const std::vector<uint8_t>& bytes) {
    return from.send(bytes.data(), bytes.size(), kLoopback, to.get_bound_port());
}

// Waits for one datagram of at most max_size bytes and returns it; the
// result is empty when none came.
std::vector<uint8_t> receive(UDPSocket& socket, size_t max_size = 65536) {
    std::vector<uint8_t> buffer(max_size);
    int n = socket.recv(buffer.data(), buffer.size(), kArrivalTimeoutMs);
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0u);
    return buffer;
}

// Counts datagrams until the socket stays quiet for a while.
int drain(UDPSocket& socket) {
    std::vector<uint8_t> buffer(2048);
    int count = 0;
    while (socket.recv(buffer.data(), buffer.size(), 200) > 0) ++count;
    return count;
}

// Winsock must be started before the first socket and stopped after the last.
class SocketLibrary : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(socket_init()); }
    void TearDown() override { socket_cleanup(); }
};

// ---------------------------------------------------------------- bind

TEST(UDPSocketBind, PortZeroReportsThePortTheSystemChose) {
    UDPSocket socket;
    EXPECT_FALSE(socket.is_valid());
    EXPECT_EQ(socket.get_bound_port(), 0);

    ASSERT_TRUE(socket.bind(0));
    EXPECT_TRUE(socket.is_valid());
    EXPECT_NE(socket.get_bound_port(), 0);
}

TEST(UDPSocketBind, ReportedPortIsWhereDatagramsArrive) {
    UDPSocket receiver;
    UDPSocket sender;
    ASSERT_TRUE(receiver.bind(0));
    ASSERT_TRUE(sender.bind(0));

    const auto bytes = pattern(64);
    ASSERT_EQ(send_bytes(sender, receiver, bytes), 64);
    EXPECT_EQ(receive(receiver), bytes);
}

// The whole of 127.0.0.0/8 reaches this machine, but only 127.0.0.1 is
// bound: a socket listening on every address would take the datagram to
// 127.0.0.2, and would take datagrams from other machines just the same.
TEST(UDPSocketBind, ListensOn127001Only) {
    UDPSocket receiver;
    UDPSocket sender;
    ASSERT_TRUE(receiver.bind(0));
    ASSERT_TRUE(sender.bind(0));

    const auto elsewhere = pattern(48, 3);
    ASSERT_EQ(sender.send(elsewhere.data(), elsewhere.size(), "127.0.0.2",
                          receiver.get_bound_port()),
              48);
    const auto here = pattern(48, 4);
    ASSERT_EQ(send_bytes(sender, receiver, here), 48);
    // Loopback keeps the order, so the first datagram in is the one that
    // matters, and `here` coming at all shows the sending worked.
    EXPECT_EQ(receive(receiver), here);
    EXPECT_EQ(drain(receiver), 0);
}

TEST(UDPSocketBind, SecondBindOnSameObjectIsRefusedAndFirstSocketKeepsWorking) {
    UDPSocket socket;
    ASSERT_TRUE(socket.bind(0));
    const unsigned short port = socket.get_bound_port();

    bool second = true;
    EXPECT_EQ(stderr_of([&] { second = socket.bind(0); }),
              "[UDPSocket] Socket already created\n");
    EXPECT_FALSE(second);
    EXPECT_TRUE(socket.is_valid());
    EXPECT_EQ(socket.get_bound_port(), port);

    UDPSocket sender;
    ASSERT_TRUE(sender.bind(0));
    const auto bytes = pattern(32, 7);
    ASSERT_EQ(send_bytes(sender, socket, bytes), 32);
    EXPECT_EQ(receive(socket), bytes);
}

TEST(UDPSocketBind, PortHeldByAnotherSocketFailsAndLeavesObjectUnbound) {
    UDPSocket holder;
    ASSERT_TRUE(holder.bind(0));

    UDPSocket latecomer;
    bool bound = true;
    EXPECT_EQ(stderr_of([&] { bound = latecomer.bind(holder.get_bound_port()); }),
              "[UDPSocket] bind() failed: " + std::to_string(kAddressInUse) + "\n");
    EXPECT_FALSE(bound);
    EXPECT_FALSE(latecomer.is_valid());
    EXPECT_EQ(latecomer.get_bound_port(), 0);

    // The failure must not disturb the holder, and the object may try again.
    UDPSocket sender;
    ASSERT_TRUE(sender.bind(0));
    const auto bytes = pattern(16, 3);
    ASSERT_EQ(send_bytes(sender, holder, bytes), 16);
    EXPECT_EQ(receive(holder), bytes);

    EXPECT_TRUE(latecomer.bind(0));
    EXPECT_NE(latecomer.get_bound_port(), holder.get_bound_port());
}

TEST(UDPSocketBind, DestroyedSocketReleasesItsPort) {
    unsigned short port = 0;
    {
        UDPSocket first;
        ASSERT_TRUE(first.bind(0));
        port = first.get_bound_port();
    }
    UDPSocket second;
    EXPECT_TRUE(second.bind(port));
    EXPECT_EQ(second.get_bound_port(), port);
}

// ---------------------------------------------------------------- recv

TEST(UDPSocketRecv, EmptySocketWithoutTimeoutReturnsZeroAtOnce) {
    UDPSocket socket;
    ASSERT_TRUE(socket.bind(0));
    uint8_t buffer[64];

    for (int timeout_ms : {0, -1}) {
        SCOPED_TRACE(timeout_ms);
        int n = -2;
        const auto start = Clock::now();
        const std::string err = stderr_of([&] { n = socket.recv(buffer, sizeof buffer, timeout_ms); });
        const auto elapsed = Clock::now() - start;
        EXPECT_EQ(n, 0);
        EXPECT_EQ(err, "");
        EXPECT_LT(elapsed, 1s);
    }
}

TEST(UDPSocketRecv, EmptySocketWithShortTimeoutWaitsThenReturnsZero) {
    UDPSocket socket;
    ASSERT_TRUE(socket.bind(0));
    uint8_t buffer[64];

    int n = -2;
    const auto start = Clock::now();
    const std::string err = stderr_of([&] { n = socket.recv(buffer, sizeof buffer, 5); });
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(n, 0);
    EXPECT_EQ(err, "");
    EXPECT_GE(elapsed, 3ms);
    EXPECT_LT(elapsed, 1s);
}

TEST(UDPSocketRecv, ZeroLengthDatagramGivesZeroAndIsConsumed) {
    UDPSocket receiver;
    UDPSocket sender;
    ASSERT_TRUE(receiver.bind(0));
    ASSERT_TRUE(sender.bind(0));

    const uint8_t nothing = 0;
    ASSERT_EQ(sender.send(&nothing, 0, kLoopback, receiver.get_bound_port()), 0);
    const auto marker = pattern(8, 9);
    ASSERT_EQ(send_bytes(sender, receiver, marker), 8);

    // The empty datagram comes first; had it been skipped or left queued,
    // the first call would return the marker or the second would return 0.
    uint8_t buffer[64];
    EXPECT_EQ(receiver.recv(buffer, sizeof buffer, kArrivalTimeoutMs), 0);
    EXPECT_EQ(receive(receiver), marker);
}

TEST(UDPSocketRecv, DatagramExactlyFillingTheBufferIsReceived) {
    UDPSocket receiver;
    UDPSocket sender;
    ASSERT_TRUE(receiver.bind(0));
    ASSERT_TRUE(sender.bind(0));

    const auto bytes = pattern(50, 1);
    ASSERT_EQ(send_bytes(sender, receiver, bytes), 50);
    std::vector<uint8_t> got;
    EXPECT_EQ(stderr_of([&] { got = receive(receiver, 50); }), "");
    EXPECT_EQ(got, bytes);
}

TEST(UDPSocketRecv, DatagramLongerThanTheBufferFailsAndIsDropped) {
    UDPSocket receiver;
    UDPSocket sender;
    ASSERT_TRUE(receiver.bind(0));
    ASSERT_TRUE(sender.bind(0));

    ASSERT_EQ(send_bytes(sender, receiver, pattern(51, 2)), 51);
    const auto following = pattern(10, 5);
    ASSERT_EQ(send_bytes(sender, receiver, following), 10);

    uint8_t buffer[50];
    int n = 0;
    EXPECT_EQ(stderr_of([&] { n = receiver.recv(buffer, sizeof buffer, kArrivalTimeoutMs); }),
              "[UDPSocket] recvfrom() failed: " + std::to_string(kMessageTooLong) + "\n");
    EXPECT_EQ(n, -1);

    // Nothing of the long datagram is left: the next call gets the next one.
    EXPECT_EQ(receive(receiver), following);
}

TEST(UDPSocketRecv, WithoutSocketFailsSilently) {
    UDPSocket socket;
    uint8_t buffer[16];
    int n = 0;
    EXPECT_EQ(stderr_of([&] { n = socket.recv(buffer, sizeof buffer, 0); }), "");
    EXPECT_EQ(n, -1);
    EXPECT_EQ(stderr_of([&] { n = socket.recv(buffer, sizeof buffer, 5); }), "");
    EXPECT_EQ(n, -1);
}

// ---------------------------------------------------------------- send

TEST(UDPSocketSend, HostNamesAndMalformedAddressesAreRejected) {
    UDPSocket socket;
    ASSERT_TRUE(socket.bind(0));
    const uint8_t byte = 1;

    for (const char* host : {"localhost", "not-an-ip", "127.0.0", "256.0.0.1"}) {
        SCOPED_TRACE(host);
        int n = 0;
        EXPECT_EQ(stderr_of([&] { n = socket.send(&byte, 1, host, socket.get_bound_port()); }),
                  std::string("[UDPSocket] Invalid host address: ") + host + "\n");
        EXPECT_EQ(n, -1);
    }
    // None of them may have been sent anywhere, least of all to ourselves.
    uint8_t buffer[16];
    EXPECT_EQ(socket.recv(buffer, sizeof buffer, 50), 0);
}

TEST(UDPSocketSend, WithoutSocketFailsBeforeLookingAtTheAddress) {
    UDPSocket socket;
    const uint8_t byte = 1;
    for (const char* host : {kLoopback, "localhost"}) {
        SCOPED_TRACE(host);
        int n = 0;
        EXPECT_EQ(stderr_of([&] { n = socket.send(&byte, 1, host, 7771); }),
                  "[UDPSocket] Socket not initialized\n");
        EXPECT_EQ(n, -1);
    }
}

class UDPSocketRoundTrip : public testing::TestWithParam<size_t> {};

TEST_P(UDPSocketRoundTrip, DatagramArrivesByteForByte) {
    UDPSocket receiver;
    UDPSocket sender;
    ASSERT_TRUE(receiver.bind(0));
    ASSERT_TRUE(sender.bind(0));

    const size_t size = GetParam();
    const auto bytes = pattern(size, 11);
    std::vector<uint8_t> got;
    const std::string err = stderr_of([&] {
        EXPECT_EQ(send_bytes(sender, receiver, bytes), static_cast<int>(size));
        got = receive(receiver);
    });
    EXPECT_EQ(err, "");
    ASSERT_EQ(got.size(), size);
    EXPECT_EQ(got, bytes);
}

// One video fragment's worth, and the largest datagram IPv4 can carry.
INSTANTIATE_TEST_SUITE_P(Sizes, UDPSocketRoundTrip, testing::Values(size_t{1400}, size_t{65507}),
                         [](const testing::TestParamInfo<size_t>& size_info) {
                             return "Bytes" + std::to_string(size_info.param);
                         });

// ---------------------------------------------------------------- buffers

TEST(UDPSocketBuffers, WithoutSocketTheyFailSilently) {
    UDPSocket socket;
    bool recv_set = true;
    bool send_set = true;
    EXPECT_EQ(stderr_of([&] {
                  recv_set = socket.set_recv_buffer(1 << 20);
                  send_set = socket.set_send_buffer(1 << 20);
              }),
              "");
    EXPECT_FALSE(recv_set);
    EXPECT_FALSE(send_set);
}

TEST(UDPSocketBuffers, WithSocketTheySucceed) {
    UDPSocket socket;
    ASSERT_TRUE(socket.bind(0));
    EXPECT_TRUE(socket.set_recv_buffer(1 << 20));
    EXPECT_TRUE(socket.set_send_buffer(1 << 20));
}

// The receive size must reach the socket: a tiny buffer overflows under a
// burst that a large one holds whole.
TEST(UDPSocketBuffers, ReceiveBufferSizeDecidesHowMuchOfABurstIsKept) {
    constexpr int kBurst = 64;
    const auto bytes = pattern(1400, 4);

    auto kept_with = [&](int buffer_bytes) {
        UDPSocket receiver;
        UDPSocket sender;
        EXPECT_TRUE(receiver.bind(0));
        EXPECT_TRUE(sender.bind(0));
        EXPECT_TRUE(receiver.set_recv_buffer(buffer_bytes));
        for (int i = 0; i < kBurst; ++i) EXPECT_EQ(send_bytes(sender, receiver, bytes), 1400);
        return drain(receiver);
    };

    EXPECT_EQ(kept_with(1 << 20), kBurst);
    const int kept_small = kept_with(4096);
    EXPECT_GT(kept_small, 0);
    EXPECT_LT(kept_small, kBurst);
}

// ---------------------------------------------------------------- reset

TEST(UDPSocketReset, OnUnboundObjectDoesNothing) {
    UDPSocket socket;
    EXPECT_EQ(stderr_of([&] { socket.reset(); }), "");
    EXPECT_FALSE(socket.is_valid());
    EXPECT_EQ(socket.get_bound_port(), 0);
    EXPECT_TRUE(socket.bind(0));
}

TEST(UDPSocketReset, ClosesTheSocketSoTheObjectAndThePortCanBeUsedAgain) {
    UDPSocket socket;
    ASSERT_TRUE(socket.bind(0));
    const unsigned short port = socket.get_bound_port();

    socket.reset();
    EXPECT_FALSE(socket.is_valid());
    EXPECT_EQ(socket.get_bound_port(), 0);
    uint8_t buffer[16];
    EXPECT_EQ(socket.recv(buffer, sizeof buffer, 0), -1);

    // Rebinding the very same port proves the old socket was closed.
    ASSERT_TRUE(socket.bind(port));
    EXPECT_EQ(socket.get_bound_port(), port);

    UDPSocket sender;
    ASSERT_TRUE(sender.bind(0));
    const auto bytes = pattern(24, 6);
    ASSERT_EQ(send_bytes(sender, socket, bytes), 24);
    EXPECT_EQ(receive(socket), bytes);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new SocketLibrary);
    return RUN_ALL_TESTS();
}
