#include "video_encoder.h"

#include <algorithm>
#include <iterator>

extern "C" {
#include <libavutil/opt.h>
}

#include "log.h"

namespace talvek::tools {

namespace {

struct PrivateOption {
    const char* name;
    const char* value;
};

// libvpx: the real-time path at a high speed step, no frames held back for
// alt-ref, never a skipped picture, and error-resilient mode so a lost frame
// does not poison the probability tables of the frames after it.
constexpr PrivateOption VP8_OPTIONS[] = {
    {"deadline", "realtime"},   {"cpu-used", "8"},       {"lag-in-frames", "0"},
    {"auto-alt-ref", "0"},      {"drop-threshold", "0"}, {"error-resilient", "default"},
};

// libx264: zerolatency turns off lookahead, B-frames and frame threads;
// forced-idr makes a requested keyframe an IDR, the only kind a decoder
// joining or recovering mid-stream can start from.
constexpr PrivateOption H264_OPTIONS[] = {
    {"preset", "veryfast"},
    {"tune", "zerolatency"},
    {"forced-idr", "1"},
};

bool set_options(AVCodecContext* context, const PrivateOption* options, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        int err = av_opt_set(context->priv_data, options[i].name, options[i].value, 0);
        if (err < 0) {
            log_err("[Sender] Error: %s refuses %s=%s: %s\n", context->codec->name,
                    options[i].name, options[i].value, av_error_text(err).c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

const char* encoder_name(VideoCodec codec) {
    return codec == VideoCodec::H264 ? "libx264" : "libvpx";
}

const char* codec_label(VideoCodec codec) { return codec == VideoCodec::H264 ? "h264" : "vp8"; }

bool VideoEncoder::open(const EncoderSettings& s) {
    const char* name = encoder_name(s.codec);
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        log_err("[Sender] Error: this FFmpeg has no %s encoder\n", name);
        return false;
    }
    context.reset(avcodec_alloc_context3(codec));
    packet.reset(av_packet_alloc());
    if (!context || !packet) {
        log_err("[Sender] Error: out of memory opening %s\n", name);
        return false;
    }

    AVCodecContext* c = context.get();
    c->width = s.width;
    c->height = s.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->framerate = av_d2q(s.fps, 100000);
    c->time_base = av_inv_q(c->framerate);  // pts counts pictures
    c->gop_size = s.gop;
    c->max_b_frames = 0;
    c->thread_count = 0;  // the encoder picks; neither threads across frames here
    // Constant rate with a one-second buffer, as a network link wants it.
    c->bit_rate = s.bitrate;
    c->rc_max_rate = s.bitrate;
    c->rc_buffer_size = static_cast<int>(std::min<int64_t>(s.bitrate, INT32_MAX));
    if (s.codec == VideoCodec::H264) {
        if (!set_options(c, H264_OPTIONS, std::size(H264_OPTIONS))) return false;
    } else {
        c->rc_min_rate = s.bitrate;  // min = max = average: libvpx's CBR mode
        if (!set_options(c, VP8_OPTIONS, std::size(VP8_OPTIONS))) return false;
    }

    int err = avcodec_open2(c, codec, nullptr);
    if (err < 0) {
        log_err("[Sender] Error: cannot open %s for %dx%d: %s\n", name, s.width, s.height,
                av_error_text(err).c_str());
        context.reset();
        return false;
    }
    next_pts = 0;
    return true;
}

int VideoEncoder::collect(std::vector<EncodedFrame>& out) {
    int produced = 0;
    for (;;) {
        int err = avcodec_receive_packet(context.get(), packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return produced;
        if (err < 0) {
            log_err("[Sender] Error: %s: %s\n", context->codec->name, av_error_text(err).c_str());
            return -1;
        }
        EncodedFrame frame;
        frame.data.assign(packet->data, packet->data + packet->size);
        frame.keyframe = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet.get());
        out.push_back(std::move(frame));
        ++produced;
    }
}

int VideoEncoder::encode(AVFrame* picture, bool force_keyframe, std::vector<EncodedFrame>& out) {
    if (!context) return -1;
    picture->pts = next_pts++;
    // Both wrappers turn an I picture type into a keyframe request.
    picture->pict_type = force_keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    int err = avcodec_send_frame(context.get(), picture);
    if (err < 0) {
        log_err("[Sender] Error: %s: %s\n", context->codec->name, av_error_text(err).c_str());
        return -1;
    }
    return collect(out);
}

}  // namespace talvek::tools
