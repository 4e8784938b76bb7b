// Writes the seed inputs of every fuzz target, made the way the host
// application makes its streams: the sender's fragmenter, its VP8 and H.264
// encoders on the moving test picture, its Opus encoder on the test tone and
// its malformed-datagram generator, plus the edge cases the unit tests pin
// down. The corpora grow from these; nothing here is kept in git.
//
//   make_seeds <dir>   ->  <dir>/<target>/<nn>-<what>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio_datagram.h"
#include "audio_encoder.h"
#include "fragmenter.h"
#include "fuzz_records.h"
#include "malformed_datagrams.h"
#include "media_header.h"
#include "test_tone.h"
#include "video_encoder.h"
#include "video_source.h"

extern "C" {
#include <libavutil/log.h>
}

using talvek::VideoCodec;
using talvek::fuzz::InputWriter;
using talvek::tools::Datagram;
namespace fs = std::filesystem;

namespace {

using Frames = std::vector<std::vector<uint8_t>>;

class SeedDir {
public:
    SeedDir(const fs::path& root, const std::string& target) : dir(root / target) {
        fs::create_directories(dir);
    }
    void write(const std::string& what, const std::vector<uint8_t>& bytes) {
        char name[16];
        std::snprintf(name, sizeof name, "%02d-", next++);
        std::ofstream(dir / (name + what), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

private:
    fs::path dir;
    int next = 0;
};

// `count` pictures of the test pattern, the first a keyframe, as the sender
// encodes them for a player.
Frames encode_pattern(VideoCodec codec, int width, int height, int count) {
    talvek::tools::EncoderSettings settings;
    settings.codec = codec;
    settings.width = width;
    settings.height = height;
    settings.bitrate = 300'000;
    talvek::tools::VideoEncoder encoder;
    auto source = talvek::tools::make_test_pattern_source(width, height);
    auto picture = talvek::tools::make_yuv_frame(width, height);
    Frames frames;
    if (!encoder.open(settings) || !picture) return frames;
    std::vector<talvek::tools::EncodedFrame> out;
    for (int i = 0; i < count; ++i) {
        if (!source->next(picture.get(), static_cast<uint32_t>(i + 1))) break;
        if (encoder.encode(picture.get(), i == 0, out) < 0) break;
    }
    for (auto& f : out) frames.push_back(std::move(f.data));
    return frames;
}

std::vector<Datagram> fragments_of(uint32_t frame_id, const std::vector<uint8_t>& frame) {
    std::vector<Datagram> out;
    uint32_t sequence = 0;
    talvek::tools::cut_video_frame(frame_id, frame.data(), frame.size(), sequence, out);
    return out;
}

Datagram fragment(uint32_t frame_id, uint16_t index, uint16_t count, uint16_t bytes,
                  uint8_t fill = 0xAB) {
    std::vector<uint8_t> payload(bytes, fill);
    return talvek::tools::make_fragment(frame_id, index, count, bytes, payload.data(),
                                        payload.size());
}

void video_reassembly_seeds(SeedDir& seeds, const Frames& vp8, const Frames& vp8_large) {
    InputWriter in_order;
    for (size_t i = 0; i < vp8.size(); ++i) {
        for (const auto& d : fragments_of(static_cast<uint32_t>(i + 1), vp8[i])) {
            in_order.datagram(d);
        }
        in_order.clock_step(33);
        in_order.drain();
    }
    seeds.write("vp8-in-order", in_order.out);

    // Fragments backwards, each twice, two frames interleaved.
    InputWriter shuffled;
    for (size_t i = 0; i + 1 < vp8_large.size(); i += 2) {
        auto a = fragments_of(static_cast<uint32_t>(i + 1), vp8_large[i]);
        auto b = fragments_of(static_cast<uint32_t>(i + 2), vp8_large[i + 1]);
        for (size_t k = std::max(a.size(), b.size()); k-- > 0;) {
            if (k < a.size()) shuffled.datagram(a[k]), shuffled.datagram(a[k]);
            if (k < b.size()) shuffled.datagram(b[k]);
        }
        shuffled.drain();
    }
    seeds.write("vp8-shuffled-duplicated", shuffled.out);

    // Seven frames before the thread looks: the oldest is overwritten.
    InputWriter overrun;
    for (uint32_t id = 1; id <= 7; ++id) overrun.datagram(fragment(id, 0, 1, 1, uint8_t(id)));
    overrun.drain();
    seeds.write("queue-overrun", overrun.out);

    // A frame missing one fragment, found by the sweep 300 ms later.
    InputWriter dropped;
    for (uint16_t i = 0; i < 7; ++i) dropped.datagram(fragment(5, i, 10, 1400));
    dropped.clock_step(300);
    dropped.datagram(fragment(6, 0, 2, 10));
    dropped.datagram(fragment(5, 9, 10, 100));
    seeds.write("timeout-drop", dropped.out);

    // The edge cases: 40 bytes, a one-byte frame, payload and count limits,
    // an index beyond the count, older frames after a newer one completed.
    InputWriter edges;
    Datagram forty = fragment(1, 0, 1, 1);
    forty.resize(40);
    edges.datagram(forty);
    edges.datagram(fragment(2, 0, 1, 1));
    edges.datagram(fragment(3, 0, 1, 1401));
    edges.datagram(fragment(3, 0, 1001, 10));
    edges.datagram(fragment(3, 0, 0, 10));
    edges.datagram(fragment(4, 5, 3, 10));
    edges.datagram(fragment(12, 0, 1, 5));
    edges.datagram(fragment(11, 0, 2, 5));
    edges.datagram(fragment(12, 0, 2, 5));
    edges.datagram(fragment(13, 0, 2, 5));
    edges.datagram(fragment(14, 0, 1, 5));
    edges.drain();
    seeds.write("edge-cases", edges.out);

    // Records that never complete: the table's count and byte bounds.
    InputWriter by_count;
    for (uint32_t id = 100; id < 170; ++id) by_count.datagram(fragment(id, 0, 2, 8));
    seeds.write("evict-by-count", by_count.out);
    InputWriter by_bytes;
    for (uint32_t id = 100; id < 145; ++id) by_bytes.datagram(fragment(id, 0, 1000, 8));
    seeds.write("evict-by-bytes", by_bytes.out);

    // Every kind of the sender's malformed datagrams, then a good frame.
    talvek::tools::MalformedGenerator generator(7, 1);
    for (auto kind : talvek::tools::ALL_MALFORMED_KINDS) {
        std::vector<Datagram> units;
        for (int i = 0; i < 4; ++i) generator.next(kind, units);
        InputWriter malformed;
        for (const auto& d : units) {
            if (d.size() <= UINT16_MAX) malformed.datagram(d);
        }
        malformed.datagram(fragment(100000, 0, 1, 3));
        malformed.drain();
        seeds.write("malformed-" + std::string(talvek::tools::malformed_kind_name(kind)),
                    malformed.out);
    }
}

// setup byte, then { flags, length, frame }, a batch after every `batch` frames.
std::vector<uint8_t> decode_input(uint8_t setup, const Frames& frames, size_t batch) {
    InputWriter in;
    in.u8(setup);
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].size() > UINT16_MAX) continue;
        in.u8((i + 1) % batch == 0 ? 1 : 0);
        in.u16(static_cast<uint16_t>(frames[i].size()));
        in.bytes(frames[i]);
    }
    return in.out;
}

void decode_seeds(SeedDir& seeds) {
    // Stream sizes are indices into fuzz_decode's table: 0 is 64x64, 1 is
    // 176x144, 2 is 320x180, 3 is 33x17.
    const auto size = [](int index) { return static_cast<uint8_t>(index << 1); };
    const Frames vp8 = encode_pattern(VideoCodec::VP8, 64, 64, 8);
    const Frames h264 = encode_pattern(VideoCodec::H264, 64, 64, 8);
    const Frames vp8_big = encode_pattern(VideoCodec::VP8, 320, 180, 3);
    const Frames h264_big = encode_pattern(VideoCodec::H264, 320, 180, 3);
    seeds.write("vp8-64", decode_input(size(0), vp8, 1));
    seeds.write("vp8-64-batches-of-3", decode_input(size(0), vp8, 3));
    seeds.write("vp8-64-no-batch-until-end", decode_input(size(0), vp8, 100));
    seeds.write("h264-64", decode_input(1 | size(0), h264, 1));
    seeds.write("h264-64-batches-of-3", decode_input(1 | size(0), h264, 3));
    // Pictures scaled up, down and to odd sizes.
    seeds.write("vp8-320-as-33x17", decode_input(size(3), vp8_big, 1));
    seeds.write("h264-320-as-176", decode_input(1 | size(1), h264_big, 1));
    seeds.write("vp8-64-as-320", decode_input(size(2), vp8, 2));
    // The picture size changes midway: the scaler must follow it.
    Frames changing = vp8;
    changing.insert(changing.end(), vp8_big.begin(), vp8_big.end());
    seeds.write("vp8-size-change", decode_input(size(0), changing, 1));
    Frames changing_h264 = h264_big;
    changing_h264.insert(changing_h264.end(), h264.begin(), h264.end());
    seeds.write("h264-size-change", decode_input(1 | size(1), changing_h264, 1));
    // Inter frames without their keyframe: a run of decoder errors.
    seeds.write("vp8-no-keyframe", decode_input(size(0), Frames(vp8.begin() + 1, vp8.end()), 1));
}

void frame_reassembler_seeds(SeedDir& seeds) {
    // Frames of the preview mode's raw test pattern, 40 x 30: 5 fragments.
    constexpr int W = 40, H = 30;
    const auto frame_input = [](bool reversed, uint16_t step_ms) {
        InputWriter in;
        in.u8(W - 1);
        in.u8(H - 1);
        for (uint32_t id = 1; id <= 3; ++id) {
            std::vector<uint8_t> pixels(W * H * 4);
            for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * id);
            std::vector<Datagram> out;
            talvek::tools::cut_into_fragments(id, pixels.data(), pixels.size(), {}, out);
            if (reversed) std::reverse(out.begin(), out.end());
            for (size_t k = 0; k < out.size(); ++k) {
                in.datagram(out[k]);
                if (k == 1) in.clock_step(step_ms);
            }
            in.drain();
        }
        return in.out;
    };
    seeds.write("raw-in-order", frame_input(false, 5));
    seeds.write("raw-reversed", frame_input(true, 5));
    seeds.write("raw-too-slow", frame_input(false, 150));

    InputWriter edges;
    edges.u8(W - 1);
    edges.u8(H - 1);
    edges.datagram(fragment(0, 0, 1, 10));        // frame 0 is never taken
    edges.datagram(fragment(2, 0, 0, 10));        // count 0: complete at once
    edges.datagram(fragment(1, 0, 1, 10));        // older than the last one
    edges.datagram(fragment(3, 0, 2, 2000));      // past the slot, cut at the end
    edges.datagram(fragment(3, 1, 5, 1400));      // a larger count is ignored
    edges.datagram(fragment(4, 9, 2, 10));        // index beyond the count
    Datagram beyond = fragment(5, 0, 1, 100);
    beyond.resize(60);                            // payload_size beyond the datagram
    edges.datagram(beyond);
    edges.drain();
    seeds.write("raw-edge-cases", edges.out);

    InputWriter many;
    many.u8(W - 1);
    many.u8(H - 1);
    for (uint32_t id = 10; id < 60; ++id) many.datagram(fragment(id, 0, 5, 1400));
    many.datagram(fragment(60, 0, 1, 1400));
    seeds.write("raw-many-in-flight", many.out);
}

std::vector<std::vector<uint8_t>> tone_packets(int packet_ms, int count) {
    talvek::tools::AudioEncoder encoder;
    std::vector<std::vector<uint8_t>> packets;
    if (!encoder.open(96'000, packet_ms)) return packets;
    const int samples = encoder.packet_samples();
    std::vector<int16_t> stereo(static_cast<size_t>(samples) * 2);
    for (int i = 0; i < count; ++i) {
        talvek::tools::fill_test_tone(int64_t{i} * samples, samples, stereo.data());
        std::vector<uint8_t> packet;
        if (encoder.encode(stereo.data(), packet)) packets.push_back(packet);
    }
    return packets;
}

void screen_audio_seeds(SeedDir& seeds) {
    const auto packets20 = tone_packets(20, 8);
    const auto packets10 = tone_packets(10, 6);
    const auto packets60 = tone_packets(60, 2);
    // volume pick (table index), first sequence, then packets; 0 = a loss.
    const auto input = [](uint8_t volume, uint32_t first,
                          const std::vector<std::vector<uint8_t>>& packets,
                          const std::vector<size_t>& losses_before) {
        InputWriter in;
        in.u8(volume);
        in.u32(first);
        for (size_t i = 0; i < packets.size(); ++i) {
            for (size_t k = 0; k < (i < losses_before.size() ? losses_before[i] : 0); ++k) {
                in.u16(0);
            }
            in.u16(static_cast<uint16_t>(packets[i].size()));
            in.bytes(packets[i]);
        }
        return in.out;
    };
    seeds.write("tone-20ms", input(0, 10, packets20, {}));
    seeds.write("tone-20ms-losses", input(0, 10, packets20, {0, 0, 1, 0, 9, 0, 2}));
    seeds.write("tone-10ms-half-volume", input(3, 1, packets10, {0, 1}));
    seeds.write("tone-60ms-refused", input(0, 1, packets60, {}));
    seeds.write("tone-wraps", input(4, 0xFFFFFFFE, packets20, {0, 0, 3}));
    seeds.write("tone-muted", input(1, 5, packets10, {0, 2}));
    seeds.write("tone-nan-gain", input(7, 5, packets10, {0, 2}));
    seeds.write("tone-huge-gain", input(6, 5, packets10, {0, 2}));

    // Raw bits for the gain (2.0e-39, a subnormal), then raw datagrams whose
    // header lies about the packet's length.
    InputWriter raw;
    raw.u8(0xFF);
    raw.u32(0x0015C6B7);
    raw.u32(1);
    for (int lie : {-1, 0, 1}) {
        Datagram d = talvek::tools::make_screen_audio_datagram(
            7, packets20[0].data(), packets20[0].size());
        const uint16_t claimed = static_cast<uint16_t>(static_cast<int>(packets20[0].size()) + lie);
        std::memcpy(d.data() + 24, &claimed, sizeof claimed);
        raw.u16(static_cast<uint16_t>(0x8000 | d.size()));
        raw.bytes(d);
    }
    seeds.write("raw-length-lies", raw.out);
}

std::vector<uint8_t> command_line(const std::vector<std::string>& args) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) out.push_back(0);
        out.insert(out.end(), args[i].begin(), args[i].end());
    }
    return out;
}

void args_seeds(SeedDir& player, SeedDir& preview) {
    player.write("full", command_line({"--port", "5000", "--parent-port", "5001",
                                       "--streamer-id", "42", "--width", "1920", "--height",
                                       "1080", "--username", "Ada", "--has-audio",
                                       "--audio-volume", "0.5", "--audio-muted", "--codec",
                                       "1"}));
    player.write("odd-values", command_line({"--port", "70000", "--audio-volume", "1e39",
                                             "--codec", "4", "--width", "99999999999",
                                             "--username", "--port", "12x"}));
    player.write("port-last", command_line({"--has-audio", "x", "--port"}));
    preview.write("full", command_line({"--port", "5000", "--parent-port", "1", "--width",
                                        "1281", "--height", "721", "--title", "Preview"}));
    preview.write("huge", command_line({"--port", "-1", "--width", "65536", "--height",
                                        "32768"}));
    preview.write("bad-size", command_line({"--width", "0", "--port", "9", "--height"}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <seed directory>\n", argv[0]);
        return 1;
    }
    av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics are noise here
    const fs::path root = argv[1];
    const Frames vp8 = encode_pattern(VideoCodec::VP8, 64, 64, 6);
    const Frames vp8_large = encode_pattern(VideoCodec::VP8, 320, 180, 4);
    if (vp8.empty() || vp8_large.empty()) {
        std::fprintf(stderr, "make_seeds: the VP8 encoder gave nothing\n");
        return 1;
    }
    SeedDir video(root, "fuzz_video_reassembly");
    video_reassembly_seeds(video, vp8, vp8_large);
    SeedDir decode(root, "fuzz_decode");
    decode_seeds(decode);
    SeedDir raw(root, "fuzz_frame_reassembler");
    frame_reassembler_seeds(raw);
    SeedDir audio(root, "fuzz_screen_audio");
    screen_audio_seeds(audio);
    SeedDir player(root, "fuzz_player_args");
    SeedDir preview(root, "fuzz_preview_args");
    args_seeds(player, preview);
    return 0;
}
