// Each malformed kind breaks the one rule it is named after, and only in
// the way a robustness run expects; the run is the same for the same seed.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "malformed_datagrams.h"
#include "media_header.h"

namespace talvek::tools {
namespace {

// The first rule of a player's video path that a datagram breaks, in the
// order the player applies them.
enum class Verdict {
    TooShort,       // under 40 bytes
    PayloadZero,    // payload_size 0
    PayloadBeyond,  // payload_size past the end of the datagram
    PayloadOver,    // payload_size above 1400
    CountZero,      // fragment_count 0
    CountOver,      // fragment_count above 1000
    IndexBeyond,    // fragment_index >= fragment_count
    Accepted,
};

Verdict judge(const Datagram& d) {
    if (d.size() < 40) return Verdict::TooShort;
    const FragmentHeader f = read_fragment_header(d.data());
    if (f.payload_size == 0) return Verdict::PayloadZero;
    if (f.payload_size > static_cast<int>(d.size()) - 40) return Verdict::PayloadBeyond;
    if (f.payload_size > 1400) return Verdict::PayloadOver;
    if (f.fragment_count == 0) return Verdict::CountZero;
    if (f.fragment_count > 1000) return Verdict::CountOver;
    if (f.fragment_index >= f.fragment_count) return Verdict::IndexBeyond;
    return Verdict::Accepted;
}

std::vector<Datagram> units(MalformedKind kind, int n, uint32_t seed = 1) {
    MalformedGenerator generator(seed, 100);
    std::vector<Datagram> out;
    for (int i = 0; i < n; ++i) generator.next(kind, out);
    return out;
}

struct SingleRuleCase {
    MalformedKind kind;
    Verdict verdict;
};

class BrokenRuleTest : public ::testing::TestWithParam<SingleRuleCase> {};

TEST_P(BrokenRuleTest, EveryDatagramBreaksItsRule) {
    const std::vector<Datagram> datagrams = units(GetParam().kind, 300);
    ASSERT_EQ(datagrams.size(), 300u);
    for (const Datagram& d : datagrams) {
        ASSERT_EQ(judge(d), GetParam().verdict) << d.size() << "-byte datagram";
        // Long enough ones must look like video so they reach the video path.
        if (d.size() > 26) {
            EXPECT_FALSE(is_screen_audio(d[26]));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BrokenRuleTest,
    ::testing::Values(SingleRuleCase{MalformedKind::Short, Verdict::TooShort},
                      SingleRuleCase{MalformedKind::PayloadZero, Verdict::PayloadZero},
                      SingleRuleCase{MalformedKind::PayloadOver, Verdict::PayloadOver},
                      SingleRuleCase{MalformedKind::PayloadBeyond, Verdict::PayloadBeyond},
                      SingleRuleCase{MalformedKind::CountZero, Verdict::CountZero},
                      SingleRuleCase{MalformedKind::CountOver, Verdict::CountOver},
                      SingleRuleCase{MalformedKind::IndexBeyond, Verdict::IndexBeyond}),
    [](const ::testing::TestParamInfo<SingleRuleCase>& param) {
        std::string name(malformed_kind_name(param.param.kind));
        std::erase(name, '-');
        return name;
    });

TEST(MalformedDatagrams, ShortOnesCoverTheWholeRange) {
    std::set<size_t> lengths;
    for (const Datagram& d : units(MalformedKind::Short, 2000)) lengths.insert(d.size());
    EXPECT_EQ(*lengths.begin(), 1u);
    EXPECT_EQ(*lengths.rbegin(), 39u);
    EXPECT_EQ(lengths.size(), 39u);
}

TEST(MalformedDatagrams, PayloadOverCarriesAllItsBytes) {
    // Over the limit but not beyond the datagram: only the 1400 check catches it.
    for (const Datagram& d : units(MalformedKind::PayloadOver, 5)) {
        EXPECT_EQ(read_fragment_header(d.data()).payload_size, 1401);
        EXPECT_EQ(d.size(), 40u + 1401u);
    }
}

TEST(MalformedDatagrams, GarbageFramesAreCompleteAndWellFormed) {
    MalformedGenerator generator(9, 500);
    for (uint32_t frame = 0; frame < 20; ++frame) {
        std::vector<Datagram> out;
        generator.next(MalformedKind::GarbageFrame, out);
        ASSERT_FALSE(out.empty());
        std::set<uint16_t> indices;
        for (const Datagram& d : out) {
            ASSERT_EQ(judge(d), Verdict::Accepted);
            const FragmentHeader f = read_fragment_header(d.data());
            EXPECT_EQ(f.frame_id, 500 + frame);
            EXPECT_EQ(f.fragment_count, out.size());
            indices.insert(f.fragment_index);
        }
        EXPECT_EQ(indices.size(), out.size()) << "every index once";
        EXPECT_EQ(*indices.rbegin(), out.size() - 1);
    }
}

TEST(MalformedDatagrams, NeverCompleteAnnouncesThousandAndSendsOne) {
    const std::vector<Datagram> out = units(MalformedKind::NeverComplete, 50);
    ASSERT_EQ(out.size(), 50u);
    uint32_t expected_id = 100;
    for (const Datagram& d : out) {
        ASSERT_EQ(judge(d), Verdict::Accepted);
        const FragmentHeader f = read_fragment_header(d.data());
        EXPECT_EQ(f.fragment_count, 1000);
        EXPECT_EQ(f.payload_size, 1400);
        EXPECT_EQ(f.frame_id, expected_id++);
    }
}

TEST(MalformedDatagrams, RandomOnesVaryInLength) {
    std::set<size_t> lengths;
    for (const Datagram& d : units(MalformedKind::Random, 200)) {
        EXPECT_GE(d.size(), 1u);
        EXPECT_LE(d.size(), 2048u);
        lengths.insert(d.size());
    }
    EXPECT_GT(lengths.size(), 100u);
}

TEST(MalformedDatagrams, FrameIdsRiseAcrossKinds) {
    MalformedGenerator generator(3, 10);
    std::vector<Datagram> out;
    generator.next(MalformedKind::CountZero, out);
    generator.next(MalformedKind::GarbageFrame, out);
    generator.next(MalformedKind::IndexBeyond, out);
    EXPECT_EQ(read_fragment_header(out.front().data()).frame_id, 10u);
    EXPECT_EQ(read_fragment_header(out[1].data()).frame_id, 11u);
    EXPECT_EQ(read_fragment_header(out.back().data()).frame_id, 12u);
}

TEST(MalformedDatagrams, SameSeedSameBytes) {
    for (MalformedKind kind : ALL_MALFORMED_KINDS) {
        SCOPED_TRACE(std::string(malformed_kind_name(kind)));
        EXPECT_EQ(units(kind, 20, 5), units(kind, 20, 5));
        EXPECT_NE(units(kind, 20, 5), units(kind, 20, 6));
    }
}

TEST(MalformedDatagrams, KindNamesReadBack) {
    std::set<std::string_view> names;
    for (MalformedKind kind : ALL_MALFORMED_KINDS) {
        names.insert(malformed_kind_name(kind));
        EXPECT_EQ(parse_malformed_kind(malformed_kind_name(kind)), kind);
    }
    EXPECT_EQ(names.size(), std::size(ALL_MALFORMED_KINDS));
    EXPECT_EQ(parse_malformed_kind("all"), std::nullopt);
    EXPECT_EQ(parse_malformed_kind("shorts"), std::nullopt);
}

}  // namespace
}  // namespace talvek::tools
