// The decode queue's ring on its own: push, overwrite of the oldest, the
// thread's take of everything queued, and the two resets a stop makes.

#include "decode_ring.h"

#include <gtest/gtest.h>

#include <vector>

using talvek::client::DecodeRing;
using talvek::client::EncodedFrame;

namespace {

EncodedFrame frame_of(uint8_t byte) { return EncodedFrame{byte}; }

TEST(DecodeRing, SlotsAreMadeAtTheFirstPush) {
    DecodeRing ring;
    EXPECT_EQ(ring.slots(), 0u);
    ring.push(frame_of(1));
    EXPECT_EQ(ring.slots(), DecodeRing::SLOTS);
    EXPECT_EQ(ring.count(), 1u);
}

TEST(DecodeRing, TakeAllGivesTheQueueOldestFirstAndEmptiesIt) {
    DecodeRing ring;
    for (uint8_t i = 1; i <= 4; ++i) ring.push(frame_of(i));
    std::vector<EncodedFrame> batch{frame_of(99)};  // emptied first
    ring.take_all(batch);
    EXPECT_EQ(batch, (std::vector<EncodedFrame>{frame_of(1), frame_of(2), frame_of(3), frame_of(4)}));
    EXPECT_TRUE(ring.empty());
    ring.take_all(batch);
    EXPECT_TRUE(batch.empty());
}

TEST(DecodeRing, SeventhPushOverwritesTheOldestAndTheIndicesWrap) {
    DecodeRing ring;
    for (uint8_t i = 1; i <= 7; ++i) ring.push(frame_of(i));
    EXPECT_EQ(ring.count(), 6u);
    EXPECT_EQ(ring.read_index(), 1u);
    EXPECT_EQ(ring.write_index(), 1u);
    std::vector<EncodedFrame> batch;
    ring.take_all(batch);
    ASSERT_EQ(batch.size(), 6u);
    for (size_t k = 0; k < 6; ++k) EXPECT_EQ(batch[k], frame_of(static_cast<uint8_t>(2 + k))) << k;

    // After a take the ring fills again from where it stopped.
    ring.push(frame_of(8));
    ring.take_all(batch);
    EXPECT_EQ(batch, std::vector<EncodedFrame>{frame_of(8)});
}

TEST(DecodeRing, ForgetKeepsTheSlotsAndReleaseFreesThem) {
    DecodeRing ring;
    for (uint8_t i = 1; i <= 3; ++i) ring.push(frame_of(i));
    ring.forget_queued();
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(ring.read_index(), 0u);
    EXPECT_EQ(ring.write_index(), 0u);
    EXPECT_EQ(ring.slots(), DecodeRing::SLOTS);
    std::vector<EncodedFrame> batch;
    ring.take_all(batch);
    EXPECT_TRUE(batch.empty()) << "forgotten frames are not handed out";

    ring.push(frame_of(4));
    ring.release();
    EXPECT_EQ(ring.slots(), 0u);
    EXPECT_TRUE(ring.empty());
    ring.push(frame_of(5));
    ring.take_all(batch);
    EXPECT_EQ(batch, std::vector<EncodedFrame>{frame_of(5)});
}

}  // namespace
