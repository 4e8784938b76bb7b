// The encoder as a player will see its output: decodable by libavcodec's
// own decoders, close to the source, a keyframe first and on demand, and
// one packet per picture with no delay, for both codecs.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "test_decoder.h"
#include "video_encoder.h"
#include "video_source.h"

namespace talvek::tools {
namespace {

using testing::TestDecoder;

constexpr int WIDTH = 320;
constexpr int HEIGHT = 240;

class VideoEncoderTest : public ::testing::TestWithParam<VideoCodec> {
protected:
    void SetUp() override { open_encoder(300); }

    void open_encoder(int gop) {
        EncoderSettings settings;
        settings.codec = GetParam();
        settings.width = WIDTH;
        settings.height = HEIGHT;
        settings.fps = 30;
        settings.bitrate = 1'000'000;
        settings.gop = gop;
        encoder = std::make_unique<VideoEncoder>();
        ASSERT_TRUE(encoder->open(settings));
        next_number = 0;
    }

    // Draws the next test picture into `picture` and encodes it; expects
    // exactly one packet back at once.
    EncodedFrame encode_next(bool force_keyframe = false) {
        EXPECT_TRUE(pattern->next(picture.get(), next_number++));
        std::vector<EncodedFrame> out;
        EXPECT_EQ(encoder->encode(picture.get(), force_keyframe, out), 1);
        EXPECT_EQ(out.size(), 1u);
        return out.empty() ? EncodedFrame{} : out.front();
    }

    std::unique_ptr<VideoEncoder> encoder;
    std::unique_ptr<VideoSource> pattern = make_test_pattern_source(WIDTH, HEIGHT);
    FramePtr picture = make_yuv_frame(WIDTH, HEIGHT);
    uint32_t next_number = 0;
};

TEST_P(VideoEncoderTest, FirstPacketIsAKeyframe) {
    EXPECT_TRUE(encode_next().keyframe);
    EXPECT_FALSE(encode_next().keyframe);
}

TEST_P(VideoEncoderTest, DecodedPicturesAreCloseToTheSource) {
    TestDecoder decoder;
    ASSERT_TRUE(decoder.open(GetParam()));
    for (int i = 0; i < 20; ++i) {
        const EncodedFrame frame = encode_next();
        FramePtr decoded = decoder.decode(frame.data);
        ASSERT_NE(decoded, nullptr) << "picture " << i;
        ASSERT_EQ(decoded->width, WIDTH);
        ASSERT_EQ(decoded->height, HEIGHT);
        EXPECT_GT(testing::yuv_psnr(decoded.get(), picture.get()), 30.0) << "picture " << i;
    }
}

// Each packet, decoded as soon as it comes out, must show the picture that
// went in just before: a packet of an earlier picture would mean the encoder
// holds pictures back, which a player would see as latency.
TEST_P(VideoEncoderTest, EachPictureComesOutBeforeTheNextGoesIn) {
    TestDecoder decoder;
    ASSERT_TRUE(decoder.open(GetParam()));
    for (uint32_t i = 0; i < 30; ++i) {
        const EncodedFrame frame = encode_next();
        ASSERT_FALSE(frame.data.empty()) << "picture " << i;
        FramePtr decoded = decoder.decode(frame.data);
        ASSERT_NE(decoded, nullptr) << "picture " << i;
        EXPECT_EQ(testing::shown_frame_number(decoded.get()), i);
    }
}

TEST_P(VideoEncoderTest, ForcedKeyframeIsTheVeryNextPacket) {
    EXPECT_TRUE(encode_next().keyframe);
    for (int i = 1; i < 5; ++i) EXPECT_FALSE(encode_next().keyframe) << "picture " << i;
    EXPECT_TRUE(encode_next(true).keyframe);
    EXPECT_FALSE(encode_next().keyframe);
    EXPECT_FALSE(encode_next().keyframe);
    EXPECT_TRUE(encode_next(true).keyframe);
    EXPECT_FALSE(encode_next().keyframe);
}

// A stream that joins mid-way must be decodable from a forced keyframe on,
// without anything sent before it.
TEST_P(VideoEncoderTest, ForcedKeyframeDecodesOnItsOwn) {
    for (int i = 0; i < 6; ++i) encode_next();
    const EncodedFrame key = encode_next(true);
    const EncodedFrame after = encode_next();
    TestDecoder late_joiner;
    ASSERT_TRUE(late_joiner.open(GetParam()));
    FramePtr first = late_joiner.decode(key.data);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(testing::shown_frame_number(first.get()), 6u);
    FramePtr second = late_joiner.decode(after.data);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(testing::shown_frame_number(second.get()), 7u);
}

TEST_P(VideoEncoderTest, KeyframesFollowTheInterval) {
    open_encoder(8);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(encode_next().keyframe, i % 8 == 0) << "picture " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoEncoderTest,
                         ::testing::Values(VideoCodec::VP8, VideoCodec::H264),
                         [](const ::testing::TestParamInfo<VideoCodec>& param) {
                             return std::string(codec_label(param.param));
                         });

}  // namespace
}  // namespace talvek::tools
