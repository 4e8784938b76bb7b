// The cost floor of showing a frame here: one thread decodes a clip with the
// player's decoder and converter and shows every picture through the same
// kind of SDL renderer (accelerated first, software second), as fast as it
// can, with no network, no reassembly and no decode thread. Prints the CPU
// time per shown frame, which scripts/bench_player_e2e.sh divides the
// player's own figure by.
//
//   bare_loop [--width W] [--height H] [--fps F] [--bitrate B] [--frames N]
//             [--clip-cache DIR] [--paced 1]
//
// --paced 1 shows a picture every 1/fps instead: the same work at the
// stream's rate, which is what the player does (a renderer that is kept
// busy can cost more a frame than one that rests between frames).
// A second line gives each stage's median wall time a frame (decode,
// conversion, texture upload, clear and copy, present): where a frame's
// time between its packet and the screen goes, without the network.
// Run it on a display (Xvfb); SDL_RENDER_DRIVER picks another renderer.

#include <SDL.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "encoded_clip.h"
#include "video_decoder.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double median_ms(std::vector<double> ms) {
    if (ms.empty()) return 0.0;
    std::nth_element(ms.begin(), ms.begin() + static_cast<std::ptrdiff_t>(ms.size() / 2), ms.end());
    return ms[ms.size() / 2];
}

struct Options {
    talvek::bench::ClipSettings clip;
    int frames = 600;
    std::string clip_cache;
    bool paced = false;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (flag == "--width") {
            options.clip.width = std::atoi(value);
        } else if (flag == "--height") {
            options.clip.height = std::atoi(value);
        } else if (flag == "--fps") {
            options.clip.fps = std::atof(value);
        } else if (flag == "--bitrate") {
            options.clip.bitrate = std::atoll(value);
        } else if (flag == "--frames") {
            options.frames = std::atoi(value);
        } else if (flag == "--clip-cache") {
            options.clip_cache = value;
        } else if (flag == "--paced") {
            options.paced = std::atoi(value) != 0;
        } else {
            return false;
        }
    }
    return options.clip.width > 0 && options.clip.height > 0 && options.clip.fps > 0 &&
           options.frames > 0;
}

// Clips as the end-to-end script encodes them: one picture every 1/fps for
// 4 s, so the two share the cache.
void match_replay_clip(talvek::bench::ClipSettings& clip) {
    clip.pictures = static_cast<int>(clip.fps * 4 + 0.5);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "Usage: %s [--width W] [--height H] [--fps F] [--bitrate B] [--frames N] "
                     "[--clip-cache DIR] [--paced 1]\n",
                     argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    match_replay_clip(options.clip);
    talvek::bench::EncodedClip clip;
    if (!talvek::bench::cached_clip(options.clip, options.clip_cache, clip) ||
        clip.frames.empty()) {
        std::fprintf(stderr, "bare_loop: no clip\n");
        return 1;
    }
    const int width = options.clip.width;
    const int height = options.clip.height;

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "bare_loop: SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Window* window =
        SDL_CreateWindow("bare loop", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                         height, SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    SDL_Renderer* renderer =
        window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED) : nullptr;
    if (window && !renderer) renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    SDL_Texture* texture = renderer ? SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888,
                                                        SDL_TEXTUREACCESS_STREAMING, width,
                                                        height)
                                    : nullptr;
    talvek::client::VideoDecoder decoder;
    if (!texture || !decoder.open(options.clip.codec, width, height)) {
        std::fprintf(stderr, "bare_loop: no window, renderer, texture or decoder: %s\n",
                     SDL_GetError());
        return 1;
    }
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(renderer, &info);

    std::vector<uint8_t> picture(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    int shown = 0;
    enum Stage { Decode, Convert, Upload, Draw, Present, STAGES };
    std::array<std::vector<double>, STAGES> stage_ms;
    std::chrono::steady_clock::time_point mark;
    const auto lap = [&](Stage stage) {
        const auto now = std::chrono::steady_clock::now();
        stage_ms[stage].push_back(std::chrono::duration<double, std::milli>(now - mark).count());
        mark = now;
    };
    const double cpu_start = cpu_seconds();
    const auto wall_start = std::chrono::steady_clock::now();
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / options.clip.fps));
    for (int i = 0; i < options.frames; ++i) {
        if (options.paced) std::this_thread::sleep_until(wall_start + i * interval);
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
        }
        const auto& frame = clip.frames[static_cast<size_t>(i) % clip.frames.size()];
        mark = std::chrono::steady_clock::now();
        if (!decoder.decode(frame.data).picture) continue;
        lap(Decode);
        if (!decoder.convert_last_picture(picture)) continue;
        lap(Convert);
        SDL_UpdateTexture(texture, nullptr, picture.data(), width * 4);
        lap(Upload);
        SDL_RenderClear(renderer);
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        lap(Draw);
        SDL_RenderPresent(renderer);
        lap(Present);
        ++shown;
    }
    const double cpu = cpu_seconds() - cpu_start;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    std::printf("bare_loop %dx%d %s renderer %s: %d frames shown, %.3f ms CPU a frame, %.1f fps\n",
                width, height, options.paced ? "paced" : "unpaced", info.name, shown, shown ? cpu * 1000.0 / shown : 0.0,
                wall > 0 ? shown / wall : 0.0);
    std::printf("bare_loop stages, median ms a frame: decode %.2f, convert %.2f, upload %.2f, "
                "draw %.2f, present %.2f\n",
                median_ms(stage_ms[Decode]), median_ms(stage_ms[Convert]),
                median_ms(stage_ms[Upload]), median_ms(stage_ms[Draw]),
                median_ms(stage_ms[Present]));

    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return shown > 0 ? 0 : 1;
}
