// The player and malformed modes' command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sender_options.h"

namespace talvek::tools {
namespace {

bool parse(std::vector<std::string> args, SenderOptions& out) {
    args.insert(args.begin(), "sender");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return parse_sender_options(static_cast<int>(argv.size()), argv.data(), out);
}

TEST(SenderOptions, PlayerDefaults) {
    SenderOptions o;
    ASSERT_TRUE(parse({"player", "--port", "5000"}, o));
    EXPECT_EQ(o.codec, VideoCodec::VP8);
    EXPECT_EQ(o.bitrate, 2'000'000);
    EXPECT_EQ(o.listen_port, 0);
    EXPECT_FALSE(o.burst);
    EXPECT_TRUE(o.input.empty());
    EXPECT_EQ(keyframe_interval(o), 300);  // ten seconds at 30 fps
}

TEST(SenderOptions, PlayerOptionsAreRead) {
    SenderOptions o;
    ASSERT_TRUE(parse({"player", "--port", "5000", "--codec", "h264", "--bitrate", "750000",
                       "--gop", "45", "--input", "clip.mkv", "--listen-port", "6001", "--burst",
                       "--fps", "25"},
                      o));
    EXPECT_EQ(o.codec, VideoCodec::H264);
    EXPECT_EQ(o.bitrate, 750000);
    EXPECT_EQ(keyframe_interval(o), 45);
    EXPECT_EQ(o.input, "clip.mkv");
    EXPECT_EQ(o.listen_port, 6001);
    EXPECT_TRUE(o.burst);
}

TEST(SenderOptions, DefaultKeyframeIntervalFollowsTheFrameRate) {
    SenderOptions o;
    ASSERT_TRUE(parse({"player", "--port", "5000", "--fps", "12.5"}, o));
    EXPECT_EQ(keyframe_interval(o), 125);
}

TEST(SenderOptions, BadPlayerValuesAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"player", "--port", "5000", "--codec", "vp9"},
        {"player", "--port", "5000", "--codec", "H264"},
        {"player", "--port", "5000", "--bitrate", "10"},
        {"player", "--port", "5000", "--gop", "0"},
        {"player", "--port", "5000", "--listen-port", "65536"},
        {"player", "--port", "5000", "--input", ""},
        {"malformed", "--port", "5000", "--count", "0"},
        {"malformed", "--port", "5000", "--rate", "0"},
        {"player", "--listen-port", "6000"},  // --port is still required
    };
    for (const auto& args : bad) {
        SenderOptions o;
        EXPECT_FALSE(parse(args, o)) << args[args.size() - 1];
    }
}

TEST(SenderOptions, MalformedOptionsAreRead) {
    SenderOptions o;
    ASSERT_TRUE(parse({"malformed", "--port", "5000", "--kind", "never-complete", "--count", "9",
                       "--rate", "2000", "--seed", "17"},
                      o));
    EXPECT_EQ(o.kind, "never-complete");
    EXPECT_EQ(o.count, 9);
    EXPECT_DOUBLE_EQ(o.rate, 2000.0);
    EXPECT_EQ(o.impairment.seed, 17u);
}

}  // namespace
}  // namespace talvek::tools
