#include "test_video_file.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "format_output.h"
#include "video_encoder.h"
#include "video_source.h"

namespace talvek::tools::testing {

std::string scratch_path(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("sender_tests_" + std::to_string(getpid()) + "_" + name))
        .string();
}

bool write_test_video_file(const std::string& path, int width, int height, int pictures,
                           const TestSound* sound) {
    EncoderSettings settings;
    settings.width = width;
    settings.height = height;
    settings.fps = 30;
    settings.bitrate = 1'000'000;
    VideoEncoder encoder;
    if (!encoder.open(settings)) return false;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str()) < 0) return false;
    talvek::testing::FormatOutputPtr out(raw);
    AVStream* stream = avformat_new_stream(out.get(), nullptr);
    if (!stream) return false;
    stream->time_base = AVRational{1, 30};
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_VP8;
    stream->codecpar->width = width;
    stream->codecpar->height = height;
    stream->codecpar->format = AV_PIX_FMT_YUV420P;
    AVStream* sound_stream = sound ? add_test_sound_stream(out.get(), *sound) : nullptr;
    if (sound && !sound_stream) return false;
    if (avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(out.get(), nullptr) < 0) return false;

    std::unique_ptr<VideoSource> pattern = make_test_pattern_source(width, height);
    FramePtr picture = make_yuv_frame(width, height);
    PacketPtr packet(av_packet_alloc());
    std::vector<EncodedFrame> encoded;
    for (int i = 0; i < pictures; ++i) {
        encoded.clear();
        if (!pattern->next(picture.get(), static_cast<uint32_t>(i))) return false;
        if (encoder.encode(picture.get(), false, encoded) != 1) return false;
        const EncodedFrame& frame = encoded.front();
        if (av_new_packet(packet.get(), static_cast<int>(frame.data.size())) < 0) return false;
        std::copy(frame.data.begin(), frame.data.end(), packet->data);
        packet->pts = av_rescale_q(i, AVRational{1, 30}, stream->time_base);
        packet->dts = packet->pts;
        packet->duration = av_rescale_q(1, AVRational{1, 30}, stream->time_base);
        packet->stream_index = stream->index;
        if (frame.keyframe) packet->flags |= AV_PKT_FLAG_KEY;
        if (av_interleaved_write_frame(out.get(), packet.get()) < 0) return false;
        if (sound_stream) {
            // The sound of this picture's thirtieth of a second.
            const long first = static_cast<long>(i) * sound->sample_rate / 30;
            const long next = static_cast<long>(i + 1) * sound->sample_rate / 30;
            if (!write_test_sound_packet(out.get(), sound_stream, *sound, first,
                                         static_cast<int>(next - first))) {
                return false;
            }
        }
    }
    return av_write_trailer(out.get()) == 0;
}

}  // namespace talvek::tools::testing
