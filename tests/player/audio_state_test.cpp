// The audio-state message as the host application reads it off the socket.

#include "audio_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "host_datagrams.h"

using talvek::testing::received_datagrams;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(bool muted, float volume) {
    const auto m = encode_audio_state(muted, volume);
    return Bytes(m.begin(), m.end());
}

TEST(AudioStateMessage, NineBytesMarkerFlagAndLittleEndianFloat) {
    EXPECT_EQ(bytes_of(false, 1.0f), (Bytes{'A', 'U', 'D', 'S',  // marker, no terminator
                                            0x00,                 // not muted
                                            0x00, 0x00, 0x80, 0x3F}));  // 1.0f
    EXPECT_EQ(bytes_of(true, 0.5f), (Bytes{0x41, 0x55, 0x44, 0x53, 0x01,  // muted
                                           0x00, 0x00, 0x00, 0x3F}));     // 0.5f
    EXPECT_EQ(bytes_of(true, 0.0f), (Bytes{0x41, 0x55, 0x44, 0x53, 0x01, 0, 0, 0, 0}));
    // 0.55f is 0x3F0CCCCD.
    EXPECT_EQ(bytes_of(false, 0.55f), (Bytes{0x41, 0x55, 0x44, 0x53, 0x00,
                                             0xCD, 0xCC, 0x0C, 0x3F}));
}

class AudioStateSend : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(player.bind(0));
        ASSERT_TRUE(host.bind(0));
    }

    talvek::UDPSocket player;
    talvek::UDPSocket host;
};

TEST_F(AudioStateSend, EachCallIsOneDatagramToTheHostPort) {
    send_audio_state(player, host.get_bound_port(), true, 0.25f);
    send_audio_state(player, host.get_bound_port(), false, 0.25f);
    EXPECT_EQ(received_datagrams(host, 50ms),
              (std::vector<Bytes>{{0x41, 0x55, 0x44, 0x53, 0x01, 0x00, 0x00, 0x80, 0x3E},
                                  {0x41, 0x55, 0x44, 0x53, 0x00, 0x00, 0x00, 0x80, 0x3E}}));
}

// Port 0 is "no host": nothing is even tried, so the socket logs no failed
// send (no other socket could see a datagram to port 0).
TEST_F(AudioStateSend, PortZeroSendsNothing) {
    ::testing::internal::CaptureStderr();
    send_audio_state(player, 0, true, 0.25f);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(received_datagrams(host, 50ms).empty());
}

}  // namespace
