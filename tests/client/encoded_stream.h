#pragma once
// Real compressed streams for the decode tests, made with libavcodec's own
// encoders from a synthetic moving picture, plus the BGRA pictures a perfect
// receiver would show for them.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace client_test {

enum class Encoder { Vp8, H264 };

// Names the parameter in test listings.
inline void PrintTo(Encoder e, std::ostream* os) { *os << (e == Encoder::Vp8 ? "VP8" : "H.264"); }

struct EncodedStream {
    int width = 0;
    int height = 0;
    std::vector<std::vector<uint8_t>> packets;  // one compressed frame per picture
    std::vector<std::vector<uint8_t>> yuv;      // the source pictures, YUV 4:2:0 planar
};

// `frames` pictures of a smooth pattern drifting 6 pixels per frame with a
// bright square crossing it, so neighbouring frames differ clearly. Only the
// first frame is a keyframe; every picture yields exactly one packet.
// Returns false (with a gtest failure) when the encoder is missing or lags.
bool encode_moving_picture(Encoder encoder, int width, int height, int frames,
                           EncodedStream& out);

// Source picture `index` converted to BGRA at dst_width x dst_height, the way
// the receiver converts decoded pictures (bilinear).
std::vector<uint8_t> reference_bgra(const EncodedStream& stream, size_t index, int dst_width,
                                    int dst_height);

// Peak signal-to-noise ratio over the B, G and R bytes of two equal-sized
// BGRA pictures; alpha is ignored. 99 for identical pictures.
double psnr_bgr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace client_test
