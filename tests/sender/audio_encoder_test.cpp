// The test tone through the sender's Opus encoder and back through libopus's
// own decoder, as a player decodes it: every 20 ms packet gives 960 samples
// per channel and the tone keeps its pitch; longer packets are what a
// player must refuse.

#include <gtest/gtest.h>

#include <opus.h>

#include <vector>

#include "audio_encoder.h"
#include "audio_source.h"
#include "test_audio.h"
#include "test_tone.h"

namespace talvek::tools {
namespace {

struct Encoded {
    std::vector<std::vector<uint8_t>> packets;
};

// `count` packets of the test tone from its start.
Encoded encode_tone(int bitrate, int packet_ms, int count) {
    Encoded out;
    AudioEncoder encoder;
    EXPECT_TRUE(encoder.open(bitrate, packet_ms));
    std::unique_ptr<AudioSource> source = make_tone_source();
    std::vector<int16_t> pcm(static_cast<size_t>(encoder.packet_samples()) * 2);
    for (int i = 0; i < count; ++i) {
        EXPECT_TRUE(source->read(pcm.data(), encoder.packet_samples()));
        std::vector<uint8_t> packet;
        EXPECT_TRUE(encoder.encode(pcm.data(), packet));
        out.packets.push_back(std::move(packet));
    }
    return out;
}

TEST(AudioEncoder, TwentyMsPacketsDecodeTo960SamplesPerChannel) {
    const Encoded e = encode_tone(96000, 20, 60);
    testing::OpusTestDecoder decoder;
    ASSERT_TRUE(decoder.ok());
    for (size_t i = 0; i < e.packets.size(); ++i) {
        const std::vector<uint8_t>& p = e.packets[i];
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(opus_packet_get_nb_channels(p.data()), 2) << "packet " << i;
        EXPECT_EQ(opus_packet_get_nb_samples(p.data(), static_cast<opus_int32>(p.size()), 48000),
                  960);
        std::vector<int16_t> pcm;
        // The room a player gives: one 20 ms frame.
        EXPECT_EQ(decoder.decode(p.data(), p.size(), 960, pcm), 960) << "packet " << i;
        EXPECT_EQ(pcm.size(), 1920u);
    }
}

TEST(AudioEncoder, DecodedSoundFollowsTheToneSchedule) {
    // Two seconds: 440 Hz, then 550 Hz.
    const Encoded e = encode_tone(96000, 20, 100);
    testing::OpusTestDecoder decoder;
    std::vector<int16_t> pcm;
    for (const auto& p : e.packets) ASSERT_EQ(decoder.decode(p.data(), p.size(), 960, pcm), 960);

    // The codec delays the sound by a few milliseconds; windows of five
    // packets that keep clear of the step at 1 s see a single pitch.
    for (int first_packet : {5, 20, 40, 55, 70, 90}) {
        const size_t from = static_cast<size_t>(first_packet) * 960 * 2;
        const std::vector<int16_t> window(pcm.begin() + static_cast<ptrdiff_t>(from),
                                          pcm.begin() + static_cast<ptrdiff_t>(from + 5 * 1920));
        const int expected = tone_frequency_at(int64_t{first_packet} * 960);
        for (int channel : {0, 1}) {
            const std::vector<int16_t> mono = testing::channel_of(window, channel);
            EXPECT_EQ(testing::strongest_ladder_pitch(mono), expected)
                << "packet " << first_packet << ", channel " << channel;
            EXPECT_NEAR(testing::tone_amplitude(mono, expected), TONE_AMPLITUDE,
                        TONE_AMPLITUDE * 0.2);
        }
    }
}

TEST(AudioEncoder, LongerPacketsHoldMoreSamplesAndDoNotFitAPlayersFrame) {
    struct Case {
        int ms;
        int samples;
    };
    for (const Case c : {Case{10, 480}, Case{40, 1920}, Case{60, 2880}}) {
        SCOPED_TRACE(std::to_string(c.ms) + " ms");
        const Encoded e = encode_tone(96000, c.ms, 5);
        testing::OpusTestDecoder decoder;
        for (const auto& p : e.packets) {
            EXPECT_EQ(opus_packet_get_nb_samples(p.data(), static_cast<opus_int32>(p.size()),
                                                 48000),
                      c.samples);
            std::vector<int16_t> pcm;
            EXPECT_EQ(decoder.decode(p.data(), p.size(), 5760, pcm), c.samples);
            if (c.samples > 960) {
                // What a player's 960-sample room makes of it.
                EXPECT_EQ(decoder.decode(p.data(), p.size(), 960, pcm), OPUS_BUFFER_TOO_SMALL);
            }
        }
    }
}

TEST(AudioEncoder, BitrateSetsThePacketSize) {
    // 50 packets a second: bit/s / 8 / 50 bytes a packet, give or take
    // what the codec's rate control spends at the start.
    for (int bitrate : {24000, 96000, 192000}) {
        const Encoded e = encode_tone(bitrate, 20, 100);
        size_t bytes = 0;
        for (size_t i = 20; i < e.packets.size(); ++i) bytes += e.packets[i].size();
        const double per_packet = static_cast<double>(bytes) / 80.0;
        const double expected = bitrate / 8.0 / 50.0;
        EXPECT_NEAR(per_packet, expected, expected * 0.25) << bitrate << " bit/s";
    }
}

TEST(AudioEncoder, DurationOpusCannotSendIsRefused) {
    AudioEncoder encoder;
    EXPECT_FALSE(encoder.open(96000, 30));
    std::vector<int16_t> pcm(2 * 1440);
    std::vector<uint8_t> packet;
    EXPECT_FALSE(encoder.encode(pcm.data(), packet)) << "no encoder after a refused open";
}

}  // namespace
}  // namespace talvek::tools
