#pragma once
// Plays the host application with a pre-encoded clip: one frame per
// interval, cut into fragment datagrams exactly as the sender cuts them,
// sent as one burst or spread over three quarters of the interval. The
// sender encodes in real time, which at 1920x1080 on this machine tops out
// below 30 frames a second; streaming encoded frames takes the encoder out
// of the measurement.
//
// A "KFRQ" from the player makes the next frame the clip's first picture,
// its keyframe, as a host answers with the next frame encoded as a
// keyframe; the clip also starts over at its end.

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "encoded_clip.h"
#include "udp_socket.h"

namespace talvek::bench {

struct StreamCounts {
    uint64_t frames = 0;
    uint64_t keyframes = 0;
    uint64_t datagrams = 0;
    uint64_t bytes = 0;
    uint64_t keyframe_requests = 0;
    uint64_t send_failures = 0;
    uint64_t late_frames = 0;  // sent more than one interval after they were due
};

// What the datagrams carry: the player's fragments, or RTP for a stock
// receiver measured against the player (VP8 clips only; see rtp_vp8.h).
enum class Wire { Player, RtpVp8 };

class ClipStreamer {
public:
    ClipStreamer(const EncodedClip& clip, unsigned short target_port, bool burst,
                 Wire wire = Wire::Player);

    // Binds the socket that sends and hears replies (0: any port).
    bool open(unsigned short listen_port);
    unsigned short listen_port() const { return socket.get_bound_port(); }

    // Streams for `seconds`, or until *stop is set. With a log, one line per
    // frame as its first datagram goes out:
    //   <steady clock ns> <frame id> <picture number> <datagrams> <1 if key>
    void run(double seconds, const std::atomic<bool>* stop = nullptr, FILE* log = nullptr);

    const StreamCounts& counts() const { return totals; }

private:
    void poll_replies();
    void send(const uint8_t* data, size_t length);

    const EncodedClip& clip;
    unsigned short target;
    bool burst;
    Wire wire;
    UDPSocket socket;
    bool restart_requested = false;
    StreamCounts totals;
};

}  // namespace talvek::bench
