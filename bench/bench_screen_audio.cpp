// What player's screen-audio path costs per packet, against the least any
// implementation must do with the same packets:
//
//   opus_decode            plain libopus: one opus_decode of each 20 ms
//                          packet into a stack buffer: the limit
//   receiver/volume:1.0    handle_screen_audio on whole datagrams: header
//   receiver/volume:0.5    checks, sequence bookkeeping, decode, gain, and
//                          the queue call into an audio backend that keeps
//                          nothing (so SDL's queue is not part of it)
//   receiver_sdl/...       the same into SDL's own queue on the dummy audio
//                          driver, emptied whenever it passes 1 MiB (the
//                          emptying is part of the measured time, and cheap)
//
// The packets are the sender's: its test tone (-12 dBFS, the pitch stepping
// every second) encoded as a screen share sends it (48 kHz stereo,
// 96 kbit/s, 20 ms). After the table the program prints each variant
// against opus_decode.

#include <benchmark/benchmark.h>
#include <opus.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <SDL.h>

#include "audio_backend.h"
#include "audio_encoder.h"
#include "media_header.h"
#include "null_audio_backend.h"
#include "ratio_report.h"
#include "quiet_stdout.h"
#include "test_tone.h"
#include "video_receiver.h"

namespace {

using talvek::client::AudioBackend;
using talvek::client::VideoReceiver;
// Accepts every call and keeps nothing: the receiver's own work only.
using talvek::testing::NullAudioBackend;
using talvek::bench::quietly;

constexpr int PACKET_MS = 20;
constexpr int PACKET_SAMPLES = 960;  // per channel
constexpr int CLIP_PACKETS = 500;    // ten seconds, cycled

const std::vector<std::vector<uint8_t>>& tone_packets() {
    static const std::vector<std::vector<uint8_t>> packets = [] {
        std::vector<std::vector<uint8_t>> out;
        talvek::tools::AudioEncoder encoder;
        if (!encoder.open(96'000, PACKET_MS)) return out;
        std::vector<int16_t> pcm(PACKET_SAMPLES * 2);
        for (int i = 0; i < CLIP_PACKETS; ++i) {
            talvek::tools::fill_test_tone(int64_t{i} * PACKET_SAMPLES, PACKET_SAMPLES, pcm.data());
            std::vector<uint8_t> packet;
            if (!encoder.encode(pcm.data(), packet)) return std::vector<std::vector<uint8_t>>{};
            out.push_back(std::move(packet));
        }
        return out;
    }();
    return packets;
}

// A datagram as the host sends it; the sequence is patched per send.
std::vector<uint8_t> screen_audio_datagram(const std::vector<uint8_t>& packet) {
    std::vector<uint8_t> d(talvek::MEDIA_HEADER_SIZE + packet.size());
    talvek::MediaHeader header{};
    header.payload_length = static_cast<uint16_t>(packet.size());
    header.flags = talvek::VOICE_FLAG_SCREEN_AUDIO;
    std::memcpy(d.data(), &header, sizeof header);
    std::memcpy(d.data() + talvek::MEDIA_HEADER_SIZE, packet.data(), packet.size());
    return d;
}

void set_sequence(std::vector<uint8_t>& datagram, uint32_t sequence) {
    // Little-endian at offset 20, as on the wire.
    for (int i = 0; i < 4; ++i) datagram[20 + static_cast<size_t>(i)] = uint8_t(sequence >> (8 * i));
}

// SDL's real queue, kept near empty as a device playing in real time would
// keep it: the player's delay bound would otherwise drop what piles up over
// millions of packets queued far faster than real time.
class BoundedSdlBackend final : public AudioBackend {
public:
    SDL_AudioDeviceID open_device(const char* name, int iscapture, const SDL_AudioSpec* desired,
                                  SDL_AudioSpec* obtained, int allowed_changes) override {
        return sdl().open_device(name, iscapture, desired, obtained, allowed_changes);
    }
    void close_device(SDL_AudioDeviceID id) override { sdl().close_device(id); }
    void pause_device(SDL_AudioDeviceID id, int paused) override { sdl().pause_device(id, paused); }
    int queue(SDL_AudioDeviceID id, const void* data, uint32_t bytes) override {
        if (sdl().queued_bytes(id) >= PLAYED_AHEAD_BYTES) sdl().clear_queue(id);
        queued += bytes;
        return sdl().queue(id, data, bytes);
    }
    uint32_t dequeue(SDL_AudioDeviceID id, void* out, uint32_t bytes) override {
        return sdl().dequeue(id, out, bytes);
    }
    uint32_t queued_bytes(SDL_AudioDeviceID id) override { return sdl().queued_bytes(id); }
    void clear_queue(SDL_AudioDeviceID id) override { sdl().clear_queue(id); }
    int device_count(int iscapture) override { return sdl().device_count(iscapture); }
    const char* device_name(int index, int iscapture) override {
        return sdl().device_name(index, iscapture);
    }
    const char* last_error() override { return sdl().last_error(); }

    uint64_t queued = 0;

private:
    // Two 20 ms packets of 48 kHz stereo s16, well under the bound's target.
    static constexpr uint32_t PLAYED_AHEAD_BYTES = 2 * 3840;
    static AudioBackend& sdl() { return talvek::client::sdl_audio_backend(); }
};

void set_packet_counters(benchmark::State& state, uint64_t queued_bytes) {
    state.counters["packets/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // Shows that every packet reached the queue: 3840 bytes a packet.
    state.counters["bytes/packet"] =
        static_cast<double>(queued_bytes) / static_cast<double>(state.iterations());
}

void BM_opus_decode(benchmark::State& state) {
    const auto& packets = tone_packets();
    if (packets.empty()) return state.SkipWithError("the encoder failed");
    int error = 0;
    OpusDecoder* decoder = opus_decoder_create(48000, 2, &error);
    if (decoder == nullptr) return state.SkipWithError("opus_decoder_create failed");
    std::array<opus_int16, PACKET_SAMPLES * 2> pcm;
    size_t i = 0;
    uint64_t decoded = 0;
    for (auto _ : state) {
        const auto& p = packets[i];
        const int n = opus_decode(decoder, p.data(), static_cast<opus_int32>(p.size()), pcm.data(),
                                  PACKET_SAMPLES, 0);
        benchmark::DoNotOptimize(pcm.data());
        decoded += static_cast<uint64_t>(n) * 4;
        if (++i == packets.size()) i = 0;
    }
    opus_decoder_destroy(decoder);
    set_packet_counters(state, decoded);
}

template <typename Backend>
void run_receiver(benchmark::State& state, float volume) {
    const auto& packets = tone_packets();
    if (packets.empty()) return state.SkipWithError("the encoder failed");
    std::vector<std::vector<uint8_t>> datagrams;
    for (const auto& p : packets) datagrams.push_back(screen_audio_datagram(p));

    Backend backend;
    uint64_t queued = 0;
    if constexpr (std::is_same_v<Backend, NullAudioBackend>) {
        backend.on_queue = [&queued](const short*, uint32_t bytes) { queued += bytes; };
    }
    auto owned = std::make_unique<VideoReceiver>();
    VideoReceiver& receiver = *owned;
    receiver.set_audio_backend(backend);
    bool up = false;
    quietly([&] {
        up = receiver.init_without_window(64, 64, talvek::VideoCodec::VP8);
        if (up) receiver.enable_audio(true);
    });
    if (!up) {
        quietly([&] { owned.reset(); });
        return state.SkipWithError("the receiver did not come up");
    }
    receiver.set_audio_volume(volume);

    uint32_t sequence = 1;
    size_t i = 0;
    for (auto _ : state) {
        auto& d = datagrams[i];
        set_sequence(d, sequence++);
        receiver.handle_screen_audio(d.data(), static_cast<int>(d.size()));
        if (++i == datagrams.size()) i = 0;
    }
    quietly([&] { owned.reset(); });
    if constexpr (!std::is_same_v<Backend, NullAudioBackend>) queued = backend.queued;
    set_packet_counters(state, queued);
}

constexpr const char* RECEIVER_VARIANTS[] = {"receiver/volume:1.0", "receiver/volume:0.5",
                                             "receiver_sdl/volume:1.0",
                                             "receiver_sdl/volume:0.5"};

void register_benchmarks() {
    benchmark::RegisterBenchmark("opus_decode", BM_opus_decode);
    for (const float volume : {1.0f, 0.5f}) {
        const std::string v = volume == 1.0f ? "1.0" : "0.5";
        benchmark::RegisterBenchmark(("receiver/volume:" + v).c_str(), [volume](benchmark::State& s) {
            run_receiver<NullAudioBackend>(s, volume);
        });
        benchmark::RegisterBenchmark(("receiver_sdl/volume:" + v).c_str(),
                                     [volume](benchmark::State& s) {
                                         run_receiver<BoundedSdlBackend>(s, volume);
                                     });
    }
}

void print_ratios(std::ostream& out, const talvek::bench::MedianRates& rates) {
    const double limit = rates.median("opus_decode");
    out << "\nEach variant against plain opus_decode, packets per second (median of\n"
           "repetitions; ratio 1.000 = as fast as the limit; one packet is 20 ms)\n";
    char line[256];
    std::snprintf(line, sizeof line, "%-28s %12s %12s %8s %10s\n", "variant", "packets/s",
                  "limit p/s", "ratio", "us/packet");
    out << line;
    for (const char* name : RECEIVER_VARIANTS) {
        const double rate = rates.median(name);
        if (rate <= 0.0 || limit <= 0.0) continue;
        std::snprintf(line, sizeof line, "%-28s %12.0f %12.0f %8.3f %10.2f\n", name, rate,
                      limit, rate / limit, 1e6 / rate);
        out << line;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The SDL variant plays into the dummy driver unless told otherwise.
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "SDL_Init failed: %s\n", SDL_GetError());
        return 1;
    }
    register_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    talvek::bench::RatioReporter reporter("packets/s", print_ratios);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    SDL_Quit();
    return 0;
}
