// decode_clip: player's decode path on a recorded clip, with nothing else in
// the process. Built on Linux and in the Windows cross build alike (it needs
// only the receiver and FFmpeg, no Google Benchmark), so
// scripts/bench_windows_decode.sh can run the same frames through Debian's
// FFmpeg and through the static one in player.exe and compare.
//
//   decode_clip CLIP_FILE [--passes N]     (default 3)
//
// CLIP_FILE is a clip from the benchmarks' cache (tools/replay/encoded_clip.h:
// `stream_replay --encode-only --clip-cache DIR` writes one). Two variants,
// each N times through the whole clip:
//   plain     send_packet + receive_frame + sws_scale to BGRA per frame, with
//             the receiver's decoder settings;
//   receiver  every frame as fragment datagrams through handle_fragment, then
//             the decode thread's decode + convert + hand-over, timed until
//             the hand-over.
// Prints one line per variant: "<variant> <frames> frames, <fps> frames/s,
// median <ms> ms", among the receiver's own log lines.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fragmenter.h"
#include "media_header.h"
#include "video_receiver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace {

using Clock = std::chrono::steady_clock;
using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::tools::Datagram;

// The benchmark clip cache's layout (tools/replay/encoded_clip.cpp):
//   u32 magic "PCL1", u32 count, then per frame: u8 keyframe, u32 size, bytes.
constexpr uint32_t CLIP_MAGIC = 0x50434c31;

struct Clip {
    VideoCodec codec = VideoCodec::VP8;
    int width = 0;
    int height = 0;
    std::vector<std::vector<uint8_t>> frames;
};

bool read_u32(FILE* f, uint32_t& v) { return std::fread(&v, 4, 1, f) == 1; }

// The codec and size come from the cache's file name
// ("clip_vp8_1280x720_..."), which encoded_clip.cpp builds from them.
bool load_clip(const std::string& path, Clip& clip) {
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    char codec[8] = {};
    if (std::sscanf(name.c_str(), "clip_%7[a-z0-9]_%dx%d_", codec, &clip.width, &clip.height) != 3) {
        std::fprintf(stderr, "decode_clip: %s is not named like a clip cache file\n", name.c_str());
        return false;
    }
    clip.codec = std::strcmp(codec, "h264") == 0 ? VideoCodec::H264 : VideoCodec::VP8;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "decode_clip: cannot open %s\n", path.c_str());
        return false;
    }
    uint32_t magic = 0, count = 0;
    bool ok = read_u32(f, magic) && magic == CLIP_MAGIC && read_u32(f, count);
    for (uint32_t i = 0; ok && i < count; ++i) {
        uint8_t key = 0;
        uint32_t size = 0;
        ok = std::fread(&key, 1, 1, f) == 1 && read_u32(f, size);
        if (!ok) break;
        clip.frames.emplace_back(size);
        ok = std::fread(clip.frames.back().data(), 1, size, f) == size;
    }
    std::fclose(f);
    if (!ok || clip.frames.empty()) std::fprintf(stderr, "decode_clip: %s is damaged\n", path.c_str());
    return ok && !clip.frames.empty();
}

double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void report(const char* variant, std::vector<double>& ms) {
    double total = 0.0;
    for (double m : ms) total += m;
    std::sort(ms.begin(), ms.end());
    std::printf("%s %zu frames, %.1f frames/s, median %.2f ms\n", variant, ms.size(),
                total > 0.0 ? 1000.0 * static_cast<double>(ms.size()) / total : 0.0,
                ms[ms.size() / 2]);
}

// The receiver's decoder settings (client/video_receiver_decode.cpp).
AVCodecContext* open_decoder(const Clip& clip) {
    const AVCodec* codec = avcodec_find_decoder(clip.codec == VideoCodec::H264 ? AV_CODEC_ID_H264
                                                                                : AV_CODEC_ID_VP8);
    AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!c) return nullptr;
    c->width = clip.width;
    c->height = clip.height;
    c->thread_count = 2;
    c->thread_type = FF_THREAD_SLICE;
    c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(c, codec, nullptr) < 0) avcodec_free_context(&c);
    return c;
}

bool plain(const Clip& clip, int passes) {
    AVCodecContext* ctx = open_decoder(clip);
    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();
    if (!ctx || !packet || !picture) {
        std::fprintf(stderr, "decode_clip: no decoder\n");
        return false;
    }
    std::vector<uint8_t> bgra(static_cast<size_t>(clip.width) * static_cast<size_t>(clip.height) * 4);
    SwsContext* scaler = nullptr;
    std::vector<double> ms;
    bool ok = true;
    for (int pass = 0; pass < passes && ok; ++pass) {
        for (const std::vector<uint8_t>& frame : clip.frames) {
            const Clock::time_point start = Clock::now();
            packet->data = const_cast<uint8_t*>(frame.data());
            packet->size = static_cast<int>(frame.size());
            if (avcodec_send_packet(ctx, packet) < 0 || avcodec_receive_frame(ctx, picture) < 0) {
                std::fprintf(stderr, "decode_clip: decoding failed\n");
                ok = false;
                break;
            }
            if (!scaler) {
                scaler = sws_getContext(picture->width, picture->height,
                                        static_cast<AVPixelFormat>(picture->format), clip.width,
                                        clip.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                        nullptr, nullptr);
            }
            uint8_t* const planes[4] = {bgra.data(), nullptr, nullptr, nullptr};
            const int strides[4] = {clip.width * 4, 0, 0, 0};
            sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, planes, strides);
            ms.push_back(ms_between(start, Clock::now()));
        }
    }
    if (ok) report("plain", ms);
    sws_freeContext(scaler);
    av_frame_free(&picture);
    packet->data = nullptr;
    packet->size = 0;
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return ok;
}

// Counts the batches the decode thread finishes, with or without a picture
// handed over. Called on the decode thread.
class BatchCounter final : public talvek::client::DecodeObserver {
public:
    void after_batch(bool handed_picture) override {
        std::lock_guard lock(mutex);
        (handed_picture ? handed_over : failed)++;
        handed.notify_one();
    }

    std::mutex mutex;
    std::condition_variable handed;
    uint64_t handed_over = 0;
    uint64_t failed = 0;
};

bool receiver_path(const Clip& clip, int passes) {
    BatchCounter batches;
    std::mutex& mutex = batches.mutex;
    std::condition_variable& handed = batches.handed;
    uint64_t& handed_over = batches.handed_over;
    uint64_t& failed = batches.failed;
    auto receiver =
        std::make_unique<VideoReceiver>(VideoReceiver::Seams{.decode_observer = &batches});
    if (!receiver->init_without_window(clip.width, clip.height, clip.codec)) return false;

    std::vector<double> ms;
    uint32_t id = 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (const std::vector<uint8_t>& frame : clip.frames) {
            std::vector<Datagram> datagrams;
            uint32_t sequence = 0;
            talvek::tools::cut_video_frame(++id, frame.data(), frame.size(), sequence, datagrams);
            std::unique_lock lock(mutex);
            const uint64_t before = handed_over + failed;
            lock.unlock();
            const Clock::time_point start = Clock::now();
            for (const Datagram& d : datagrams) {
                receiver->handle_fragment(d.data(), static_cast<int>(d.size()));
            }
            lock.lock();
            handed.wait(lock, [&] { return handed_over + failed > before; });
            ms.push_back(ms_between(start, Clock::now()));
        }
    }
    receiver->stop();
    if (failed != 0) {
        std::fprintf(stderr, "decode_clip: %llu batches handed no picture over\n",
                     static_cast<unsigned long long>(failed));
        return false;
    }
    report("receiver", ms);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s CLIP_FILE [--passes N]\n", argv[0]);
        return 2;
    }
    int passes = 3;
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--passes") == 0) passes = std::max(1, std::atoi(argv[++i]));
    }
    Clip clip;
    if (!load_clip(argv[1], clip)) return 1;
    std::printf("clip %s, %dx%d, %zu frames, %d passes\n",
                clip.codec == VideoCodec::H264 ? "h264" : "vp8", clip.width, clip.height,
                clip.frames.size(), passes);
    std::fflush(stdout);
    const bool ok = plain(clip, passes) && receiver_path(clip, passes);
    return ok ? 0 : 1;
}
