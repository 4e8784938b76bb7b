#include "test_decoder.h"

#include <algorithm>
#include <cmath>

#include "picture_scaler.h"
#include "test_pattern.h"

namespace talvek::tools::testing {

bool TestDecoder::open(VideoCodec codec) {
    const AVCodec* decoder =
        avcodec_find_decoder(codec == VideoCodec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_VP8);
    if (!decoder) return false;
    context.reset(avcodec_alloc_context3(decoder));
    packet.reset(av_packet_alloc());
    if (!context || !packet) return false;
    // Frame threads would hold pictures back; one thread gives each at once.
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    return avcodec_open2(context.get(), decoder, nullptr) == 0;
}

FramePtr TestDecoder::decode(const std::vector<uint8_t>& frame) {
    if (!context || frame.empty()) return nullptr;
    if (av_new_packet(packet.get(), static_cast<int>(frame.size())) < 0) return nullptr;
    std::copy(frame.begin(), frame.end(), packet->data);
    const int sent = avcodec_send_packet(context.get(), packet.get());
    av_packet_unref(packet.get());
    if (sent < 0) return nullptr;
    FramePtr picture(av_frame_alloc());
    if (!picture || avcodec_receive_frame(context.get(), picture.get()) < 0) return nullptr;
    return picture;
}

namespace {

double squared_error(const AVFrame* a, const AVFrame* b, int plane, int width, int height) {
    double sum = 0.0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* ra = a->data[plane] + static_cast<ptrdiff_t>(y) * a->linesize[plane];
        const uint8_t* rb = b->data[plane] + static_cast<ptrdiff_t>(y) * b->linesize[plane];
        for (int x = 0; x < width; ++x) {
            const double d = ra[x] - rb[x];
            sum += d * d;
        }
    }
    return sum;
}

}  // namespace

double yuv_psnr(const AVFrame* a, const AVFrame* b) {
    const int w = a->width;
    const int h = a->height;
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    const double error = squared_error(a, b, 0, w, h) + squared_error(a, b, 1, cw, ch) +
                         squared_error(a, b, 2, cw, ch);
    const double samples = static_cast<double>(w) * h + 2.0 * cw * ch;
    const double mse = error / samples;
    if (mse <= 0.0) return 100.0;
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<uint8_t> to_bgra(const AVFrame* picture) {
    FramePtr bgra(av_frame_alloc());
    bgra->format = AV_PIX_FMT_BGRA;
    bgra->width = picture->width;
    bgra->height = picture->height;
    if (av_frame_get_buffer(bgra.get(), 1) < 0) return {};
    PictureScaler scaler;
    if (!scaler.scale(picture->data, picture->linesize, picture->width, picture->height,
                      static_cast<AVPixelFormat>(picture->format), bgra.get())) {
        return {};
    }
    std::vector<uint8_t> out;
    const size_t row = static_cast<size_t>(picture->width) * 4;
    for (int y = 0; y < picture->height; ++y) {
        const uint8_t* p = bgra->data[0] + static_cast<ptrdiff_t>(y) * bgra->linesize[0];
        out.insert(out.end(), p, p + row);
    }
    return out;
}

uint32_t shown_frame_number(const AVFrame* picture) {
    const std::vector<uint8_t> bgra = to_bgra(picture);
    if (bgra.empty()) return UINT32_MAX;
    return read_frame_number(bgra.data(), picture->width, picture->height, picture->width * 4);
}

}  // namespace talvek::tools::testing
