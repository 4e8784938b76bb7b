// The soak's and the benchmarks' judgements on small hand-made logs: which
// fault comes back when, what is late, and how latencies are matched.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "latency.h"
#include "percentiles.h"
#include "recovery.h"

using namespace talvek::verdict;

namespace {

constexpr long long MS = 1'000'000;

std::string frame(long long t_ms, int id, int picture, int dropped, bool key) {
    return std::to_string(t_ms * MS) + " frame " + std::to_string(id) + " " +
           std::to_string(picture) + " 10 " + std::to_string(dropped) + " " + (key ? "1" : "0") +
           "\n";
}
std::string kfrq(long long t_ms) { return std::to_string(t_ms * MS) + " kfrq\n"; }
std::string garbage(long long t_ms) { return std::to_string(t_ms * MS) + " garbage 900 5 5\n"; }
std::string shows(long long t_ms, int picture) {
    return std::to_string(t_ms * MS) + " " + std::to_string(picture) + "\n";
}

std::vector<std::string> lines_of(Mode mode, const std::string& events, const std::string& watch,
                                  long long interval_ms = 33) {
    std::istringstream e(events), w(watch);
    std::vector<std::string> out;
    for (const Recovery& r : recoveries({mode, interval_ms * MS}, e, w)) {
        out.push_back(recovery_line(r));
    }
    return out;
}

using Lines = std::vector<std::string>;

// ---- player ---------------------------------------------------------------------

TEST(PlayerRecovery, KfrqIsBackAtAPictureOfItsAnsweringKeyframe) {
    const std::string events = frame(0, 1, 1, 0, true) + kfrq(1000) + frame(1033, 2, 2, 0, false) +
                               frame(1066, 3, 3, 0, true) + frame(1100, 4, 4, 0, false);
    // Frame 2 on screen is before the keyframe; frame 3 is it.
    const std::string watch = shows(1050, 2) + shows(1200, 3);
    EXPECT_EQ(lines_of(Mode::Player, events, watch), (Lines{"kfrq 200.0"}));
}

TEST(PlayerRecovery, LossyFrameWaitsForTheKeyframeSentAfterIt) {
    const std::string events = frame(0, 5, 5, 2, false) + frame(33, 6, 6, 0, false) +
                               frame(66, 7, 7, 0, true);
    EXPECT_EQ(lines_of(Mode::Player, events, shows(50, 6) + shows(120, 7)), (Lines{"loss 120.0"}));
}

TEST(PlayerRecovery, MoreThanOneKeyframeIntervalIsLate) {
    const std::string events = frame(0, 5, 5, 1, false) + frame(4000, 6, 6, 0, true);
    EXPECT_EQ(lines_of(Mode::Player, events, shows(4300, 6)), (Lines{"loss 4300.0 late"}));
    EXPECT_EQ(lines_of(Mode::Player, events, shows(4250, 6)), (Lines{"loss 4250.0"}));
}

TEST(PlayerRecovery, FaultNeverBackIsOpenLateUnlessItCameInTheLastFiveSeconds) {
    const std::string events = frame(0, 5, 5, 1, false) + frame(3000, 6, 6, 1, false) +
                               frame(5001, 7, 7, 0, false);
    EXPECT_EQ(lines_of(Mode::Player, events, shows(5100, 7)), (Lines{"loss open late"}));
}

TEST(PlayerRecovery, CaptureAtTheSameTimeAsAFrameComesFirst) {
    // The capture at 100 ms cannot show the keyframe sent at 100 ms.
    const std::string events = kfrq(0) + frame(100, 9, 9, 0, true);
    EXPECT_EQ(lines_of(Mode::Player, events, shows(100, 9)), Lines{});
    EXPECT_EQ(lines_of(Mode::Player, events, shows(100, 9) + shows(101, 9)), (Lines{"kfrq 101.0"}));
}

// ---- preview --------------------------------------------------------------------

TEST(PreviewRecovery, LossyFrameIsBackAtALaterPictureAndLateAfterTheNextWholeOne) {
    const std::string events = frame(0, 3, 3, 4, false) + frame(33, 4, 4, 0, false);
    // Limit: the whole frame at 33 + 100 + a 33 ms interval = 166 ms.
    EXPECT_EQ(lines_of(Mode::Preview, events, shows(150, 4)), (Lines{"loss 150.0"}));
    EXPECT_EQ(lines_of(Mode::Preview, events, shows(170, 4)), (Lines{"loss 170.0 late"}));
}

TEST(PreviewRecovery, GarbageBeforeTheLimitLetsTheNextWholeFrameSetIt) {
    const std::string events = frame(0, 3, 3, 4, false) + frame(33, 4, 4, 0, false) +
                               garbage(100) + frame(300, 905, 5, 0, false);
    // Late by the first limit, in time by the one after the burst.
    EXPECT_EQ(lines_of(Mode::Preview, events, shows(400, 5)), (Lines{"loss 400.0"}));
    EXPECT_EQ(lines_of(Mode::Preview, events, shows(500, 5)), (Lines{"loss 500.0 late"}));
}

TEST(PreviewRecovery, GarbageAfterTheLimitChangesNothing) {
    const std::string events = frame(0, 3, 3, 4, false) + frame(33, 4, 4, 0, false) +
                               garbage(200) + frame(300, 905, 5, 0, false);
    EXPECT_EQ(lines_of(Mode::Preview, events, shows(400, 5)), (Lines{"loss 400.0 late"}));
}

// ---- summaries and percentiles ----------------------------------------------------

TEST(RecoverySummary, CountsLateAndOpenPerKind) {
    const std::vector<Recovery> all = {{"kfrq", false, 40.0, false}, {"kfrq", false, 60.0, false},
                                       {"kfrq", false, 5000.0, true}, {"kfrq", true, 0.0, true},
                                       {"loss", false, 10.0, false}};
    EXPECT_EQ(recovery_summary(all, "kfrq"),
              "count 3, median 60 ms, p90 60 ms, max 5000 ms, 2 late (1 never resolved)");
    EXPECT_EQ(recovery_summary(all, "loss"),
              "count 1, median 10 ms, p90 10 ms, max 10 ms, 0 late (0 never resolved)");
    EXPECT_EQ(recovery_summary({{"loss", true, 0.0, true}}, "loss"), "count 0, 1 never resolved");
}

TEST(Percentiles, MedianAndP90TakeTheLowerRank) {
    std::vector<double> ten;
    for (int i = 10; i >= 1; --i) ten.push_back(i);
    const Percentiles p = percentiles_of(ten);
    EXPECT_EQ(p.count, 10u);
    EXPECT_EQ(p.median, 5.0);
    EXPECT_EQ(p.p90, 9.0);
    EXPECT_EQ(p.max, 10.0);
    EXPECT_EQ(percentiles_of({7.0}).p90, 7.0);
    EXPECT_EQ(percentiles_of({}).count, 0u);
}

// ---- latency ----------------------------------------------------------------------

TEST(ScreenLatency, EachCaptureMatchesTheLatestSendOfItsPicture) {
    std::istringstream sends(std::to_string(0 * MS) + " 1 1\n" + std::to_string(33 * MS) +
                             " 2 2\n" + std::to_string(400 * MS) + " 3 1\n");
    // The first capture is what was there before; 0 is no picture; the
    // second 1 matches its resend at 400 ms; a capture a second after its
    // send is a repeat.
    std::istringstream watch(shows(5, 1) + shows(20, 1) + shows(30, 0) + shows(50, 2) +
                             shows(410, 1) + shows(1100, 2));
    EXPECT_EQ(screen_latencies(sends, watch), (std::vector<double>{20.0, 17.0, 10.0}));
}

}  // namespace
