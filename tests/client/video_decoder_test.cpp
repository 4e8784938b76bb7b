// The decoder and converter on their own, fed real VP8 and H.264 frames one
// at a time: pictures, the error run and its keyframe decisions, and the
// size no screen share has. No receiver and no thread.

#include "video_decoder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "encoded_stream.h"
#include "log_text.h"
#include "vp8_frames.h"

using client_test::garbage_frame;
using client_test::EncodedStream;
using client_test::Encoder;
using client_test::psnr_bgr;
using client_test::reference_bgra;
using talvek::VideoCodec;
using talvek::client::VideoDecoder;
using talvek::testing::count_of;

namespace {

constexpr double MIN_PSNR = 30.0;

// A VP8 keyframe's size fields (bytes 6 to 9: 14 bits of width, then of
// height, each under 2 scaling bits) rewritten to announce another size.
std::vector<uint8_t> vp8_keyframe_announcing(std::vector<uint8_t> keyframe, int width,
                                             int height) {
    EXPECT_GE(keyframe.size(), 10u);
    EXPECT_EQ(keyframe[0] & 1, 0) << "not a keyframe";
    keyframe[6] = static_cast<uint8_t>(width & 0xFF);
    keyframe[7] = static_cast<uint8_t>((width >> 8) & 0x3F);
    keyframe[8] = static_cast<uint8_t>(height & 0xFF);
    keyframe[9] = static_cast<uint8_t>((height >> 8) & 0x3F);
    return keyframe;
}

long peak_resident_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class VideoDecoderStream : public ::testing::TestWithParam<Encoder> {};

TEST_P(VideoDecoderStream, EveryFrameGivesItsOwnPictureAtTheTargetSize) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(GetParam(), 320, 240, 6, stream));
    VideoDecoder decoder;
    const VideoCodec codec = GetParam() == Encoder::Vp8 ? VideoCodec::VP8 : VideoCodec::H264;
    ASSERT_TRUE(decoder.open(codec, 160, 120));
    std::vector<uint8_t> picture(160 * 120 * 4);
    EXPECT_FALSE(decoder.convert_last_picture(picture)) << "nothing decoded yet";
    for (size_t i = 0; i < stream.packets.size(); ++i) {
        const VideoDecoder::FrameResult r = decoder.decode(stream.packets[i]);
        EXPECT_TRUE(r.picture) << i;
        EXPECT_FALSE(r.keyframe_wanted) << i;
        ASSERT_TRUE(decoder.convert_last_picture(picture)) << i;
        EXPECT_GT(psnr_bgr(picture, reference_bgra(stream, i, 160, 120)), MIN_PSNR) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoDecoderStream, ::testing::Values(Encoder::Vp8, Encoder::H264));

TEST(VideoDecoder, ErrorRunAsksAtItsFirstErrorAndEveryThirtiethAndLogsFive) {
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.open(VideoCodec::VP8, 64, 64));
    testing::internal::CaptureStderr();
    std::vector<int> asked_at;
    for (int i = 1; i <= 61; ++i) {
        const VideoDecoder::FrameResult r = decoder.decode(garbage_frame());
        EXPECT_FALSE(r.picture);
        if (r.keyframe_wanted) asked_at.push_back(i);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(asked_at, (std::vector<int>{1, 31, 61}));
    EXPECT_EQ(count_of(err, "[VideoReceiver] VP8 send_packet error: "), 5u) << err;
    EXPECT_EQ(decoder.error_run(), 61u);

    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 64, 64, 1, stream));
    EXPECT_TRUE(decoder.decode(stream.packets[0]).picture);
    EXPECT_EQ(decoder.error_run(), 0u) << "a picture ends the run";
}

TEST(VideoDecoder, CloseIsSafeTwiceAndOpenAgainWorks) {
    VideoDecoder decoder;
    decoder.close();
    ASSERT_TRUE(decoder.open(VideoCodec::H264, 64, 64));
    EXPECT_TRUE(decoder.is_open());
    ASSERT_TRUE(decoder.open(VideoCodec::VP8, 64, 64)) << "open closes first";
    decoder.close();
    decoder.close();
    EXPECT_FALSE(decoder.is_open());
    EXPECT_FALSE(decoder.has_picture());
}

// ---- a size no screen share has -------------------------------------------------

TEST(VideoDecoder, KeyframeAnnouncingAHugePictureIsAnErrorAndAllocatesNothing) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 320, 240, 1, stream));
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.open(VideoCodec::VP8, 320, 240));
    const long peak_before = peak_resident_kib();

    testing::internal::CaptureStderr();
    const VideoDecoder::FrameResult r =
        decoder.decode(vp8_keyframe_announcing(stream.packets[0], 16000, 16000));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(r.picture);
    EXPECT_TRUE(r.keyframe_wanted) << "the first error of a run asks";
    EXPECT_EQ(count_of(err, "[VideoReceiver] VP8 "), 1u) << err;
    EXPECT_FALSE(decoder.has_picture());
    // 16000 x 16000 in 4:2:0 alone would be 366 MiB.
    EXPECT_LT(peak_resident_kib() - peak_before, 64 * 1024) << "the decoder allocated the picture";

    // A picture of a sane size carries on.
    EXPECT_TRUE(decoder.decode(stream.packets[0]).picture);
    std::vector<uint8_t> picture(320 * 240 * 4);
    ASSERT_TRUE(decoder.convert_last_picture(picture));
    EXPECT_GT(psnr_bgr(picture, reference_bgra(stream, 0, 320, 240)), MIN_PSNR);
}

TEST(VideoDecoder, PicturesUpTo8192ASideAreShownAndWiderOnesRefused) {
    EncodedStream widest;
    EncodedStream too_wide;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 8192, 16, 1, widest));
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 8200, 16, 1, too_wide));
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.open(VideoCodec::VP8, 512, 16));

    std::vector<uint8_t> picture(512 * 16 * 4);
    ASSERT_TRUE(decoder.decode(widest.packets[0]).picture) << "8192 wide is a picture to show";
    ASSERT_TRUE(decoder.convert_last_picture(picture));
    EXPECT_GT(psnr_bgr(picture, reference_bgra(widest, 0, 512, 16)), MIN_PSNR);

    testing::internal::CaptureStderr();
    const VideoDecoder::FrameResult r = decoder.decode(too_wide.packets[0]);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(r.picture);
    EXPECT_TRUE(r.keyframe_wanted);
    EXPECT_EQ(count_of(err, "[VideoReceiver] VP8 receive_frame error: "), 1u) << err;
    EXPECT_FALSE(decoder.convert_last_picture(picture)) << "the refused picture was converted";

    EXPECT_TRUE(decoder.decode(widest.packets[0]).picture);
}

}  // namespace
