#pragma once
// The stream's decoder and converter: whole compressed frames in, one at a
// time, and the last decoded picture out as BGRA at the stream's size. It
// counts runs of decoder errors, logs their first few and says when a
// keyframe should be asked for. Not thread-safe: while the decode thread
// runs it is the only user.

#include <cstdint>
#include <span>
#include <vector>

#include "fragment_table.h"
#include "media_header.h"

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace talvek::client {

class VideoDecoder {
public:
    // No screen share is larger than 8K a side; a few bytes of a VP8
    // keyframe can announce 16000 x 16000.
    static constexpr int MAX_PICTURE_SIDE = 8192;
    static constexpr int64_t MAX_PICTURE_PIXELS = int64_t{MAX_PICTURE_SIDE} * MAX_PICTURE_SIDE;

    struct FrameResult {
        bool picture = false;          // the frame gave a picture of a sane size
        bool keyframe_wanted = false;  // it failed, and the run says ask for a keyframe
    };

    VideoDecoder() = default;
    ~VideoDecoder() { close(); }
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // The VP8 decoder, or H.264 for codec value 1, for pictures converted to
    // width x height. Closes first. On false the failure is logged and
    // nothing is held. `max_pixels` caps what the decoder may allocate.
    bool open(VideoCodec codec, int width, int height, int64_t max_pixels = MAX_PICTURE_PIXELS);
    // Converter, packet, picture and decoder, in that order; safe when closed.
    void close();
    bool is_open() const { return codec_context != nullptr; }
    // The opened decoder's FFmpeg codec id, 0 when closed.
    int codec_id() const;

    // One frame through the decoder: one send, one receive.
    FrameResult decode(std::span<const uint8_t> frame);
    // The last decoded picture, converted to BGRA into `out` (width * height
    // * 4 bytes, as given to open). False when there is no picture yet or
    // no converter could be made; that is tried again on the next call.
    bool convert_last_picture(std::vector<uint8_t>& out);
    bool has_picture() const;

    uint32_t error_run() const { return decode_errors; }

private:
    struct ScalerSource {
        int width = 0;
        int height = 0;
        int format = -1;
    };

    FrameResult count_error(int result, size_t frame_bytes, bool in_send);

    int width = 0;
    int height = 0;
    const AVCodec* video_codec = nullptr;
    AVCodecContext* codec_context = nullptr;
    AVFrame* decoded_frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    ScalerSource scaler_source;  // what scaler was made for
    uint32_t decode_errors = 0;  // consecutive failures
};

}  // namespace talvek::client
