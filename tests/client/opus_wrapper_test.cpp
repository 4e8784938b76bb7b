// The Opus wrappers over real libopus: the -1 rule for a wrapper without a
// codec, the 20 ms room the player decodes into, concealment, the encoder's
// settings as far as its packets show them, and ownership on moves.

#include <gtest/gtest.h>
#include <opus.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "opus_decoder_wrapper.h"
#include "opus_encoder_wrapper.h"
#include "opus_tone.h"

using client_test::OpusTone;
using talvek::OpusDecoderWrapper;
using talvek::OpusEncoderWrapper;

namespace {

constexpr int FRAME = 960;  // 20 ms per channel at 48 kHz

OpusDecoderWrapper stereo_decoder() {
    OpusDecoderWrapper decoder;
    EXPECT_TRUE(decoder.init(48000, 2));
    return decoder;
}

int decode(OpusDecoderWrapper& decoder, const std::vector<uint8_t>& packet,
           std::vector<short>& pcm) {
    pcm.assign(FRAME * 2, 0);
    return decoder.decode(packet.data(), static_cast<int>(packet.size()), pcm.data(), FRAME);
}

// ---- decoder ---------------------------------------------------------------

TEST(OpusDecoderWrapper, EveryCallOnAnEmptyWrapperIsMinusOne) {
    OpusDecoderWrapper empty;
    OpusTone tone;
    const auto packet = tone.next();
    std::vector<short> pcm(FRAME * 2);
    const int len = static_cast<int>(packet.size());
    EXPECT_EQ(empty.decode(packet.data(), len, pcm.data(), FRAME), -1);
    EXPECT_EQ(empty.decode_plc(pcm.data(), FRAME), -1);
    EXPECT_EQ(empty.decode_fec(packet.data(), len, pcm.data(), FRAME), -1);
    // libopus's own -1: callers cannot tell the two apart, and need not.
    static_assert(OPUS_BAD_ARG == -1);
    empty.destroy();  // safe on an empty wrapper
}

TEST(OpusDecoderWrapper, FecWithoutAPacketIsRefusedEvenWithADecoder) {
    OpusDecoderWrapper decoder = stereo_decoder();
    std::vector<short> pcm(FRAME * 2);
    const unsigned char byte = 0;
    EXPECT_EQ(decoder.decode_fec(nullptr, 10, pcm.data(), FRAME), -1);
    EXPECT_EQ(decoder.decode_fec(&byte, 0, pcm.data(), FRAME), -1);
    EXPECT_EQ(decoder.decode_fec(&byte, -3, pcm.data(), FRAME), -1);
}

TEST(OpusDecoderWrapper, TwentyMsStereoPacketFillsTheFrame) {
    OpusDecoderWrapper decoder = stereo_decoder();
    OpusTone tone(20);
    ASSERT_TRUE(tone.ready());
    std::vector<short> pcm;
    for (int i = 0; i < 5; ++i) ASSERT_EQ(decode(decoder, tone.next(), pcm), FRAME);
    const bool sound = std::any_of(pcm.begin(), pcm.end(), [](short v) { return v != 0; });
    EXPECT_TRUE(sound);
}

TEST(OpusDecoderWrapper, ShorterPacketDecodesToItsOwnLength) {
    OpusDecoderWrapper decoder = stereo_decoder();
    OpusTone tone(10);
    std::vector<short> pcm;
    EXPECT_EQ(decode(decoder, tone.next(), pcm), 480);
}

TEST(OpusDecoderWrapper, LongerPacketsDoNotFitTwentyMsOfRoom) {
    OpusDecoderWrapper decoder = stereo_decoder();
    std::vector<short> pcm;
    OpusTone forty(40);
    EXPECT_EQ(decode(decoder, forty.next(), pcm), OPUS_BUFFER_TOO_SMALL);
    OpusTone sixty(60);
    EXPECT_EQ(decode(decoder, sixty.next(), pcm), OPUS_BUFFER_TOO_SMALL);
}

TEST(OpusDecoderWrapper, CorruptPacketIsAnError) {
    OpusDecoderWrapper decoder = stereo_decoder();
    std::vector<short> pcm;
    // TOC byte of a code-3 packet without the frame-count byte it needs.
    EXPECT_LT(decode(decoder, {0xFF}, pcm), 0);
}

TEST(OpusDecoderWrapper, ConcealmentOnAFreshDecoderWritesOneWholeFrame) {
    OpusDecoderWrapper decoder = stereo_decoder();
    constexpr short SENTINEL = 0x7777;
    std::vector<short> pcm(FRAME * 2 + 1, SENTINEL);
    EXPECT_EQ(decoder.decode_plc(pcm.data(), FRAME), FRAME);
    EXPECT_EQ(std::count(pcm.begin(), pcm.end() - 1, SENTINEL), 0) << "all 1920 values written";
    EXPECT_EQ(pcm.back(), SENTINEL) << "and no more";
}

// Root-mean-square difference of two pieces of the same length.
double rms_difference(const std::vector<short>& a, const std::vector<short>& b) {
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i] - b[i]);
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(a.size()));
}

// A voice sender's packets carry the frame before them at a lower rate:
// rebuilt from those, the lost frame is far closer to what it was than
// concealment guesses (and nothing like the packet's own frame).
TEST(OpusDecoderWrapper, FecRebuildsTheFrameBeforeThePacket) {
    OpusEncoderWrapper encoder;
    ASSERT_TRUE(encoder.init(48000, 2, OPUS_APPLICATION_VOIP));
    constexpr int LOST = 10;  // FEC data starts a few packets in
    std::vector<std::vector<uint8_t>> packets;
    for (int i = 0; i <= LOST + 1; ++i) {
        const std::vector<short> pcm = client_test::stereo_tone(i * FRAME, FRAME);
        std::vector<uint8_t> packet(4000);
        const int n = encoder.encode(pcm.data(), FRAME, packet.data(), static_cast<int>(packet.size()));
        ASSERT_GT(n, 0);
        packet.resize(static_cast<size_t>(n));
        packets.push_back(std::move(packet));
    }
    OpusDecoderWrapper whole = stereo_decoder(), rebuilt = stereo_decoder(),
                       concealed = stereo_decoder();
    std::vector<short> pcm;
    for (size_t i = 0; i < LOST; ++i) {
        for (OpusDecoderWrapper* d : {&whole, &rebuilt, &concealed}) decode(*d, packets[i], pcm);
    }
    std::vector<short> lost_frame;
    ASSERT_EQ(decode(whole, packets[LOST], lost_frame), FRAME);

    const std::vector<uint8_t>& after = packets[LOST + 1];
    std::vector<short> from_fec(FRAME * 2), from_plc(FRAME * 2);
    EXPECT_EQ(rebuilt.decode_fec(after.data(), static_cast<int>(after.size()), from_fec.data(), FRAME),
              FRAME);
    ASSERT_EQ(concealed.decode_plc(from_plc.data(), FRAME), FRAME);
    const double fec_error = rms_difference(from_fec, lost_frame);
    const double plc_error = rms_difference(from_plc, lost_frame);
    EXPECT_LT(fec_error, plc_error / 2) << "FEC " << fec_error << ", concealment " << plc_error;
}

TEST(OpusDecoderWrapper, InitRefusesARateLibopusDoesNotTake) {
    OpusDecoderWrapper decoder;
    EXPECT_FALSE(decoder.init(44100, 2));
    EXPECT_FALSE(decoder.init(48000, 3));
    std::vector<short> pcm(FRAME * 2);
    EXPECT_EQ(decoder.decode_plc(pcm.data(), FRAME), -1) << "left empty";
    EXPECT_TRUE(decoder.init(48000, 2)) << "and usable again";
}

TEST(OpusDecoderWrapper, MoveHandsTheDecoderOver) {
    OpusDecoderWrapper source = stereo_decoder();
    std::vector<short> pcm(FRAME * 2);

    OpusDecoderWrapper moved(std::move(source));
    EXPECT_EQ(moved.decode_plc(pcm.data(), FRAME), FRAME);
    EXPECT_EQ(source.decode_plc(pcm.data(), FRAME), -1);  // NOLINT(bugprone-use-after-move)

    OpusDecoderWrapper target = stereo_decoder();
    target = std::move(moved);
    EXPECT_EQ(target.decode_plc(pcm.data(), FRAME), FRAME);
    EXPECT_EQ(moved.decode_plc(pcm.data(), FRAME), -1);  // NOLINT(bugprone-use-after-move)

    EXPECT_TRUE(source.init(48000, 2)) << "a moved-from wrapper may be initialised again";
}

TEST(OpusDecoderWrapper, SelfMoveKeepsTheDecoder) {
    OpusDecoderWrapper decoder = stereo_decoder();
    OpusDecoderWrapper& alias = decoder;
    decoder = std::move(alias);
    std::vector<short> pcm(FRAME * 2);
    EXPECT_EQ(decoder.decode_plc(pcm.data(), FRAME), FRAME);
}

// ---- encoder ---------------------------------------------------------------

// Mean packet size over a second of the tone.
double mean_packet_bytes(OpusEncoderWrapper& encoder) {
    std::vector<unsigned char> out(4000);
    double total = 0;
    for (int i = 0; i < 50; ++i) {
        const auto pcm = client_test::stereo_tone(i * FRAME, FRAME);
        const int n = encoder.encode(pcm.data(), FRAME, out.data(), static_cast<int>(out.size()));
        EXPECT_GT(n, 0);
        total += n;
    }
    return total / 50;
}

TEST(OpusEncoderWrapper, EncodeOnAnEmptyWrapperIsMinusOne) {
    OpusEncoderWrapper empty;
    const auto pcm = client_test::stereo_tone(0, FRAME);
    std::vector<unsigned char> out(4000);
    EXPECT_EQ(empty.encode(pcm.data(), FRAME, out.data(), 4000), -1);
    empty.set_bitrate(64000);  // does nothing, and does not crash
    empty.destroy();
}

TEST(OpusEncoderWrapper, InitRefusesARateLibopusDoesNotTake) {
    OpusEncoderWrapper encoder;
    EXPECT_FALSE(encoder.init(44100, 2, OPUS_APPLICATION_AUDIO));
    const auto pcm = client_test::stereo_tone(0, FRAME);
    std::vector<unsigned char> out(4000);
    EXPECT_EQ(encoder.encode(pcm.data(), FRAME, out.data(), 4000), -1) << "left empty";
}

TEST(OpusEncoderWrapper, StartsAt48KbitsAndFollowsSetBitrate) {
    // 48 kbit/s is 120 bytes per 20 ms packet; VBR stays near it on a tone.
    for (const int application : {OPUS_APPLICATION_AUDIO, OPUS_APPLICATION_VOIP,
                                  OPUS_APPLICATION_RESTRICTED_LOWDELAY}) {
        OpusEncoderWrapper encoder;
        ASSERT_TRUE(encoder.init(48000, 2, application));
        const double initial = mean_packet_bytes(encoder);
        EXPECT_GT(initial, 60) << application;
        EXPECT_LT(initial, 180) << application;
        encoder.set_bitrate(12000);  // 30 bytes per packet
        EXPECT_LT(mean_packet_bytes(encoder), 45) << application;
    }
}

TEST(OpusEncoderWrapper, OnlyVoipStopsSendingDuringSilence) {
    // With DTX, after 200 ms of silence most packets are the table-of-contents
    // byte alone; without it every packet still codes the silence.
    const std::vector<short> silence(FRAME * 2, 0);
    std::vector<unsigned char> out(4000);
    auto empty_packets_in_two_seconds = [&](int application) {
        OpusEncoderWrapper encoder;
        EXPECT_TRUE(encoder.init(48000, 2, application));
        int empty = 0;
        for (int i = 0; i < 100; ++i) {
            const int n = encoder.encode(silence.data(), FRAME, out.data(), 4000);
            EXPECT_GT(n, 0);
            if (n == 1) ++empty;
        }
        return empty;
    };
    EXPECT_GT(empty_packets_in_two_seconds(OPUS_APPLICATION_VOIP), 50);
    EXPECT_EQ(empty_packets_in_two_seconds(OPUS_APPLICATION_AUDIO), 0);
}

TEST(OpusEncoderWrapper, PacketsRoundTripThroughTheDecoderWrapper) {
    OpusEncoderWrapper encoder;
    ASSERT_TRUE(encoder.init(48000, 2, OPUS_APPLICATION_VOIP));
    OpusDecoderWrapper decoder = stereo_decoder();
    std::vector<unsigned char> out(4000);
    std::vector<short> pcm(FRAME * 2);
    const auto tone = client_test::stereo_tone(0, FRAME);
    const int n = encoder.encode(tone.data(), FRAME, out.data(), 4000);
    ASSERT_GT(n, 0);
    EXPECT_EQ(decoder.decode(out.data(), n, pcm.data(), FRAME), FRAME);
}

TEST(OpusEncoderWrapper, MoveHandsTheEncoderOverAndSelfMoveKeepsIt) {
    OpusEncoderWrapper source;
    ASSERT_TRUE(source.init(48000, 2, OPUS_APPLICATION_AUDIO));
    const auto pcm = client_test::stereo_tone(0, FRAME);
    std::vector<unsigned char> out(4000);

    OpusEncoderWrapper moved(std::move(source));
    EXPECT_GT(moved.encode(pcm.data(), FRAME, out.data(), 4000), 0);
    EXPECT_EQ(source.encode(pcm.data(), FRAME, out.data(), 4000), -1);  // NOLINT

    OpusEncoderWrapper target;
    ASSERT_TRUE(target.init(48000, 1, OPUS_APPLICATION_AUDIO));
    target = std::move(moved);
    EXPECT_GT(target.encode(pcm.data(), FRAME, out.data(), 4000), 0);
    EXPECT_EQ(moved.encode(pcm.data(), FRAME, out.data(), 4000), -1);  // NOLINT

    OpusEncoderWrapper& alias = target;
    target = std::move(alias);
    EXPECT_GT(target.encode(pcm.data(), FRAME, out.data(), 4000), 0);
}

}  // namespace
