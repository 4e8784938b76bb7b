// The receiver's screen-audio path: real Opus packets of a test tone in,
// what reaches the playback device out, through a stand-in for SDL that
// records every queued value. The receiver runs without a window.
//
// Most scenarios send 10 ms packets, so the device queue tells the pieces
// apart by size: a played packet is 480 frames (1920 bytes), a concealed
// frame always 960 (3840 bytes).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audio_datagram.h"
#include "audio_gain.h"
#include "fake_audio_backend.h"
#include "media_header.h"
#include "opus_decoder_wrapper.h"
#include "opus_tone.h"
#include "paced_playback.h"
#include "receiver_peer.h"
#include "video_receiver.h"

using client_test::FakeAudioBackend;
using client_test::jittered_arrival_ms;
using client_test::largest_step;
using client_test::OpusTone;
using client_test::PacedPlayback;
using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using Peer = talvek::client::VideoReceiverTestPeer;
using talvek::tools::Datagram;

namespace {

enum class Piece { Packet, Concealed, Other };

std::ostream& operator<<(std::ostream& os, Piece p) {
    return os << (p == Piece::Packet ? "Packet" : p == Piece::Concealed ? "Concealed" : "Other");
}

// The sender's datagram, then `trailing` bytes of 0xEE; payload_length (at
// offset 24) says `payload_length` bytes instead of the packet's size if given.
Datagram screen_audio(uint32_t sequence, const std::vector<uint8_t>& packet, size_t trailing = 0,
                      int payload_length = -1) {
    Datagram d = talvek::tools::make_screen_audio_datagram(sequence, packet.data(), packet.size());
    d.insert(d.end(), trailing, 0xEE);
    if (payload_length >= 0) {
        const auto claimed = static_cast<uint16_t>(payload_length);
        std::memcpy(&d[offsetof(talvek::MediaHeader, payload_length)], &claimed, sizeof claimed);
    }
    return d;
}

class ScreenAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        receiver.set_audio_backend(sdl);
        ASSERT_TRUE(receiver.init_without_window(64, 64, VideoCodec::VP8));
        ASSERT_TRUE(tone.ready());
    }

    void TearDown() override {
        testing::internal::CaptureStdout();
        receiver.stop();
        testing::internal::GetCapturedStdout();
    }

    // Returns what enable_audio printed, both streams.
    std::string enable_logged(bool enable = true) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        receiver.enable_audio(enable);
        std::string text = testing::internal::GetCapturedStdout();
        return text + testing::internal::GetCapturedStderr();
    }

    void feed(const Datagram& d) { feed(d, static_cast<int>(d.size())); }
    void feed(const Datagram& d, int length) { receiver.handle_screen_audio(d.data(), length); }

    // The tone's packet for `sequence`: the same number always carries the
    // same packet, as a retransmitted or late copy would.
    const std::vector<uint8_t>& packet_for(uint32_t sequence) {
        auto it = packets.find(sequence);
        if (it == packets.end()) it = packets.emplace(sequence, tone.next()).first;
        return it->second;
    }

    // Sends one datagram per number and returns the pieces queued since.
    // The device has played everything before each datagram comes, so what
    // is queued stays far under any bound and every piece is kept whole.
    std::vector<Piece> play(const std::vector<uint32_t>& sequences) {
        const size_t before = sdl.queue_calls.size();
        for (const uint32_t s : sequences) {
            sdl.pending_bytes = 0;
            feed(screen_audio(s, packet_for(s)));
        }
        std::vector<Piece> pieces;
        for (size_t i = before; i < sdl.queue_calls.size(); ++i) {
            const uint32_t bytes = sdl.queue_calls[i];
            pieces.push_back(bytes == 1920   ? Piece::Packet
                             : bytes == 3840 ? Piece::Concealed
                                             : Piece::Other);
        }
        return pieces;
    }

    FakeAudioBackend sdl;
    VideoReceiver receiver;
    OpusTone tone{10};
    std::map<uint32_t, std::vector<uint8_t>> packets;
};

constexpr Piece C = Piece::Concealed;
constexpr Piece K = Piece::Packet;

// ---- enabling ----------------------------------------------------------------

TEST_F(ScreenAudioTest, EnableOpensTheDefaultDeviceForStereoAt48k) {
    EXPECT_EQ(enable_logged(), "[Audio] Opened playback device: 48000 Hz, 2 ch, 960 samples\n"
                               "[VideoReceiver] Screen audio enabled (stereo, 48kHz)\n");
    ASSERT_EQ(sdl.opens.size(), 1u);
    EXPECT_TRUE(sdl.opens[0].default_device);
    EXPECT_EQ(sdl.opens[0].iscapture, 0);
    EXPECT_EQ(sdl.opens[0].desired.freq, 48000);
    EXPECT_EQ(sdl.opens[0].desired.channels, 2);
    EXPECT_EQ(sdl.opens[0].desired.samples, 960);
    EXPECT_EQ(sdl.pauses, std::vector<int>{0}) << "running, silence until samples come";
    EXPECT_TRUE(Peer::audio_enabled(receiver));
}

TEST_F(ScreenAudioTest, EnableTwiceOpensOnceAndFalseNeverCloses) {
    EXPECT_EQ(enable_logged(false), "");
    EXPECT_TRUE(sdl.opens.empty());
    enable_logged();
    EXPECT_EQ(enable_logged(), "");
    EXPECT_EQ(enable_logged(false), "");
    EXPECT_EQ(sdl.opens.size(), 1u);
    EXPECT_TRUE(sdl.closed.empty());
    EXPECT_EQ(play({1}), std::vector<Piece>{K}) << "still playing";
}

TEST_F(ScreenAudioTest, DeviceThatWillNotOpenLeavesTheStreamSilent) {
    sdl.next_id = 0;
    EXPECT_EQ(enable_logged(), "[Audio] Failed to open device: no such device\n"
                               "[VideoReceiver] Failed to open screen audio playback device\n");
    EXPECT_FALSE(Peer::audio_enabled(receiver));
    EXPECT_TRUE(play({1, 2}).empty());

    // A later attempt tries again.
    sdl.next_id = 5;
    enable_logged();
    EXPECT_TRUE(Peer::audio_enabled(receiver));
    EXPECT_EQ(play({3}), std::vector<Piece>{K});
}

TEST_F(ScreenAudioTest, AudioThatIsOffIgnoresEveryDatagramQuietly) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(play({1, 2, 5}).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// ---- sequence numbers and concealment ----------------------------------------

class SequenceTest : public ScreenAudioTest {
protected:
    void SetUp() override {
        ScreenAudioTest::SetUp();
        enable_logged();
    }
};

TEST_F(SequenceTest, ConsecutivePacketsPlayWithoutConcealment) {
    EXPECT_EQ(play({10, 11, 12}), (std::vector<Piece>{K, K, K}));
}

TEST_F(SequenceTest, FirstPacketIsNeverConcealedWhateverItsNumber) {
    EXPECT_EQ(play({5000}), std::vector<Piece>{K});
}

TEST_F(SequenceTest, OneMissingPacketIsConcealedByOneFrame) {
    EXPECT_EQ(play({10, 12}), (std::vector<Piece>{K, C, K}));
}

TEST_F(SequenceTest, LongGapIsConcealedByThreeFramesOnly) {
    EXPECT_EQ(play({10, 20}), (std::vector<Piece>{K, C, C, C, K}));
    EXPECT_EQ(play({1'000'000}), (std::vector<Piece>{C, C, C, K}));
}

TEST_F(SequenceTest, LatePacketPlaysLateAndMovesTheSequenceBack) {
    EXPECT_EQ(play({10, 12, 11, 13}), (std::vector<Piece>{K, C, K, K, C, K}));
    EXPECT_EQ(Peer::last_audio_seq(receiver), 13u);
}

TEST_F(SequenceTest, RepeatedPacketPlaysAgain) {
    EXPECT_EQ(play({10, 10, 11}), (std::vector<Piece>{K, K, K}));
}

TEST_F(SequenceTest, SequenceZeroMeansNoPacketBefore) {
    EXPECT_EQ(play({10, 0, 5}), (std::vector<Piece>{K, K, K}));
}

TEST_F(SequenceTest, NumbersWrapAfterTheLargest) {
    EXPECT_EQ(play({0xFFFFFFFE, 0xFFFFFFFF, 0}), (std::vector<Piece>{K, K, K}));
    // After 0xFFFFFFFF the next number expected sums to 0, so 5 is a gap.
    EXPECT_EQ(play({0xFFFFFFFF, 5}), (std::vector<Piece>{K, C, C, C, K}));
}

// ---- datagram bounds ---------------------------------------------------------

TEST_F(SequenceTest, PacketEndingAtTheDatagramsEndIsTaken) {
    feed(screen_audio(10, packet_for(10)));
    EXPECT_EQ(sdl.queue_calls.size(), 1u);
}

TEST_F(SequenceTest, BytesAfterThePacketAreIgnored) {
    feed(screen_audio(10, packet_for(10), 300));
    feed(screen_audio(11, packet_for(11), 1));
    EXPECT_EQ(sdl.queue_calls, (std::vector<uint32_t>{1920, 1920}));
}

TEST_F(SequenceTest, DatagramsThatCannotHoldTheirPacketAreDroppedUnseen) {
    play({10});
    const auto& packet = packet_for(12);
    const int whole = static_cast<int>(talvek::MEDIA_HEADER_SIZE + packet.size());
    // payload_length one byte past the end.
    feed(screen_audio(12, packet, 0, static_cast<int>(packet.size()) + 1));
    // Cut short: the header still claims the whole packet.
    feed(screen_audio(12, packet), whole - 1);
    // No packet at all, and less than a header.
    feed(screen_audio(12, packet, 0, 0));
    feed(screen_audio(12, packet), 27);
    EXPECT_EQ(sdl.queue_calls.size(), 1u);
    EXPECT_EQ(Peer::last_audio_seq(receiver), 10u) << "dropped datagrams do not count";
    EXPECT_EQ(play({11}), std::vector<Piece>{K}) << "so 11 follows 10 without a gap";
}

TEST_F(SequenceTest, TooLongOrCorruptPacketIsNotPlayedYetCounts) {
    play({10});
    OpusTone forty_ms(40);
    feed(screen_audio(11, forty_ms.next()));
    feed(screen_audio(12, {0xFF}));  // a code-3 packet without its frame count
    EXPECT_EQ(sdl.queue_calls.size(), 1u);
    EXPECT_EQ(Peer::last_audio_seq(receiver), 12u);
    EXPECT_EQ(play({13}), std::vector<Piece>{K}) << "no gap after 12";
}

TEST_F(SequenceTest, ConcealmentBeforeACorruptPacketIsStillPlayed) {
    play({10});
    feed(screen_audio(12, {0xFF}));
    EXPECT_EQ(sdl.queue_calls, (std::vector<uint32_t>{1920, 3840}));
}

TEST_F(SequenceTest, TwentyMsPacketsPlayAWholeFrameEach) {
    OpusTone twenty(20);
    feed(screen_audio(1, twenty.next()));
    feed(screen_audio(2, twenty.next()));
    EXPECT_EQ(sdl.queue_calls, (std::vector<uint32_t>{3840, 3840}));
}

// ---- gain ----------------------------------------------------------------------

// Decodes the same packets (and concealment) with a decoder of its own, as
// the receiver does at volume 1.0.
std::vector<short> reference_decode(const std::vector<std::vector<uint8_t>>& packets,
                                    int conceal_before_last) {
    talvek::OpusDecoderWrapper decoder;
    EXPECT_TRUE(decoder.init(48000, 2));
    std::vector<short> out;
    std::vector<short> pcm(1920);
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i + 1 == packets.size()) {
            for (int c = 0; c < conceal_before_last; ++c) {
                decoder.decode_plc(pcm.data(), 960);
                out.insert(out.end(), pcm.begin(), pcm.end());
            }
        }
        const int n = decoder.decode(packets[i].data(), static_cast<int>(packets[i].size()),
                                     pcm.data(), 960);
        out.insert(out.end(), pcm.begin(), pcm.begin() + n * 2);
    }
    return out;
}

TEST_F(SequenceTest, FullVolumeQueuesTheDecodedSamplesUnchanged) {
    play({1, 2, 3, 5});
    const auto expected = reference_decode(
        {packet_for(1), packet_for(2), packet_for(3), packet_for(5)}, 1);
    EXPECT_EQ(sdl.queued_values, expected);
}

TEST_F(SequenceTest, HalfVolumeScalesPacketsAndConcealmentTowardZero) {
    receiver.set_audio_volume(0.5f);
    play({1, 2, 3, 5});
    auto expected = reference_decode(
        {packet_for(1), packet_for(2), packet_for(3), packet_for(5)}, 1);
    for (short& v : expected) v = static_cast<short>(v / 2);  // C++ division truncates too
    EXPECT_EQ(sdl.queued_values, expected);
}

TEST_F(SequenceTest, MutedStreamStillFeedsTheDeviceWithSilence) {
    receiver.set_audio_volume(0.0f);
    EXPECT_EQ(play({1, 2, 4}), (std::vector<Piece>{K, K, C, K}));
    EXPECT_EQ(std::count(sdl.queued_values.begin(), sdl.queued_values.end(), 0),
              static_cast<long>(sdl.queued_values.size()));
}

TEST_F(SequenceTest, VolumeChangeAppliesFromTheNextPacket) {
    play({1});
    receiver.set_audio_volume(0.0f);
    play({2});
    const auto reference = reference_decode({packet_for(1)}, 0);
    ASSERT_EQ(sdl.queued_values.size(), 1920u);
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), sdl.queued_values.begin()));
    EXPECT_TRUE(std::all_of(sdl.queued_values.begin() + 960, sdl.queued_values.end(),
                            [](short v) { return v == 0; }));
}

TEST(AudioGain, ScalesTowardZeroAndClampsToSixteenBits) {
    using talvek::client::apply_gain;
    std::vector<short> v = {-3, 3, 1000, -1};
    apply_gain(v.data(), 4, 0.5f);
    EXPECT_EQ(v, (std::vector<short>{-1, 1, 500, 0}));

    v = {20000, -20000, 16383, -16384};
    apply_gain(v.data(), 4, 2.0f);
    EXPECT_EQ(v, (std::vector<short>{32767, -32768, 32766, -32768}));

    v = {32767, -32768, 5};
    apply_gain(v.data(), 3, 0.0f);
    EXPECT_EQ(v, (std::vector<short>{0, 0, 0}));
}

TEST(AudioGain, UnitVolumeLeavesTheValuesAndOnlyCountValuesAreTouched) {
    using talvek::client::apply_gain;
    std::vector<short> v = {-32768, 7, 32767};
    apply_gain(v.data(), 3, 1.0f);
    EXPECT_EQ(v, (std::vector<short>{-32768, 7, 32767}));
    apply_gain(v.data(), 1, 0.0f);
    EXPECT_EQ(v, (std::vector<short>{0, 7, 32767}));
    // Just under 1.0 scales: 32767 * 0.99999994 truncates to 32766.
    apply_gain(v.data(), 3, std::nextafter(1.0f, 0.0f));
    EXPECT_EQ(v, (std::vector<short>{0, 6, 32766}));
}

TEST(AudioGain, VolumesNobodyShouldSetStayDefined) {
    using talvek::client::apply_gain;
    std::vector<short> v = {100, -100, 0};
    apply_gain(v.data(), 3, 1e30f);
    EXPECT_EQ(v, (std::vector<short>{32767, -32768, 0}));
    v = {100, -100};
    apply_gain(v.data(), 2, std::nanf(""));
    EXPECT_EQ(v, (std::vector<short>{0, 0}));
    v = {100, -100};
    apply_gain(v.data(), 2, -1.0f);
    EXPECT_EQ(v, (std::vector<short>{-100, 100}));
}

// ---- keeping up with the picture ---------------------------------------------------

// 20 ms packets of the tone sent on a test clock to a device that plays its
// queue on the same clock; each arrival notes what the device held then.
class KeepingUpTest : public SequenceTest {
protected:
    static constexpr uint32_t BYTES_PER_MS = 48 * 4;

    void use_device(double rate) { device.emplace(sdl.pending_bytes, rate); }

    // Packets [first, first + count) from `start_ms` on, `period_ms` apart
    // (jittered like the main loop's passes) or all at once.
    enum class Pace { Steady, Jittered, AllAtOnce };
    void send(int first, int count, double start_ms, Pace pace, double period_ms = 20.0) {
        for (int i = first; i < first + count; ++i) {
            const int k = i - first;
            const double at = pace == Pace::AllAtOnce ? start_ms
                              : pace == Pace::Jittered
                                  ? start_ms + jittered_arrival_ms(k, period_ms)
                                  : start_ms + period_ms * k;
            device->advance_to(at);
            arrivals.push_back({at, static_cast<double>(sdl.pending_bytes) / BYTES_PER_MS});
            while (static_cast<int>(sent.size()) <= i) sent.push_back(tone20.next());
            feed(screen_audio(static_cast<uint32_t>(i + 1), sent[static_cast<size_t>(i)]));
        }
    }

    double worst_level_from(double from_ms) const {
        double worst = 0.0;
        for (const auto& a : arrivals) {
            if (a.ms >= from_ms) worst = std::max(worst, a.level_ms);
        }
        return worst;
    }
    size_t stretched() const {
        return static_cast<size_t>(std::count_if(sdl.queue_calls.begin(), sdl.queue_calls.end(),
                                                 [](uint32_t bytes) { return bytes < 3840; }));
    }
    size_t dropped() const { return sent.size() - sdl.queue_calls.size(); }

    struct Arrival {
        double ms;
        double level_ms;
    };
    OpusTone tone20{20};
    std::vector<std::vector<uint8_t>> sent;
    std::vector<Arrival> arrivals;
    std::optional<PacedPlayback> device;
};

TEST_F(KeepingUpTest, DeviceAtTheHostsPacePlaysEveryDecodedSampleBitExact) {
    use_device(1.0);
    send(0, 1500, 0.0, Pace::Jittered);  // 30 s
    EXPECT_EQ(dropped(), 0u);
    EXPECT_EQ(stretched(), 0u);
    EXPECT_EQ(sdl.queued_values, reference_decode(sent, 0));
}

TEST_F(KeepingUpTest, BurstOfTwoSecondsIsBackUnderTheBoundWithinASecond) {
    use_device(1.0);
    send(0, 250, 0.0, Pace::Steady);
    send(250, 100, 5000.0, Pace::AllAtOnce);
    send(350, 500, 5020.0, Pace::Steady);
    EXPECT_GT(dropped(), 80u);
    EXPECT_EQ(stretched(), 0u) << "whole packets only";
    EXPECT_LT(worst_level_from(6000.0), 100.0);
    // Without the bound the queue would hold the whole burst from here on.
    EXPECT_LT(worst_level_from(5300.0), 300.0);
    const int decoded_step = largest_step(reference_decode(sent, 0));
    EXPECT_LE(largest_step(sdl.queued_values), decoded_step * 105 / 100) << "no click at the join";
}

TEST_F(KeepingUpTest, HostClockOnePercentFastStaysUnderTheBoundForAMinute) {
    use_device(1.0);
    send(0, 3030, 0.0, Pace::Jittered, 20.0 / 1.01);  // 60.6 s of sound in 60 s
    EXPECT_EQ(dropped(), 0u);
    EXPECT_GT(stretched(), 0u);
    EXPECT_LT(worst_level_from(0.0), 100.0);
    const int decoded_step = largest_step(reference_decode(sent, 0));
    EXPECT_LE(largest_step(sdl.queued_values), decoded_step * 105 / 100) << "no click";
    for (const uint32_t bytes : sdl.queue_calls) {
        ASSERT_GE(bytes, 3840u - 19 * 4) << "never more than 2 % faster";
    }
}

TEST_F(KeepingUpTest, MutedStreamStaysSilentThroughDropsAndStretches) {
    receiver.set_audio_volume(0.0f);
    use_device(0.99);
    send(0, 500, 0.0, Pace::Jittered);
    send(500, 100, 10000.0, Pace::AllAtOnce);
    send(600, 100, 10020.0, Pace::Steady);
    EXPECT_GT(dropped(), 0u);
    EXPECT_GT(stretched(), 0u);
    EXPECT_TRUE(std::all_of(sdl.queued_values.begin(), sdl.queued_values.end(),
                            [](short v) { return v == 0; }));
}

// ---- the receiver's life ---------------------------------------------------------

TEST_F(SequenceTest, StopClosesTheDeviceOnceAndKeepsTheVolume) {
    receiver.set_audio_volume(0.3f);
    play({1, 2});
    testing::internal::CaptureStdout();
    receiver.stop();
    receiver.stop();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(sdl.closed, std::vector<SDL_AudioDeviceID>{7});
    EXPECT_FALSE(Peer::audio_enabled(receiver));
    EXPECT_EQ(Peer::last_audio_seq(receiver), 0u);
    EXPECT_FLOAT_EQ(Peer::audio_volume(receiver), 0.3f);
    EXPECT_TRUE(play({3}).empty());
}

TEST_F(SequenceTest, EndedStreamIgnoresAudio) {
    play({1});
    testing::internal::CaptureStdout();
    receiver.mark_stream_ended();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(play({2, 3}).empty());
    EXPECT_EQ(Peer::last_audio_seq(receiver), 1u);
}

TEST_F(SequenceTest, StreamEndingDuringConcealmentDropsTheRestAndThePacket) {
    play({10});
    // The first concealed frame is queued, then the stream ends before the
    // second one.
    sdl.on_queue = [this] {
        testing::internal::CaptureStdout();
        receiver.mark_stream_ended();
        testing::internal::GetCapturedStdout();
        sdl.on_queue = nullptr;
    };
    EXPECT_EQ(play({20}), std::vector<Piece>{C});
    EXPECT_EQ(Peer::last_audio_seq(receiver), 10u) << "the packet was not taken";
}

TEST_F(SequenceTest, SetVolumeWorksBeforeAudioIsEnabled) {
    VideoReceiver idle;
    idle.set_audio_volume(0.25f);
    EXPECT_FLOAT_EQ(Peer::audio_volume(idle), 0.25f);
}

}  // namespace
