#include "audio_regulator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace talvek::client {

namespace {

constexpr int FRAMES_PER_MS = AudioRegulator::SAMPLE_RATE / 1000;
constexpr int BYTES_PER_FRAME = AudioRegulator::CHANNELS * 2;
// At most one frame in 50 is removed from a piece (2 %), so a 20 ms piece
// loses 19 frames at most.
constexpr int MAX_REMOVED_PER_FRAMES = 50;

short to_sample(double v) {
    return static_cast<short>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

}  // namespace

AudioRegulator::Output AudioRegulator::regulate(const short* piece, int frames,
                                                unsigned queued_bytes) {
    if (frames <= 0) return {piece, 0};
    if (frames > MAX_PIECE_FRAMES) return {piece, frames * CHANNELS};  // not ours to judge
    const int level = static_cast<int>(std::min<unsigned>(queued_bytes / BYTES_PER_FRAME,
                                                          1u << 30));
    const int target = TARGET_MS * FRAMES_PER_MS;

    if (dropping) {
        if (level > resume_level) {
            ++dropped;
            return {piece, 0};
        }
        dropping = false;
        if (resume_level == target) {
            // A burst's end. What it left in the window would keep the
            // average high for a second and stretch pieces for nothing.
            level_count = level_next = 0;
            level_sum = 0;
            frames_owed = 0.0;
        }
        pieces_since_drop = 0;
        remember_level(level);
        const Output faded = fade_in(piece, frames);
        keep_last_frame(faded.values, frames);
        return faded;
    }
    if (level > (TARGET_MS + BURST_MS) * FRAMES_PER_MS) {
        start_dropping(piece, frames, target);
        return {piece, 0};
    }

    remember_level(level);
    pieces_since_drop = std::min(pieces_since_drop + 1, LEVEL_WINDOW);
    const int average = average_level();
    if (average > (TARGET_MS + OUTRUN_MS) * FRAMES_PER_MS && pieces_since_drop == LEVEL_WINDOW) {
        start_dropping(piece, frames, INT_MAX);  // this piece only
        return {piece, 0};
    }
    if (average <= target) {
        frames_owed = 0.0;
        keep_last_frame(piece, frames);
        return {piece, frames * CHANNELS};
    }
    const double speedup =
        std::min(MAX_SPEEDUP, SPEEDUP_PER_MS * (average - target) / FRAMES_PER_MS);
    frames_owed += speedup * frames;
    const int remove = std::min(static_cast<int>(frames_owed), frames / MAX_REMOVED_PER_FRAMES);
    frames_owed = std::min(frames_owed - remove, 1.0);
    if (remove == 0) {
        keep_last_frame(piece, frames);
        return {piece, frames * CHANNELS};
    }
    ++stretched;
    // The next piece's resampler wants the frame before it in the piece's
    // own time: the last one decoded, not the last one played.
    const Output shorter = stretch(piece, frames, remove);
    keep_last_frame(piece, frames);
    return shorter;
}

void AudioRegulator::reset() { *this = AudioRegulator{}; }

void AudioRegulator::start_dropping(const short* piece, int frames, int resume_at) {
    dropping = true;
    resume_level = resume_at;
    std::memcpy(continuation.data(), piece, sizeof(short) * static_cast<size_t>(frames * CHANNELS));
    continuation_frames = frames;
    ++dropped;
}

int AudioRegulator::average_level() const {
    return level_count == 0 ? 0 : static_cast<int>(level_sum / level_count);
}

void AudioRegulator::remember_level(int level) {
    if (level_count == LEVEL_WINDOW) {
        level_sum -= levels[static_cast<size_t>(level_next)];
    } else {
        ++level_count;
    }
    levels[static_cast<size_t>(level_next)] = level;
    level_sum += level;
    level_next = (level_next + 1) % LEVEL_WINDOW;
}

// Plays `frames` frames in the time of `frames - remove`: output frame j is
// the piece read at position j * frames / (frames - remove), between its
// frames by a cubic (Catmull-Rom) through the four around it. Output frame 0
// is the piece's first frame and the next piece starts where the last step
// would land, so the waveform runs on across both edges; the frame before
// the piece is the last one played, the one after it (not here yet) is
// extrapolated from the piece's last two.
AudioRegulator::Output AudioRegulator::stretch(const short* piece, int frames, int remove) {
    const int kept = frames - remove;
    const double step = static_cast<double>(frames) / kept;
    for (int c = 0; c < CHANNELS; ++c) {
        const auto at = [&](int i) -> double {
            if (i < 0) return last_frame[static_cast<size_t>(c)];
            if (i < frames) return piece[i * CHANNELS + c];
            const double end = piece[(frames - 1) * CHANNELS + c];
            const double before = frames > 1 ? piece[(frames - 2) * CHANNELS + c] : end;
            return end + (end - before) * (i - frames + 1);
        };
        for (int j = 0; j < kept; ++j) {
            const double position = j * step;
            const int i = static_cast<int>(position);
            const double t = position - i;
            const double x0 = at(i - 1), x1 = at(i), x2 = at(i + 1), x3 = at(i + 2);
            const double v =
                x1 + 0.5 * t *
                         (x2 - x0 +
                          t * (2.0 * x0 - 5.0 * x1 + 4.0 * x2 - x3 + t * (3.0 * (x1 - x2) + x3 - x0)));
            out[static_cast<size_t>(j * CHANNELS + c)] = to_sample(v);
        }
    }
    return {out.data(), kept * CHANNELS};
}

// The first piece after a drop follows the queue's end only through the
// piece that was dropped first (the queue's natural continuation): fade from
// that one into this one over their common length, so the join has no step.
AudioRegulator::Output AudioRegulator::fade_in(const short* piece, int frames) {
    const int span = std::min(frames, continuation_frames);
    for (int f = 0; f < frames; ++f) {
        const double w = f < span ? (f + 0.5) / span : 1.0;
        for (int c = 0; c < CHANNELS; ++c) {
            const size_t k = static_cast<size_t>(f * CHANNELS + c);
            out[k] = f < span ? to_sample((1.0 - w) * continuation[k] + w * piece[k]) : piece[k];
        }
    }
    return {out.data(), frames * CHANNELS};
}

void AudioRegulator::keep_last_frame(const short* values, int frames) {
    for (int c = 0; c < CHANNELS; ++c) {
        last_frame[static_cast<size_t>(c)] = values[(frames - 1) * CHANNELS + c];
    }
}

}  // namespace talvek::client
