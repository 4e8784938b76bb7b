#include "ffmpeg_ptr.h"

extern "C" {
#include <libavutil/error.h>
}

namespace talvek::tools {

std::string av_error_text(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

FramePtr make_yuv_frame(int width, int height) {
    FramePtr frame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    // 32-byte alignment: the encoders' SIMD reads whole vectors per row.
    if (av_frame_get_buffer(frame.get(), 32) < 0) return nullptr;
    return frame;
}

}  // namespace talvek::tools
