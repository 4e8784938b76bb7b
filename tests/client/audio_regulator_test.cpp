// The audio regulator alone: pieces of a test tone in, with the queue level
// a paced playback device leaves on a test clock; what the regulator hands
// on out. No SDL and no codec, so every sample can be checked.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio_regulator.h"
#include "opus_tone.h"
#include "paced_playback.h"

using client_test::jittered_arrival_ms;
using client_test::largest_step;
using client_test::PacedPlayback;
using client_test::stereo_tone;
using talvek::client::AudioRegulator;

namespace {

constexpr int PIECE = 960;  // 20 ms
constexpr uint32_t BYTES_PER_MS = 48 * 4;

enum class Arrival { OnTime, Jittered };

// One stream through the regulator into a paced device: piece i of the tone
// is handed over at its arrival time, with what the device then holds.
struct Stream {
    explicit Stream(double device_rate = 1.0) : device(queue, device_rate) {}

    // Sends pieces [first, first + count) of the tone, 20 ms apart from
    // `start_ms` on (or all at `start_ms` when `all_at_once`).
    void send(int first, int count, double start_ms, Arrival arrival = Arrival::OnTime,
              bool all_at_once = false) {
        for (int i = first; i < first + count; ++i) {
            const int k = i - first;
            const double at = all_at_once ? start_ms
                              : arrival == Arrival::Jittered
                                  ? start_ms + jittered_arrival_ms(k)
                                  : start_ms + 20.0 * k;
            device.advance_to(at);
            levels_ms.push_back(static_cast<double>(queue) / BYTES_PER_MS);
            arrival_ms.push_back(at);
            const std::vector<short> in = stereo_tone(i * PIECE, PIECE);
            const AudioRegulator::Output o = regulator.regulate(in.data(), PIECE, queue);
            played.insert(played.end(), o.values, o.values + o.count);
            counts.push_back(o.count / 2);
            queue += static_cast<uint32_t>(o.count) * 2;
        }
    }

    // The largest level met by a piece arriving at or after `from_ms`.
    double worst_level_from(double from_ms) const {
        double worst = 0.0;
        for (size_t i = 0; i < levels_ms.size(); ++i) {
            if (arrival_ms[i] >= from_ms) worst = std::max(worst, levels_ms[i]);
        }
        return worst;
    }

    uint32_t queue = 0;
    PacedPlayback device;
    AudioRegulator regulator;
    std::vector<short> played;
    std::vector<int> counts;  // frames handed on per piece, 0 when dropped
    std::vector<double> levels_ms;
    std::vector<double> arrival_ms;
};

// The tone itself changes by at most this much from frame to frame; a
// stretched or faded join may add a few percent, a click adds thousands.
int tone_step() { return largest_step(stereo_tone(0, 48000)); }

// ---- the normal case: nothing changes ----------------------------------------

TEST(AudioRegulator, QueueAtOrUnderTheTargetHandsEveryPieceOnItself) {
    AudioRegulator regulator;
    const std::vector<short> in = stereo_tone(0, PIECE);
    for (int i = 0; i < 200; ++i) {
        const unsigned level =
            static_cast<unsigned>(i % 3 == 0 ? AudioRegulator::TARGET_MS : i % 40) * BYTES_PER_MS;
        const AudioRegulator::Output o = regulator.regulate(in.data(), PIECE, level);
        ASSERT_EQ(o.values, in.data()) << "piece " << i;
        ASSERT_EQ(o.count, PIECE * 2);
    }
    EXPECT_EQ(regulator.stretched_pieces(), 0u);
    EXPECT_EQ(regulator.dropped_pieces(), 0u);
}

TEST(AudioRegulator, DeviceAtTheSendersPaceWithJitterPlaysEverySampleUnchanged) {
    Stream s;
    s.send(0, 3000, 0.0, Arrival::Jittered);  // a minute
    EXPECT_EQ(s.regulator.stretched_pieces(), 0u);
    EXPECT_EQ(s.regulator.dropped_pieces(), 0u);
    EXPECT_EQ(s.played, stereo_tone(0, 3000 * PIECE));
    EXPECT_GE(s.worst_level_from(0), 40.0) << "the jitter does build a queue now and then";
}

// ---- drift: slightly faster ------------------------------------------------------

TEST(AudioRegulator, DeviceOnePercentSlowIsKeptUnderTheBoundBySlightlyFasterPlay) {
    Stream s(0.99);
    s.send(0, 3000, 0.0, Arrival::Jittered);
    EXPECT_EQ(s.regulator.dropped_pieces(), 0u);
    EXPECT_GT(s.regulator.stretched_pieces(), 0u);
    EXPECT_LT(s.worst_level_from(0), 100.0);
    // Without the regulator a minute at 1 % would leave 600 ms queued.
    for (const int frames : s.counts) {
        ASSERT_GE(frames, PIECE - PIECE / 50) << "never more than 2 % faster";
    }
    EXPECT_LE(largest_step(s.played), tone_step() * 105 / 100);
}

TEST(AudioRegulator, StretchedPiecesAreTheToneReadFaster) {
    // Every piece meets a queue 10 ms over the target: 2 % faster.
    AudioRegulator regulator;
    std::vector<short> played;
    int source_frames = 0;
    std::vector<double> positions;  // where in the tone each played frame was read
    for (int i = 0; i < 20; ++i) {
        const std::vector<short> in = stereo_tone(i * PIECE, PIECE);
        const auto o = regulator.regulate(in.data(), PIECE,
                                          (AudioRegulator::TARGET_MS + 10) * BYTES_PER_MS);
        const int kept = o.count / 2;
        for (int j = 0; j < kept; ++j) {
            positions.push_back(source_frames + j * static_cast<double>(PIECE) / kept);
        }
        played.insert(played.end(), o.values, o.values + o.count);
        source_frames += PIECE;
    }
    EXPECT_EQ(regulator.stretched_pieces(), 20u);
    EXPECT_NEAR(static_cast<double>(played.size()) / 2 / source_frames, 0.98, 0.002);
    // Each played frame is the tone at its position, to within the
    // interpolation's error (far under a step of the tone).
    int worst = 0;
    for (size_t j = 960; j < positions.size(); ++j) {  // past the first piece's start
        const double t = positions[j] / 48000.0;
        const int left = static_cast<int>(10000 * std::sin(6.283185307179586 * 440 * t));
        const int right = static_cast<int>(10000 * std::sin(6.283185307179586 * 660 * t));
        worst = std::max({worst, std::abs(played[2 * j] - left), std::abs(played[2 * j + 1] - right)});
    }
    EXPECT_LT(worst, 20);
    EXPECT_LE(largest_step(played), tone_step() * 105 / 100);
}

TEST(AudioRegulator, DriftBeyondTheFastestPlayCostsAPieceNowAndThen) {
    // 3 % slow: 2 % is worked off by faster play, the rest by single drops.
    Stream s(0.97);
    s.send(0, 3000, 0.0, Arrival::Jittered);
    EXPECT_GE(s.regulator.dropped_pieces(), 10u);
    EXPECT_LE(s.regulator.dropped_pieces(), 60u) << "about 1 % of 3000";
    for (size_t i = 1; i < s.counts.size(); ++i) {
        ASSERT_FALSE(s.counts[i] == 0 && s.counts[i - 1] == 0) << "one piece at a time, " << i;
    }
    EXPECT_LT(s.worst_level_from(0), 150.0);
    EXPECT_LE(largest_step(s.played), tone_step() * 105 / 100);
}

// ---- bursts: dropped at once -------------------------------------------------------

TEST(AudioRegulator, BurstOfTwoSecondsIsDroppedBackToTheTargetAtOnce) {
    Stream s;
    s.send(0, 250, 0.0);                  // 5 s at pace
    s.send(250, 100, 5000.0, Arrival::OnTime, true);  // 2 s at once
    s.send(350, 500, 5020.0);             // then real time again
    EXPECT_GT(s.regulator.dropped_pieces(), 80u);
    EXPECT_LE(s.worst_level_from(5000.0),
              AudioRegulator::TARGET_MS + AudioRegulator::BURST_MS + 20.0);
    EXPECT_LT(s.worst_level_from(6000.0), 100.0) << "back under the bound within a second";
    EXPECT_LE(s.worst_level_from(6000.0), AudioRegulator::TARGET_MS + 20.0);
    for (size_t i = 0; i < s.counts.size(); ++i) {
        ASSERT_TRUE(s.counts[i] == 0 || s.counts[i] == PIECE) << "whole pieces, piece " << i;
    }
    EXPECT_LE(largest_step(s.played), tone_step() * 105 / 100) << "the join does not click";
}

TEST(AudioRegulator, AfterADropTheFirstPieceFadesFromTheFirstOneDropped) {
    AudioRegulator regulator;
    const auto burst = (AudioRegulator::TARGET_MS + AudioRegulator::BURST_MS + 1) * BYTES_PER_MS;
    const std::vector<short> before = stereo_tone(0, PIECE);
    const std::vector<short> first_dropped = stereo_tone(PIECE, PIECE);
    const std::vector<short> later = stereo_tone(7 * PIECE + 333, PIECE);  // any other phase

    EXPECT_EQ(regulator.regulate(before.data(), PIECE, 0).count, PIECE * 2);
    EXPECT_EQ(regulator.regulate(first_dropped.data(), PIECE, burst).count, 0);
    EXPECT_EQ(regulator.regulate(later.data(), PIECE, 100 * BYTES_PER_MS).count, 0)
        << "still above the target";
    const auto o = regulator.regulate(later.data(), PIECE, 30 * BYTES_PER_MS);
    ASSERT_EQ(o.count, PIECE * 2);
    EXPECT_EQ(regulator.dropped_pieces(), 2u);
    // It starts where the dropped piece would have, and ends as itself.
    EXPECT_NEAR(o.values[0], first_dropped[0], 12);
    EXPECT_NEAR(o.values[1], first_dropped[1], 12);
    EXPECT_NEAR(o.values[PIECE * 2 - 2], later[PIECE * 2 - 2], 12);
    std::vector<short> joined = before;
    joined.insert(joined.end(), o.values, o.values + o.count);
    EXPECT_LE(largest_step(joined), tone_step() * 105 / 100);

    // The burst's levels are forgotten: the next pieces are not stretched.
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(regulator.regulate(later.data(), PIECE, 20 * BYTES_PER_MS).count, PIECE * 2);
    }
    EXPECT_EQ(regulator.stretched_pieces(), 0u);
}

TEST(AudioRegulator, ResetForgetsADropInProgress) {
    AudioRegulator regulator;
    const std::vector<short> in = stereo_tone(0, PIECE);
    regulator.regulate(in.data(), PIECE, 500 * BYTES_PER_MS);
    regulator.reset();
    const auto o = regulator.regulate(in.data(), PIECE, 0);
    EXPECT_EQ(o.values, in.data());
    EXPECT_EQ(regulator.dropped_pieces(), 0u);
}

TEST(AudioRegulator, ShortPiecesAreRegulatedAtTheirOwnLength) {
    // 10 ms pieces: 480 frames lose at most 9 (2 %).
    AudioRegulator regulator;
    const std::vector<short> in = stereo_tone(0, 480);
    for (int i = 0; i < 50; ++i) {
        const auto o = regulator.regulate(in.data(), 480, 60 * BYTES_PER_MS);
        ASSERT_GE(o.count / 2, 480 - 9);
        ASSERT_LT(o.count / 2, 480);
    }
}

}  // namespace
