#include "encoded_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace client_test {

namespace {

uint8_t clamp_byte(double v) {
    return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

// Planar YUV 4:2:0 of picture `frame`: a drifting wave and a white square.
std::vector<uint8_t> make_picture(int w, int h, int frame) {
    const size_t luma = static_cast<size_t>(w) * static_cast<size_t>(h);
    const int cw = w / 2;
    const int ch = h / 2;
    std::vector<uint8_t> yuv(luma + 2 * static_cast<size_t>(cw) * static_cast<size_t>(ch));
    const int square = h / 4;
    const int square_x = (frame * w / 12) % (w - square);
    const int square_y = h / 3;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double v = 128.0 + 70.0 * std::sin((x + 6.0 * frame) / 23.0) * std::cos(y / 17.0);
            if (x >= square_x && x < square_x + square && y >= square_y && y < square_y + square)
                v = 235.0;
            yuv[static_cast<size_t>(y * w + x)] = clamp_byte(v);
        }
    }
    uint8_t* u = yuv.data() + luma;
    uint8_t* v = u + static_cast<size_t>(cw) * static_cast<size_t>(ch);
    for (int y = 0; y < ch; ++y) {
        for (int x = 0; x < cw; ++x) {
            u[y * cw + x] = clamp_byte(128.0 + 40.0 * std::sin((x + 3.0 * frame) / 19.0));
            v[y * cw + x] = clamp_byte(128.0 + 40.0 * std::cos(y / 13.0));
        }
    }
    return yuv;
}

void configure(Encoder encoder, AVCodecContext* ctx) {
    ctx->time_base = AVRational{1, 30};
    ctx->framerate = AVRational{30, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->gop_size = 1000;  // one keyframe, then inter frames only
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    if (encoder == Encoder::Vp8) {
        ctx->bit_rate = static_cast<int64_t>(ctx->width) * ctx->height * 60;
        ctx->qmin = 2;
        ctx->qmax = 16;
        av_opt_set(ctx->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(ctx->priv_data, "cpu-used", 8, 0);
        av_opt_set_int(ctx->priv_data, "lag-in-frames", 0, 0);
    } else {
        av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        av_opt_set_int(ctx->priv_data, "crf", 16, 0);
    }
}

}  // namespace

bool encode_moving_picture(Encoder encoder, int width, int height, int frames,
                           EncodedStream& out) {
    const char* name = encoder == Encoder::Vp8 ? "libvpx" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        ADD_FAILURE() << name << " encoder not available";
        return false;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = width;
    ctx->height = height;
    configure(encoder, ctx);
    AVFrame* picture = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    bool ok = avcodec_open2(ctx, codec, nullptr) >= 0;
    if (!ok) ADD_FAILURE() << "cannot open " << name;

    picture->width = width;
    picture->height = height;
    picture->format = AV_PIX_FMT_YUV420P;
    ok = ok && av_frame_get_buffer(picture, 0) >= 0;

    out = EncodedStream{};
    out.width = width;
    out.height = height;
    for (int i = 0; ok && i < frames; ++i) {
        out.yuv.push_back(make_picture(width, height, i));
        const uint8_t* src = out.yuv.back().data();
        ok = av_frame_make_writable(picture) >= 0;
        for (int plane = 0; ok && plane < 3; ++plane) {
            const int pw = plane == 0 ? width : width / 2;
            const int ph = plane == 0 ? height : height / 2;
            for (int y = 0; y < ph; ++y) {
                std::memcpy(picture->data[plane] + y * picture->linesize[plane], src,
                            static_cast<size_t>(pw));
                src += pw;
            }
        }
        picture->pts = i;
        ok = ok && avcodec_send_frame(ctx, picture) >= 0;
        size_t got = 0;
        while (ok && avcodec_receive_packet(ctx, pkt) == 0) {
            out.packets.emplace_back(pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt);
            ++got;
        }
        if (ok && got != 1) {
            ADD_FAILURE() << name << " gave " << got << " packets for picture " << i;
            ok = false;
        }
    }
    av_packet_free(&pkt);
    av_frame_free(&picture);
    avcodec_free_context(&ctx);
    return ok;
}

std::vector<uint8_t> reference_bgra(const EncodedStream& stream, size_t index, int dst_width,
                                    int dst_height) {
    const int w = stream.width;
    const int h = stream.height;
    const uint8_t* y = stream.yuv.at(index).data();
    const uint8_t* u = y + static_cast<size_t>(w) * static_cast<size_t>(h);
    const uint8_t* v = u + static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2);
    const uint8_t* planes[4] = {y, u, v, nullptr};
    const int strides[4] = {w, w / 2, w / 2, 0};

    std::vector<uint8_t> out(static_cast<size_t>(dst_width) * static_cast<size_t>(dst_height) * 4);
    uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
    const int dst_strides[4] = {dst_width * 4, 0, 0, 0};
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_YUV420P, dst_width, dst_height,
                                     AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    sws_scale(sws, planes, strides, 0, h, dst, dst_strides);
    sws_freeContext(sws);
    return out;
}

double psnr_bgr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0.0;
    double sum = 0.0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) continue;  // alpha
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
        ++n;
    }
    if (sum == 0.0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(n)));
}

}  // namespace client_test
