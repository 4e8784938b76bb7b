// stream_replay: the host application's part in scripts/bench_player_e2e.sh.
// Streams the benchmark clip (encoded_clip.h) to a player as the sender
// does, but from frames encoded up front, so that rates the sender's
// real-time encoder cannot reach on this machine can be measured.
//
//   stream_replay --port P [--listen-port Q] [--codec vp8|h264]
//                 [--width W --height H] [--fps F] [--bitrate B]
//                 [--seconds S] [--pictures N] [--burst]
//                 [--clip-cache DIR] [--log FILE] [--rtp] [--encode-only]
//                 [--write-y4m FILE]
//
// The player's --parent-port is Q: a KFRQ restarts the clip at its
// keyframe. --log writes one line per frame (clip_streamer.h); the summary
// line goes to standard output. --write-y4m writes the clip's raw pictures
// instead, for the sender's --input (to see what its real-time encoder
// reaches with the same picture). --rtp sends the same frames at the same
// pace as RTP (rtp_vp8.h), for a stock receiver to be measured against the
// player; VP8 only.

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "clip_streamer.h"
#include "encoded_clip.h"
#include "noise_clip.h"

namespace {

struct Options {
    talvek::bench::ClipSettings clip;
    unsigned short port = 0;
    unsigned short listen_port = 0;
    double seconds = 10.0;
    bool burst = false;
    bool rtp = false;
    bool encode_only = false;
    std::string cache;
    std::string log;
    std::string y4m;
};

void usage(const char* program) {
    std::fprintf(stderr,
                 "Usage: %s --port <port> [--listen-port <port>] [--codec vp8|h264] [--width W] "
                 "[--height H] [--fps F] [--bitrate B] [--seconds S] [--pictures N] [--burst] "
                 "[--clip-cache DIR] [--log FILE] [--rtp] [--encode-only] [--write-y4m FILE]\n",
                 program);
}

bool parse(int argc, char** argv, Options& o) {
    o.clip.pictures = 0;  // default below, from the rate
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto take = [&]() -> const char* {
            ++i;
            return value;
        };
        if (arg == "--burst") {
            o.burst = true;
        } else if (arg == "--rtp") {
            o.rtp = true;
        } else if (arg == "--encode-only") {
            o.encode_only = true;
        } else if (!value) {
            std::fprintf(stderr, "missing value for %s\n", arg.c_str());
            return false;
        } else if (arg == "--port") {
            o.port = static_cast<unsigned short>(std::atoi(take()));
        } else if (arg == "--listen-port") {
            o.listen_port = static_cast<unsigned short>(std::atoi(take()));
        } else if (arg == "--codec") {
            const std::string codec = take();
            if (codec != "vp8" && codec != "h264") return false;
            o.clip.codec = codec == "h264" ? talvek::VideoCodec::H264 : talvek::VideoCodec::VP8;
        } else if (arg == "--width") {
            o.clip.width = std::atoi(take());
        } else if (arg == "--height") {
            o.clip.height = std::atoi(take());
        } else if (arg == "--fps") {
            o.clip.fps = std::atof(take());
        } else if (arg == "--bitrate") {
            o.clip.bitrate = std::atoll(take());
        } else if (arg == "--seconds") {
            o.seconds = std::atof(take());
        } else if (arg == "--pictures") {
            o.clip.pictures = std::atoi(take());
        } else if (arg == "--clip-cache") {
            o.cache = take();
        } else if (arg == "--log") {
            o.log = take();
        } else if (arg == "--write-y4m") {
            o.y4m = take();
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return false;
        }
    }
    if (o.rtp && o.clip.codec != talvek::VideoCodec::VP8) {
        std::fprintf(stderr, "--rtp carries VP8 only\n");
        return false;
    }
    // Four seconds of pictures: a keyframe (the clip's first) every 4 s.
    if (o.clip.pictures <= 0) o.clip.pictures = static_cast<int>(o.clip.fps * 4 + 0.5);
    return (o.port != 0 || o.encode_only || !o.y4m.empty()) && o.clip.fps > 0 && o.clip.width > 0 &&
           o.clip.height > 0 && o.clip.bitrate > 0;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        usage(argv[0]);
        return 2;
    }
    if (!o.y4m.empty()) {
        talvek::testing::ClipOptions pictures;
        pictures.width = o.clip.width;
        pictures.height = o.clip.height;
        pictures.pictures = o.clip.pictures;
        pictures.fps = static_cast<int>(o.clip.fps + 0.5);
        pictures.noise_bottom = o.clip.height * 3 / 4;
        pictures.noise_amplitude = o.clip.noise_amplitude;
        if (!talvek::testing::write_noise_clip(o.y4m, pictures)) {
            std::fprintf(stderr, "cannot write %s\n", o.y4m.c_str());
            return 1;
        }
        return 0;
    }
    talvek::bench::EncodedClip clip;
    if (!talvek::bench::cached_clip(o.clip, o.cache, clip)) return 1;  // Error already logged
    size_t total = 0;
    for (const auto& f : clip.frames) total += f.data.size();
    std::printf("[Replay] clip: %zu pictures %dx%d, keyframe %zu bytes, mean frame %zu bytes\n",
                clip.frames.size(), o.clip.width, o.clip.height, clip.frames.front().data.size(),
                total / clip.frames.size());
    if (o.encode_only && !o.cache.empty()) {
        // The scripts take the file from here: a pattern over the cache's
        // names can match a clip made with other settings.
        std::printf("[Replay] cache file: %s/%s\n", o.cache.c_str(),
                    talvek::bench::clip_cache_name(o.clip).c_str());
    }
    std::fflush(stdout);
    if (o.encode_only) return 0;

    std::unique_ptr<FILE, FileCloser> log;
    if (!o.log.empty()) {
        log.reset(std::fopen(o.log.c_str(), "w"));
        if (!log) {
            std::fprintf(stderr, "cannot write %s\n", o.log.c_str());
            return 1;
        }
    }
    talvek::bench::ClipStreamer streamer(
        clip, o.port, o.burst, o.rtp ? talvek::bench::Wire::RtpVp8 : talvek::bench::Wire::Player);
    if (!streamer.open(o.listen_port)) return 1;  // the socket printed why
    std::printf("[Replay] streaming from 127.0.0.1:%u\n", streamer.listen_port());
    std::fflush(stdout);
    streamer.run(o.seconds, nullptr, log.get());

    const talvek::bench::StreamCounts& c = streamer.counts();
    std::printf("[Replay] done: %" PRIu64 " frames (%" PRIu64 " keyframes), %" PRIu64
                " datagrams, %" PRIu64 " bytes, %" PRIu64 " KFRQ, %" PRIu64 " late, %" PRIu64
                " send failures\n",
                c.frames, c.keyframes, c.datagrams, c.bytes, c.keyframe_requests, c.late_frames,
                c.send_failures);
    return c.send_failures == 0 ? 0 : 1;
}
