// handle_fragment driven datagram by datagram with a hand-moved clock. The
// receiver runs without a window and its decode thread is held at its first
// wait, so completed frames stay in the decode queue where the test reads them.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fragmenter.h"
#include "receiver_peer.h"
#include "video_receiver.h"

using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::tools::Datagram;
using Peer = talvek::client::VideoReceiverTestPeer;
using namespace std::chrono_literals;

namespace {

constexpr uint64_t SLOT = 1400;

class ReassemblyTest : public ::testing::Test {
protected:
    void SetUp() override {
        receiver.set_clock([this] { return now; });
        VideoReceiver::DecodeHooks hooks;
        // Held until the receiver stops: the queue is only ever filled.
        hooks.before_wait = [this] {
            while (Peer::running(receiver)) std::this_thread::sleep_for(1ms);
        };
        receiver.set_decode_hooks(std::move(hooks));
        ASSERT_TRUE(receiver.init_without_window(64, 64, VideoCodec::VP8));
    }

    void TearDown() override {
        testing::internal::CaptureStdout();
        receiver.stop();
        testing::internal::GetCapturedStdout();
    }

    // A fragment whose payload is `bytes` copies of `fill`.
    static Datagram fragment(uint32_t frame_id, uint16_t index, uint16_t count, uint16_t bytes,
                             uint8_t fill = 0xAB) {
        std::vector<uint8_t> payload(bytes, fill);
        return talvek::tools::make_fragment(frame_id, index, count, bytes, payload.data(),
                                            payload.size());
    }

    void feed(const Datagram& d) { feed(d, static_cast<int>(d.size())); }
    void feed(const Datagram& d, int length) { receiver.handle_fragment(d.data(), length); }

    // A complete one-fragment frame whose only byte is `fill`.
    void complete_frame(uint32_t frame_id, uint8_t fill = 0x11) {
        feed(fragment(frame_id, 0, 1, 1, fill));
    }

    Peer::Frames queued() { return Peer::queued_frames(receiver); }

    // Feeds a datagram with stderr captured and returns what was written.
    std::string feed_logged(const Datagram& d) {
        testing::internal::CaptureStderr();
        feed(d);
        return testing::internal::GetCapturedStderr();
    }

    std::chrono::steady_clock::time_point now{};
    VideoReceiver receiver;
};

// ---- datagram limits -------------------------------------------------------

TEST_F(ReassemblyTest, FortyByteDatagramIsIgnored) {
    // Header says one byte of payload, but the datagram ends at the header.
    const Datagram d = fragment(1, 0, 1, 1);
    feed(d, 40);
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    EXPECT_TRUE(queued().empty());
}

TEST_F(ReassemblyTest, ShorterThanTheFragmentHeaderIsIgnored) {
    const Datagram d = fragment(1, 0, 1, 1);
    feed(d, 39);
    feed(d, 0);
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    EXPECT_TRUE(queued().empty());
}

TEST_F(ReassemblyTest, FortyOneByteDatagramCompletesAOneByteFrame) {
    const Datagram d = fragment(1, 0, 1, 1, 0x5A);
    ASSERT_EQ(d.size(), 41u);
    feed(d);
    const auto frames = queued();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], std::vector<uint8_t>{0x5A});
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    EXPECT_EQ(Peer::last_completed_id(receiver), 1u);
}

TEST_F(ReassemblyTest, PayloadSizeAboveFourteenHundredIsIgnored) {
    feed(fragment(1, 0, 1, 1401));  // the datagram does carry 1401 bytes
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    EXPECT_TRUE(queued().empty());
    feed(fragment(2, 0, 1, 1400));
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0].size(), 1400u);
}

TEST_F(ReassemblyTest, PayloadSizeBeyondTheDatagramIsIgnored) {
    const Datagram d = fragment(1, 0, 1, 100);
    feed(d, 40 + 99);
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    feed(d, 40 + 100);
    EXPECT_EQ(queued().size(), 1u);
}

TEST_F(ReassemblyTest, ZeroPayloadOrZeroCountIsIgnored) {
    feed(talvek::tools::make_fragment(1, 0, 1, 0, nullptr, 0));
    feed(fragment(2, 0, 0, 10));
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    EXPECT_TRUE(queued().empty());
}

TEST_F(ReassemblyTest, FragmentCountAboveOneThousandIsIgnored) {
    feed(fragment(1, 0, 1001, 1400));
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    EXPECT_EQ(Peer::buffered_bytes(receiver), 0u);

    feed(fragment(2, 0, 1000, 1400));
    EXPECT_TRUE(Peer::has_record(receiver, 2));
    EXPECT_EQ(Peer::buffered_bytes(receiver), 1000 * SLOT);
}

TEST_F(ReassemblyTest, BytesAfterThePayloadAreIgnored) {
    Datagram d = fragment(1, 0, 1, 3, 0x22);
    d.insert(d.end(), {0x99, 0x99});
    feed(d);
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0], (std::vector<uint8_t>{0x22, 0x22, 0x22}));
}

// ---- joining ---------------------------------------------------------------

TEST_F(ReassemblyTest, OutOfOrderFragmentsJoinInIndexOrder) {
    feed(fragment(3, 2, 3, 600, 0xC2));
    feed(fragment(3, 0, 3, 1400, 0xC0));
    EXPECT_TRUE(queued().empty());
    feed(fragment(3, 1, 3, 1400, 0xC1));

    const auto frames = queued();
    ASSERT_EQ(frames.size(), 1u);
    const auto& frame = frames[0];
    ASSERT_EQ(frame.size(), 3400u);
    EXPECT_EQ(frame[0], 0xC0);
    EXPECT_EQ(frame[1399], 0xC0);
    EXPECT_EQ(frame[1400], 0xC1);
    EXPECT_EQ(frame[2799], 0xC1);
    EXPECT_EQ(frame[2800], 0xC2);
    EXPECT_EQ(frame[3399], 0xC2);
    EXPECT_EQ(Peer::record_count(receiver), 0u);
    EXPECT_EQ(Peer::buffered_bytes(receiver), 0u);
}

TEST_F(ReassemblyTest, ShortMiddleFragmentLeavesNoGap) {
    feed(fragment(4, 0, 3, 1400, 0x01));
    feed(fragment(4, 1, 3, 10, 0x02));
    feed(fragment(4, 2, 3, 5, 0x03));
    ASSERT_EQ(queued().size(), 1u);
    const auto frame = queued()[0];
    ASSERT_EQ(frame.size(), 1415u);
    EXPECT_EQ(frame[1409], 0x02);
    EXPECT_EQ(frame[1410], 0x03);
}

TEST_F(ReassemblyTest, DuplicateFragmentIsStoredOnce) {
    feed(fragment(1, 0, 3, 1400, 0x01));
    feed(fragment(1, 0, 3, 1400, 0x0F));  // same index, other bytes
    feed(fragment(1, 1, 3, 1400, 0x02));
    EXPECT_TRUE(queued().empty()) << "a duplicate must not stand in for fragment 2";
    feed(fragment(1, 2, 3, 100, 0x03));
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0][0], 0x01) << "the first copy is the one kept";
}

TEST_F(ReassemblyTest, FirstFragmentFixesTheCount) {
    feed(fragment(1, 0, 2, 1400, 0x01));
    feed(fragment(1, 2, 3, 100, 0x03));  // beyond the first count: ignored
    EXPECT_TRUE(queued().empty());
    feed(fragment(1, 1, 3, 50, 0x02));  // the second of two completes it
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0].size(), 1450u);
}

TEST_F(ReassemblyTest, InterleavedFramesCompleteIndependently) {
    feed(fragment(5, 0, 2, 1400, 0x50));
    feed(fragment(6, 1, 2, 7, 0x61));
    feed(fragment(5, 1, 2, 9, 0x51));  // frame 5 completes first
    feed(fragment(6, 0, 2, 1400, 0x60));
    const auto frames = queued();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].size(), 1409u);
    EXPECT_EQ(frames[1].size(), 1407u);
    EXPECT_EQ(frames[1][0], 0x60);
}

// ---- old, late and superseded frames ---------------------------------------

TEST_F(ReassemblyTest, FragmentsOfFramesBeforeTheLastCompletedAreIgnored) {
    feed(fragment(10, 0, 2, 100));
    feed(fragment(10, 1, 2, 100));
    ASSERT_EQ(queued().size(), 1u);
    feed(fragment(9, 0, 1, 100));
    EXPECT_FALSE(Peer::has_record(receiver, 9));
    EXPECT_EQ(queued().size(), 1u);
}

TEST_F(ReassemblyTest, LateFragmentOfTheCompletedFrameStartsARecordThatTimesOut) {
    feed(fragment(10, 0, 2, 100));
    feed(fragment(10, 1, 2, 100));
    ASSERT_EQ(queued().size(), 1u);

    feed(fragment(10, 1, 2, 100));  // a late repeat
    EXPECT_TRUE(Peer::has_record(receiver, 10));

    now += 300ms;
    const std::string err = feed_logged(fragment(11, 0, 2, 100));
    EXPECT_NE(err.find("[VideoReceiver] Dropped frame 10: 1/2 fragments received (50.0% loss)\n"),
              std::string::npos)
        << err;
    EXPECT_FALSE(Peer::has_record(receiver, 10));
}

TEST_F(ReassemblyTest, LateCopyOfAOneFragmentFrameIsQueuedAgain) {
    complete_frame(10, 0x10);
    complete_frame(10, 0x10);
    EXPECT_EQ(queued().size(), 2u);
}

TEST_F(ReassemblyTest, NewerCompletedFrameRemovesOlderIncompleteOnesWithoutADropLine) {
    feed(fragment(11, 0, 3, 100));
    feed(fragment(8, 0, 3, 100));
    testing::internal::CaptureStderr();
    complete_frame(12);
    now += 1s;
    feed(fragment(13, 0, 2, 100));  // a later sweep finds nothing to report
    const std::string err = testing::internal::GetCapturedStderr();
    // Two frames lost in one pass: no drop line for either, one request.
    EXPECT_EQ(err, "[VideoReceiver] Requesting keyframe due to dropped frames\n");
    EXPECT_FALSE(Peer::has_record(receiver, 11));
    EXPECT_FALSE(Peer::has_record(receiver, 8));
    EXPECT_TRUE(Peer::has_record(receiver, 13));
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request()) << "one request is reported once";
    EXPECT_EQ(Peer::buffered_bytes(receiver), 2 * SLOT);
    EXPECT_EQ(Peer::last_completed_id(receiver), 12u);
}

TEST_F(ReassemblyTest, DeltaFrameMissingOneFragmentAsksForAKeyframeWhenTheNextCompletes) {
    feed(fragment(5, 0, 3, 1400));
    feed(fragment(5, 2, 3, 600));  // fragment 1 never comes
    EXPECT_EQ(feed_logged(fragment(6, 0, 2, 1400)), "");
    EXPECT_FALSE(receiver.needs_keyframe_request()) << "frame 5 may still complete";
    EXPECT_EQ(feed_logged(fragment(6, 1, 2, 700)),
              "[VideoReceiver] Requesting keyframe due to dropped frames\n");
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request());
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0].size(), 2100u) << "frame 6 is queued as usual";
    EXPECT_EQ(Peer::record_count(receiver), 0u);
}

TEST_F(ReassemblyTest, LossWhileARequestIsPendingLogsNoSecondRequest) {
    feed(fragment(5, 0, 2, 100));
    complete_frame(6);
    feed(fragment(7, 0, 2, 100));
    EXPECT_EQ(feed_logged(fragment(8, 0, 1, 100)), "") << "the first request is not collected yet";
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request());
}

TEST_F(ReassemblyTest, StrayCopyOfTheFrameJustCompletedIsNoLoss) {
    feed(fragment(5, 0, 2, 100));
    feed(fragment(5, 1, 2, 100));
    feed(fragment(5, 0, 2, 100));  // late copy: a record for frame 5 again
    ASSERT_TRUE(Peer::has_record(receiver, 5));
    testing::internal::CaptureStderr();
    feed(fragment(6, 0, 2, 100));
    feed(fragment(6, 1, 2, 100));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(Peer::has_record(receiver, 5));
    EXPECT_FALSE(receiver.needs_keyframe_request());
    EXPECT_EQ(queued().size(), 2u);
}

TEST_F(ReassemblyTest, DuplicatedFragmentsWithoutLossNeverAskForAKeyframe) {
    // 200 frames of 1 to 8 fragments, each fragment sent again with a 5 %
    // chance, at once or a few fragments later, within its frame or after it.
    std::mt19937 random(11);
    std::bernoulli_distribution duplicate(0.05);
    std::uniform_int_distribution<int> fragments(1, 8);
    std::uniform_int_distribution<int> delay(0, 6);
    std::vector<std::pair<size_t, Datagram>> copies;  // send after datagram n
    std::vector<Datagram> stream;
    for (uint32_t id = 1; id <= 200; ++id) {
        const auto count = static_cast<uint16_t>(fragments(random));
        for (uint16_t i = 0; i < count; ++i) {
            stream.push_back(fragment(id, i, count, 700));
            if (duplicate(random)) copies.emplace_back(stream.size() + size_t(delay(random)), stream.back());
        }
    }
    testing::internal::CaptureStderr();
    size_t duplicates_sent = 0;
    for (size_t n = 0; n < stream.size(); ++n) {
        feed(stream[n]);
        for (const auto& [after, copy] : copies) {
            if (after == n + 1) {
                feed(copy);
                ++duplicates_sent;
            }
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_GT(duplicates_sent, 30u) << "too few duplicates to mean anything";
    EXPECT_FALSE(receiver.needs_keyframe_request());
    EXPECT_EQ(Peer::last_completed_id(receiver), 200u);
}

TEST_F(ReassemblyTest, NewerIncompleteFrameKeepsOlderOnes) {
    feed(fragment(20, 0, 2, 100));
    feed(fragment(21, 0, 2, 100));
    EXPECT_TRUE(Peer::has_record(receiver, 20));
    EXPECT_TRUE(Peer::has_record(receiver, 21));
    EXPECT_EQ(Peer::buffered_bytes(receiver), 4 * SLOT);
}

TEST_F(ReassemblyTest, FrameIdsCompareAsUnsignedNumbers) {
    complete_frame(5);
    // Negative as a signed number, yet newer: accepted.
    complete_frame(0x80000001u);
    EXPECT_EQ(Peer::last_completed_id(receiver), 0x80000001u);

    complete_frame(0xFFFFFFF0u);
    // A sender that starts again from low ids is not heard...
    complete_frame(3);
    feed(fragment(4, 0, 2, 100));
    EXPECT_FALSE(Peer::has_record(receiver, 4));
    EXPECT_EQ(Peer::last_completed_id(receiver), 0xFFFFFFF0u);
    // ...until its ids reach the last completed one again.
    complete_frame(0xFFFFFFF0u);
    complete_frame(0xFFFFFFF1u);
    EXPECT_EQ(queued().size(), 5u);
}

// ---- drops and keyframe requests -------------------------------------------

TEST_F(ReassemblyTest, IncompleteFrameIsDroppedWithItsLossAndAKeyframeRequest) {
    for (uint16_t i = 0; i < 7; ++i) feed(fragment(5, i, 10, 1400));
    now += 300ms;
    const std::string err = feed_logged(fragment(6, 0, 2, 100));
    EXPECT_EQ(err,
              "[VideoReceiver] Dropped frame 5: 7/10 fragments received (30.0% loss)\n"
              "[VideoReceiver] Requesting keyframe due to dropped frames\n");
    EXPECT_FALSE(Peer::has_record(receiver, 5));
    EXPECT_TRUE(Peer::has_record(receiver, 6));
    EXPECT_EQ(Peer::buffered_bytes(receiver), 2 * SLOT);
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request()) << "one request is reported once";
}

TEST_F(ReassemblyTest, SecondDropBeforeThePollLogsNoSecondRequest) {
    feed(fragment(5, 0, 10, 1400));
    now += 300ms;
    feed_logged(fragment(6, 0, 4, 100));
    now += 300ms;
    const std::string err = feed_logged(fragment(7, 0, 2, 100));
    EXPECT_EQ(err, "[VideoReceiver] Dropped frame 6: 1/4 fragments received (75.0% loss)\n");
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request());

    // Once collected, the next drop asks again.
    now += 300ms;
    const std::string again = feed_logged(fragment(8, 0, 2, 100));
    EXPECT_NE(again.find("[VideoReceiver] Requesting keyframe due to dropped frames\n"),
              std::string::npos);
    EXPECT_TRUE(receiver.needs_keyframe_request());
}

TEST_F(ReassemblyTest, FrameIsDroppedOnlyWhenOlderThanTwoHundredFiftyMilliseconds) {
    feed(fragment(5, 0, 3, 1400));
    now += 250ms;
    EXPECT_EQ(feed_logged(fragment(6, 0, 2, 100)), "");
    EXPECT_TRUE(Peer::has_record(receiver, 5));
    now += 1ms;
    EXPECT_NE(feed_logged(fragment(7, 0, 2, 100)).find("Dropped frame 5: 1/3"), std::string::npos);
    EXPECT_FALSE(Peer::has_record(receiver, 5));
}

TEST_F(ReassemblyTest, OnlyAStoredFragmentRunsTheSweep) {
    feed(fragment(5, 0, 3, 1400));
    now += 300ms;
    testing::internal::CaptureStderr();
    feed(fragment(5, 0, 3, 1400));  // duplicate
    feed(fragment(1, 0, 1, 1401));  // rejected
    feed(fragment(5, 7, 3, 100));   // index out of range
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(Peer::has_record(receiver, 5));
    EXPECT_FALSE(receiver.needs_keyframe_request());
}

TEST_F(ReassemblyTest, OutOfRangeFirstFragmentLeavesAnEmptyRecordThatTimesOut) {
    feed(fragment(5, 4, 4, 100));
    EXPECT_TRUE(Peer::has_record(receiver, 5));
    EXPECT_EQ(Peer::buffered_bytes(receiver), 4 * SLOT);
    now += 251ms;
    const std::string err = feed_logged(fragment(6, 0, 2, 100));
    EXPECT_NE(err.find("[VideoReceiver] Dropped frame 5: 0/4 fragments received (100.0% loss)\n"),
              std::string::npos)
        << err;
    EXPECT_TRUE(receiver.needs_keyframe_request());
}

TEST_F(ReassemblyTest, FragmentCompletingAFrameAlsoSweeps) {
    feed(fragment(5, 0, 2, 100));
    now += 300ms;
    const std::string err = feed_logged(fragment(4, 0, 1, 100));  // completes frame 4
    EXPECT_NE(err.find("Dropped frame 5: 1/2"), std::string::npos) << err;
    EXPECT_EQ(queued().size(), 1u);
}

// ---- bounds ------------------------------------------------------------------

TEST_F(ReassemblyTest, SixtyRecordsAreCutToThirtyBeforeANewFrame) {
    for (uint32_t id = 1; id <= 60; ++id) feed(fragment(id, 0, 2, 100));
    ASSERT_EQ(Peer::record_count(receiver), 60u);
    testing::internal::CaptureStderr();
    feed(fragment(61, 0, 2, 100));
    // Thirty frames went unfinished: no line each, one request for them all.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[VideoReceiver] Requesting keyframe due to dropped frames\n");
    EXPECT_EQ(Peer::record_count(receiver), 31u);
    EXPECT_TRUE(Peer::has_record(receiver, 61));
    EXPECT_EQ(Peer::buffered_bytes(receiver), 31 * 2 * SLOT);
    EXPECT_TRUE(receiver.needs_keyframe_request());
    EXPECT_FALSE(receiver.needs_keyframe_request());
}

TEST_F(ReassemblyTest, FiftyNineRecordsTakeASixtiethWithoutEviction) {
    for (uint32_t id = 1; id <= 59; ++id) feed(fragment(id, 0, 2, 100));
    feed(fragment(60, 0, 2, 100));
    EXPECT_EQ(Peer::record_count(receiver), 60u);
}

TEST_F(ReassemblyTest, FragmentOfAKnownFrameDoesNotEvict) {
    for (uint32_t id = 1; id <= 60; ++id) feed(fragment(id, 0, 2, 100));
    feed(fragment(30, 1, 2, 100));  // completes 30, which removes 1..30
    EXPECT_EQ(Peer::record_count(receiver), 30u);
    EXPECT_FALSE(Peer::has_record(receiver, 29));
    for (uint32_t id = 31; id <= 60; ++id) EXPECT_TRUE(Peer::has_record(receiver, id)) << id;
}

TEST_F(ReassemblyTest, FiftyMegabytesOfBuffersAreCutToThirty) {
    // 37 frames of 1000 fragments hold 51,800,000 bytes; a 38th would make
    // 53,200,000, past 50 MiB, so it evicts first.
    for (uint32_t id = 1; id <= 37; ++id) feed(fragment(id, 0, 1000, 100));
    EXPECT_EQ(Peer::record_count(receiver), 37u);
    feed(fragment(38, 0, 1000, 100));
    EXPECT_EQ(Peer::record_count(receiver), 31u);
    EXPECT_TRUE(Peer::has_record(receiver, 38));
    EXPECT_EQ(Peer::buffered_bytes(receiver), 31 * 1000 * SLOT);
    EXPECT_EQ(Peer::buffered_bytes(receiver), Peer::allocated_record_bytes(receiver));
}

TEST_F(ReassemblyTest, SmallFrameThatFitsUnderFiftyMegabytesDoesNotEvict) {
    // 51,800,000 bytes leave room for 628,799 more: 449 slots fit, 450 do not.
    for (uint32_t id = 1; id <= 37; ++id) feed(fragment(id, 0, 1000, 100));
    feed(fragment(38, 0, 449, 100));
    EXPECT_EQ(Peer::record_count(receiver), 38u);
    EXPECT_EQ(Peer::buffered_bytes(receiver), 37 * 1000 * SLOT + 449 * SLOT);
    feed(fragment(39, 0, 2, 100));
    EXPECT_EQ(Peer::record_count(receiver), 31u);
    EXPECT_TRUE(Peer::has_record(receiver, 39));
}

TEST_F(ReassemblyTest, SenderThatNeverCompletesAFrameStaysBounded) {
    uint64_t peak = 0;
    size_t peak_records = 0;
    testing::internal::CaptureStderr();  // the drop lines
    for (uint32_t id = 1; id <= 150; ++id) {
        feed(fragment(id, 0, 1000, 1400));  // announces 1000 fragments, sends one
        now += 3ms;  // records start timing out after about 80 frames
        ASSERT_EQ(Peer::buffered_bytes(receiver), Peer::allocated_record_bytes(receiver))
            << "after frame " << id;
        peak = std::max(peak, Peer::buffered_bytes(receiver));
        peak_records = std::max(peak_records, Peer::record_count(receiver));
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("fragments received (99.9% loss)"), std::string::npos);
    EXPECT_LE(peak_records, 60u);
    EXPECT_LE(peak, VideoReceiver::EVICT_ABOVE_BYTES);
}

TEST_F(ReassemblyTest, BufferedBytesFollowEveryRecord) {
    feed(fragment(1, 0, 3, 100));
    feed(fragment(2, 0, 5, 100));
    EXPECT_EQ(Peer::buffered_bytes(receiver), 8 * SLOT);
    EXPECT_EQ(Peer::buffered_bytes(receiver), Peer::allocated_record_bytes(receiver));

    now += 300ms;
    feed_logged(fragment(3, 0, 2, 100));  // sweeps 1 and 2
    EXPECT_EQ(Peer::buffered_bytes(receiver), 2 * SLOT);

    feed(fragment(3, 1, 2, 100));  // completes 3
    EXPECT_EQ(Peer::buffered_bytes(receiver), 0u);
    EXPECT_EQ(Peer::allocated_record_bytes(receiver), 0u);

    feed(fragment(4, 0, 7, 100));
    testing::internal::CaptureStdout();
    receiver.stop();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Peer::buffered_bytes(receiver), 0u);
    EXPECT_EQ(Peer::record_count(receiver), 0u);
}

// ---- decode queue ----------------------------------------------------------

TEST_F(ReassemblyTest, DecodeQueueKeepsTheSixNewestFrames) {
    for (uint8_t i = 1; i <= 9; ++i) complete_frame(i, i);
    const auto frames = queued();
    ASSERT_EQ(frames.size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(frames[k], std::vector<uint8_t>{static_cast<uint8_t>(4 + k)}) << k;
    }
}

// ---- input while not running ----------------------------------------------

TEST_F(ReassemblyTest, FragmentsAfterTheStreamEndedAreIgnored) {
    testing::internal::CaptureStdout();
    receiver.mark_stream_ended();
    testing::internal::GetCapturedStdout();
    complete_frame(1);
    feed(fragment(2, 0, 2, 100));
    EXPECT_TRUE(queued().empty());
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
