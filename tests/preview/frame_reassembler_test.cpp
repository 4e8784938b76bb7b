// FrameReassembler driven datagram by datagram with a hand-moved clock.

#include "frame_reassembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <thread>

#include "filled_fragment.h"
#include "fragmenter.h"
#include "test_pattern.h"

using talvek::testing::filled_fragment;
using talvek::tools::Datagram;
using talvek::tools::make_fragment;
using namespace std::chrono_literals;

namespace {

class ReassemblerTest : public ::testing::Test {
protected:
    FrameReassembler::TimePoint now{};
    FrameReassembler::Clock clock() {
        return [this] { return now; };
    }

    // Every fragment of one frame in order of index.
    static std::vector<Datagram> fragments_of(uint32_t frame_id, const std::vector<uint8_t>& frame) {
        std::vector<Datagram> out;
        talvek::tools::cut_into_fragments(frame_id, frame.data(), frame.size(), {}, out);
        return out;
    }

    static void feed(FrameReassembler& r, const Datagram& d) {
        r.handle_fragment(d.data(), static_cast<int>(d.size()));
    }
};

// 100 x 10 pixels: 4000 bytes in three fragments of 1400, 1400 and 1200.
constexpr int SMALL_W = 100;
constexpr int SMALL_H = 10;
constexpr size_t SMALL_BYTES = SMALL_W * SMALL_H * 4;

TEST_F(ReassemblerTest, ShortDatagramChangesNothing) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    Datagram d = filled_fragment(1, 0, 0, 0);  // a zero-count frame would complete at once...
    r.handle_fragment(d.data(), 39);    // ...but one byte short it is not looked at
    EXPECT_FALSE(r.has_complete_frame());
    EXPECT_EQ(r.frames_in_flight(), 0u);
}

TEST_F(ReassemblerTest, FrameZeroIsNeverAccepted) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(0, 0, 1, 1400));
    EXPECT_FALSE(r.has_complete_frame());
    EXPECT_EQ(r.frames_in_flight(), 0u);
}

TEST_F(ReassemblerTest, HdFrameInReverseOrderLandsByteForByte) {
    FrameReassembler r(1280, 720, clock());
    const std::vector<uint8_t> source = talvek::tools::make_test_pattern(1280, 720, 9);
    std::vector<Datagram> datagrams = fragments_of(9, source);
    ASSERT_EQ(datagrams.size(), 2634u);
    EXPECT_EQ(datagrams.back().size(), 40u + 200u);  // the last fragment carries 200 bytes

    std::reverse(datagrams.begin(), datagrams.end());
    for (size_t i = 0; i + 1 < datagrams.size(); ++i) {
        feed(r, datagrams[i]);
        ASSERT_FALSE(r.has_complete_frame()) << "complete after " << i + 1 << " fragments";
    }
    feed(r, datagrams.back());
    ASSERT_TRUE(r.has_complete_frame());
    ASSERT_EQ(r.get_frame().size(), 3686400u);
    EXPECT_TRUE(r.get_frame() == source);
}

TEST_F(ReassemblerTest, FullHdFrameInRandomOrderCompletes) {
    FrameReassembler r(1920, 1080, clock());
    const std::vector<uint8_t> source = talvek::tools::make_test_pattern(1920, 1080, 300);
    std::vector<Datagram> datagrams = fragments_of(300, source);
    ASSERT_EQ(datagrams.size(), 5925u);
    EXPECT_EQ(datagrams.back().size(), 40u + 800u);

    std::shuffle(datagrams.begin(), datagrams.end(), std::mt19937(7));
    for (const Datagram& d : datagrams) feed(r, d);
    ASSERT_TRUE(r.has_complete_frame());
    EXPECT_TRUE(r.get_frame() == source);
}

TEST_F(ReassemblerTest, DuplicateFragmentIsCountedOnce) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(1, 0, 3, 1400));
    feed(r, filled_fragment(1, 0, 3, 1400));
    feed(r, filled_fragment(1, 1, 3, 1400));
    EXPECT_FALSE(r.has_complete_frame()) << "a duplicate must not stand in for fragment 2";
    feed(r, filled_fragment(1, 2, 3, 1200));
    EXPECT_TRUE(r.has_complete_frame());
}

TEST_F(ReassemblerTest, FirstDatagramFixesTheFragmentCount) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(1, 0, 2, 1400));
    feed(r, filled_fragment(1, 2, 3, 1200));  // a larger count and an index beyond the first count
    EXPECT_FALSE(r.has_complete_frame());
    feed(r, filled_fragment(1, 1, 3, 1400));  // the second of two completes the frame
    ASSERT_TRUE(r.has_complete_frame());
    // Fragment 2 was never stored: its slot is still zero.
    EXPECT_EQ(r.get_frame()[2800], 0);
    EXPECT_EQ(r.get_frame()[1400], 0xAB);
}

TEST_F(ReassemblerTest, LateFragmentsOfCompletedFramesAreIgnored) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(7, 0, 1, 1400));
    ASSERT_TRUE(r.has_complete_frame());
    r.clear_frame();
    const size_t in_flight = r.frames_in_flight();

    feed(r, filled_fragment(6, 0, 1, 1400));
    feed(r, filled_fragment(7, 0, 1, 1400));
    feed(r, filled_fragment(6, 0, 0, 0));  // would complete at once if it were looked at
    EXPECT_FALSE(r.has_complete_frame());
    EXPECT_EQ(r.frames_in_flight(), in_flight);
}

TEST_F(ReassemblerTest, TwoCompletionsKeepOnlyTheLater) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(1, 0, 1, 1400, 0x11));
    feed(r, filled_fragment(2, 0, 1, 1400, 0x22));
    ASSERT_TRUE(r.has_complete_frame());
    EXPECT_EQ(r.get_frame()[0], 0x22);
    r.clear_frame();
    EXPECT_FALSE(r.has_complete_frame());
}

TEST_F(ReassemblerTest, IncompleteFrameOlderThan100MsIsForgotten) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(1, 0, 2, 1400));
    now += 100ms;  // exactly 100 ms is not yet too old
    feed(r, filled_fragment(2, 0, 2, 1400));
    EXPECT_EQ(r.frames_in_flight(), 2u);

    now += 1ms;  // frame 1 is now 101 ms old
    feed(r, filled_fragment(2, 0, 2, 1400));  // a duplicate still triggers the purge
    EXPECT_EQ(r.frames_in_flight(), 1u);

    // The stored fragment went with it: the late half starts a fresh entry.
    feed(r, filled_fragment(1, 1, 2, 1400));
    EXPECT_FALSE(r.has_complete_frame());
    feed(r, filled_fragment(1, 0, 2, 1400));
    EXPECT_TRUE(r.has_complete_frame());
}

TEST_F(ReassemblerTest, LastFragmentArrivingLateCompletesBeforeThePurge) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(1, 0, 2, 1400));
    now += 150ms;
    feed(r, filled_fragment(1, 1, 2, 1400));
    EXPECT_TRUE(r.has_complete_frame());
    EXPECT_EQ(r.frames_in_flight(), 0u);  // and then its entry was purged
}

TEST_F(ReassemblerTest, CountPurgeKeepsTheLastFiveFrameNumbers) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    for (uint32_t id = 1; id <= 15; ++id) feed(r, filled_fragment(id, 0, 2, 1400));
    EXPECT_EQ(r.frames_in_flight(), 15u);
    feed(r, filled_fragment(16, 0, 1, 1400));  // completes: 16 entries, more than 10
    ASSERT_TRUE(r.has_complete_frame());
    // Everything below 16 - 5 = 11 is gone: 11..16 remain.
    EXPECT_EQ(r.frames_in_flight(), 6u);
}

TEST_F(ReassemblerTest, CountPurgeWaitsUntilFrameFive) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    for (uint32_t id = 100; id <= 110; ++id) feed(r, filled_fragment(id, 0, 2, 1400));
    feed(r, filled_fragment(4, 0, 1, 1400));  // 12 entries, but 4 - 5 would wrap around
    ASSERT_TRUE(r.has_complete_frame());
    EXPECT_EQ(r.frames_in_flight(), 12u);
}

TEST_F(ReassemblerTest, ZeroCountFrameIsCompleteAtOnce) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(5, 0, 0, 0));
    ASSERT_TRUE(r.has_complete_frame());
    EXPECT_EQ(r.get_frame(), std::vector<uint8_t>(SMALL_BYTES, 0));
    r.clear_frame();
    feed(r, filled_fragment(5, 0, 1, 1400));  // 5 is now the last completed number
    EXPECT_FALSE(r.has_complete_frame());
}

TEST_F(ReassemblerTest, OversizedPayloadRunsIntoTheNextSlot) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(1, 0, 1, 2000, 0x5A));
    ASSERT_TRUE(r.has_complete_frame());
    EXPECT_EQ(r.get_frame()[1999], 0x5A);
    EXPECT_EQ(r.get_frame()[2000], 0);
}

TEST_F(ReassemblerTest, PayloadIsCutAtTheEndOfTheFrame) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    // The last slot has room for 1200 bytes; 1400 are offered.
    feed(r, filled_fragment(1, 2, 1, 1400, 0x77));
    feed(r, filled_fragment(2, 2, 3, 1400, 0x77));
    feed(r, filled_fragment(2, 0, 3, 1400, 0x77));
    feed(r, filled_fragment(2, 1, 3, 1400, 0x77));
    ASSERT_TRUE(r.has_complete_frame());
    ASSERT_EQ(r.get_frame().size(), SMALL_BYTES);
    EXPECT_EQ(r.get_frame().back(), 0x77);
}

TEST_F(ReassemblerTest, FragmentWhollyBeyondTheFrameIsNotStored) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    feed(r, filled_fragment(1, 0, 4, 1400));
    feed(r, filled_fragment(1, 1, 4, 1400));
    feed(r, filled_fragment(1, 2, 4, 1200));
    feed(r, filled_fragment(1, 3, 4, 1400));  // slot 3 starts at 4200, past the 4000-byte frame
    EXPECT_FALSE(r.has_complete_frame());
}

TEST_F(ReassemblerTest, PayloadSizeBeyondTheDatagramStoresNothing) {
    FrameReassembler r(SMALL_W, SMALL_H, clock());
    std::vector<uint8_t> payload(100, 0xCD);
    // Claims 1400 bytes, carries 100: reading on would run past the datagram.
    Datagram liar = make_fragment(1, 0, 1, 1400, payload.data(), payload.size());
    feed(r, liar);
    EXPECT_FALSE(r.has_complete_frame());
    feed(r, filled_fragment(1, 0, 1, 1400, 0x01));  // the honest copy still completes it
    ASSERT_TRUE(r.has_complete_frame());
    EXPECT_EQ(r.get_frame()[0], 0x01);
}

TEST_F(ReassemblerTest, FreshFrameNumbersThatNeverCompleteStayBounded) {
    FrameReassembler r(1280, 720, clock());
    for (uint32_t id = 1; id <= 300; ++id) feed(r, filled_fragment(id, 0, 1000, 1400));
    EXPECT_LE(r.frames_in_flight(), FrameReassembler::MAX_PARTIAL_FRAMES);
    EXPECT_FALSE(r.has_complete_frame());
}

TEST_F(ReassemblerTest, WallClockDefaultAgesFramesToo) {
    FrameReassembler r(SMALL_W, SMALL_H);  // steady clock
    feed(r, filled_fragment(1, 0, 2, 1400));
    std::this_thread::sleep_for(120ms);
    feed(r, filled_fragment(2, 0, 2, 1400));
    EXPECT_EQ(r.frames_in_flight(), 1u);
}

}  // namespace
