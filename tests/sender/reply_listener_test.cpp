// Replies from a player, sent over real loopback to the sender's socket and
// read back without blocking: keyframe requests, audio states, and anything
// else as a hex dump.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "reply_listener.h"
#include "udp_socket.h"

namespace talvek::tools {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes KFRQ = {'K', 'F', 'R', 'Q'};
// "AUDS", muted = 1, volume = 0.5f little-endian (0x3F000000).
const Bytes AUDS_MUTED_HALF = {'A', 'U', 'D', 'S', 0x01, 0x00, 0x00, 0x00, 0x3F};
// "AUDS", muted = 0, volume = 0.75f little-endian (0x3F400000).
const Bytes AUDS_OPEN_THREE_QUARTERS = {'A', 'U', 'D', 'S', 0x00, 0x00, 0x00, 0x40, 0x3F};

class ReplyListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sender_socket.bind(0));
        ASSERT_TRUE(player_socket.bind(0));
    }

    void send_from_player(const Bytes& bytes) {
        ASSERT_EQ(player_socket.send(bytes.data(), bytes.size(), "127.0.0.1",
                                     sender_socket.get_bound_port()),
                  static_cast<int>(bytes.size()));
    }

    // Polls until `count` replies are in or a second has passed.
    std::vector<Reply> collect(size_t count) {
        std::vector<Reply> replies;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (replies.size() < count && std::chrono::steady_clock::now() < deadline) {
            if (listener.poll(replies) < 0) break;
        }
        return replies;
    }

    UDPSocket sender_socket;
    UDPSocket player_socket;
    ReplyListener listener{sender_socket};
};

TEST_F(ReplyListenerTest, KeyframeRequestArrives) {
    send_from_player(KFRQ);
    const std::vector<Reply> replies = collect(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].kind, Reply::Kind::KeyframeRequest);
    EXPECT_EQ(describe_reply(replies[0]), "[Sender] received KFRQ\n");
}

TEST_F(ReplyListenerTest, AudioStatesArriveWithTheirValues) {
    send_from_player(AUDS_MUTED_HALF);
    send_from_player(AUDS_OPEN_THREE_QUARTERS);
    const std::vector<Reply> replies = collect(2);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].kind, Reply::Kind::AudioState);
    EXPECT_TRUE(replies[0].muted);
    EXPECT_FLOAT_EQ(replies[0].volume, 0.5f);
    EXPECT_EQ(describe_reply(replies[0]), "[Sender] received AUDS muted=1 volume=0.500\n");
    EXPECT_EQ(replies[1].kind, Reply::Kind::AudioState);
    EXPECT_FALSE(replies[1].muted);
    EXPECT_FLOAT_EQ(replies[1].volume, 0.75f);
    EXPECT_EQ(describe_reply(replies[1]), "[Sender] received AUDS muted=0 volume=0.750\n");
}

TEST_F(ReplyListenerTest, AllWaitingRepliesAreReadInOnePoll) {
    send_from_player(KFRQ);
    send_from_player(AUDS_MUTED_HALF);
    send_from_player(KFRQ);
    // Loopback delivers at once; give it a moment all the same.
    std::vector<Reply> replies = collect(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    listener.poll(replies);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].kind, Reply::Kind::KeyframeRequest);
    EXPECT_EQ(replies[1].kind, Reply::Kind::AudioState);
    EXPECT_EQ(replies[2].kind, Reply::Kind::KeyframeRequest);
}

// A marker alone is not enough: the length must match too.
TEST_F(ReplyListenerTest, NearMissesAreShownAsBytes) {
    const Bytes kfrq_long = {'K', 'F', 'R', 'Q', '!'};
    const Bytes auds_short(AUDS_MUTED_HALF.begin(), AUDS_MUTED_HALF.end() - 1);
    const Bytes lower = {'k', 'f', 'r', 'q'};
    send_from_player(kfrq_long);
    send_from_player(auds_short);
    send_from_player(lower);
    const std::vector<Reply> replies = collect(3);
    ASSERT_EQ(replies.size(), 3u);
    for (const Reply& r : replies) EXPECT_EQ(r.kind, Reply::Kind::Other);
    EXPECT_EQ(describe_reply(replies[0]), "[Sender] received 5 bytes: 4b 46 52 51 21\n");
    EXPECT_EQ(describe_reply(replies[1]),
              "[Sender] received 8 bytes: 41 55 44 53 01 00 00 00\n");
    EXPECT_EQ(describe_reply(replies[2]), "[Sender] received 4 bytes: 6b 66 72 71\n");
    EXPECT_EQ(replies[0].bytes, kfrq_long);
}

TEST_F(ReplyListenerTest, LongDatagramDumpIsCut) {
    Bytes big(100);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
    send_from_player(big);
    const std::vector<Reply> replies = collect(1);
    ASSERT_EQ(replies.size(), 1u);
    std::string expected = "[Sender] received 100 bytes:";
    for (int i = 0; i < 32; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", i);
        expected += hex;
    }
    EXPECT_EQ(describe_reply(replies[0]), expected + " ...\n");
    EXPECT_EQ(replies[0].bytes, big);
}

TEST_F(ReplyListenerTest, PollReturnsAtOnceWhenNothingWaits) {
    std::vector<Reply> replies;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(listener.poll(replies), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_TRUE(replies.empty());
}

}  // namespace
}  // namespace talvek::tools
