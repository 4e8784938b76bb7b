// The fragment table driven datagram by datagram with a hand-moved clock:
// no receiver, no lock and no decode thread. Completed frames go into a
// decode ring, as the receiver queues them, where the test reads them.

#include "fragment_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "decode_ring.h"
#include "filled_fragment.h"
#include "fragmenter.h"

using talvek::client::DecodeRing;
using talvek::client::EncodedFrame;
using talvek::client::FragmentTable;
using talvek::tools::Datagram;
using talvek::testing::filled_fragment;
using namespace std::chrono_literals;

namespace {

constexpr uint64_t SLOT = 1400;

class FragmentTableTest : public ::testing::Test {
protected:
    void feed(const Datagram& d) { feed(d, static_cast<int>(d.size())); }
    void feed(const Datagram& d, int length) { last = feed_outcome(d, length); }

    FragmentTable::Outcome feed_outcome(const Datagram& d, int length) {
        EncodedFrame frame;
        FragmentTable::Outcome outcome = table.handle_fragment(d.data(), length, now, frame);
        if (outcome.completed) {
            // As the receiver does: the ring's spent buffers go back to the table.
            ring.push(std::move(frame));
            table.keep_spare(ring.take_spare());
        }
        keyframe_pending = keyframe_pending || outcome.frame_lost;
        return outcome;
    }

    // What a datagram did besides storing: "dropped <id>: <received>/<count>"
    // for each frame that timed out, then "lost" when a frame went unfinished.
    std::string feed_noting(const Datagram& d) {
        const FragmentTable::Outcome outcome = feed_outcome(d, static_cast<int>(d.size()));
        std::string notes;
        for (const auto& drop : outcome.dropped) {
            if (!notes.empty()) notes += ", ";
            notes += "dropped " + std::to_string(drop.frame_id) + ": " +
                     std::to_string(drop.fragments_received) + "/" +
                     std::to_string(drop.fragment_count);
        }
        if (outcome.frame_lost) notes += notes.empty() ? "lost" : ", lost";
        return notes;
    }

    // A complete one-fragment frame whose only byte is `fill`.
    void complete_frame(uint32_t frame_id, uint8_t fill = 0x11) {
        feed(filled_fragment(frame_id, 0, 1, 1, fill));
    }

    // The receiver's flag: raised by every loss, collected once.
    bool needs_keyframe_request() { return std::exchange(keyframe_pending, false); }

    std::vector<EncodedFrame> queued() const {
        std::vector<EncodedFrame> out;
        for (size_t i = 0; i < ring.count(); ++i) out.push_back(ring.queued(i));
        return out;
    }

    bool has_record(uint32_t frame_id) const { return table.records().count(frame_id) != 0; }

    // What the records' buffers hold, to check the running total against.
    uint64_t allocated_record_bytes() const {
        uint64_t sum = 0;
        for (const auto& [id, record] : table.records()) sum += record.data.size();
        return sum;
    }

    FragmentTable::TimePoint now{};
    FragmentTable table;
    DecodeRing ring;
    FragmentTable::Outcome last;
    bool keyframe_pending = false;
};

// ---- datagram limits -------------------------------------------------------

TEST_F(FragmentTableTest, FortyByteDatagramIsIgnored) {
    // Header says one byte of payload, but the datagram ends at the header.
    const Datagram d = filled_fragment(1, 0, 1, 1);
    feed(d, 40);
    EXPECT_EQ(table.records().size(), 0u);
    EXPECT_TRUE(queued().empty());
}

TEST_F(FragmentTableTest, ShorterThanTheFragmentHeaderIsIgnored) {
    const Datagram d = filled_fragment(1, 0, 1, 1);
    feed(d, 39);
    feed(d, 0);
    EXPECT_EQ(table.records().size(), 0u);
    EXPECT_TRUE(queued().empty());
}

TEST_F(FragmentTableTest, FortyOneByteDatagramCompletesAOneByteFrame) {
    const Datagram d = filled_fragment(1, 0, 1, 1, 0x5A);
    ASSERT_EQ(d.size(), 41u);
    feed(d);
    const auto frames = queued();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], EncodedFrame{0x5A});
    EXPECT_EQ(table.records().size(), 0u);
    EXPECT_EQ(table.last_completed(), 1u);
}

TEST_F(FragmentTableTest, PayloadSizeAboveFourteenHundredIsIgnored) {
    feed(filled_fragment(1, 0, 1, 1401));  // the datagram does carry 1401 bytes
    EXPECT_EQ(table.records().size(), 0u);
    EXPECT_TRUE(queued().empty());
    feed(filled_fragment(2, 0, 1, 1400));
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0].size(), 1400u);
}

TEST_F(FragmentTableTest, PayloadSizeBeyondTheDatagramIsIgnored) {
    const Datagram d = filled_fragment(1, 0, 1, 100);
    feed(d, 40 + 99);
    EXPECT_EQ(table.records().size(), 0u);
    feed(d, 40 + 100);
    EXPECT_EQ(queued().size(), 1u);
}

TEST_F(FragmentTableTest, ZeroPayloadOrZeroCountIsIgnored) {
    feed(talvek::tools::make_fragment(1, 0, 1, 0, nullptr, 0));
    feed(filled_fragment(2, 0, 0, 10));
    EXPECT_EQ(table.records().size(), 0u);
    EXPECT_TRUE(queued().empty());
}

TEST_F(FragmentTableTest, FragmentCountAboveOneThousandIsIgnored) {
    feed(filled_fragment(1, 0, 1001, 1400));
    EXPECT_EQ(table.records().size(), 0u);
    EXPECT_EQ(table.buffered(), 0u);

    feed(filled_fragment(2, 0, 1000, 1400));
    EXPECT_TRUE(has_record(2));
    EXPECT_EQ(table.buffered(), 1000 * SLOT);
}

TEST_F(FragmentTableTest, BytesAfterThePayloadAreIgnored) {
    Datagram d = filled_fragment(1, 0, 1, 3, 0x22);
    d.insert(d.end(), {0x99, 0x99});
    feed(d);
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0], (EncodedFrame{0x22, 0x22, 0x22}));
}

// ---- joining ---------------------------------------------------------------

TEST_F(FragmentTableTest, OutOfOrderFragmentsJoinInIndexOrder) {
    feed(filled_fragment(3, 2, 3, 600, 0xC2));
    feed(filled_fragment(3, 0, 3, 1400, 0xC0));
    EXPECT_TRUE(queued().empty());
    feed(filled_fragment(3, 1, 3, 1400, 0xC1));

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
    EXPECT_EQ(table.records().size(), 0u);
    EXPECT_EQ(table.buffered(), 0u);
}

TEST_F(FragmentTableTest, ShortMiddleFragmentLeavesNoGap) {
    feed(filled_fragment(4, 0, 3, 1400, 0x01));
    feed(filled_fragment(4, 1, 3, 10, 0x02));
    feed(filled_fragment(4, 2, 3, 5, 0x03));
    ASSERT_EQ(queued().size(), 1u);
    const auto frame = queued()[0];
    ASSERT_EQ(frame.size(), 1415u);
    EXPECT_EQ(frame[1409], 0x02);
    EXPECT_EQ(frame[1410], 0x03);
}

TEST_F(FragmentTableTest, DuplicateFragmentIsStoredOnce) {
    feed(filled_fragment(1, 0, 3, 1400, 0x01));
    feed(filled_fragment(1, 0, 3, 1400, 0x0F));  // same index, other bytes
    feed(filled_fragment(1, 1, 3, 1400, 0x02));
    EXPECT_TRUE(queued().empty()) << "a duplicate must not stand in for fragment 2";
    feed(filled_fragment(1, 2, 3, 100, 0x03));
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0][0], 0x01) << "the first copy is the one kept";
}

TEST_F(FragmentTableTest, FirstFragmentFixesTheCount) {
    feed(filled_fragment(1, 0, 2, 1400, 0x01));
    feed(filled_fragment(1, 2, 3, 100, 0x03));  // beyond the first count: ignored
    EXPECT_TRUE(queued().empty());
    feed(filled_fragment(1, 1, 3, 50, 0x02));  // the second of two completes it
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0].size(), 1450u);
}

TEST_F(FragmentTableTest, InterleavedFramesCompleteIndependently) {
    feed(filled_fragment(5, 0, 2, 1400, 0x50));
    feed(filled_fragment(6, 1, 2, 7, 0x61));
    feed(filled_fragment(5, 1, 2, 9, 0x51));  // frame 5 completes first
    feed(filled_fragment(6, 0, 2, 1400, 0x60));
    const auto frames = queued();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].size(), 1409u);
    EXPECT_EQ(frames[1].size(), 1407u);
    EXPECT_EQ(frames[1][0], 0x60);
}

// ---- old, late and superseded frames ---------------------------------------

TEST_F(FragmentTableTest, FragmentsOfFramesBeforeTheLastCompletedAreIgnored) {
    feed(filled_fragment(10, 0, 2, 100));
    feed(filled_fragment(10, 1, 2, 100));
    ASSERT_EQ(queued().size(), 1u);
    feed(filled_fragment(9, 0, 1, 100));
    EXPECT_FALSE(has_record(9));
    EXPECT_EQ(queued().size(), 1u);
}

TEST_F(FragmentTableTest, LateFragmentOfTheCompletedFrameStartsARecordThatTimesOut) {
    feed(filled_fragment(10, 0, 2, 100));
    feed(filled_fragment(10, 1, 2, 100));
    ASSERT_EQ(queued().size(), 1u);

    feed(filled_fragment(10, 1, 2, 100));  // a late repeat
    EXPECT_TRUE(has_record(10));

    now += 300ms;
    EXPECT_EQ(feed_noting(filled_fragment(11, 0, 2, 100)), "dropped 10: 1/2, lost");
    EXPECT_FALSE(has_record(10));
}

TEST_F(FragmentTableTest, LateCopyOfAOneFragmentFrameIsQueuedAgain) {
    complete_frame(10, 0x10);
    complete_frame(10, 0x10);
    EXPECT_EQ(queued().size(), 2u);
}

TEST_F(FragmentTableTest, NewerCompletedFrameRemovesOlderIncompleteOnesWithoutADropLine) {
    feed(filled_fragment(11, 0, 3, 100));
    feed(filled_fragment(8, 0, 3, 100));
    // Two frames lost at once: no drop line for either, but lost.
    EXPECT_EQ(feed_noting(filled_fragment(12, 0, 1, 1)), "lost");
    now += 1s;
    EXPECT_EQ(feed_noting(filled_fragment(13, 0, 2, 100)), "")
        << "a later sweep finds nothing to report";
    EXPECT_FALSE(has_record(11));
    EXPECT_FALSE(has_record(8));
    EXPECT_TRUE(has_record(13));
    EXPECT_TRUE(needs_keyframe_request());
    EXPECT_FALSE(needs_keyframe_request()) << "one request is reported once";
    EXPECT_EQ(table.buffered(), 2 * SLOT);
    EXPECT_EQ(table.last_completed(), 12u);
}

TEST_F(FragmentTableTest, DeltaFrameMissingOneFragmentAsksForAKeyframeWhenTheNextCompletes) {
    feed(filled_fragment(5, 0, 3, 1400));
    feed(filled_fragment(5, 2, 3, 600));  // fragment 1 never comes
    EXPECT_EQ(feed_noting(filled_fragment(6, 0, 2, 1400)), "");
    EXPECT_FALSE(needs_keyframe_request()) << "frame 5 may still complete";
    EXPECT_EQ(feed_noting(filled_fragment(6, 1, 2, 700)), "lost");
    EXPECT_TRUE(needs_keyframe_request());
    EXPECT_FALSE(needs_keyframe_request());
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(queued()[0].size(), 2100u) << "frame 6 is queued as usual";
    EXPECT_EQ(table.records().size(), 0u);
}

TEST_F(FragmentTableTest, StrayCopyOfTheFrameJustCompletedIsNoLoss) {
    feed(filled_fragment(5, 0, 2, 100));
    feed(filled_fragment(5, 1, 2, 100));
    feed(filled_fragment(5, 0, 2, 100));  // late copy: a record for frame 5 again
    ASSERT_TRUE(has_record(5));
    EXPECT_EQ(feed_noting(filled_fragment(6, 0, 2, 100)), "");
    EXPECT_EQ(feed_noting(filled_fragment(6, 1, 2, 100)), "");
    EXPECT_FALSE(has_record(5));
    EXPECT_FALSE(needs_keyframe_request());
    EXPECT_EQ(queued().size(), 2u);
}

// Before anything completed, frame 0 is no copy of a decoded frame: a
// stream that starts at 0 and loses its first frame needs a keyframe.
TEST_F(FragmentTableTest, UnfinishedFrameZeroAtTheStartIsALoss) {
    feed(filled_fragment(0, 0, 2, 100));
    EXPECT_EQ(feed_noting(filled_fragment(1, 0, 1, 100)), "lost");
    EXPECT_TRUE(needs_keyframe_request());
    EXPECT_FALSE(has_record(0));

    // After a reset frame 0 counts as the start of a stream again.
    table.reset();
    feed(filled_fragment(0, 0, 2, 100));
    EXPECT_EQ(feed_noting(filled_fragment(3, 0, 1, 100)), "lost");
}

TEST_F(FragmentTableTest, DuplicatedFragmentsWithoutLossNeverAskForAKeyframe) {
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
            stream.push_back(filled_fragment(id, i, count, 700));
            if (duplicate(random)) copies.emplace_back(stream.size() + size_t(delay(random)), stream.back());
        }
    }
    size_t duplicates_sent = 0;
    size_t drops = 0;
    for (size_t n = 0; n < stream.size(); ++n) {
        feed(stream[n]);
        drops += last.dropped.size();
        for (const auto& [after, copy] : copies) {
            if (after == n + 1) {
                feed(copy);
                drops += last.dropped.size();
                ++duplicates_sent;
            }
        }
    }
    EXPECT_EQ(drops, 0u);
    EXPECT_GT(duplicates_sent, 30u) << "too few duplicates to mean anything";
    EXPECT_FALSE(needs_keyframe_request());
    EXPECT_EQ(table.last_completed(), 200u);
}

TEST_F(FragmentTableTest, NewerIncompleteFrameKeepsOlderOnes) {
    feed(filled_fragment(20, 0, 2, 100));
    feed(filled_fragment(21, 0, 2, 100));
    EXPECT_TRUE(has_record(20));
    EXPECT_TRUE(has_record(21));
    EXPECT_EQ(table.buffered(), 4 * SLOT);
}

TEST_F(FragmentTableTest, FrameIdsCompareAsUnsignedNumbers) {
    complete_frame(5);
    // Negative as a signed number, yet newer: accepted.
    complete_frame(0x80000001u);
    EXPECT_EQ(table.last_completed(), 0x80000001u);

    complete_frame(0xFFFFFFF0u);
    // A sender that starts again from low ids is not heard...
    complete_frame(3);
    feed(filled_fragment(4, 0, 2, 100));
    EXPECT_FALSE(has_record(4));
    EXPECT_EQ(table.last_completed(), 0xFFFFFFF0u);
    // ...until its ids reach the last completed one again.
    complete_frame(0xFFFFFFF0u);
    complete_frame(0xFFFFFFF1u);
    EXPECT_EQ(queued().size(), 5u);
}

// ---- drops and keyframe requests -------------------------------------------

TEST_F(FragmentTableTest, IncompleteFrameIsDroppedWithItsLossAndAKeyframeRequest) {
    for (uint16_t i = 0; i < 7; ++i) feed(filled_fragment(5, i, 10, 1400));
    now += 300ms;
    EXPECT_EQ(feed_noting(filled_fragment(6, 0, 2, 100)), "dropped 5: 7/10, lost");
    EXPECT_FALSE(has_record(5));
    EXPECT_TRUE(has_record(6));
    EXPECT_EQ(table.buffered(), 2 * SLOT);
    EXPECT_TRUE(needs_keyframe_request());
    EXPECT_FALSE(needs_keyframe_request()) << "one request is reported once";
}

TEST_F(FragmentTableTest, EachTimedOutFrameIsDroppedOnItsOwn) {
    feed(filled_fragment(5, 0, 10, 1400));
    feed(filled_fragment(6, 0, 4, 100));
    now += 300ms;
    const std::string notes = feed_noting(filled_fragment(7, 0, 2, 100));
    // In the table's own order.
    EXPECT_TRUE(notes == "dropped 5: 1/10, dropped 6: 1/4, lost" ||
                notes == "dropped 6: 1/4, dropped 5: 1/10, lost")
        << notes;
    EXPECT_EQ(table.records().size(), 1u);
}

TEST_F(FragmentTableTest, FrameIsDroppedOnlyWhenOlderThanTwoHundredFiftyMilliseconds) {
    feed(filled_fragment(5, 0, 3, 1400));
    now += 250ms;
    EXPECT_EQ(feed_noting(filled_fragment(6, 0, 2, 100)), "");
    EXPECT_TRUE(has_record(5));
    now += 1ms;
    EXPECT_NE(feed_noting(filled_fragment(7, 0, 2, 100)).find("dropped 5: 1/3"), std::string::npos);
    EXPECT_FALSE(has_record(5));
}

TEST_F(FragmentTableTest, OnlyAStoredFragmentRunsTheSweep) {
    feed(filled_fragment(5, 0, 3, 1400));
    now += 300ms;
    EXPECT_EQ(feed_noting(filled_fragment(5, 0, 3, 1400)), "") << "duplicate";
    EXPECT_EQ(feed_noting(filled_fragment(1, 0, 1, 1401)), "") << "rejected";
    EXPECT_EQ(feed_noting(filled_fragment(5, 7, 3, 100)), "") << "index out of range";
    EXPECT_TRUE(has_record(5));
    EXPECT_FALSE(needs_keyframe_request());
}

TEST_F(FragmentTableTest, OutOfRangeFirstFragmentLeavesAnEmptyRecordThatTimesOut) {
    feed(filled_fragment(5, 4, 4, 100));
    EXPECT_TRUE(has_record(5));
    EXPECT_EQ(table.buffered(), 4 * SLOT);
    now += 251ms;
    EXPECT_EQ(feed_noting(filled_fragment(6, 0, 2, 100)), "dropped 5: 0/4, lost");
    EXPECT_TRUE(needs_keyframe_request());
}

TEST_F(FragmentTableTest, FragmentCompletingAFrameAlsoSweeps) {
    feed(filled_fragment(5, 0, 2, 100));
    now += 300ms;
    EXPECT_EQ(feed_noting(filled_fragment(4, 0, 1, 100)), "dropped 5: 1/2, lost")
        << "completes frame 4";
    EXPECT_EQ(queued().size(), 1u);
}

// ---- bounds ------------------------------------------------------------------

TEST_F(FragmentTableTest, SixtyRecordsAreCutToThirtyBeforeANewFrame) {
    for (uint32_t id = 1; id <= 60; ++id) feed(filled_fragment(id, 0, 2, 100));
    ASSERT_EQ(table.records().size(), 60u);
    // Thirty frames went unfinished: no drop line for any, but lost.
    EXPECT_EQ(feed_noting(filled_fragment(61, 0, 2, 100)), "lost");
    EXPECT_EQ(table.records().size(), 31u);
    EXPECT_TRUE(has_record(61));
    EXPECT_EQ(table.buffered(), 31 * 2 * SLOT);
    EXPECT_TRUE(needs_keyframe_request());
    EXPECT_FALSE(needs_keyframe_request());
}

TEST_F(FragmentTableTest, FiftyNineRecordsTakeASixtiethWithoutEviction) {
    for (uint32_t id = 1; id <= 59; ++id) feed(filled_fragment(id, 0, 2, 100));
    feed(filled_fragment(60, 0, 2, 100));
    EXPECT_EQ(table.records().size(), 60u);
}

TEST_F(FragmentTableTest, FragmentOfAKnownFrameDoesNotEvict) {
    for (uint32_t id = 1; id <= 60; ++id) feed(filled_fragment(id, 0, 2, 100));
    feed(filled_fragment(30, 1, 2, 100));  // completes 30, which removes 1..30
    EXPECT_EQ(table.records().size(), 30u);
    EXPECT_FALSE(has_record(29));
    for (uint32_t id = 31; id <= 60; ++id) EXPECT_TRUE(has_record(id)) << id;
}

TEST_F(FragmentTableTest, FiftyMegabytesOfBuffersAreCutToThirty) {
    // 37 frames of 1000 fragments hold 51,800,000 bytes; a 38th would make
    // 53,200,000, past 50 MiB, so it evicts first.
    for (uint32_t id = 1; id <= 37; ++id) feed(filled_fragment(id, 0, 1000, 100));
    EXPECT_EQ(table.records().size(), 37u);
    feed(filled_fragment(38, 0, 1000, 100));
    EXPECT_EQ(table.records().size(), 31u);
    EXPECT_TRUE(has_record(38));
    EXPECT_EQ(table.buffered(), 31 * 1000 * SLOT);
    EXPECT_EQ(table.buffered(), allocated_record_bytes());
}

TEST_F(FragmentTableTest, SmallFrameThatFitsUnderFiftyMegabytesDoesNotEvict) {
    // 51,800,000 bytes leave room for 628,799 more: 449 slots fit, 450 do not.
    for (uint32_t id = 1; id <= 37; ++id) feed(filled_fragment(id, 0, 1000, 100));
    feed(filled_fragment(38, 0, 449, 100));
    EXPECT_EQ(table.records().size(), 38u);
    EXPECT_EQ(table.buffered(), 37 * 1000 * SLOT + 449 * SLOT);
    feed(filled_fragment(39, 0, 2, 100));
    EXPECT_EQ(table.records().size(), 31u);
    EXPECT_TRUE(has_record(39));
}

TEST_F(FragmentTableTest, SenderThatNeverCompletesAFrameStaysBounded) {
    uint64_t peak = 0;
    size_t peak_records = 0;
    size_t drops = 0;
    for (uint32_t id = 1; id <= 150; ++id) {
        feed(filled_fragment(id, 0, 1000, 1400));  // announces 1000 fragments, sends one
        drops += last.dropped.size();
        now += 3ms;  // records start timing out after about 80 frames
        ASSERT_EQ(table.buffered(), allocated_record_bytes())
            << "after frame " << id;
        peak = std::max(peak, table.buffered());
        peak_records = std::max(peak_records, table.records().size());
    }
    EXPECT_GT(drops, 0u);
    EXPECT_LE(peak_records, 60u);
    EXPECT_LE(peak, FragmentTable::EVICT_ABOVE_BYTES);
}

TEST_F(FragmentTableTest, BufferedBytesFollowEveryRecord) {
    feed(filled_fragment(1, 0, 3, 100));
    feed(filled_fragment(2, 0, 5, 100));
    EXPECT_EQ(table.buffered(), 8 * SLOT);
    EXPECT_EQ(table.buffered(), allocated_record_bytes());

    now += 300ms;
    feed(filled_fragment(3, 0, 2, 100));  // sweeps 1 and 2
    EXPECT_EQ(table.buffered(), 2 * SLOT);

    feed(filled_fragment(3, 1, 2, 100));  // completes 3
    EXPECT_EQ(table.buffered(), 0u);
    EXPECT_EQ(allocated_record_bytes(), 0u);

    feed(filled_fragment(4, 0, 7, 100));
    table.reset();
    EXPECT_EQ(table.buffered(), 0u);
    EXPECT_EQ(table.records().size(), 0u);
    EXPECT_EQ(table.last_completed(), 0u);
}

// ---- decode queue ----------------------------------------------------------

TEST_F(FragmentTableTest, DecodeQueueKeepsTheSixNewestFrames) {
    for (uint8_t i = 1; i <= 9; ++i) complete_frame(i, i);
    const auto frames = queued();
    ASSERT_EQ(frames.size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(frames[k], EncodedFrame{static_cast<uint8_t>(4 + k)}) << k;
    }
}

// ---- buffer reuse ----------------------------------------------------------

// A stream of frames of a few sizes, short fragments among them, each taken
// by a decoder two at a time: once the buffers in use have grown to the
// largest frame (within 30 frames here), every buffer is one
// seen before, and no frame carries a byte of the frame its buffer held.
TEST_F(FragmentTableTest, SteadyStreamReusesBuffersWithoutStaleBytes) {
    const std::vector<std::vector<uint16_t>> shapes = {
        {1400, 1400, 700}, {1400, 9}, {1400, 1400, 1400, 1400, 1}, {300, 1400, 5}, {1400, 1400, 700}};
    std::vector<const uint8_t*> warm_buffers;
    std::vector<EncodedFrame> batch;
    for (uint32_t id = 1; id <= 90; ++id) {
        const auto& sizes = shapes[id % shapes.size()];
        const auto count = static_cast<uint16_t>(sizes.size());
        std::vector<uint8_t> expected;
        // Fragments in reverse, so a join that trusted arrival order would fail.
        for (uint16_t i = count; i-- > 0;) {
            feed(filled_fragment(id, i, count, sizes[i], static_cast<uint8_t>(id * 16 + i)));
        }
        for (uint16_t i = 0; i < count; ++i) {
            expected.insert(expected.end(), sizes[i], static_cast<uint8_t>(id * 16 + i));
        }
        ASSERT_TRUE(last.completed) << id;
        const EncodedFrame& frame = ring.queued(ring.count() - 1);
        ASSERT_EQ(std::vector<uint8_t>(frame.begin(), frame.end()), expected) << id;
        if (id <= 30) {
            warm_buffers.push_back(frame.data());
        } else {
            EXPECT_NE(std::find(warm_buffers.begin(), warm_buffers.end(), frame.data()),
                      warm_buffers.end())
                << "frame " << id << " reassembled into a new buffer";
        }
        if (id % 2 == 0) ring.take_all(batch);  // the decoder's turn
    }
}

// A frame larger than every spare still gets a buffer of its own size, and
// the spares it passed over serve the smaller frames after it.
TEST_F(FragmentTableTest, FrameLargerThanTheSparesIsWholeAndExact) {
    complete_frame(1, 0x01);
    std::vector<EncodedFrame> batch;
    ring.take_all(batch);
    ring.take_all(batch);  // frame 1's buffer is now a spare of the ring
    for (uint16_t i = 0; i < 40; ++i) {
        feed(filled_fragment(2, i, 40, 1400, static_cast<uint8_t>(i)));
    }
    ASSERT_TRUE(last.completed);
    const EncodedFrame& frame = ring.queued(0);
    ASSERT_EQ(frame.size(), 40 * SLOT);
    for (size_t i = 0; i < 40; ++i) ASSERT_EQ(frame[i * SLOT + SLOT - 1], i) << i;
    EXPECT_EQ(table.buffered(), 0u);
}

}  // namespace
