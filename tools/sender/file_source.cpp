// A file's video as a source: demuxed with libavformat, decoded with the
// matching libavcodec decoder and scaled to the stream size. At the end of
// the file it seeks back to the start, so a short clip can feed a long run.

#include "ffmpeg_ptr.h"
#include "log.h"
#include "picture_scaler.h"
#include "video_source.h"

namespace talvek::tools {

namespace {

class FileSource final : public VideoSource {
public:
    explicit FileSource(std::string path_) : path(std::move(path_)) {}

    bool open();
    bool next(AVFrame* frame, uint32_t frame_id) override;
    std::string describe() const override { return "file " + path; }

private:
    // 1: a picture is in `decoded`; 0: the file is at its end; -1: error.
    int read_picture();
    bool rewind();

    std::string path;
    FormatInputPtr format;
    CodecContextPtr decoder;
    PacketPtr packet;
    FramePtr decoded;
    PictureScaler scaler;
    int stream_index = -1;
    bool draining = false;  // the demuxer ended; the decoder gives what it holds
};

bool FileSource::open() {
    AVFormatContext* raw = nullptr;
    int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (err < 0) {
        log_err("[Sender] Error: cannot open %s: %s\n", path.c_str(), av_error_text(err).c_str());
        return false;
    }
    format.reset(raw);
    err = avformat_find_stream_info(format.get(), nullptr);
    if (err < 0) {
        log_err("[Sender] Error: cannot read the streams of %s: %s\n", path.c_str(),
                av_error_text(err).c_str());
        return false;
    }
    const AVCodec* codec = nullptr;
    stream_index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream_index < 0 || !codec) {
        log_err("[Sender] Error: %s has no video stream we can decode\n", path.c_str());
        return false;
    }
    decoder.reset(avcodec_alloc_context3(codec));
    packet.reset(av_packet_alloc());
    decoded.reset(av_frame_alloc());
    if (!decoder || !packet || !decoded) {
        log_err("[Sender] Error: out of memory opening %s\n", path.c_str());
        return false;
    }
    const AVStream* stream = format->streams[stream_index];
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    err = avcodec_open2(decoder.get(), codec, nullptr);
    if (err < 0) {
        log_err("[Sender] Error: cannot open the %s decoder: %s\n", codec->name,
                av_error_text(err).c_str());
        return false;
    }
    return true;
}

int FileSource::read_picture() {
    for (;;) {
        int err = avcodec_receive_frame(decoder.get(), decoded.get());
        if (err == 0) return 1;
        if (err == AVERROR_EOF) return 0;
        if (err != AVERROR(EAGAIN)) {
            log_err("[Sender] Error: decoding %s: %s\n", path.c_str(), av_error_text(err).c_str());
            return -1;
        }
        if (draining) return 0;

        err = av_read_frame(format.get(), packet.get());
        if (err == AVERROR_EOF) {
            draining = true;
            avcodec_send_packet(decoder.get(), nullptr);
            continue;
        }
        if (err < 0) {
            log_err("[Sender] Error: reading %s: %s\n", path.c_str(), av_error_text(err).c_str());
            return -1;
        }
        if (packet->stream_index == stream_index) {
            // A damaged packet costs one picture, not the run.
            avcodec_send_packet(decoder.get(), packet.get());
        }
        av_packet_unref(packet.get());
    }
}

bool FileSource::rewind() {
    int err = av_seek_frame(format.get(), stream_index, 0, AVSEEK_FLAG_BACKWARD);
    if (err < 0) err = avformat_seek_file(format.get(), -1, INT64_MIN, 0, 0, 0);
    if (err < 0) {
        log_err("[Sender] Error: cannot go back to the start of %s: %s\n", path.c_str(),
                av_error_text(err).c_str());
        return false;
    }
    avcodec_flush_buffers(decoder.get());
    draining = false;
    return true;
}

bool FileSource::next(AVFrame* frame, uint32_t frame_id) {
    (void)frame_id;
    int got = read_picture();
    if (got == 0) {
        // One rewind per call: a file that yields nothing from its start
        // would otherwise loop here forever.
        if (!rewind()) return false;
        got = read_picture();
        if (got == 0) log_err("[Sender] Error: %s holds no picture\n", path.c_str());
    }
    if (got <= 0) return false;

    if (av_frame_make_writable(frame) < 0) return false;
    const bool ok = scaler.scale(decoded->data, decoded->linesize, decoded->width,
                                 decoded->height, static_cast<AVPixelFormat>(decoded->format),
                                 frame);
    av_frame_unref(decoded.get());
    return ok;
}

}  // namespace

std::unique_ptr<VideoSource> open_file_source(const std::string& path) {
    auto source = std::make_unique<FileSource>(path);
    if (!source->open()) return nullptr;
    return source;
}

}  // namespace talvek::tools
