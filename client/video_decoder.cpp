// Decoding and conversion of the player's video stream.

#include "video_decoder.h"

#include "log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace talvek::client {

namespace {

// Two decoder threads of its own. Slice threading only: frame threading
// would hold every picture back by one packet per extra thread, and the
// thread asks for exactly one picture per packet.
constexpr int DECODER_THREADS = 2;
// Error lines per run of consecutive failures.
constexpr uint32_t LOGGED_ERRORS_PER_RUN = 5;
// A run this long means the requested keyframe never came: ask again. Half
// a second at 60 fps, one second at 30.
constexpr uint32_t REPEAT_KEYFRAME_REQUEST_EVERY = 30;

}  // namespace

bool VideoDecoder::open(VideoCodec codec, int picture_width, int picture_height,
                        int64_t max_pixels) {
    close();
    width = picture_width;
    height = picture_height;
    const bool h264 = codec == VideoCodec::H264;  // every other value is VP8
    const char* name = h264 ? "H.264" : "VP8";
    video_codec = avcodec_find_decoder(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_VP8);
    if (!video_codec) {
        log_err("[VideoReceiver] %s decoder not found\n", name);
        return false;
    }
    codec_context = avcodec_alloc_context3(video_codec);
    if (!codec_context) {
        log_err("[VideoReceiver] Failed to allocate codec context\n");
        return false;
    }
    codec_context->width = width;
    codec_context->height = height;
    codec_context->thread_count = DECODER_THREADS;
    codec_context->thread_type = FF_THREAD_SLICE;
    codec_context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // The decoder refuses a larger picture before it allocates anything.
    codec_context->max_pixels = max_pixels;
    if (avcodec_open2(codec_context, video_codec, nullptr) < 0) {
        log_err("[VideoReceiver] Failed to open VP8 decoder\n");
        avcodec_free_context(&codec_context);
        return false;
    }
    decoded_frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (!decoded_frame || !packet) {
        log_err("[VideoReceiver] Failed to allocate frame/packet\n");
        close();
        return false;
    }
    decode_errors = 0;
    return true;
}

void VideoDecoder::close() {
    if (scaler) {
        sws_freeContext(scaler);
        scaler = nullptr;
    }
    scaler_source = {};
    if (packet) av_packet_free(&packet);
    if (decoded_frame) av_frame_free(&decoded_frame);
    if (codec_context) avcodec_free_context(&codec_context);
    decode_errors = 0;
}

int VideoDecoder::codec_id() const { return codec_context ? codec_context->codec_id : 0; }

bool VideoDecoder::has_picture() const {
    return decoded_frame != nullptr && decoded_frame->data[0] != nullptr;
}

VideoDecoder::FrameResult VideoDecoder::decode(std::span<const uint8_t> frame) {
    // The packet borrows the frame's bytes; the decoder copies them.
    packet->data = const_cast<uint8_t*>(frame.data());
    packet->size = static_cast<int>(frame.size());
    const int sent = avcodec_send_packet(codec_context, packet);
    packet->data = nullptr;
    packet->size = 0;
    if (sent < 0) return count_error(sent, frame.size(), true);

    const int received = avcodec_receive_frame(codec_context, decoded_frame);
    if (received < 0) return count_error(received, frame.size(), false);
    if (decoded_frame->width > MAX_PICTURE_SIDE || decoded_frame->height > MAX_PICTURE_SIDE) {
        // Within the decoder's pixel cap but too wide or too tall: never
        // converted nor shown, an error of the run like any other.
        av_frame_unref(decoded_frame);
        return count_error(AVERROR_INVALIDDATA, frame.size(), false);
    }
    decode_errors = 0;
    return {true, false};
}

// A run of errors logs its first few and asks for a keyframe at its first;
// the decoder itself is never reset. If that keyframe is lost too, every
// later frame fails in the same run: asking again every
// REPEAT_KEYFRAME_REQUEST_EVERY errors keeps the stream from freezing for good.
VideoDecoder::FrameResult VideoDecoder::count_error(int result, size_t frame_bytes,
                                                    bool in_send) {
    ++decode_errors;
    if (decode_errors <= LOGGED_ERRORS_PER_RUN) {
        if (in_send) {
            log_err("[VideoReceiver] VP8 send_packet error: %d (frame %zu bytes)\n", result,
                    frame_bytes);
        } else {
            log_err("[VideoReceiver] VP8 receive_frame error: %d\n", result);
        }
    }
    return {false, decode_errors % REPEAT_KEYFRAME_REQUEST_EVERY == 1};
}

// The scaler is made for one source size and format; a picture of another
// size or format gets a new one, so a conversion never reads past the planes
// of the picture at hand.
bool VideoDecoder::convert_last_picture(std::vector<uint8_t>& out) {
    if (!has_picture()) return false;
    const AVFrame* picture = decoded_frame;
    const ScalerSource source{picture->width, picture->height, picture->format};
    if (scaler && (source.width != scaler_source.width || source.height != scaler_source.height ||
                   source.format != scaler_source.format)) {
        sws_freeContext(scaler);
        scaler = nullptr;
    }
    if (!scaler) {
        scaler = sws_getContext(source.width, source.height,
                                static_cast<AVPixelFormat>(source.format), width, height,
                                AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!scaler) return false;
        scaler_source = source;
    }
    uint8_t* const planes[4] = {out.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {width * 4, 0, 0, 0};
    sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, planes, strides);
    return true;
}

}  // namespace talvek::client
