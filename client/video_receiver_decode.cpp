// The decoder and the decode thread: whole compressed frames in from the
// queue, the newest picture out as BGRA at the stream's size.

#include <cstdint>
#include <utility>

#include "log.h"
#include "video_receiver.h"

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
// No screen share is larger than 8K; a few bytes of a VP8 keyframe can
// announce 16000 x 16000, which would cost gigabytes in the decoder and in
// our two BGRA buffers. The decoder refuses more pixels itself (max_pixels);
// a picture that passes that but is too wide or too tall is refused here.
constexpr int MAX_PICTURE_SIDE = 8192;
constexpr int64_t MAX_PICTURE_PIXELS = int64_t{MAX_PICTURE_SIDE} * MAX_PICTURE_SIDE;

bool sane_picture_size(const AVFrame& picture) {
    return picture.width <= MAX_PICTURE_SIDE && picture.height <= MAX_PICTURE_SIDE;
}

}  // namespace

// Main thread, before the decode thread starts. On failure nothing is held.
bool VideoReceiver::open_decoder(VideoCodec codec) {
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
    codec_context->max_pixels = MAX_PICTURE_PIXELS;
    if (avcodec_open2(codec_context, video_codec, nullptr) < 0) {
        log_err("[VideoReceiver] Failed to open VP8 decoder\n");
        avcodec_free_context(&codec_context);
        return false;
    }
    decoded_frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (!decoded_frame || !packet) {
        log_err("[VideoReceiver] Failed to allocate frame/packet\n");
        free_decoder();
        return false;
    }
    decode_errors = 0;
    return true;
}

// Main thread, with the decode thread joined (or never started).
void VideoReceiver::free_decoder() {
    if (scaler) {
        sws_freeContext(scaler);
        scaler = nullptr;
    }
    scaler_source = {};
    if (packet) av_packet_free(&packet);
    if (decoded_frame) av_frame_free(&decoded_frame);
    if (codec_context) avcodec_free_context(&codec_context);
}

// Decode thread.
void VideoReceiver::decode_thread_func() {
    std::vector<EncodedFrame> batch;
    batch.reserve(DECODE_QUEUE_SLOTS);
    while (running) {
        if (decode_hooks.before_wait) decode_hooks.before_wait();
        {
            std::unique_lock lock(queue_mutex);
            queue_cv.wait(lock, [this] { return queue_count != 0 || !running; });
            if (!running) break;
            // The whole queue at once, oldest first; the producer goes on
            // filling the ring while this batch is decoded.
            batch.clear();
            for (; queue_count > 0; --queue_count) {
                batch.push_back(std::exchange(decode_queue[queue_read], {}));
                queue_read = (queue_read + 1) % DECODE_QUEUE_SLOTS;
            }
        }
        if (decode_hooks.on_batch) decode_hooks.on_batch(batch);

        decode_batch(batch);
        // Only the last picture of a batch is shown; the others were needed
        // as references. A failed last send leaves the previous picture in
        // decoded_frame, and that one is shown again.
        const bool handed_over =
            running && decoded_frame->data[0] != nullptr && convert_and_hand_over();
        if (decode_hooks.after_batch) decode_hooks.after_batch(handed_over);
    }
    if (decode_hooks.on_exit) decode_hooks.on_exit();
}

// Decode thread.
void VideoReceiver::decode_batch(const std::vector<EncodedFrame>& batch) {
    for (size_t i = 0; i < batch.size(); ++i) {
        if (!running) return;
        const EncodedFrame& frame = batch[i];
        if (frame.empty()) continue;

        // The packet borrows the frame's bytes; the decoder copies them.
        packet->data = const_cast<uint8_t*>(frame.data());
        packet->size = static_cast<int>(frame.size());
        const int sent = avcodec_send_packet(codec_context, packet);
        packet->data = nullptr;
        packet->size = 0;
        if (sent < 0) {
            count_decode_error(sent, frame.size(), true);
        } else {
            int received = avcodec_receive_frame(codec_context, decoded_frame);
            if (received >= 0 && !sane_picture_size(*decoded_frame)) {
                // Never converted nor shown: an error of the run like any other.
                av_frame_unref(decoded_frame);
                received = AVERROR_INVALIDDATA;
            }
            if (received < 0) {
                count_decode_error(received, frame.size(), false);
            } else {
                decode_errors = 0;
            }
        }
        if (decode_hooks.after_frame) decode_hooks.after_frame(i);
    }
}

// Decode thread. A run of errors logs its first few and asks for a keyframe
// at its first; the decoder itself is never reset. If that keyframe is lost
// too, every later frame fails in the same run: asking again every
// REPEAT_KEYFRAME_REQUEST_EVERY errors keeps the stream from freezing for good.
void VideoReceiver::count_decode_error(int result, size_t frame_bytes, bool in_send) {
    ++decode_errors;
    if (decode_errors <= LOGGED_ERRORS_PER_RUN) {
        if (in_send) {
            log_err("[VideoReceiver] VP8 send_packet error: %d (frame %zu bytes)\n", result,
                    frame_bytes);
        } else {
            log_err("[VideoReceiver] VP8 receive_frame error: %d\n", result);
        }
    }
    if (decode_errors % REPEAT_KEYFRAME_REQUEST_EVERY == 1) keyframe_needed = true;
}

// Decode thread. Converts decoded_frame to BGRA at the stream's size and
// swaps it into display_buffer. The scaler is made for one source size and
// format; a picture of another size or format gets a new one, so a
// conversion never reads past the planes of the picture at hand.
bool VideoReceiver::convert_and_hand_over() {
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
        if (!scaler) return false;  // tried again after the next batch
        scaler_source = source;
    }

    uint8_t* const planes[4] = {convert_buffer.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {width * 4, 0, 0, 0};
    sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, planes, strides);

    if (!running) return false;
    std::lock_guard lock(frame_mutex);
    display_buffer.swap(convert_buffer);
    frame_ready = true;
    return true;
}

}  // namespace talvek::client
