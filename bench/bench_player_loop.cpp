// player's main loop on a real display (run it under Xvfb, as
// scripts/bench_player_e2e.sh does): what one render() costs, and how many
// passes a second PlayerLoop::run_pass makes with and without a stream.
//
//   render_idle/WxH     render() with no new picture: clear, draw the
//                       texture stretched over the window, the audio bar
//                       callback (none here), present
//   render_upload/WxH   render() right after a new picture was handed over:
//                       the same plus the texture upload (the hand-over copy
//                       is outside the timed region)
//   loop_idle/WxH       run_pass with nothing arriving: each pass waits 5 ms
//                       for a datagram, draws and sleeps 1 ms
//   loop_stream/...     run_pass while a thread of this process streams a
//                       pre-encoded clip to the loop's socket, as the host
//                       would, and answers keyframe requests
//
// The loop's datagrams per pass come from the build
// (-DTALVEK_PLAYER_DATAGRAMS_PER_PASS, else the loop's default); the program prints the value, the
// renderer SDL gave the receiver, and for the stream runs what got through.
// --clip-cache=DIR keeps encoded clips between runs.

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "clip_streamer.h"
#include "encoded_clip.h"
#include "player_args.h"
#include "player_loop.h"
#include "quiet_stdout.h"
#include "decode_hooks.h"
#include "receiver_peer.h"
#include "udp_socket.h"
#include "video_receiver.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

#ifdef TALVEK_PLAYER_DATAGRAMS_PER_PASS
constexpr int DATAGRAMS_PER_PASS = TALVEK_PLAYER_DATAGRAMS_PER_PASS;
#else
constexpr int DATAGRAMS_PER_PASS = PlayerLoop::DEFAULT_DATAGRAMS_PER_PASS;
#endif


using talvek::VideoCodec;
using talvek::bench::quietly;
using talvek::client::VideoReceiver;
using Peer = talvek::client::VideoReceiverTestPeer;

std::string clip_cache_dir;

struct Size {
    int width;
    int height;
};
constexpr Size SIZES[] = {{1280, 720}, {1920, 1080}};

std::string size_name(Size s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

// A receiver with its window on the display, as player brings it up; the
// decode thread reports each picture it hands over.
class WindowedReceiver {
public:
    explicit WindowedReceiver(Size size)
        : owned(std::make_unique<VideoReceiver>(
              VideoReceiver::Seams{.decode_observer = hooks.observer()})) {
        hooks.after_batch = [this](bool handed) {
            if (handed) ++handed_over;
        };
        quietly([&] { ok = owned->init_for_udp(size.width, size.height, VideoCodec::VP8); });
    }
    ~WindowedReceiver() {
        quietly([this] { owned.reset(); });
    }
    WindowedReceiver(const WindowedReceiver&) = delete;
    WindowedReceiver& operator=(const WindowedReceiver&) = delete;

    VideoReceiver& get() { return *owned; }
    bool ok = false;
    std::atomic<uint64_t> handed_over{0};

private:
    talvek::testing::DecodeHooks hooks;  // the decode thread uses it: declared first
    std::unique_ptr<VideoReceiver> owned;
};

std::string renderer_description(VideoReceiver& receiver) {
    SDL_RendererInfo info;
    SDL_Renderer* renderer = Peer::renderer(receiver);
    if (!renderer || SDL_GetRendererInfo(renderer, &info) != 0) return "unknown";
    std::string text = info.name;
    text += (info.flags & SDL_RENDERER_ACCELERATED) ? " (accelerated" : " (not accelerated";
    text += (info.flags & SDL_RENDERER_SOFTWARE) ? ", software" : "";
    text += (info.flags & SDL_RENDERER_PRESENTVSYNC) ? ", vsync)" : ", no vsync)";
    return text;
}

void render_idle(benchmark::State& state, Size size) {
    WindowedReceiver r(size);
    if (!r.ok) {
        state.SkipWithError("no window");
        return;
    }
    for (auto _ : state) r.get().render();
    state.SetLabel(renderer_description(r.get()));
}

void render_upload(benchmark::State& state, Size size) {
    WindowedReceiver r(size);
    if (!r.ok) {
        state.SkipWithError("no window");
        return;
    }
    std::vector<uint8_t> picture(static_cast<size_t>(size.width) *
                                 static_cast<size_t>(size.height) * 4);
    uint8_t shade = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memset(picture.data(), shade++, picture.size());
        Peer::hand_over(r.get(), picture);
        state.ResumeTiming();
        r.get().render();
    }
    state.SetLabel(renderer_description(r.get()));
}

// The "drops" column (the last) of this port's socket in /proc/net/udp:
// datagrams the kernel threw away because the receive buffer was full.
long socket_drops(unsigned short port) {
    std::ifstream table("/proc/net/udp");
    char key[32];
    std::snprintf(key, sizeof key, "0100007F:%04X", port);
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, local, field, last;
        fields >> slot >> local;
        if (local != key) continue;
        while (fields >> field) last = field;
        return std::strtol(last.c_str(), nullptr, 10);
    }
    return -1;
}

struct LoopSetup {
    explicit LoopSetup(Size size) : receiver(size) {
        args.width = size.width;
        args.height = size.height;
        args.username = "bench";
        ok = receiver.ok && socket.bind(0);
        args.port = socket.get_bound_port();
    }
    Args args;
    WindowedReceiver receiver;
    talvek::UDPSocket socket;
    bool ok = false;
};

void loop_idle(benchmark::State& state, Size size) {
    LoopSetup s(size);
    if (!s.ok) {
        state.SkipWithError("no window or socket");
        return;
    }
    PlayerLoop loop(s.args, s.receiver.get(), s.socket, &SDL_GetTicks, DATAGRAMS_PER_PASS);
    for (auto _ : state) loop.run_pass();
    state.counters["passes/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

struct StreamCase {
    Size size;
    double fps;
    int64_t bitrate;
    bool burst;
};

void loop_stream(benchmark::State& state, StreamCase c) {
    talvek::bench::ClipSettings settings;
    settings.width = c.size.width;
    settings.height = c.size.height;
    settings.fps = c.fps;
    settings.bitrate = c.bitrate;
    settings.pictures = static_cast<int>(c.fps * 4);  // a keyframe every 4 s
    talvek::bench::EncodedClip clip;
    if (!talvek::bench::cached_clip(settings, clip_cache_dir, clip)) {
        state.SkipWithError("no clip");
        return;
    }
    LoopSetup s(c.size);
    if (!s.ok) {
        state.SkipWithError("no window or socket");
        return;
    }
    talvek::bench::ClipStreamer streamer(clip, s.args.port, c.burst);
    if (!streamer.open(0)) {
        state.SkipWithError("no streamer socket");
        return;
    }
    s.args.parent_port = streamer.listen_port();
    PlayerLoop loop(s.args, s.receiver.get(), s.socket, &SDL_GetTicks, DATAGRAMS_PER_PASS);
    const long drops_before = socket_drops(s.args.port);

    std::atomic<bool> stop{false};
    std::thread host([&] { streamer.run(3600.0, &stop); });
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) loop.run_pass();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    stop = true;
    host.join();

    const talvek::bench::StreamCounts& sent = streamer.counts();
    const double completed = Peer::last_completed_id(s.receiver.get());
    state.counters["passes/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["sent_fps"] = static_cast<double>(sent.frames) / seconds;
    state.counters["shown_fps"] = static_cast<double>(s.receiver.handed_over) / seconds;
    state.counters["completed"] = completed;
    state.counters["sent"] = static_cast<double>(sent.frames);
    state.counters["kfrq"] = static_cast<double>(sent.keyframe_requests);
    state.counters["sock_drops"] = static_cast<double>(socket_drops(s.args.port) - drops_before);
}

}  // namespace

int main(int argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--clip-cache=", 0) == 0) {
            clip_cache_dir = arg.substr(std::strlen("--clip-cache="));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "bench_player_loop needs a display: run it under Xvfb\n");
        return 1;
    }
    // A stream that lost its keyframe makes the decoder complain about
    // every frame; the receiver's own lines still say what happened.
    av_log_set_level(AV_LOG_FATAL);
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "SDL_Init failed: %s\n", SDL_GetError());
        return 1;
    }
    std::printf("datagrams per pass: %d; video driver: %s\n", DATAGRAMS_PER_PASS,
                SDL_GetCurrentVideoDriver());

    for (Size size : SIZES) {
        const std::string name = size_name(size);
        benchmark::RegisterBenchmark(("render_idle/" + name).c_str(), render_idle, size)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("render_upload/" + name).c_str(), render_upload, size)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("loop_idle/" + name).c_str(), loop_idle, size)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(3.0);
    }
    // The realistic load: 1920x1080 at 60 fps, 12 Mbit/s, frames in bursts;
    // then paced as the sender does by default, and a lighter burst stream.
    const StreamCase streams[] = {
        {{1920, 1080}, 60, 12'000'000, true},
        {{1920, 1080}, 60, 12'000'000, false},
        {{1920, 1080}, 30, 8'000'000, true},
    };
    for (const StreamCase& c : streams) {
        const std::string name = "loop_stream/" + size_name(c.size) + "/" +
                                 std::to_string(static_cast<int>(c.fps)) + "fps_" +
                                 std::to_string(c.bitrate / 1'000'000) + "Mbps" +
                                 (c.burst ? "_burst" : "_paced");
        benchmark::RegisterBenchmark(name.c_str(), loop_stream, c)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(8.0);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SDL_Quit();
    return 0;
}
