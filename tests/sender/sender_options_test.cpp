// The player, malformed and audio modes' command line.

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

TEST(SenderOptions, DottedHostsAreRead) {
    for (const char* host : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "10.20.0.3"}) {
        SenderOptions o;
        EXPECT_TRUE(parse({"player", "--port", "5000", "--host", host}, o)) << host;
        EXPECT_EQ(o.host, host);
    }
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
        // The socket takes dotted IPv4 only; anything else failed every send.
        {"player", "--port", "5000", "--host", "localhost"},
        {"player", "--port", "5000", "--host", "127.0.0.256"},
        {"player", "--port", "5000", "--host", "127.0.0"},
        {"player", "--port", "5000", "--host", "127.0.0.1."},
        {"player", "--port", "5000", "--host", "127.00.0.1"},
        {"player", "--port", "5000", "--host", "1270.0.0.1"},
        {"player", "--port", "5000", "--host", ""},
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

TEST(SenderOptions, SoakOptionsAreRead) {
    SenderOptions o;
    ASSERT_TRUE(parse({"preview", "--port", "5000", "--reorder", "0.05", "--reorder-ms", "50",
                       "--garbage-every", "2.5", "--garbage-burst", "40", "--kind", "short",
                       "--event-log", "/tmp/events.txt", "--clip", "clip.bin"},
                      o));
    EXPECT_EQ(o.impairment.reorder_ms, 50);
    EXPECT_DOUBLE_EQ(o.impairment.reorder_rate, 0.05);
    EXPECT_DOUBLE_EQ(o.garbage_every, 2.5);
    EXPECT_EQ(o.garbage_burst, 40);
    EXPECT_EQ(o.kind, "short");
    EXPECT_EQ(o.event_log, "/tmp/events.txt");
    EXPECT_EQ(o.clip, "clip.bin");
}

TEST(SenderOptions, SoakDefaultsChangeNothing) {
    SenderOptions o;
    ASSERT_TRUE(parse({"player", "--port", "5000"}, o));
    EXPECT_EQ(o.impairment.reorder_ms, 0);  // held datagrams counted out, as before
    EXPECT_DOUBLE_EQ(o.garbage_every, 0.0);
    EXPECT_TRUE(o.event_log.empty());
    EXPECT_TRUE(o.clip.empty());
}

TEST(SenderOptions, BadSoakValuesAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"player", "--port", "5000", "--reorder-ms", "0"},
        {"player", "--port", "5000", "--reorder-ms", "10001"},
        {"player", "--port", "5000", "--garbage-every", "0"},
        {"player", "--port", "5000", "--garbage-every", "soon"},
        {"player", "--port", "5000", "--garbage-burst", "0"},
        {"player", "--port", "5000", "--event-log", ""},
        {"player", "--port", "5000", "--clip", ""},
    };
    for (const auto& args : bad) {
        SenderOptions o;
        EXPECT_FALSE(parse(args, o)) << args[args.size() - 2] << " " << args.back();
    }
}

TEST(SenderOptions, AudioDefaults) {
    SenderOptions o;
    ASSERT_TRUE(parse({"player", "--port", "5000"}, o));
    EXPECT_FALSE(o.audio) << "the player mode sends no sound unless asked";
    EXPECT_EQ(o.audio_bitrate, 96000);
    EXPECT_EQ(o.audio_packet_ms, 20);
    EXPECT_DOUBLE_EQ(o.audio_gain, 1.0);
    EXPECT_DOUBLE_EQ(o.audio_drop, 0.0);
    EXPECT_EQ(o.audio_sequence.first, 1u);
    EXPECT_EQ(o.audio_sequence.jump, 0u);
    EXPECT_TRUE(o.audio_sequence.list.empty());

    SenderOptions a;
    ASSERT_TRUE(parse({"audio", "--port", "5000"}, a));
    EXPECT_TRUE(a.audio) << "the audio mode always does";
}

TEST(SenderOptions, AudioOptionsAreRead) {
    SenderOptions o;
    ASSERT_TRUE(parse({"player", "--port", "5000", "--audio", "--audio-bitrate", "64000",
                       "--audio-packet-ms", "40", "--audio-gain", "0.25", "--audio-drop", "0.1",
                       "--first-seq", "4294967295", "--audio-seq-jump", "7@3"},
                      o));
    EXPECT_TRUE(o.audio);
    EXPECT_EQ(o.audio_bitrate, 64000);
    EXPECT_EQ(o.audio_packet_ms, 40);
    EXPECT_DOUBLE_EQ(o.audio_gain, 0.25);
    EXPECT_DOUBLE_EQ(o.audio_drop, 0.1);
    EXPECT_EQ(o.audio_sequence.first, 4294967295u);
    EXPECT_EQ(o.audio_sequence.jump, 7u);
    EXPECT_EQ(o.audio_sequence.jump_at, 3);

    SenderOptions l;
    ASSERT_TRUE(parse({"audio", "--port", "5000", "--audio-sequence-list", "10,12,11,13",
                       "--count", "3"},
                      l));
    EXPECT_EQ(l.audio_sequence.list, (std::vector<uint32_t>{10, 12, 11, 13}));
    EXPECT_EQ(l.count, 3);
}

TEST(SenderOptions, BadAudioValuesAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"audio", "--port", "5000", "--audio-packet-ms", "30"},
        {"audio", "--port", "5000", "--audio-packet-ms", "120"},
        {"audio", "--port", "5000", "--audio-bitrate", "5999"},
        {"audio", "--port", "5000", "--audio-bitrate", "510001"},
        {"audio", "--port", "5000", "--audio-gain", "-1"},
        {"audio", "--port", "5000", "--audio-gain", "101"},
        {"audio", "--port", "5000", "--audio-drop", "1.5"},
        {"audio", "--port", "5000", "--first-seq", "4294967296"},
        {"audio", "--port", "5000", "--audio-seq-jump", "2@"},
        {"audio", "--port", "5000", "--audio-sequence-list", "1,,2"},
        {"audio", "--port", "5000", "--audio-sequence-list"},  // needs a value
    };
    for (const auto& args : bad) {
        SenderOptions o;
        EXPECT_FALSE(parse(args, o)) << args[args.size() - 2] << " " << args.back();
    }
}

}  // namespace
}  // namespace talvek::tools
