#pragma once
// Converts pictures of any size and pixel format into the encoder's YUV420P
// frames. The libswscale context is cached and rebuilt only when the source
// changes, since a file's stream may change size midway.

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "ffmpeg_ptr.h"

namespace talvek::tools {

class PictureScaler {
public:
    // Scales the planes of a width x height picture of `format` into `out`,
    // which holds its own size and format. Logs and returns false on failure.
    bool scale(const uint8_t* const planes[], const int strides[], int width, int height,
               AVPixelFormat format, AVFrame* out);

private:
    SwsPtr context;
};

}  // namespace talvek::tools
