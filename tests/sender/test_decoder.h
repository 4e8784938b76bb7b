#pragma once
// The receiving end of the tests: libavcodec's own VP8 and H.264 decoders,
// set up to hand back each picture for the packet that carried it, and the
// measures the tests apply to what comes out.

#include <cstdint>
#include <vector>

#include "ffmpeg_ptr.h"
#include "media_header.h"

namespace talvek::tools::testing {

class TestDecoder {
public:
    bool open(VideoCodec codec);
    // Decodes one complete encoded frame. Null when the decoder fails or
    // holds the picture back.
    FramePtr decode(const std::vector<uint8_t>& frame);

private:
    CodecContextPtr context;
    PacketPtr packet;
};

// Peak signal-to-noise ratio over the Y, U and V planes of two YUV420P
// pictures of the same size, in dB (capped at 100 for identical pictures).
double yuv_psnr(const AVFrame* a, const AVFrame* b);

// Tightly packed B, G, R, A bytes of a decoded picture at its own size.
std::vector<uint8_t> to_bgra(const AVFrame* picture);

// The frame number the test picture shows in a decoded picture.
uint32_t shown_frame_number(const AVFrame* picture);

}  // namespace talvek::tools::testing
