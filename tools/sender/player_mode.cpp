// One picture per frame interval: read it from the source, encode it, cut
// it into fragment datagrams and send them through the impaired link; in
// between, read what the player sent back. A KFRQ makes the next picture a
// keyframe, as the host application does. With --audio the screen audio
// runs beside it on a thread of its own, on its own 20 ms clock. With --clip
// the frames come encoded up front, and a KFRQ restarts the clip at its
// keyframe under the next, still rising, frame id.

#include "player_mode.h"

#include <algorithm>
#include <optional>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <thread>

#include "audio_stream.h"
#include "clip_file.h"
#include "event_log.h"
#include "garbage_bursts.h"
#include "link.h"
#include "log.h"
#include "reply_listener.h"
#include "test_pattern.h"
#include "video_encoder.h"
#include "video_source.h"

namespace talvek::tools {

namespace {

using Clock = Link::Clock;

struct PlayerCounts {
    long pictures = 0;
    uint64_t keyframes = 0;
    uint64_t too_large = 0;  // over 1000 fragments: a player could never join them
    uint64_t skipped = 0;    // pictures the encoder gave nothing for
    uint64_t replies = 0;
};

class PlayerStream {
public:
    PlayerStream(const SenderOptions& options_, VideoEncoder& encoder_, VideoSource& source_,
                 AVFrame* picture_, Link& link_, EventLog& events_, GarbageBursts& garbage_)
        : o(options_), encoder(encoder_), source(source_), picture(picture_), link(link_),
          events(events_), garbage(garbage_), listener(link_.socket()),
          next_frame_id(options_.first_frame) {}

    // Frames from a pre-encoded clip instead of the source and encoder.
    void use_clip(const std::vector<EncodedFrame>* frames) { clip = frames; }

    // Reads replies until `until`, sleeping a millisecond at a time so a
    // KFRQ is seen within that of its arrival.
    void listen_until(Clock::time_point until);
    // Encodes and sends one picture; false after an encoder or source error.
    bool send_picture(Clock::time_point due, Clock::duration interval);
    // A burst of garbage between two frames, when one is due.
    void send_garbage(double elapsed_seconds);

    const PlayerCounts& counts() const { return totals; }

private:
    void handle_replies();
    void send_frame(const EncodedFrame& frame, uint32_t picture_number,
                    Clock::time_point deadline);
    const EncodedFrame& next_clip_frame(uint32_t& picture_number);

    const SenderOptions& o;
    VideoEncoder& encoder;
    VideoSource& source;
    AVFrame* picture;
    Link& link;
    EventLog& events;
    GarbageBursts& garbage;
    ReplyListener listener;
    const std::vector<EncodedFrame>* clip = nullptr;
    size_t clip_next = 0;
    uint32_t next_frame_id;
    uint32_t next_sequence = 0;
    bool keyframe_requested = false;
    std::vector<Reply> replies;
    std::vector<EncodedFrame> encoded;
    std::vector<Datagram> datagrams;
    PlayerCounts totals;
};

void PlayerStream::handle_replies() {
    replies.clear();
    listener.poll(replies);  // an error is logged by the socket; try again later
    for (const Reply& reply : replies) {
        ++totals.replies;
        log_out("%s", describe_reply(reply).c_str());
        if (reply.kind == Reply::Kind::KeyframeRequest) {
            events.keyframe_request();
            keyframe_requested = true;
        }
    }
}

void PlayerStream::listen_until(Clock::time_point until) {
    for (;;) {
        handle_replies();
        link.pump();
        const Clock::time_point now = Clock::now();
        if (now >= until) return;
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now,
                                                              std::chrono::milliseconds(1)));
    }
}

void PlayerStream::send_frame(const EncodedFrame& frame, uint32_t picture_number,
                              Clock::time_point deadline) {
    const uint32_t frame_id = next_frame_id++;
    datagrams.clear();
    if (!cut_video_frame(frame_id, frame.data.data(), frame.data.size(), next_sequence,
                         datagrams)) {
        ++totals.too_large;
        log_err("[Sender] frame %u: %zu bytes need %zu fragments, more than %zu: not sent\n",
                frame_id, frame.data.size(), fragment_count_for(frame.data.size()),
                VIDEO_MAX_FRAGMENTS);
        return;
    }
    const int64_t first_out = EventLog::now_ns();
    const size_t dropped = link.send_paced(datagrams, deadline);
    events.frame_at(first_out, frame_id, picture_number, datagrams.size(), dropped,
                    frame.keyframe);
    if (frame.keyframe) {
        ++totals.keyframes;
        if (!o.quiet) {
            log_out("[Sender] keyframe frame %u (%zu bytes, %zu datagrams)\n", frame_id,
                    frame.data.size(), datagrams.size());
        }
    }
    if (o.verbose) {
        log_out("[Sender] frame %u: %s, %zu bytes, %zu datagrams, %zu dropped\n", frame_id,
                frame.keyframe ? "key" : "delta", frame.data.size(), datagrams.size(), dropped);
    }
}

// The clip's picture i shows the number i + 1; it starts over at its end,
// and at a keyframe request, from its first frame, which is a keyframe.
const EncodedFrame& PlayerStream::next_clip_frame(uint32_t& picture_number) {
    if (keyframe_requested || clip_next >= clip->size()) clip_next = 0;
    picture_number = static_cast<uint32_t>(clip_next + 1);
    return (*clip)[clip_next++];
}

void PlayerStream::send_garbage(double elapsed_seconds) {
    if (!garbage.due(elapsed_seconds)) return;
    datagrams.clear();
    const uint32_t first = next_frame_id;
    next_frame_id = garbage.make_burst(first, datagrams);
    link.send_paced(datagrams, Clock::time_point{});
    events.garbage(first, static_cast<int>(next_frame_id - first), datagrams.size());
}

bool PlayerStream::send_picture(Clock::time_point due, Clock::duration interval) {
    // Pacing spreads a frame over most of its interval, leaving slack so a
    // slow frame does not push the next one back; --burst sends it at once.
    const Clock::time_point deadline = o.burst ? Clock::time_point{} : due + interval * 3 / 4;
    if (clip) {
        uint32_t number = 0;
        const EncodedFrame& frame = next_clip_frame(number);
        if (frame.keyframe) keyframe_requested = false;
        ++totals.pictures;
        send_frame(frame, number, deadline);
        return true;
    }
    // The test picture shows the id its frame will travel under.
    const uint32_t number = next_frame_id & ((1u << FRAME_NUMBER_BITS) - 1);
    if (!source.next(picture, next_frame_id)) return false;
    encoded.clear();
    const int produced = encoder.encode(picture, keyframe_requested, encoded);
    if (produced < 0) return false;
    ++totals.pictures;
    if (produced == 0) ++totals.skipped;
    for (const EncodedFrame& frame : encoded) {
        if (frame.keyframe) keyframe_requested = false;
        send_frame(frame, number, deadline);
    }
    return true;
}

}  // namespace

int run_player_mode(const SenderOptions& o) {
    EncoderSettings settings;
    settings.codec = o.codec;
    settings.width = o.width;
    settings.height = o.height;
    settings.fps = o.fps;
    settings.bitrate = o.bitrate;
    settings.gop = keyframe_interval(o);
    std::vector<EncodedFrame> clip;
    if (!o.clip.empty() && !load_clip_file(o.clip, clip)) return 1;  // Error already logged
    VideoEncoder encoder;
    if (clip.empty() && !encoder.open(settings)) return 1;
    std::optional<GarbageBursts> garbage =
        garbage_bursts_for(o.garbage_every, o.garbage_burst, o.kind, o.impairment.seed);
    if (!garbage) return 2;  // Error already logged
    EventLog events;
    if (!events.open(o.event_log)) return 1;

    std::unique_ptr<VideoSource> source = o.input.empty()
                                              ? make_test_pattern_source(o.width, o.height)
                                              : open_file_source(o.input);
    if (!source) return 1;
    FramePtr picture = make_yuv_frame(o.width, o.height);
    if (!picture) {
        log_err("[Sender] Error: out of memory for a %dx%d picture\n", o.width, o.height);
        return 1;
    }

    Link link(o.host, o.port, o.impairment);
    if (!link.open(o.listen_port)) return 1;  // the socket printed why

    const long frames = o.frames > 0 ? o.frames : std::lround(o.seconds * o.fps);
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / o.fps));
    if (!o.quiet) {
        log_out("[Sender] player: %s %dx%d at %.3g fps, %ld bit/s, keyframe every %d frames, "
                "%s, to %s:%u, %ld frames\n",
                codec_label(o.codec), o.width, o.height, o.fps, o.bitrate, settings.gop,
                source->describe().c_str(), o.host.c_str(), o.port, frames);
        if (!clip.empty()) {
            log_out("[Sender] frames from %s: %zu, a keyframe every %zu and at each KFRQ\n",
                    o.clip.c_str(), clip.size(), clip.size());
        }
        if (garbage->enabled()) {
            log_out("[Sender] garbage: %d units of %s every %.3g s\n", o.garbage_burst,
                    o.kind.c_str(), o.garbage_every);
        }
    }

    // The audio lasts as long as the video: frames / fps seconds.
    std::unique_ptr<AudioStream> audio;
    if (o.audio) {
        std::unique_ptr<AudioSource> sound = open_audio_source(o, false);
        if (!sound) return 1;  // Error already logged
        audio = std::make_unique<AudioStream>(o, std::move(sound), link,
                                              audio_packets_for(o, static_cast<double>(frames) /
                                                                       o.fps));
        if (!audio->open()) return 1;
        if (!o.quiet) log_out("%s", audio->describe().c_str());
    }
    // Always printed: with --listen-port 0 this is the only way to learn the port.
    log_out("[Sender] listening on 127.0.0.1:%u\n", link.socket().get_bound_port());

    PlayerStream stream(o, encoder, *source, picture.get(), link, events, *garbage);
    if (!clip.empty()) stream.use_clip(&clip);
    bool ok = true;
    const Clock::time_point start = Clock::now();
    // The audio thread touches only its stream and the link; it ends by
    // itself with the last packet, or early when the video fails.
    std::atomic<bool> stop_audio{false};
    std::atomic<bool> audio_done{false};
    bool audio_ok = true;  // read after the join
    std::thread audio_thread;
    if (audio) {
        audio->start(start);
        audio_thread = std::thread([&] {
            audio_ok = audio->run(nullptr, &stop_audio);
            audio_done = true;
        });
    }
    for (long i = 0; i < frames && ok; ++i) {
        const Clock::time_point due = start + interval * i;
        stream.listen_until(due);
        stream.send_garbage(std::chrono::duration<double>(due - start).count());
        ok = stream.send_picture(due, interval);
    }
    if (audio) {
        if (!ok) stop_audio = true;
        // Replies go on being read while the last packets leave.
        while (!audio_done) stream.listen_until(Clock::now() + std::chrono::milliseconds(1));
        audio_thread.join();
        ok = ok && audio_ok;
    }
    link.flush();
    stream.listen_until(Clock::now());  // what arrived during the last frame

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const PlayerCounts& pc = stream.counts();
    const ImpairmentCounts& ic = link.impairment_counts();
    const LinkCounts& lc = link.counts();
    // With audio the same line goes on with its counts; without, it is
    // unchanged. Datagrams offered and sent count both kinds.
    const std::string audio_counts = audio ? ", " + describe_audio_counts(audio->counts()) : "";
    log_out("[Sender] done: %ld frames (%" PRIu64 " keyframes, %" PRIu64
            " too large to send, %" PRIu64 " skipped by the encoder), %" PRIu64
            " datagrams offered, %" PRIu64 " sent (%" PRIu64 " dropped, %" PRIu64
            " duplicated, %" PRIu64 " reordered, %" PRIu64 " send failures), %" PRIu64
            " bytes in %.2f s, %" PRIu64 " replies%s\n",
            pc.pictures, pc.keyframes, pc.too_large, pc.skipped, ic.offered, lc.datagrams_sent,
            ic.dropped, ic.duplicated, ic.reordered, lc.send_failures, lc.bytes_sent, elapsed,
            pc.replies, audio_counts.c_str());
    return ok && lc.send_failures == 0 ? 0 : 1;
}

}  // namespace talvek::tools
