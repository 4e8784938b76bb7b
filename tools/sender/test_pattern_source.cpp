// The test picture as a video source: drawn in B, G, R, A and converted, so
// the receiver can read the frame number back from what it decodes.

#include <vector>

#include "picture_scaler.h"
#include "test_pattern.h"
#include "video_source.h"

namespace talvek::tools {

namespace {

class TestPatternSource final : public VideoSource {
public:
    TestPatternSource(int width_, int height_)
        : width(width_), height(height_),
          bgra(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4) {}

    bool next(AVFrame* frame, uint32_t frame_id) override {
        draw_test_pattern(bgra.data(), width, height, frame_id);
        const uint8_t* planes[1] = {bgra.data()};
        const int strides[1] = {width * 4};
        // The encoder may still hold a reference to the last picture.
        if (av_frame_make_writable(frame) < 0) return false;
        return scaler.scale(planes, strides, width, height, AV_PIX_FMT_BGRA, frame);
    }

    std::string describe() const override { return "test pattern"; }

private:
    int width;
    int height;
    std::vector<uint8_t> bgra;
    PictureScaler scaler;
};

}  // namespace

std::unique_ptr<VideoSource> make_test_pattern_source(int width, int height) {
    return std::make_unique<TestPatternSource>(width, height);
}

}  // namespace talvek::tools
