// What the receiver costs on player's two paths, each against the least any
// implementation must do:
//
//   reassemble/<frame>     handle_fragment for every datagram of a whole
//                          encoded frame; the decode thread is held, so the
//                          joined frame only goes into the decode queue
//   two_copies/<frame>     the work the receiver cannot avoid as it is built:
//                          a zeroed slot buffer per frame, each payload copied
//                          into it, then into a new joined frame, kept in a
//                          ring of 6 as the decode queue keeps it (so the
//                          allocator sees the same pattern)
//   copy/<frame>           memcpy of the same payloads into one frame buffer
//                          kept across frames: the limit
//
//   decode/<codec>/<size>  plain libavcodec: send_packet + receive_frame per
//                          frame with the receiver's decoder settings: the limit
//   decode_convert/...     the same plus the conversion to BGRA (sws_scale,
//                          bilinear), in the same thread
//   receiver/...           the frame's datagrams through handle_fragment,
//                          the decode thread's decode + convert + hand-over,
//                          until the picture is in display_buffer; per frame,
//                          one at a time, so it is also the receiver's
//                          latency from last datagram to a picture render()
//                          can upload
//
// Frames: <frame> is an encoded frame size (a delta frame, a keyframe, the
// 1000-fragment maximum). The decode benchmarks use a real stream: the
// sender's test picture with noise over its bars, encoded by the sender's
// encoder at a constant bit rate (encoded_clip.h). After the table the
// program prints each variant against its limit.
//
// --clip-cache=DIR keeps the encoded streams in DIR between runs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "encoded_clip.h"
#include "fragmenter.h"
#include "media_header.h"
#include "ratio_report.h"
#include "quiet_stdout.h"
#include "decode_hooks.h"
#include "receiver_peer.h"
#include "video_receiver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

using talvek::FRAGMENT_HEADER_OFFSET;
using talvek::FRAGMENT_PAYLOAD_OFFSET;
using talvek::VIDEO_FRAGMENT_MAX_PAYLOAD;
using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::tools::Datagram;
using Peer = talvek::client::VideoReceiverTestPeer;
using Clock = std::chrono::steady_clock;
using talvek::bench::quietly;

std::string clip_cache_dir;

// ---- reassembly ---------------------------------------------------------------

struct FrameShape {
    const char* label;
    size_t bytes;
};

// A delta frame at 12 Mbit/s and 60 fps, a keyframe of such a stream, and
// the largest frame a player accepts (1000 fragments).
constexpr FrameShape FRAME_SHAPES[] = {
    {"delta_25KB", 25'000},
    {"key_300KB", 300'000},
    {"max_1400KB", 1'400'000},
};

std::vector<Datagram> cut_frame(size_t bytes) {
    std::vector<uint8_t> frame(bytes);
    std::mt19937 rng(7);
    for (uint8_t& b : frame) b = static_cast<uint8_t>(rng());
    std::vector<Datagram> datagrams;
    uint32_t sequence = 0;
    talvek::tools::cut_video_frame(1, frame.data(), frame.size(), sequence, datagrams);
    return datagrams;
}

// Every iteration is a new frame, as on the wire: all variants pay for this.
void renumber(std::vector<Datagram>& datagrams, uint32_t id) {
    for (Datagram& d : datagrams) std::memcpy(d.data() + FRAGMENT_HEADER_OFFSET, &id, sizeof id);
}

void set_frame_counters(benchmark::State& state, const std::vector<Datagram>& datagrams,
                        size_t frame_bytes) {
    const auto n = static_cast<int64_t>(state.iterations());
    state.SetBytesProcessed(n * static_cast<int64_t>(frame_bytes));
    state.SetItemsProcessed(n * static_cast<int64_t>(datagrams.size()));  // datagrams/s
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(datagrams.size()) + " datagrams/frame");
}

// A receiver without a window whose decode thread waits at its first pass
// until the receiver stops: completed frames stay in the decode queue.
class HeldReceiver {
public:
    HeldReceiver()
        : owned(std::make_unique<VideoReceiver>(
              VideoReceiver::Seams{.decode_observer = hooks.observer()})),
          receiver(*owned) {
        hooks.before_wait = [this] {
            while (Peer::running(receiver)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        ok = receiver.init_without_window(64, 64, VideoCodec::VP8);
    }
    ~HeldReceiver() {
        quietly([this] { owned.reset(); });
    }
    HeldReceiver(const HeldReceiver&) = delete;
    HeldReceiver& operator=(const HeldReceiver&) = delete;

private:
    talvek::testing::DecodeHooks hooks;  // the decode thread uses it: declared first
    std::unique_ptr<VideoReceiver> owned;

public:
    VideoReceiver& receiver;
    bool ok = false;
};

void reassemble(benchmark::State& state, FrameShape shape) {
    std::vector<Datagram> datagrams = cut_frame(shape.bytes);
    HeldReceiver held;
    if (!held.ok) {
        state.SkipWithError("receiver did not start");
        return;
    }
    uint32_t id = 0;
    for (auto _ : state) {
        renumber(datagrams, ++id);
        for (const Datagram& d : datagrams) {
            held.receiver.handle_fragment(d.data(), static_cast<int>(d.size()));
        }
    }
    if (Peer::last_completed_id(held.receiver) != id) state.SkipWithError("frames did not complete");
    set_frame_counters(state, datagrams, shape.bytes);
}

size_t payload_of(const Datagram& d) { return d.size() - FRAGMENT_PAYLOAD_OFFSET; }

void two_copies(benchmark::State& state, FrameShape shape) {
    std::vector<Datagram> datagrams = cut_frame(shape.bytes);
    const size_t slot = VIDEO_FRAGMENT_MAX_PAYLOAD;
    std::vector<std::vector<uint8_t>> queue(VideoReceiver::DECODE_QUEUE_SLOTS);
    uint32_t id = 0;
    for (auto _ : state) {
        renumber(datagrams, ++id);
        std::vector<uint8_t> slots(datagrams.size() * slot);
        for (size_t i = 0; i < datagrams.size(); ++i) {
            std::memcpy(slots.data() + i * slot, datagrams[i].data() + FRAGMENT_PAYLOAD_OFFSET,
                        payload_of(datagrams[i]));
        }
        std::vector<uint8_t> joined;
        joined.reserve(shape.bytes);
        for (size_t i = 0; i < datagrams.size(); ++i) {
            joined.insert(joined.end(), slots.begin() + static_cast<ptrdiff_t>(i * slot),
                          slots.begin() + static_cast<ptrdiff_t>(i * slot + payload_of(datagrams[i])));
        }
        benchmark::DoNotOptimize(joined.data());
        benchmark::ClobberMemory();
        queue[id % queue.size()] = std::move(joined);
    }
    set_frame_counters(state, datagrams, shape.bytes);
}

void copy(benchmark::State& state, FrameShape shape) {
    std::vector<Datagram> datagrams = cut_frame(shape.bytes);
    std::vector<uint8_t> frame(datagrams.size() * VIDEO_FRAGMENT_MAX_PAYLOAD);
    uint32_t id = 0;
    for (auto _ : state) {
        renumber(datagrams, ++id);
        for (size_t i = 0; i < datagrams.size(); ++i) {
            std::memcpy(frame.data() + i * VIDEO_FRAGMENT_MAX_PAYLOAD,
                        datagrams[i].data() + FRAGMENT_PAYLOAD_OFFSET, payload_of(datagrams[i]));
        }
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    set_frame_counters(state, datagrams, shape.bytes);
}

// ---- decoding -------------------------------------------------------------------

struct StreamCase {
    VideoCodec codec;
    int width;
    int height;
    int64_t bitrate;
};

// 30 fps at rates a screen share of that size uses; 60 pictures, one keyframe.
constexpr int CLIP_PICTURES = 60;
constexpr StreamCase STREAMS[] = {
    {VideoCodec::VP8, 1280, 720, 4'000'000},
    {VideoCodec::VP8, 1920, 1080, 8'000'000},
    {VideoCodec::H264, 1280, 720, 4'000'000},
    {VideoCodec::H264, 1920, 1080, 8'000'000},
};

std::string stream_name(const StreamCase& s) {
    return std::string(s.codec == VideoCodec::H264 ? "h264" : "vp8") + "/" +
           std::to_string(s.width) + "x" + std::to_string(s.height);
}

std::map<std::string, talvek::bench::EncodedClip> clips;

const talvek::bench::EncodedClip* clip_for(const StreamCase& s) {
    const std::string name = stream_name(s);
    auto found = clips.find(name);
    if (found != clips.end()) return &found->second;
    talvek::bench::ClipSettings settings;
    settings.codec = s.codec;
    settings.width = s.width;
    settings.height = s.height;
    settings.fps = 30;
    settings.bitrate = s.bitrate;
    settings.pictures = CLIP_PICTURES;
    talvek::bench::EncodedClip clip;
    if (!talvek::bench::cached_clip(settings, clip_cache_dir, clip)) return nullptr;
    return &clips.emplace(name, std::move(clip)).first->second;
}

// Mean encoded frame size, for the label.
std::string clip_label(const talvek::bench::EncodedClip& clip) {
    size_t bytes = 0;
    for (const auto& f : clip.frames) bytes += f.data.size();
    return std::to_string(bytes / clip.frames.size() / 1000) + " KB/frame mean, keyframe " +
           std::to_string(clip.frames.front().data.size() / 1000) + " KB";
}

// Per-frame times: the median and the 99th percentile as counters.
void set_latency_counters(benchmark::State& state, std::vector<double>& ms) {
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The receiver's decoder settings (client/video_receiver_decode.cpp).
AVCodecContext* open_decoder(const StreamCase& s) {
    const AVCodec* codec =
        avcodec_find_decoder(s.codec == VideoCodec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_VP8);
    AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!c) return nullptr;
    c->width = s.width;
    c->height = s.height;
    c->thread_count = 2;
    c->thread_type = FF_THREAD_SLICE;
    c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(c, codec, nullptr) < 0) avcodec_free_context(&c);
    return c;
}

void plain_decode(benchmark::State& state, StreamCase s, bool convert) {
    const talvek::bench::EncodedClip* clip = clip_for(s);
    AVCodecContext* ctx = clip ? open_decoder(s) : nullptr;
    if (!ctx) {
        state.SkipWithError("no clip or no decoder");
        return;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();
    std::vector<uint8_t> bgra(static_cast<size_t>(s.width) * static_cast<size_t>(s.height) * 4);
    SwsContext* scaler = nullptr;
    std::vector<double> ms;
    size_t next = 0;
    for (auto _ : state) {
        const auto& frame = clip->frames[next];
        next = (next + 1) % clip->frames.size();  // starts again at the keyframe
        const Clock::time_point start = Clock::now();
        packet->data = const_cast<uint8_t*>(frame.data.data());
        packet->size = static_cast<int>(frame.data.size());
        if (avcodec_send_packet(ctx, packet) < 0 || avcodec_receive_frame(ctx, picture) < 0) {
            state.SkipWithError("decoding failed");
            break;
        }
        if (convert) {
            if (!scaler) {
                scaler = sws_getContext(picture->width, picture->height,
                                        static_cast<AVPixelFormat>(picture->format), s.width,
                                        s.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                        nullptr);
            }
            uint8_t* const planes[4] = {bgra.data(), nullptr, nullptr, nullptr};
            const int strides[4] = {s.width * 4, 0, 0, 0};
            sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, planes,
                      strides);
            benchmark::DoNotOptimize(bgra.data());
        }
        ms.push_back(ms_since(start));
    }
    set_latency_counters(state, ms);
    state.SetLabel(clip_label(*clip));
    sws_freeContext(scaler);
    av_frame_free(&picture);
    packet->data = nullptr;
    packet->size = 0;
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
}

void decode(benchmark::State& state, StreamCase s) { plain_decode(state, s, false); }
void decode_convert(benchmark::State& state, StreamCase s) { plain_decode(state, s, true); }

// The whole receive path: datagrams in, picture handed over. The decode
// thread reports each hand-over through its hook; the benchmark waits for it.
void receiver_path(benchmark::State& state, StreamCase s) {
    const talvek::bench::EncodedClip* clip = clip_for(s);
    if (!clip) {
        state.SkipWithError("no clip");
        return;
    }
    std::vector<std::vector<Datagram>> datagrams;
    for (const auto& frame : clip->frames) {
        datagrams.emplace_back();
        uint32_t sequence = 0;
        talvek::tools::cut_video_frame(1, frame.data.data(), frame.data.size(), sequence,
                                       datagrams.back());
    }

    std::mutex mutex;
    std::condition_variable handed;
    uint64_t handed_over = 0;
    uint64_t failed = 0;
    talvek::testing::DecodeHooks hooks;
    hooks.after_batch = [&](bool ok) {
        std::lock_guard lock(mutex);
        (ok ? handed_over : failed)++;
        handed.notify_one();
    };
    auto owned =
        std::make_unique<VideoReceiver>(VideoReceiver::Seams{.decode_observer = hooks.observer()});
    VideoReceiver& receiver = *owned;
    if (!receiver.init_without_window(s.width, s.height, s.codec)) {
        state.SkipWithError("receiver did not start");
        quietly([&] { owned.reset(); });
        return;
    }

    std::vector<double> ms;
    size_t next = 0;
    uint32_t id = 0;
    for (auto _ : state) {
        std::vector<Datagram>& frame = datagrams[next];
        next = (next + 1) % datagrams.size();
        renumber(frame, ++id);
        const Clock::time_point start = Clock::now();
        std::unique_lock lock(mutex);
        const uint64_t before = handed_over + failed;
        lock.unlock();
        for (const Datagram& d : frame) receiver.handle_fragment(d.data(), static_cast<int>(d.size()));
        lock.lock();
        handed.wait(lock, [&] { return handed_over + failed > before; });
        lock.unlock();
        ms.push_back(ms_since(start));
    }
    if (failed != 0) state.SkipWithError("a batch handed no picture over");
    quietly([&] { owned.reset(); });
    set_latency_counters(state, ms);
    state.SetLabel(clip_label(*clip));
}

// ---- the report -------------------------------------------------------------------

// One variant against its limit for one case; nothing when either did not run.
void row(std::ostream& out, const talvek::bench::MedianRates& rates, const std::string& name,
         const char* variant, const char* limit) {
    const double rate = rates.median(std::string(variant) + "/" + name);
    const double base = rates.median(std::string(limit) + "/" + name);
    if (rate <= 0.0 || base <= 0.0) return;
    char line[256];
    std::snprintf(line, sizeof line, "%-26s %-16s %12.1f %12.1f %8.3f\n", name.c_str(), variant,
                  rate, base, rate / base);
    out << line;
}

void print_ratios(std::ostream& out, const talvek::bench::MedianRates& rates) {
    char line[256];
    out << "\nEach variant against its limit, frames per second (median of repetitions;\n"
           "ratio 1.000 = as fast as the limit)\n";
    std::snprintf(line, sizeof line, "%-26s %-16s %12s %12s %8s\n", "case", "variant",
                  "frames/s", "limit f/s", "ratio");
    out << line;
    for (const FrameShape& shape : FRAME_SHAPES) {
        row(out, rates, shape.label, "reassemble", "copy");
        row(out, rates, shape.label, "two_copies", "copy");
    }
    for (const StreamCase& s : STREAMS) {
        const std::string name = stream_name(s);
        row(out, rates, name, "decode_convert", "decode");
        row(out, rates, name, "receiver", "decode");
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Our own option first: Google Benchmark refuses what it does not know.
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

    for (const FrameShape& shape : FRAME_SHAPES) {
        const std::string name = shape.label;
        benchmark::RegisterBenchmark(("reassemble/" + name).c_str(), reassemble, shape)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("two_copies/" + name).c_str(), two_copies, shape)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("copy/" + name).c_str(), copy, shape)
            ->Unit(benchmark::kMicrosecond);
    }
    for (const StreamCase& s : STREAMS) {
        const std::string name = stream_name(s);
        // Twice through the clip, so every variant decodes the same frames.
        benchmark::RegisterBenchmark(("decode/" + name).c_str(), decode, s)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(CLIP_PICTURES * 2);
        benchmark::RegisterBenchmark(("decode_convert/" + name).c_str(), decode_convert, s)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(CLIP_PICTURES * 2);
        benchmark::RegisterBenchmark(("receiver/" + name).c_str(), receiver_path, s)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(CLIP_PICTURES * 2);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    talvek::bench::RatioReporter reporter("frames/s", print_ratios);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
