// Garbage bursts in a real stream: when they come, which kinds, and the
// frame ids they take.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "garbage_bursts.h"
#include "media_header.h"

namespace talvek::tools {
namespace {

FragmentHeader header_of(const Datagram& d) {
    FragmentHeader h{};
    std::memcpy(&h, d.data() + FRAGMENT_HEADER_OFFSET, sizeof h);
    return h;
}

TEST(GarbageBursts, ComeOnceEachInterval) {
    GarbageBursts bursts(10.0, 5, {MalformedKind::Short}, 1);
    ASSERT_TRUE(bursts.enabled());
    EXPECT_FALSE(bursts.due(0.0));
    EXPECT_FALSE(bursts.due(9.9));
    EXPECT_TRUE(bursts.due(10.0));
    std::vector<Datagram> out;
    bursts.make_burst(1, out);
    EXPECT_FALSE(bursts.due(10.5));  // this interval's burst is out
    EXPECT_TRUE(bursts.due(20.0));
    EXPECT_EQ(bursts.bursts_made(), 1u);
}

TEST(GarbageBursts, NoneWithoutAnInterval) {
    GarbageBursts bursts(0.0, 5, {MalformedKind::Short}, 1);
    EXPECT_FALSE(bursts.enabled());
    EXPECT_FALSE(bursts.due(1000.0));
}

// Every kind that carries a fragment header numbers it inside the burst's
// range, so the stream's next frame, numbered after it, is never stale.
TEST(GarbageBursts, FrameIdsStayInsideTheBurstsRange) {
    std::vector<MalformedKind> kinds = *malformed_kinds_named("all");
    std::erase(kinds, MalformedKind::Random);  // random bytes, random ids
    std::erase(kinds, MalformedKind::Short);   // no room for a fragment header
    GarbageBursts bursts(1.0, 40, kinds, 9);
    std::vector<Datagram> out;
    EXPECT_EQ(bursts.make_burst(500, out), 540u);
    ASSERT_FALSE(out.empty());
    for (const Datagram& d : out) {
        ASSERT_GE(d.size(), static_cast<size_t>(FRAGMENT_PAYLOAD_OFFSET));
        EXPECT_GE(header_of(d).frame_id, 500u);
        EXPECT_LT(header_of(d).frame_id, 540u);
    }
}

TEST(GarbageBursts, KindsTakeTurnsAcrossBursts) {
    GarbageBursts bursts(1.0, 3, {MalformedKind::Short, MalformedKind::CountZero}, 2);
    std::vector<Datagram> first;
    std::vector<Datagram> second;
    bursts.make_burst(10, first);
    bursts.make_burst(20, second);
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(second.size(), 3u);
    auto is_short = [](const Datagram& d) {
        return d.size() < static_cast<size_t>(FRAGMENT_PAYLOAD_OFFSET);
    };
    EXPECT_TRUE(is_short(first[0]));
    EXPECT_EQ(header_of(first[1]).fragment_count, 0);
    EXPECT_TRUE(is_short(first[2]));
    EXPECT_EQ(header_of(second[0]).fragment_count, 0);  // goes on where the first left off
    EXPECT_TRUE(is_short(second[1]));
}

TEST(GarbageBursts, BurstsDoNotRepeatTheirBytes) {
    GarbageBursts bursts(1.0, 1, {MalformedKind::Random}, 4);
    std::vector<Datagram> first;
    std::vector<Datagram> second;
    bursts.make_burst(1, first);
    bursts.make_burst(2, second);
    EXPECT_NE(first, second);
}

TEST(GarbageBursts, KindsByName) {
    EXPECT_EQ(malformed_kinds_named("all")->size(), std::size(ALL_MALFORMED_KINDS));
    EXPECT_EQ(*malformed_kinds_named("never-complete"),
              std::vector<MalformedKind>{MalformedKind::NeverComplete});
    EXPECT_FALSE(malformed_kinds_named("bogus").has_value());
}

}  // namespace
}  // namespace talvek::tools
