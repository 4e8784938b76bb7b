// Screen-audio datagrams as a player reads them, byte for byte, and the
// sequence numbers they travel under.

#include <gtest/gtest.h>

#include <vector>

#include "audio_datagram.h"
#include "audio_encoder.h"
#include "audio_sequence.h"
#include "media_header.h"
#include "test_tone.h"

namespace talvek::tools {
namespace {

TEST(ScreenAudioDatagram, LayoutByteForByte) {
    const uint8_t packet[] = {0xFC, 0xFF, 0xFE};
    const Datagram d = make_screen_audio_datagram(0x01020304, packet, sizeof packet);
    const std::vector<uint8_t> expected = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // sender fields, 20 zero bytes
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
        0x04, 0x03, 0x02, 0x01,        // sequence 0x01020304, little-endian
        0x03, 0x00,                    // payload_length 3
        0x04,                          // flags: VOICE_FLAG_SCREEN_AUDIO only
        0x00,                          // reserved
        0xFC, 0xFF, 0xFE,              // the Opus packet, nothing after it
    };
    EXPECT_EQ(d, expected);
}

TEST(ScreenAudioDatagram, RealPacketIsOneAPlayerTakes) {
    AudioEncoder encoder;
    ASSERT_TRUE(encoder.open(96000, 20));
    std::vector<int16_t> pcm(1920);
    fill_test_tone(0, 960, pcm.data());
    std::vector<uint8_t> packet;
    ASSERT_TRUE(encoder.encode(pcm.data(), packet));
    const Datagram d = make_screen_audio_datagram(77, packet.data(), packet.size());

    ASSERT_EQ(d.size(), 28 + packet.size());
    const MediaHeader h = read_media_header(d.data());
    EXPECT_TRUE(is_screen_audio(h.flags)) << "routed to the audio path, not the video one";
    EXPECT_EQ(h.flags, VOICE_FLAG_SCREEN_AUDIO);
    EXPECT_EQ(h.sequence, 77u);
    EXPECT_EQ(h.payload_length, packet.size());
    // The player's rule: 1 <= payload_length <= length - 28.
    EXPECT_GE(h.payload_length, 1);
    EXPECT_LE(h.payload_length, d.size() - 28);
    EXPECT_TRUE(std::equal(packet.begin(), packet.end(), d.begin() + 28));
}

std::vector<uint32_t> first_sequences(const AudioSequencePlan& plan, long count) {
    std::vector<uint32_t> out;
    for (long k = 0; k < count; ++k) out.push_back(sequence_for_packet(plan, k));
    return out;
}

TEST(AudioSequence, RisesByOneFromTheFirst) {
    AudioSequencePlan plan;
    EXPECT_EQ(first_sequences(plan, 4), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(sequence_plan_limit(plan), -1);
    plan.first = 0xFFFFFFFE;
    EXPECT_EQ(first_sequences(plan, 4), (std::vector<uint32_t>{0xFFFFFFFE, 0xFFFFFFFF, 0, 1}))
        << "wraps like the 32-bit field";
}

TEST(AudioSequence, JumpSkipsNumbersOnce) {
    AudioSequencePlan plan;
    ASSERT_TRUE(parse_sequence_jump("5@4", plan));
    EXPECT_EQ(first_sequences(plan, 7), (std::vector<uint32_t>{1, 2, 3, 4, 10, 11, 12}));
    AudioSequencePlan one_second;
    ASSERT_TRUE(parse_sequence_jump("3", one_second));
    EXPECT_EQ(sequence_for_packet(one_second, 49), 50u);
    EXPECT_EQ(sequence_for_packet(one_second, 50), 54u) << "after one second of 20 ms packets";
}

TEST(AudioSequence, ListIsFollowedAndEndsTheStream) {
    AudioSequencePlan plan;
    plan.first = 100;  // a list overrides the start and any jump
    plan.jump = 9;
    plan.jump_at = 1;
    const std::optional<std::vector<uint32_t>> list = parse_sequence_list("10,12,11,13");
    ASSERT_TRUE(list.has_value());
    plan.list = *list;
    EXPECT_EQ(first_sequences(plan, 4), (std::vector<uint32_t>{10, 12, 11, 13}));
    EXPECT_EQ(sequence_plan_limit(plan), 4);
}

TEST(AudioSequence, TextsThatAreRefused) {
    for (const char* text : {"", ",", "1,", ",1", "1,,2", "1;2", "-1", "+1", " 1", "1 ",
                             "4294967296", "0x10", "a"}) {
        EXPECT_FALSE(parse_sequence_list(text).has_value()) << "list \"" << text << "\"";
    }
    EXPECT_EQ(parse_sequence_list("0,4294967295"), (std::vector<uint32_t>{0, 4294967295u}));
    AudioSequencePlan plan;
    for (const char* text : {"", "@3", "3@", "3@x", "x", "-2", "2@-1", "2@3@4", "4294967296"}) {
        EXPECT_FALSE(parse_sequence_jump(text, plan)) << "jump \"" << text << "\"";
    }
    EXPECT_EQ(plan.jump, 0u) << "a refused text changes nothing";
    EXPECT_EQ(plan.jump_at, 50);
}

}  // namespace
}  // namespace talvek::tools
