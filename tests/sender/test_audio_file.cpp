#include "test_audio_file.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "format_output.h"

namespace talvek::tools::testing {

int16_t test_sound_sample(const TestSound& sound, int channel, long i) {
    const double hz = static_cast<double>(sound.frequency) * (channel + 1);
    const double t = static_cast<double>(i) / sound.sample_rate;
    return static_cast<int16_t>(
        std::lround(TEST_SOUND_AMPLITUDE * std::sin(2.0 * std::numbers::pi * hz * t)));
}

AVStream* add_test_sound_stream(AVFormatContext* out, const TestSound& sound) {
    AVStream* stream = avformat_new_stream(out, nullptr);
    if (!stream) return nullptr;
    stream->time_base = AVRational{1, sound.sample_rate};
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->sample_rate = sound.sample_rate;
    par->format = AV_SAMPLE_FMT_S16;
    par->bits_per_coded_sample = 16;
    par->block_align = 2 * sound.channels;
    av_channel_layout_default(&par->ch_layout, sound.channels);
    return stream;
}

bool write_test_sound_packet(AVFormatContext* out, AVStream* stream, const TestSound& sound,
                             long first, int count) {
    std::vector<int16_t> pcm(static_cast<size_t>(count) * static_cast<size_t>(sound.channels));
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < sound.channels; ++c) {
            pcm[static_cast<size_t>(i * sound.channels + c)] =
                test_sound_sample(sound, c, first + i);
        }
    }
    PacketPtr packet(av_packet_alloc());
    const int bytes = static_cast<int>(pcm.size() * sizeof(int16_t));
    if (!packet || av_new_packet(packet.get(), bytes) < 0) return false;
    std::memcpy(packet->data, pcm.data(), static_cast<size_t>(bytes));
    const AVRational samples{1, sound.sample_rate};
    packet->pts = av_rescale_q(first, samples, stream->time_base);
    packet->dts = packet->pts;
    packet->duration = av_rescale_q(count, samples, stream->time_base);
    packet->stream_index = stream->index;
    return av_interleaved_write_frame(out, packet.get()) == 0;
}

bool write_test_audio_file(const std::string& path, const TestSound& sound, double seconds) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "wav", path.c_str()) < 0) return false;
    talvek::testing::FormatOutputPtr out(raw);
    AVStream* stream = add_test_sound_stream(out.get(), sound);
    if (!stream) return false;
    if (avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(out.get(), nullptr) < 0) return false;
    const long total = std::lround(seconds * sound.sample_rate);
    // 10 ms packets, as a demuxer would cut them.
    const int chunk = sound.sample_rate / 100;
    for (long first = 0; first < total; first += chunk) {
        const int count = static_cast<int>(std::min<long>(chunk, total - first));
        if (!write_test_sound_packet(out.get(), stream, sound, first, count)) return false;
    }
    return av_write_trailer(out.get()) == 0;
}

}  // namespace talvek::tools::testing
