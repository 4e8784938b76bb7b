// The receiver's side of reassembly: its lock and clock around the fragment
// table, the drop lines, the keyframe request raised once until the main
// loop collects it, and input refused while the receiver is not running.
// The decode thread is held at its first wait, so queued frames stay queued.

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "decode_hooks.h"
#include "filled_fragment.h"
#include "fragmenter.h"
#include "receiver_peer.h"
#include "video_receiver.h"

using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::testing::filled_fragment;
using talvek::tools::Datagram;
using Peer = talvek::client::VideoReceiverTestPeer;
using namespace std::chrono_literals;

namespace {

const std::string REQUEST_LINE = "[VideoReceiver] Requesting keyframe due to dropped frames\n";

class ReceiverReassemblyTest : public ::testing::Test {
protected:
    void SetUp() override {
        hooks.before_wait = [this] {
            std::unique_lock lock(gate_mutex);
            gate.wait(lock, [this] { return gate_open; });
        };
        ASSERT_TRUE(receiver.init_without_window(64, 64, VideoCodec::VP8));
    }

    void TearDown() override {
        {
            std::lock_guard lock(gate_mutex);
            gate_open = true;
        }
        gate.notify_all();
        testing::internal::CaptureStdout();
        receiver.stop();
        testing::internal::GetCapturedStdout();
    }

    void feed(const Datagram& d) { receiver.handle_fragment(d.data(), static_cast<int>(d.size())); }
    void complete_frame(uint32_t frame_id) { feed(filled_fragment(frame_id, 0, 1, 1)); }

    // Feeds a datagram with stderr captured and returns what was written.
    std::string feed_logged(const Datagram& d) {
        testing::internal::CaptureStderr();
        feed(d);
        return testing::internal::GetCapturedStderr();
    }

    std::mutex gate_mutex;
    std::condition_variable gate;
    bool gate_open = false;
    std::chrono::steady_clock::time_point now{};
    talvek::testing::DecodeHooks hooks;
    VideoReceiver receiver{{.clock = [this] { return now; }, .decode_observer = hooks.observer()}};
};

// ---- drop lines and requests ------------------------------------------------

TEST_F(ReceiverReassemblyTest, DropLineGivesTheLossAndOneRequestFollows) {
    for (uint16_t i = 0; i < 7; ++i) feed(filled_fragment(5, i, 10, 1400));
    now += 300ms;
    EXPECT_EQ(feed_logged(filled_fragment(6, 0, 2, 100)),
              "[VideoReceiver] Dropped frame 5: 7/10 fragments received (30.0% loss)\n" +
                  REQUEST_LINE);
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request()) << "one request is reported once";
}

TEST_F(ReceiverReassemblyTest, FrameWithNothingStoredIsLostInFull) {
    feed(filled_fragment(5, 4, 4, 100));
    now += 251ms;
    EXPECT_EQ(feed_logged(filled_fragment(6, 0, 2, 100)),
              "[VideoReceiver] Dropped frame 5: 0/4 fragments received (100.0% loss)\n" +
                  REQUEST_LINE);
}

TEST_F(ReceiverReassemblyTest, SecondDropBeforeThePollLogsNoSecondRequest) {
    feed(filled_fragment(5, 0, 10, 1400));
    now += 300ms;
    feed_logged(filled_fragment(6, 0, 4, 100));
    now += 300ms;
    const std::string err = feed_logged(filled_fragment(7, 0, 2, 100));
    EXPECT_EQ(err, "[VideoReceiver] Dropped frame 6: 1/4 fragments received (75.0% loss)\n");
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request());

    // Once collected, the next drop asks again.
    now += 300ms;
    const std::string again = feed_logged(filled_fragment(8, 0, 2, 100));
    EXPECT_NE(again.find(REQUEST_LINE), std::string::npos);
    EXPECT_TRUE(receiver.needs_keyframe_request());
}

TEST_F(ReceiverReassemblyTest, OvertakenFrameAsksWithoutADropLine) {
    feed(filled_fragment(5, 0, 2, 100));
    EXPECT_EQ(feed_logged(filled_fragment(6, 0, 1, 100)), REQUEST_LINE);
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_EQ(Peer::queued_frames(receiver).size(), 1u);
}

TEST_F(ReceiverReassemblyTest, LossWhileARequestIsPendingLogsNoSecondRequest) {
    feed(filled_fragment(5, 0, 2, 100));
    complete_frame(6);
    feed(filled_fragment(7, 0, 2, 100));
    EXPECT_EQ(feed_logged(filled_fragment(8, 0, 1, 100)), "")
        << "the first request is not collected yet";
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request());
}

TEST_F(ReceiverReassemblyTest, StopEmptiesTheTableAndTheQueue) {
    complete_frame(1);
    feed(filled_fragment(4, 0, 7, 100));
    ASSERT_EQ(Peer::buffered_bytes(receiver), 7u * 1400u);
    TearDown();
    EXPECT_EQ(Peer::buffered_bytes(receiver), 0u);
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    EXPECT_TRUE(Peer::queued_frames(receiver).empty());
    EXPECT_EQ(Peer::queue_slots(receiver), 0u);
}

// ---- input while not running ----------------------------------------------

TEST_F(ReceiverReassemblyTest, FragmentsAfterTheStreamEndedAreIgnored) {
    testing::internal::CaptureStdout();
    receiver.mark_stream_ended();
    testing::internal::GetCapturedStdout();
    complete_frame(1);
    feed(filled_fragment(2, 0, 2, 100));
    EXPECT_TRUE(Peer::queued_frames(receiver).empty());
    EXPECT_EQ(Peer::record_count(receiver), 0u);
}

TEST(ReassemblyIdle, FragmentsBeforeBringUpAreIgnored) {
    auto receiver = std::make_unique<VideoReceiver>();
    const std::vector<uint8_t> payload{1};
    const Datagram d = talvek::tools::make_fragment(1, 0, 1, 1, payload.data(), 1);
    receiver->handle_fragment(d.data(), static_cast<int>(d.size()));
    EXPECT_EQ(Peer::record_count(*receiver), 0u);
    EXPECT_TRUE(Peer::queued_frames(*receiver).empty());
    EXPECT_FALSE(receiver->needs_keyframe_request());
    testing::internal::CaptureStdout();
    receiver.reset();
    testing::internal::GetCapturedStdout();
}

}  // namespace
