// preview's command line, as the host application (or a user) may give it.

#include "preview_args.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "parse_words.h"

namespace {

using Parsed = talvek::testing::Parsed<Args>;

Parsed parse(std::initializer_list<const char*> words) {
    return talvek::testing::parse_words<Args>("preview", words, parse_args);
}

TEST(PreviewArgs, NoArgumentsAsksForThePort) {
    Parsed p = parse({});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.errors, "[Preview] Error: --port is required\n");
}

TEST(PreviewArgs, PortAloneGivesTheDefaults) {
    Parsed p = parse({"--port", "5000"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(p.args.port, 5000);
    EXPECT_EQ(p.args.parent_port, 0);
    EXPECT_EQ(p.args.width, 1280);
    EXPECT_EQ(p.args.height, 720);
    EXPECT_EQ(p.args.title, "Stream Preview");
}

TEST(PreviewArgs, EveryOptionIsRead) {
    Parsed p = parse({"--width", "1281", "--height", "721", "--title", "Mine", "--parent-port",
                      "6000", "--port", "5001"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.args.width, 1281);
    EXPECT_EQ(p.args.height, 721);
    EXPECT_EQ(p.args.title, "Mine");
    EXPECT_EQ(p.args.parent_port, 6000);
    EXPECT_EQ(p.args.port, 5001);
}

TEST(PreviewArgs, OptionStandingLastIsIgnored) {
    EXPECT_FALSE(parse({"--port"}).ok);
    Parsed p = parse({"--port", "5000", "--port"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.args.port, 5000);
    Parsed t = parse({"--port", "5000", "--title"});
    EXPECT_EQ(t.args.title, "Stream Preview");
}

TEST(PreviewArgs, LaterOptionOverridesEarlier) {
    Parsed p = parse({"--port", "5000", "--width", "10", "--port", "5002", "--width", "20"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.args.port, 5002);
    EXPECT_EQ(p.args.width, 20);
}

TEST(PreviewArgs, PortKeepsTheLowSixteenBits) {
    EXPECT_EQ(parse({"--port", "70000"}).args.port, 4464);
    EXPECT_FALSE(parse({"--port", "65536"}).ok);
    EXPECT_FALSE(parse({"--port", "zero"}).ok);
    EXPECT_EQ(parse({"--port", "12ab"}).args.port, 12);
}

TEST(PreviewArgs, UnknownArgumentsAreSkipped) {
    Parsed p = parse({"stray", "--verbose", "--port", "5000", "-p", "9"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(p.args.port, 5000);
}

TEST(PreviewArgs, NonPositiveDimensionsAreRefused) {
    Parsed zero = parse({"--port", "5000", "--width", "0"});
    EXPECT_FALSE(zero.ok);
    EXPECT_EQ(zero.errors, "[Preview] Error: Invalid dimensions 0x720\n");

    Parsed word = parse({"--port", "5000", "--width", "wide"});
    EXPECT_EQ(word.errors, "[Preview] Error: Invalid dimensions 0x720\n");

    Parsed negative = parse({"--port", "5000", "--height", "-5"});
    EXPECT_FALSE(negative.ok);
    EXPECT_EQ(negative.errors, "[Preview] Error: Invalid dimensions 1280x-5\n");
}

TEST(PreviewArgs, MissingPortIsReportedBeforeDimensions) {
    Parsed p = parse({"--width", "0"});
    EXPECT_EQ(p.errors, "[Preview] Error: --port is required\n");
}

TEST(PreviewArgs, FrameTooLargeForIntSizesIsRefused) {
    // 65536 * 65536 * 4 overflows a 32-bit size; 23170 squared still fits.
    Parsed huge = parse({"--port", "5000", "--width", "65536", "--height", "65536"});
    EXPECT_FALSE(huge.ok);
    EXPECT_EQ(huge.errors, "[Preview] Error: Invalid dimensions 65536x65536\n");
    EXPECT_TRUE(parse({"--port", "5000", "--width", "23170", "--height", "23170"}).ok);
}

}  // namespace
