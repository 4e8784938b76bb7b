#pragma once
// A playback device on a test clock: drains a queue of bytes the way SDL's
// audio thread does, one device buffer (960 stereo frames, 20 ms) at a time,
// one buffer every 20 ms / rate of test time. With rate 1.0 it plays exactly
// as fast as a host sends in real time; 0.99 plays 1 % slow, which to the
// queue looks the same as a host clock 1 % fast.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace client_test {

class PacedPlayback {
public:
    static constexpr uint32_t BUFFER_BYTES = 960 * 4;

    // `pending_bytes` is the queue it plays from (a FakeAudioBackend's, or
    // a counter of the test's own). The first buffer is taken at `first_ms`.
    explicit PacedPlayback(uint32_t& pending_bytes, double rate = 1.0, double first_ms = 10.0)
        : pending(pending_bytes), period_ms(20.0 / rate), next_ms(first_ms) {}

    // Plays every buffer due up to `ms`; SDL plays silence for what is missing.
    void advance_to(double ms) {
        while (next_ms <= ms) {
            pending -= std::min(pending, BUFFER_BYTES);
            next_ms += period_ms;
        }
    }

private:
    uint32_t& pending;
    double period_ms;
    double next_ms;
};

// When packet i of a real-time stream reaches the player, in ms: up to 8 ms
// late, and every 50th packet held up 45 ms with the two after it, so they
// arrive together, as the main loop's passes leave them (the queue then
// sits up to 60 ms above its low point).
inline double jittered_arrival_ms(int i, double period_ms = 20.0) {
    const uint32_t hash = static_cast<uint32_t>(i) * 2654435761u;
    double late = (hash >> 24) / 256.0 * 8.0;
    if (i % 50 >= 47 && i % 50 <= 49) late = 45.0 - (i % 50 - 47) * period_ms;
    return i * period_ms + std::max(late, 0.0);
}

// The largest change from one frame to the next on either channel of
// interleaved stereo: a click (a step in the waveform) shows as a change far
// above what the sound itself ever makes.
inline int largest_step(const std::vector<short>& stereo) {
    int largest = 0;
    for (size_t i = 2; i < stereo.size(); ++i) {
        largest = std::max(largest, std::abs(stereo[i] - stereo[i - 2]));
    }
    return largest;
}

}  // namespace client_test
