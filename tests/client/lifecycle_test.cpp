// Bring-up, teardown and their log lines, with SDL's dummy video driver
// (one 1024 x 768 display) standing in for a desktop.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fragmenter.h"
#include "log_text.h"
#include "decode_hooks.h"
#include "receiver_peer.h"
#include "sdl_fixture.h"

using client_test::SdlTest;
using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::testing::count_of;
using talvek::testing::pointer_text;
using Peer = talvek::client::VideoReceiverTestPeer;
using namespace std::chrono_literals;

namespace {

using LifecycleTest = SdlTest;

void expect_nothing_held(const VideoReceiver& r) {
    EXPECT_FALSE(Peer::running(r));
    EXPECT_EQ(Peer::window(r), nullptr);
    EXPECT_EQ(Peer::renderer(r), nullptr);
    EXPECT_EQ(Peer::texture(r), nullptr);
    EXPECT_FALSE(Peer::decoder_open(r));
}

TEST_F(LifecycleTest, InitForUdpFitsTheWindowAndKeepsTheStreamSize) {
    std::string out;
    ASSERT_TRUE(init_quietly(1280, 720, &out));
    EXPECT_EQ(out, "[VideoReceiver] Standalone initialized (1280x720)\n");
    EXPECT_TRUE(Peer::running(*receiver));

    SDL_Window* window = SDL_GetWindowFromID(receiver->get_window_id());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, Peer::window(*receiver));
    EXPECT_STREQ(SDL_GetWindowTitle(window), "Video Stream");
    // Half of 1024 x 768 is 512 x 384; s = min(512/1280, 384/720) = 0.4.
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 512);
    EXPECT_EQ(h, 288);
    EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_RESIZABLE);

    int tw = 0;
    int th = 0;
    Uint32 format = 0;
    ASSERT_EQ(SDL_QueryTexture(Peer::texture(*receiver), &format, nullptr, &tw, &th), 0);
    EXPECT_EQ(format, static_cast<Uint32>(SDL_PIXELFORMAT_ARGB8888));
    EXPECT_EQ(tw, 1280);
    EXPECT_EQ(th, 720);
    EXPECT_EQ(Peer::display_bytes(*receiver), 1280u * 720u * 4u);
    EXPECT_EQ(receiver->frame_width(), 1280);
    EXPECT_EQ(receiver->frame_height(), 720);
    EXPECT_EQ(Peer::codec_id(*receiver), AV_CODEC_ID_VP8);
}

TEST_F(LifecycleTest, SmallStreamGetsTheMinimumWindow) {
    ASSERT_TRUE(init_quietly(200, 100));
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(Peer::window(*receiver), &w, &h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    EXPECT_EQ(Peer::display_bytes(*receiver), 200u * 100u * 4u);
}

TEST_F(LifecycleTest, StartOpensAnExactWindowNamedAfterTheStreamer) {
    SDL_Window* parent = SDL_CreateWindow("host", 0, 0, 100, 100, 0);
    ASSERT_NE(parent, nullptr);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(receiver->start(42, "alice", 1280, 720, parent, VideoCodec::H264));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[VideoReceiver] Started: watching alice (1280x720)\n");
    SDL_Window* window = Peer::window(*receiver);
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(SDL_GetWindowTitle(window), "Stream: alice");
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 1280) << "no fitting to the display";
    EXPECT_EQ(h, 720);
    EXPECT_EQ(Peer::codec_id(*receiver), AV_CODEC_ID_H264);

    const std::string out = stop_logged();
    EXPECT_NE(out.find("cleaning up codecs for user 42\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[RECV SDL DESTROY] uid=42: COMPLETE\n"), std::string::npos);
    SDL_DestroyWindow(parent);
}

// ---- failed bring-up ---------------------------------------------------------

TEST(LifecycleWithoutSdl, FailedWindowLeavesNothingHeld) {
    // SDL_CreateWindow starts video on its own; with no usable driver it fails.
    setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
    auto receiver = std::make_unique<VideoReceiver>();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(receiver->init_for_udp(640, 360, VideoCodec::VP8));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("[VideoReceiver] Failed to create window: ", 0), 0u) << err;
    expect_nothing_held(*receiver);

    // Destroying it still runs stop(), which finds nothing to destroy.
    testing::internal::CaptureStdout();
    receiver.reset();
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string null_text = pointer_text(nullptr);
    EXPECT_NE(out.find("[VideoReceiver] Destructor called for uid=0, cleanup_done=0\n"
                       "[VideoReceiver] Destructor calling stop()\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[RECV SDL DESTROY] uid=0, window_id=0: START (window=" + null_text +
                       ", renderer=" + null_text + ", texture=" + null_text + ")\n"
                       "[RECV SDL DESTROY] uid=0: COMPLETE\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Sleeping 10ms"), std::string::npos);
    EXPECT_EQ(out.find("Destroying"), std::string::npos);
    EXPECT_EQ(out.find("Signaling decode thread"), std::string::npos) << "no thread was started";
}

TEST_F(LifecycleTest, FailedTextureReleasesRendererAndWindow) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(init_quietly(0, 0));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("[VideoReceiver] Failed to create texture: ", 0), 0u) << err;
    expect_nothing_held(*receiver);
    ASSERT_NE(receiver->get_window_id(), 0u) << "the id of the window it had is kept";
    EXPECT_EQ(SDL_GetWindowFromID(receiver->get_window_id()), nullptr) << "window destroyed";
}

TEST_F(LifecycleTest, FailedBringUpCanBeRetried) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(init_quietly(0, 0));
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(init_quietly(320, 240));
    EXPECT_TRUE(Peer::running(*receiver));
    EXPECT_TRUE(Peer::decoder_open(*receiver));
}

TEST(LifecycleWithoutSdl, HeadlessBringUpRefusesAnEmptyPicture) {
    VideoReceiver receiver;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(receiver.init_without_window(0, 720, VideoCodec::VP8));
    testing::internal::GetCapturedStderr();
    expect_nothing_held(receiver);
}

// ---- stop and the destructor ---------------------------------------------------

TEST_F(LifecycleTest, StopTwiceCleansUpOnceAndDestroysNothingTheSecondTime) {
    ASSERT_TRUE(init_quietly(640, 360));
    const std::string window_text = pointer_text(Peer::window(*receiver));
    const std::string first = stop_logged();
    const std::string second = stop_logged();

    EXPECT_EQ(count_of(first, "[VideoReceiver] Stopping decode thread and cleaning up codecs for "
                              "user 0\n"),
              1u);
    EXPECT_NE(first.find("[VideoReceiver] Signaling decode thread to stop\n"
                         "[VideoReceiver] Waiting for decode thread to join...\n"
                         "[VideoReceiver] Decode thread joined successfully\n"
                         "[VideoReceiver] Decode and codec cleanup complete\n"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("[RECV SDL DESTROY] uid=0: Sleeping 10ms for event processing\n"),
              std::string::npos);
    EXPECT_NE(first.find("[RECV SDL DESTROY] uid=0: Destroying window " + window_text + " (ID=" +
                         std::to_string(receiver->get_window_id()) + ")\n"),
              std::string::npos)
        << first;
    // Teardown order: texture, renderer, window.
    EXPECT_LT(first.find("Texture destroyed"), first.find("Renderer destroyed"));
    EXPECT_LT(first.find("Renderer destroyed"), first.find("Window destroyed"));
    EXPECT_EQ(count_of(first, "[VideoReceiver] Stop complete\n"), 1u);

    EXPECT_EQ(count_of(second, "cleaning up codecs"), 0u) << second;
    EXPECT_EQ(count_of(second, ": START (window="), 1u);
    EXPECT_EQ(count_of(second, "[RECV SDL DESTROY] uid=0: COMPLETE\n"), 1u);
    EXPECT_EQ(count_of(second, "[VideoReceiver] Stop complete\n"), 1u);
    EXPECT_EQ(count_of(second, "Sleeping 10ms"), 0u) << "the window is gone";
    expect_nothing_held(*receiver);
    EXPECT_TRUE(Peer::cleanup_done(*receiver));
}

TEST_F(LifecycleTest, DestructorAfterStopOnlyLogs) {
    ASSERT_TRUE(init_quietly(640, 360));
    stop_logged();
    testing::internal::CaptureStdout();
    receiver.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[VideoReceiver] Destructor called for uid=0, cleanup_done=1\n"
              "[VideoReceiver] Destructor complete for uid=0\n");
}

TEST_F(LifecycleTest, DestructorStopsARunningReceiver) {
    ASSERT_TRUE(init_quietly(640, 360));
    const uint32_t id = receiver->get_window_id();
    testing::internal::CaptureStdout();
    receiver.reset();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("[VideoReceiver] Destructor called for uid=0, cleanup_done=0\n"
                        "[VideoReceiver] Destructor calling stop()\n"
                        "[VideoReceiver] Stopping decode thread",
                        0),
              0u)
        << out;
    const std::string tail = "[VideoReceiver] Stop complete\n"
                             "[VideoReceiver] Destructor complete for uid=0\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_EQ(SDL_GetWindowFromID(id), nullptr);
}

// ---- join watchdog -------------------------------------------------------------

TEST_F(LifecycleTest, SlowJoinIsReportedAndStillCompletes) {
    talvek::testing::DecodeHooks hooks;
    hooks.on_exit = [] { std::this_thread::sleep_for(600ms); };
    use_receiver({.decode_observer = hooks.observer(), .join_watchdog_timeout = 100ms});
    ASSERT_TRUE(init_quietly(320, 240));

    testing::internal::CaptureStderr();
    const std::string out = stop_logged();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "[VideoReceiver] ERROR: Decode thread join() blocked >5s!\n");
    EXPECT_NE(out.find("[VideoReceiver] Decode thread joined successfully\n"), std::string::npos);
}

TEST_F(LifecycleTest, QuickJoinIsNotReportedEvenAfterTheReceiverIsGone) {
    // Margins a loaded machine keeps: an idle decode thread joins in well
    // under the second, and the watchdog wakes well before the wait ends.
    use_receiver({.join_watchdog_timeout = 1s});
    ASSERT_TRUE(init_quietly(320, 240));
    testing::internal::CaptureStderr();
    stop_logged();
    testing::internal::CaptureStdout();
    receiver.reset();
    testing::internal::GetCapturedStdout();
    std::this_thread::sleep_for(2s);  // the watchdog wakes after the receiver is destroyed
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// ---- ended stream and restarts -------------------------------------------------

TEST_F(LifecycleTest, EndedStreamIgnoresInputAndKeepsItsWindow) {
    std::atomic<int> batches{0};
    talvek::testing::DecodeHooks hooks;
    hooks.on_batch = [&](const auto&) { ++batches; };
    use_receiver({.decode_observer = hooks.observer()});
    ASSERT_TRUE(init_quietly(320, 240));

    testing::internal::CaptureStdout();
    receiver->mark_stream_ended();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[VideoReceiver] Stream marked as ended, decode thread signaled to stop\n");
    EXPECT_FALSE(Peer::running(*receiver));
    EXPECT_TRUE(Peer::stream_ended(*receiver));

    const std::vector<uint8_t> payload(20, 1);
    const auto d = talvek::tools::make_fragment(1, 0, 1, 20, payload.data(), payload.size());
    receiver->handle_fragment(d.data(), static_cast<int>(d.size()));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(batches, 0);
    EXPECT_TRUE(Peer::queued_frames(*receiver).empty());
    EXPECT_NE(SDL_GetWindowFromID(receiver->get_window_id()), nullptr);

    const std::string out = stop_logged();
    EXPECT_NE(out.find("[VideoReceiver] Decode thread joined successfully\n"), std::string::npos);
}

TEST_F(LifecycleTest, StoppedReceiverCanBeBroughtUpAndStoppedAgain) {
    ASSERT_TRUE(init_quietly(320, 240));
    stop_logged();
    ASSERT_TRUE(init_quietly(640, 360));
    EXPECT_TRUE(Peer::running(*receiver));
    EXPECT_EQ(receiver->frame_width(), 640);
    const std::string out = stop_logged();
    EXPECT_NE(out.find("[VideoReceiver] Decode thread joined successfully\n"), std::string::npos)
        << "the second bring-up's thread is joined too";
    expect_nothing_held(*receiver);
}

TEST_F(LifecycleTest, BringUpAfterTheStreamEndedJoinsTheOldThread) {
    ASSERT_TRUE(init_quietly(320, 240));
    testing::internal::CaptureStdout();
    receiver->mark_stream_ended();
    testing::internal::GetCapturedStdout();

    std::string out;
    ASSERT_TRUE(init_quietly(320, 240, &out));
    EXPECT_NE(out.find("[VideoReceiver] Decode thread joined successfully\n"), std::string::npos)
        << out;
    EXPECT_TRUE(Peer::running(*receiver));
    EXPECT_FALSE(Peer::stream_ended(*receiver)) << "a new stream has not ended";
}

TEST_F(LifecycleTest, BringUpWhileRunningStopsFirst) {
    ASSERT_TRUE(init_quietly(320, 240));
    const uint32_t first_id = receiver->get_window_id();
    std::string out;
    ASSERT_TRUE(init_quietly(320, 240, &out));
    EXPECT_NE(out.find("[VideoReceiver] Stop complete\n"), std::string::npos);
    EXPECT_EQ(SDL_GetWindowFromID(first_id), nullptr);
    EXPECT_NE(receiver->get_window_id(), first_id);
}

// Only the decode half stopped: the window is still up, and a new bring-up
// must not leave it open and unowned.
TEST_F(LifecycleTest, BringUpAfterOnlyTheDecodeHalfStoppedClosesTheOldWindow) {
    ASSERT_TRUE(init_quietly(320, 240));
    const uint32_t first_id = receiver->get_window_id();
    testing::internal::CaptureStdout();
    receiver->stop_decode_and_codecs();
    testing::internal::GetCapturedStdout();
    ASSERT_NE(SDL_GetWindowFromID(first_id), nullptr);

    ASSERT_TRUE(init_quietly(320, 240));
    EXPECT_EQ(SDL_GetWindowFromID(first_id), nullptr);
    EXPECT_NE(receiver->get_window_id(), first_id);
    EXPECT_TRUE(Peer::running(*receiver));
}

}  // namespace
