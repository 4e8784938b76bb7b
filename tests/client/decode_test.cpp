// The decode thread fed with real VP8 and H.264 streams through
// handle_fragment, without a window. Hooks hold the thread or watch its
// batches; pictures are taken from the hand-over buffer as render() would.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "decode_hooks.h"
#include "encoded_stream.h"
#include "fragmenter.h"
#include "log_text.h"
#include "vp8_frames.h"
#include "receiver_peer.h"
#include "video_receiver.h"
#include "wait_until.h"

using client_test::EncodedStream;
using client_test::garbage_frame;
using client_test::Encoder;
using client_test::psnr_bgr;
using client_test::reference_bgra;
using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::testing::count_of;
using talvek::testing::wait_until;
using Peer = talvek::client::VideoReceiverTestPeer;
using namespace std::chrono_literals;

namespace {

constexpr double MIN_PSNR = 30.0;

VideoCodec codec_for(Encoder e) { return e == Encoder::Vp8 ? VideoCodec::VP8 : VideoCodec::H264; }

const char* name_of(Encoder e) { return e == Encoder::Vp8 ? "Vp8" : "H264"; }

// A receiver without a window whose decode thread reports every batch and
// can be held at its first wait until open() is called.
class DecodeTest : public ::testing::Test {
protected:
    void TearDown() override { stop(); }

    bool bring_up(int width, int height, VideoCodec codec, bool held = false) {
        held_at_start = held;
        hooks.before_wait = [this] {
            if (!first_wait.exchange(false)) return;
            while (held_at_start && Peer::running(receiver)) std::this_thread::sleep_for(1ms);
        };
        hooks.on_batch = [this](const std::vector<VideoReceiver::EncodedFrame>& batch) {
            std::lock_guard lock(batches_mutex);
            batches.push_back(batch);
        };
        hooks.after_frame = [this](size_t index) {
            ++frames_decoded;
            if (after_frame) after_frame(index);
        };
        hooks.after_batch = [this](bool handed_over) {
            if (handed_over) ++hand_overs;
            ++batches_done;
        };
        return receiver.init_without_window(width, height, codec);
    }

    void open() { held_at_start = false; }

    void stop() {
        testing::internal::CaptureStdout();
        receiver.stop();
        stop_output = testing::internal::GetCapturedStdout();
    }

    // Cuts an encoded frame into fragments and feeds them in order.
    void feed_frame(const std::vector<uint8_t>& frame) {
        std::vector<talvek::tools::Datagram> datagrams;
        ASSERT_TRUE(talvek::tools::cut_into_fragments(next_id++, frame.data(), frame.size(), {},
                                                      datagrams));
        for (const auto& d : datagrams) {
            receiver.handle_fragment(d.data(), static_cast<int>(d.size()));
        }
    }

    // Feeds one frame and waits until its batch is done.
    void feed_and_wait(const std::vector<uint8_t>& frame) {
        const int before = batches_done;
        feed_frame(frame);
        ASSERT_TRUE(wait_until([&] { return batches_done > before; })) << "batch never finished";
    }

    std::vector<std::vector<VideoReceiver::EncodedFrame>> batches_seen() {
        std::lock_guard lock(batches_mutex);
        return batches;
    }

    talvek::testing::DecodeHooks hooks;  // set before bring-up, used by the thread
    VideoReceiver receiver{{.decode_observer = hooks.observer()}};
    uint32_t next_id = 1;
    std::atomic<bool> held_at_start{false};
    std::atomic<bool> first_wait{true};
    std::atomic<int> frames_decoded{0};
    std::atomic<int> hand_overs{0};
    std::atomic<int> batches_done{0};
    std::function<void(size_t)> after_frame;  // set before frames are fed
    std::mutex batches_mutex;
    std::vector<std::vector<VideoReceiver::EncodedFrame>> batches;
    std::string stop_output;
};

// ---- clean streams ---------------------------------------------------------

class CleanStreamTest : public DecodeTest, public ::testing::WithParamInterface<Encoder> {};

TEST_P(CleanStreamTest, EveryPictureMatchesItsSource) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(GetParam(), 320, 240, 8, stream));
    ASSERT_TRUE(bring_up(320, 240, codec_for(GetParam())));

    testing::internal::CaptureStderr();
    for (size_t i = 0; i < stream.packets.size(); ++i) {
        feed_frame(stream.packets[i]);
        std::vector<uint8_t> picture;
        ASSERT_TRUE(Peer::wait_for_picture(receiver, picture)) << "no picture for frame " << i;
        ASSERT_EQ(picture.size(), 320u * 240u * 4u);
        EXPECT_GT(psnr_bgr(picture, reference_bgra(stream, i, 320, 240)), MIN_PSNR)
            << "frame " << i;
        if (i > 0) {
            // The picture is this frame's, not the one before it.
            EXPECT_LT(psnr_bgr(picture, reference_bgra(stream, i - 1, 320, 240)), MIN_PSNR - 5)
                << "frame " << i;
        }
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_of(err, "[VideoReceiver]"), 0u) << err;
    EXPECT_FALSE(receiver.needs_keyframe_request()) << "a clean stream asks for nothing";
}

TEST_P(CleanStreamTest, BatchShowsItsNewestPicture) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(GetParam(), 320, 240, 5, stream));
    ASSERT_TRUE(bring_up(320, 240, codec_for(GetParam()), /*held=*/true));

    testing::internal::CaptureStderr();
    for (const auto& packet : stream.packets) feed_frame(packet);
    open();
    ASSERT_TRUE(wait_until([&] { return batches_done >= 1; }));
    const std::string err = testing::internal::GetCapturedStderr();

    ASSERT_EQ(batches_seen().size(), 1u);
    EXPECT_EQ(batches_seen()[0].size(), 5u);
    EXPECT_EQ(frames_decoded, 5);
    EXPECT_EQ(hand_overs, 1) << "one conversion per batch";

    std::vector<uint8_t> picture;
    ASSERT_TRUE(Peer::take_picture(receiver, picture));
    EXPECT_GT(psnr_bgr(picture, reference_bgra(stream, 4, 320, 240)), MIN_PSNR);
    EXPECT_LT(psnr_bgr(picture, reference_bgra(stream, 3, 320, 240)), MIN_PSNR - 5);
    EXPECT_EQ(count_of(err, "[VideoReceiver]"), 0u) << err;
    EXPECT_FALSE(receiver.needs_keyframe_request());
}

TEST_P(CleanStreamTest, EveryHandOverTellsThePictureCallbackOnceThePictureIsReady) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(GetParam(), 320, 240, 3, stream));
    ASSERT_TRUE(bring_up(320, 240, codec_for(GetParam())));
    std::atomic<int> calls{0};
    std::atomic<bool> ready_at_every_call{true};
    receiver.set_picture_callback([&] {
        ++calls;
        if (!receiver.has_new_picture()) ready_at_every_call = false;
    });

    for (const auto& packet : stream.packets) {
        feed_and_wait(packet);
        std::vector<uint8_t> picture;
        ASSERT_TRUE(Peer::take_picture(receiver, picture));  // as render() would
    }
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(hand_overs, 3);
    EXPECT_TRUE(ready_at_every_call) << "the callback ran before the picture was in place";

    receiver.set_picture_callback({});
    feed_and_wait(stream.packets[0]);
    EXPECT_EQ(calls, 3) << "a removed callback is not called";
}

INSTANTIATE_TEST_SUITE_P(Codecs, CleanStreamTest, ::testing::Values(Encoder::Vp8, Encoder::H264),
                         [](const ::testing::TestParamInfo<Encoder>& param_info) {
                             return std::string(name_of(param_info.param));
                         });

// ---- the queue as the thread sees it ----------------------------------------

TEST_F(DecodeTest, SevenFramesBeforeTheThreadWakesGiveFramesTwoToSeven) {
    ASSERT_TRUE(bring_up(64, 64, VideoCodec::VP8, /*held=*/true));
    for (uint8_t k = 1; k <= 7; ++k) feed_frame(std::vector<uint8_t>(10, k));
    testing::internal::CaptureStderr();  // the frames are not VP8
    open();
    ASSERT_TRUE(wait_until([&] { return batches_done >= 1; }));
    testing::internal::GetCapturedStderr();

    const auto seen = batches_seen();
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(seen[0][i], VideoReceiver::EncodedFrame(10, static_cast<uint8_t>(i + 2))) << i;
    }
}

TEST_F(DecodeTest, StopDuringABatchFinishesTheCurrentFrameOnly) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 160, 120, 3, stream));
    std::atomic<bool> in_batch{false};
    after_frame = [&](size_t) {
        in_batch = true;
        // Hold the first frame until stop() has cleared running.
        while (Peer::running(receiver)) std::this_thread::sleep_for(1ms);
    };
    ASSERT_TRUE(bring_up(160, 120, VideoCodec::VP8, /*held=*/true));
    for (const auto& packet : stream.packets) feed_frame(packet);
    open();
    ASSERT_TRUE(wait_until([&] { return in_batch.load(); }));

    stop();
    EXPECT_EQ(frames_decoded, 1) << "no further frame of the batch is sent";
    EXPECT_EQ(hand_overs, 0) << "no conversion after stop";
    EXPECT_EQ(batches_done, 1);
    EXPECT_NE(stop_output.find("[VideoReceiver] Decode thread joined successfully\n"),
              std::string::npos);
    EXPECT_FALSE(Peer::decoder_open(receiver));
}

// ---- errors ------------------------------------------------------------------

TEST_F(DecodeTest, ErrorRunLogsFiveLinesAndAsksForOneKeyframe) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 160, 120, 1, stream));
    ASSERT_TRUE(bring_up(160, 120, VideoCodec::VP8));
    feed_and_wait(stream.packets[0]);
    ASSERT_FALSE(receiver.needs_keyframe_request());

    testing::internal::CaptureStderr();
    int requests = 0;
    for (int i = 0; i < 8; ++i) {
        feed_and_wait(garbage_frame());
        if (receiver.needs_keyframe_request()) ++requests;
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_of(err, "[VideoReceiver] VP8 send_packet error: "), 5u) << err;
    EXPECT_EQ(count_of(err, "(frame 100 bytes)\n"), 5u) << err;
    EXPECT_EQ(requests, 1) << "one request, at the first error";

    // A good picture ends the run...
    std::vector<uint8_t> picture;
    Peer::take_picture(receiver, picture);
    testing::internal::CaptureStderr();
    feed_and_wait(stream.packets[0]);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_of(err, "[VideoReceiver]"), 0u) << err;
    ASSERT_TRUE(Peer::take_picture(receiver, picture));
    EXPECT_GT(psnr_bgr(picture, reference_bgra(stream, 0, 160, 120)), MIN_PSNR);
    EXPECT_FALSE(receiver.needs_keyframe_request());

    // ...so the next failure logs and asks again.
    testing::internal::CaptureStderr();
    feed_and_wait(garbage_frame());
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_of(err, "[VideoReceiver] VP8 send_packet error: "), 1u) << err;
    EXPECT_TRUE(receiver.needs_keyframe_request());
}

TEST_F(DecodeTest, LongErrorRunAsksAgainWhenTheKeyframeNeverComes) {
    ASSERT_TRUE(bring_up(160, 120, VideoCodec::VP8));
    testing::internal::CaptureStderr();
    std::vector<int> asked_at;
    for (int i = 1; i <= 61; ++i) {
        feed_and_wait(garbage_frame());
        if (receiver.needs_keyframe_request()) asked_at.push_back(i);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(asked_at, (std::vector<int>{1, 31, 61})) << "one request per 30 errors";
    EXPECT_EQ(count_of(err, "[VideoReceiver] VP8 send_packet error: "), 5u) << "still five lines";
}

TEST_F(DecodeTest, FailedLastFrameShowsThePreviousPictureAgain) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 160, 120, 1, stream));
    ASSERT_TRUE(bring_up(160, 120, VideoCodec::VP8));
    feed_and_wait(stream.packets[0]);
    std::vector<uint8_t> first;
    ASSERT_TRUE(Peer::take_picture(receiver, first));

    testing::internal::CaptureStderr();
    feed_and_wait(garbage_frame());
    testing::internal::GetCapturedStderr();
    std::vector<uint8_t> again;
    ASSERT_TRUE(Peer::take_picture(receiver, again));
    EXPECT_EQ(again, first);
}

// ---- picture size -------------------------------------------------------------

TEST_F(DecodeTest, FullHdPicturesAreScaledToTheReceiverSize) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 1920, 1080, 2, stream));
    ASSERT_TRUE(bring_up(1280, 720, VideoCodec::VP8));
    for (size_t i = 0; i < stream.packets.size(); ++i) {
        feed_frame(stream.packets[i]);
        std::vector<uint8_t> picture;
        ASSERT_TRUE(Peer::wait_for_picture(receiver, picture));
        ASSERT_EQ(picture.size(), 1280u * 720u * 4u);
        EXPECT_GT(psnr_bgr(picture, reference_bgra(stream, i, 1280, 720)), MIN_PSNR) << i;
    }
}

TEST_F(DecodeTest, PictureSizeChangeMidStreamGetsANewScaler) {
    EncodedStream large;
    EncodedStream small;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 320, 240, 1, large));
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 160, 96, 2, small));
    ASSERT_TRUE(bring_up(320, 240, VideoCodec::VP8));

    std::vector<uint8_t> picture;
    feed_frame(large.packets[0]);
    ASSERT_TRUE(Peer::wait_for_picture(receiver, picture));
    EXPECT_GT(psnr_bgr(picture, reference_bgra(large, 0, 320, 240)), MIN_PSNR);

    // The sender restarts at a smaller size with a keyframe.
    for (size_t i = 0; i < small.packets.size(); ++i) {
        feed_frame(small.packets[i]);
        ASSERT_TRUE(Peer::wait_for_picture(receiver, picture));
        EXPECT_GT(psnr_bgr(picture, reference_bgra(small, i, 320, 240)), MIN_PSNR) << i;
    }
    // And back up again.
    feed_frame(large.packets[0]);
    ASSERT_TRUE(Peer::wait_for_picture(receiver, picture));
    EXPECT_GT(psnr_bgr(picture, reference_bgra(large, 0, 320, 240)), MIN_PSNR);
}

// ---- codec choice ---------------------------------------------------------------

TEST_F(DecodeTest, OnlyCodecValueOneOpensH264) {
    for (int value : {0, 2, 3, 255}) {
        VideoReceiver r;
        ASSERT_TRUE(r.init_without_window(64, 64, static_cast<VideoCodec>(value)));
        EXPECT_EQ(Peer::codec_id(r), AV_CODEC_ID_VP8) << value;
        testing::internal::CaptureStdout();
        r.stop();
        testing::internal::GetCapturedStdout();
    }
    VideoReceiver r;
    ASSERT_TRUE(r.init_without_window(64, 64, VideoCodec::H264));
    EXPECT_EQ(Peer::codec_id(r), AV_CODEC_ID_H264);
    testing::internal::CaptureStdout();
    r.stop();
    testing::internal::GetCapturedStdout();
}

TEST_F(DecodeTest, UnknownCodecValueDecodesVp8) {
    EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(Encoder::Vp8, 160, 120, 1, stream));
    ASSERT_TRUE(bring_up(160, 120, static_cast<VideoCodec>(2)));
    feed_frame(stream.packets[0]);
    std::vector<uint8_t> picture;
    ASSERT_TRUE(Peer::wait_for_picture(receiver, picture));
    EXPECT_GT(psnr_bgr(picture, reference_bgra(stream, 0, 160, 120)), MIN_PSNR);
}

}  // namespace
