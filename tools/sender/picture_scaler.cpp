#include "picture_scaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "log.h"

namespace talvek::tools {

bool PictureScaler::scale(const uint8_t* const planes[], const int strides[], int width,
                          int height, AVPixelFormat format, AVFrame* out) {
    const auto out_format = static_cast<AVPixelFormat>(out->format);
    // sws_getCachedContext frees the old context itself when it needs a new one.
    SwsContext* next = sws_getCachedContext(context.release(), width, height, format, out->width,
                                            out->height, out_format, SWS_BILINEAR, nullptr,
                                            nullptr, nullptr);
    context.reset(next);
    if (!context) {
        log_err("[Sender] Error: cannot convert %dx%d %s pictures\n", width, height,
                av_get_pix_fmt_name(format));
        return false;
    }
    sws_scale(context.get(), planes, strides, 0, height, out->data, out->linesize);
    return true;
}

}  // namespace talvek::tools
