// player's command line as the host application gives it, and as it may not.

#include "player_args.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "parse_words.h"

namespace {

using Parsed = talvek::testing::Parsed<Args>;

Parsed parse(std::initializer_list<const char*> words) {
    return talvek::testing::parse_words<Args>("player", words, parse_args);
}

TEST(PlayerArgs, NoArgumentsAsksForThePort) {
    Parsed p = parse({});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.errors, "Error: --port is required\n");
}

TEST(PlayerArgs, PortAloneGivesTheDefaults) {
    Parsed p = parse({"--port", "5000"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(p.args.port, 5000);
    EXPECT_EQ(p.args.parent_port, 0);
    EXPECT_EQ(p.args.streamer_id, 0u);
    EXPECT_EQ(p.args.width, 1280);
    EXPECT_EQ(p.args.height, 720);
    EXPECT_EQ(p.args.username, "Unknown");
    EXPECT_FALSE(p.args.has_audio);
    EXPECT_EQ(p.args.audio_volume, 1.0f);
    EXPECT_FALSE(p.args.audio_muted);
    EXPECT_EQ(p.args.codec, talvek::VideoCodec::VP8);
}

TEST(PlayerArgs, EveryOptionIsRead) {
    Parsed p = parse({"--port", "5000", "--streamer-id", "42", "--width", "1920", "--height",
                      "1080", "--username", "Ada", "--parent-port", "6000", "--has-audio",
                      "--audio-volume", "0.25", "--audio-muted", "--codec", "1"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.args.streamer_id, 42u);
    EXPECT_EQ(p.args.width, 1920);
    EXPECT_EQ(p.args.height, 1080);
    EXPECT_EQ(p.args.username, "Ada");
    EXPECT_EQ(p.args.parent_port, 6000);
    EXPECT_TRUE(p.args.has_audio);
    EXPECT_EQ(p.args.audio_volume, 0.25f);
    EXPECT_TRUE(p.args.audio_muted);
    EXPECT_EQ(p.args.codec, talvek::VideoCodec::H264);
}

TEST(PlayerArgs, ZeroAndWrappedPortsCountAsMissing) {
    EXPECT_FALSE(parse({"--port", "0"}).ok);
    EXPECT_FALSE(parse({"--port", "65536"}).ok);
    EXPECT_FALSE(parse({"--port", "none"}).ok);
    EXPECT_EQ(parse({"--port", "70000"}).args.port, 4464);
    EXPECT_EQ(parse({"--port", "-1"}).args.port, 65535);
    EXPECT_EQ(parse({"--port", "12ab"}).args.port, 12);
    EXPECT_EQ(parse({"--port", "5000", "--parent-port", "70000"}).args.parent_port, 4464);
}

TEST(PlayerArgs, HugeNumbersDoNotWrapUnpredictably) {
    // Beyond int, values saturate: the port becomes 65535 rather than garbage.
    EXPECT_EQ(parse({"--port", "99999999999"}).args.port, 65535);
    EXPECT_EQ(parse({"--port", "1", "--width", "99999999999"}).args.width, INT32_MAX);
}

TEST(PlayerArgs, SecondPortWins) {
    EXPECT_EQ(parse({"--port", "5000", "--port", "5001"}).args.port, 5001);
}

TEST(PlayerArgs, PortStandingLastIsSkipped) {
    EXPECT_FALSE(parse({"--port"}).ok);
    EXPECT_EQ(parse({"--port", "5000", "--port"}).args.port, 5000);
}

TEST(PlayerArgs, UsernameSwallowsTheNextOption) {
    Parsed p = parse({"--username", "--port", "5000"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.args.username, "--port");
    EXPECT_EQ(p.errors, "Error: --port is required\n");
}

TEST(PlayerArgs, VolumeIsClampedAndNonNumbersAreZero) {
    EXPECT_EQ(parse({"--port", "1", "--audio-volume", "1.5"}).args.audio_volume, 1.0f);
    EXPECT_EQ(parse({"--port", "1", "--audio-volume", "-3"}).args.audio_volume, 0.0f);
    EXPECT_EQ(parse({"--port", "1", "--audio-volume", "loud"}).args.audio_volume, 0.0f);
    EXPECT_EQ(parse({"--port", "1", "--audio-volume", "0.5dB"}).args.audio_volume, 0.5f);
    EXPECT_EQ(parse({"--port", "1", "--audio-volume", "nan"}).args.audio_volume, 0.0f);
    EXPECT_EQ(parse({"--port", "1", "--audio-volume", "inf"}).args.audio_volume, 1.0f);
}

TEST(PlayerArgs, CodecKeepsZeroToThreeOnly) {
    EXPECT_EQ(parse({"--port", "1", "--codec", "1"}).args.codec, talvek::VideoCodec::H264);
    EXPECT_EQ(static_cast<int>(parse({"--port", "1", "--codec", "2"}).args.codec), 2);
    EXPECT_EQ(static_cast<int>(parse({"--port", "1", "--codec", "3"}).args.codec), 3);
    EXPECT_EQ(parse({"--port", "1", "--codec", "1", "--codec", "4"}).args.codec,
              talvek::VideoCodec::H264);
    EXPECT_EQ(parse({"--port", "1", "--codec", "1", "--codec", "-1"}).args.codec,
              talvek::VideoCodec::H264);
}

TEST(PlayerArgs, FlagsTakeNoValue) {
    Parsed p = parse({"--has-audio", "yes", "--port", "5000"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.args.has_audio);
    EXPECT_EQ(p.args.port, 5000);
}

TEST(PlayerArgs, UnknownArgumentsAreSkippedSilently) {
    Parsed p = parse({"stray", "--Port", "7", "--port", "5000", "-v"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(p.args.port, 5000);
}

}  // namespace
