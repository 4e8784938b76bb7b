#include "media_file_stream.h"

#include "log.h"

namespace talvek::tools {

MediaFileStream::OpenResult MediaFileStream::open(const std::string& file_path,
                                                  AVMediaType type) {
    path = file_path;
    AVFormatContext* raw = nullptr;
    int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (err < 0) {
        log_err("[Sender] Error: cannot open %s: %s\n", path.c_str(), av_error_text(err).c_str());
        return OpenResult::Failed;
    }
    format.reset(raw);
    err = avformat_find_stream_info(format.get(), nullptr);
    if (err < 0) {
        log_err("[Sender] Error: cannot read the streams of %s: %s\n", path.c_str(),
                av_error_text(err).c_str());
        return OpenResult::Failed;
    }
    const AVCodec* codec = nullptr;
    stream_index = av_find_best_stream(format.get(), type, -1, -1, &codec, 0);
    if (stream_index == AVERROR_STREAM_NOT_FOUND) return OpenResult::NoSuchStream;
    if (stream_index < 0 || !codec) {
        log_err("[Sender] Error: %s has no %s stream we can decode\n", path.c_str(),
                av_get_media_type_string(type));
        return OpenResult::Failed;
    }
    decoder.reset(avcodec_alloc_context3(codec));
    packet.reset(av_packet_alloc());
    decoded.reset(av_frame_alloc());
    if (!decoder || !packet || !decoded) {
        log_err("[Sender] Error: out of memory opening %s\n", path.c_str());
        return OpenResult::Failed;
    }
    avcodec_parameters_to_context(decoder.get(), format->streams[stream_index]->codecpar);
    err = avcodec_open2(decoder.get(), codec, nullptr);
    if (err < 0) {
        log_err("[Sender] Error: cannot open the %s decoder: %s\n", codec->name,
                av_error_text(err).c_str());
        return OpenResult::Failed;
    }
    return OpenResult::Opened;
}

int MediaFileStream::receive() {
    for (;;) {
        int err = avcodec_receive_frame(decoder.get(), decoded.get());
        if (err == 0) return 1;
        if (err != AVERROR_EOF && err != AVERROR(EAGAIN)) {
            log_err("[Sender] Error: decoding %s: %s\n", path.c_str(), av_error_text(err).c_str());
            return -1;
        }
        if (err == AVERROR_EOF || draining) return 0;

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
            // A damaged packet costs what it carries, not the run.
            avcodec_send_packet(decoder.get(), packet.get());
        }
        av_packet_unref(packet.get());
    }
}

bool MediaFileStream::rewind() {
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

}  // namespace talvek::tools
