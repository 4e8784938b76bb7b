#include "clip_streamer.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "fragmenter.h"
#include "rtp_vp8.h"

namespace talvek::bench {

namespace {

using Clock = std::chrono::steady_clock;

// Datagrams sent back to back between looks at the clock when pacing.
constexpr size_t PACING_GROUP = 16;

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

}  // namespace

ClipStreamer::ClipStreamer(const EncodedClip& clip_, unsigned short target_port, bool burst_,
                           Wire wire_)
    : clip(clip_), target(target_port), burst(burst_), wire(wire_) {}

bool ClipStreamer::open(unsigned short listen_port) { return socket.bind(listen_port); }

void ClipStreamer::poll_replies() {
    uint8_t reply[64];
    for (;;) {
        const int n = socket.recv(reply, sizeof reply, 0);
        if (n <= 0) return;
        if (n == 4 && std::memcmp(reply, "KFRQ", 4) == 0) {
            ++totals.keyframe_requests;
            restart_requested = true;
        }
    }
}

void ClipStreamer::send(const uint8_t* data, size_t length) {
    // A full send buffer is no loss on the link: wait for room.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (socket.send(data, length, "127.0.0.1", target) >= 0) {
            ++totals.datagrams;
            totals.bytes += length;
            return;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ++totals.send_failures;
}

void ClipStreamer::run(double seconds, const std::atomic<bool>* stop, FILE* log) {
    const double fps = clip.settings.fps;
    const auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
    const auto frames = static_cast<long>(seconds * fps + 0.5);
    std::vector<tools::Datagram> datagrams;
    uint32_t sequence = 0;
    uint16_t rtp_sequence = 0;
    constexpr uint32_t RTP_SSRC = 0x7A1E4B00;
    size_t picture = 0;
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < frames && !(stop && *stop); ++i) {
        const Clock::time_point due = start + interval * i;
        // Replies are read every millisecond up to the frame's time.
        for (;;) {
            poll_replies();
            const Clock::time_point now = Clock::now();
            if (now >= due) break;
            std::this_thread::sleep_for(std::min<Clock::duration>(due - now,
                                                                  std::chrono::milliseconds(1)));
        }
        if (Clock::now() - due > interval) ++totals.late_frames;
        if (restart_requested || picture >= clip.frames.size()) picture = 0;
        restart_requested = false;

        const tools::EncodedFrame& frame = clip.frames[picture];
        const auto frame_id = static_cast<uint32_t>(i + 1);
        datagrams.clear();
        if (wire == Wire::RtpVp8) {
            const auto timestamp = static_cast<uint32_t>(
                static_cast<double>(i) * RTP_VIDEO_CLOCK_HZ / fps + 0.5);
            cut_rtp_vp8_frame(frame.data.data(), frame.data.size(), timestamp, RTP_SSRC,
                              rtp_sequence, datagrams);
        } else {
            tools::cut_video_frame(frame_id, frame.data.data(), frame.data.size(), sequence,
                                   datagrams);
        }
        if (log) {
            std::fprintf(log, "%lld %u %zu %zu %d\n", static_cast<long long>(now_ns()), frame_id,
                         picture + 1, datagrams.size(), frame.keyframe ? 1 : 0);
        }
        const Clock::time_point spread_until = due + interval * 3 / 4;
        const Clock::time_point first = Clock::now();
        const auto span = spread_until > first ? spread_until - first : Clock::duration::zero();
        for (size_t d = 0; d < datagrams.size(); ++d) {
            if (!burst && d > 0 && d % PACING_GROUP == 0) {
                std::this_thread::sleep_until(first + span * static_cast<Clock::rep>(d) /
                                                          static_cast<Clock::rep>(datagrams.size()));
            }
            send(datagrams[d].data(), datagrams[d].size());
        }
        ++totals.frames;
        if (frame.keyframe) ++totals.keyframes;
        ++picture;
    }
    // Requests raised by the last frames.
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(100);
    while (Clock::now() < end) {
        poll_replies();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (log) std::fflush(log);
}

}  // namespace talvek::bench
