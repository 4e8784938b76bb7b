// The link's time window for held datagrams (--reorder-ms), driven by a
// clock the test moves by hand.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <vector>

#include "impairment.h"

namespace talvek::tools {
namespace {

using namespace std::chrono_literals;
using TimePoint = Impairment::TimePoint;

struct Window {
    explicit Window(ImpairmentOptions options)
        : link(options, [this] { return now; }),
          emit([this](const Datagram& d) { out.push_back({d.front(), now}); }) {}

    void push(uint8_t number) { link.push(Datagram{number}, emit); }
    void step(std::chrono::microseconds by) {
        now += by;
        link.release_expired(emit);
    }

    struct Sent {
        uint8_t number;
        TimePoint at;
    };
    TimePoint now{};
    Impairment link;
    Impairment::Emit emit;
    std::vector<Sent> out;
};

ImpairmentOptions held(double rate, int window_ms) {
    ImpairmentOptions o;
    o.reorder_rate = rate;
    o.reorder_ms = window_ms;
    o.seed = 3;
    return o;
}

TEST(ImpairmentWindow, HeldDatagramsLeaveWithinTheWindowAndNotBefore) {
    Window w(held(1.0, 50));
    for (uint8_t i = 0; i < 100; ++i) w.push(i);
    EXPECT_TRUE(w.out.empty());  // every one is held, nothing counts them out
    w.step(1ms);
    const size_t after_1ms = w.out.size();
    EXPECT_LT(after_1ms, 10u);
    w.step(49ms);
    EXPECT_EQ(w.out.size(), 100u);
    EXPECT_EQ(w.link.held_count(), 0u);
    EXPECT_EQ(w.link.counts().reordered, 100u);
}

TEST(ImpairmentWindow, StreamIsReorderedButNothingIsLostOrLateBeyondTheWindow) {
    Window w(held(0.3, 50));
    std::map<uint8_t, TimePoint> offered;
    for (uint8_t i = 0; i < 200; ++i) {
        offered[i] = w.now;
        w.push(i);
        w.step(1ms);  // the sender polls at least once a millisecond
    }
    for (int i = 0; i < 60; ++i) w.step(1ms);

    ASSERT_EQ(w.out.size(), 200u);
    std::map<uint8_t, int> seen;
    bool out_of_order = false;
    for (size_t k = 0; k < w.out.size(); ++k) {
        ++seen[w.out[k].number];
        EXPECT_LE(w.out[k].at - offered[w.out[k].number], 50ms) << int(w.out[k].number);
        if (k > 0 && w.out[k].number < w.out[k - 1].number) out_of_order = true;
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_TRUE(out_of_order);
    // About 30 % held, the rest straight through.
    EXPECT_GT(w.link.counts().reordered, 30u);
    EXPECT_LT(w.link.counts().reordered, 100u);
}

TEST(ImpairmentWindow, DueDatagramsGoBeforeTheNextOne) {
    Window w(held(1.0, 5));
    w.push(1);
    w.now += 10ms;  // no poll in between: the next push releases it first
    w.push(2);
    ASSERT_EQ(w.out.size(), 1u);
    EXPECT_EQ(w.out[0].number, 1);
}

TEST(ImpairmentWindow, FlushSendsWhatIsStillHeld) {
    Window w(held(1.0, 50));
    w.push(1);
    w.push(2);
    w.link.flush(w.emit);
    EXPECT_EQ(w.out.size(), 2u);
    EXPECT_EQ(w.link.held_count(), 0u);
}

TEST(ImpairmentWindow, WithoutAWindowHeldDatagramsAreCountedOut) {
    ImpairmentOptions o;
    o.reorder_rate = 1.0;
    o.reorder_depth = 1;
    Window w(o);
    w.push(1);
    w.step(1s);
    EXPECT_TRUE(w.out.empty());  // time alone never releases it
    w.link.flush(w.emit);
    EXPECT_EQ(w.out.size(), 1u);
}

}  // namespace
}  // namespace talvek::tools
