// Whole compressed frames through the player's decoder and converter, one
// at a time as the decode thread feeds them, the picture converted to BGRA
// at the stream size where a batch would end.
//
//   input := setup:u8 { flags:u8 length:u16 frame }...
//   setup    bit 0: H.264 (else VP8); bits 1-3: stream size (STREAM_SIZES)
//   flags    bit 0: a batch ends after this frame: convert its picture
//
// A fresh decoder per input, so no decoder state leaks from one input into
// the next. The player refuses pictures above 8192 a side; here the cap is
// tighter still, as a few bytes can announce a picture of millions of
// pixels and each one would only measure the allocator.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_records.h"
#include "video_decoder.h"

extern "C" {
#include <libavutil/log.h>
}

using talvek::VideoCodec;
using talvek::client::VideoDecoder;
using talvek::fuzz::InputReader;

namespace {

struct StreamSize {
    int width;
    int height;
};

// Odd sizes too: the conversion scales to whatever the command line gave.
constexpr StreamSize STREAM_SIZES[8] = {{64, 64},   {176, 144}, {320, 180}, {33, 17},
                                        {1, 1},     {640, 360}, {16, 720},  {97, 55}};
constexpr int64_t MAX_PICTURE_PIXELS = 1280 * 720;
static_assert(MAX_PICTURE_PIXELS <= VideoDecoder::MAX_PICTURE_PIXELS);

void run(const uint8_t* data, size_t size) {
    InputReader in(data, size);
    const uint8_t setup = in.u8();
    const VideoCodec codec = (setup & 1) ? VideoCodec::H264 : VideoCodec::VP8;
    const StreamSize stream = STREAM_SIZES[(setup >> 1) & 7];

    VideoDecoder decoder;
    FUZZ_CHECK(decoder.open(codec, stream.width, stream.height, MAX_PICTURE_PIXELS));
    const size_t picture_bytes =
        static_cast<size_t>(stream.width) * static_cast<size_t>(stream.height) * 4;
    std::vector<uint8_t> picture(picture_bytes);

    uint32_t errors = 0;
    while (!in.empty()) {
        const uint8_t flags = in.u8();
        const std::vector<uint8_t> frame = in.bytes(in.u16());
        if (frame.empty()) continue;  // the thread skips empty frames
        const VideoDecoder::FrameResult r = decoder.decode(frame);
        // The run counts every failure and ends at the first picture.
        errors = r.picture ? 0 : errors + 1;
        FUZZ_CHECK(decoder.error_run() == errors);
        FUZZ_CHECK(r.keyframe_wanted == (errors % 30 == 1));
        if (flags & 1) {
            const bool converted = decoder.convert_last_picture(picture);
            FUZZ_CHECK(!converted || decoder.has_picture());
            FUZZ_CHECK(picture.size() == picture_bytes);
        }
    }
    decoder.convert_last_picture(picture);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);  // a line per broken frame otherwise
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run(data, size);
    return 0;
}
