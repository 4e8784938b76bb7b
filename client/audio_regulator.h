#pragma once
// Keeps screen audio close to the picture. Every decoded or concealed piece
// passes through here on its way to the playback device, together with what
// the device still has queued; the piece comes back as it was, a little
// shorter, or not at all.
//
//   what stays queued                 the piece
//   -----------------------------     ------------------------------------
//   average at or under TARGET        played as it is, every value
//   average above TARGET              played up to 2 % faster (resampled)
//   average above TARGET + OUTRUN     dropped, one piece a second at most
//   above TARGET + BURST right now    dropped, and so is every piece after
//                                     it until the queue is back at TARGET
//
// A piece kept after dropped ones fades in from the first one dropped (the
// queue's natural continuation), so the join has no step. Steady drift
// between the sender's clock and the device's (a host clock 0.5 % fast, a
// device that plays 1 % slow) builds the queue slowly, and the faster
// playback works it off; drift beyond what 2 % can take (a device on a
// loaded machine, 2.3 % slow) costs a piece now and then; a burst of late
// packets builds the queue at once, and dropping takes it back at once.
// Nothing is held back or delayed: a piece is handed on, changed or not, in
// the call that brings it.
//
// No SDL, no clock: the caller reads the queue. Main thread, like the rest
// of screen audio.

#include <array>
#include <cstdint>

namespace talvek::client {

class AudioRegulator {
public:
    static constexpr int SAMPLE_RATE = 48000;
    static constexpr int CHANNELS = 2;
    // The longest piece: a 20 ms packet or concealed frame.
    static constexpr int MAX_PIECE_FRAMES = 960;

    // What stays queued, averaged over the pieces of about the last second
    // (the level each one found on arrival): at real-time pace arrival
    // jitter leaves 0 to 60 ms queued, about 20 on average, and the average
    // stays under this.
    static constexpr int TARGET_MS = 40;
    static constexpr int LEVEL_WINDOW = 50;  // pieces, a second of 20 ms packets
    // Faster playback grows by 1 % for every 5 ms the average lies above the
    // target, up to 2 %: a steady 1.5 % drift settles 7.5 ms over it.
    static constexpr double SPEEDUP_PER_MS = 0.002;
    static constexpr double MAX_SPEEDUP = 0.02;
    // An average this far above the target means the drift outruns the
    // fastest play (which it reaches 10 ms over): drop a piece, then give
    // the window a second to show what that did.
    static constexpr int OUTRUN_MS = 30;
    // A queue this far above the target is a burst: drop rather than stretch.
    static constexpr int BURST_MS = 200;

    struct Output {
        const short* values;  // the piece itself, or the regulator's buffer
        int count;            // values (not frames); 0 when the piece is dropped
    };

    // `piece` holds `frames` interleaved stereo frames (1 to
    // MAX_PIECE_FRAMES); `queued_bytes` is what the device holds before it.
    // The output stays valid until the next call.
    Output regulate(const short* piece, int frames, unsigned queued_bytes);

    // A new stream (a device just opened): no history, nothing dropping.
    void reset();

    uint64_t dropped_pieces() const { return dropped; }
    uint64_t stretched_pieces() const { return stretched; }

private:
    using Piece = std::array<short, MAX_PIECE_FRAMES * CHANNELS>;

    int average_level() const;  // frames
    void remember_level(int level);
    Output stretch(const short* piece, int frames, int remove);
    Output fade_in(const short* piece, int frames);
    // Drops `piece` and the ones after it until a piece finds the queue at
    // or under `resume_at` frames.
    void start_dropping(const short* piece, int frames, int resume_at);
    void keep_last_frame(const short* values, int frames);

    // Levels (frames queued) met by the last LEVEL_WINDOW pieces, a ring.
    std::array<int, LEVEL_WINDOW> levels{};
    int level_count = 0;
    int level_next = 0;
    int64_t level_sum = 0;

    double frames_owed = 0.0;  // fraction of a frame still to remove
    // The frame played just before the next piece, for the resampler.
    std::array<short, CHANNELS> last_frame{};

    bool dropping = false;
    int resume_level = 0;       // frames
    int pieces_since_drop = 0;  // or since the start, up to LEVEL_WINDOW
    Piece continuation{};  // the first piece dropped: where the queue left off
    int continuation_frames = 0;

    Piece out{};
    uint64_t dropped = 0;
    uint64_t stretched = 0;
};

}  // namespace talvek::client
