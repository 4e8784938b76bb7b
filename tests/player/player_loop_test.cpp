// The main loop's handlers driven without a window: quit and close, the
// keyframe request to the host application, draining the socket, and the
// view and bar controls that need a window doing nothing. The receiver runs
// without SDL objects, with a hand-moved clock.

#include "player_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>

#include "audio_datagram.h"
#include "fake_audio_backend.h"
#include "fragmenter.h"
#include "host_datagrams.h"
#include "media_header.h"
#include "opus_tone.h"
#include "receiver_peer.h"
#include "udp_socket.h"
#include "video_receiver.h"

using talvek::UDPSocket;
using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using namespace std::chrono_literals;

namespace {

class PlayerLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(receiver.init_without_window(64, 64, VideoCodec::VP8));
        ASSERT_TRUE(player_socket.bind(0));
        ASSERT_TRUE(host.bind(0));
        args.port = player_socket.get_bound_port();
        args.parent_port = host.get_bound_port();
    }

    void TearDown() override {
        testing::internal::CaptureStdout();
        receiver.stop();
        testing::internal::GetCapturedStdout();
    }

    void feed(const talvek::tools::Datagram& d) {
        receiver.handle_fragment(d.data(), static_cast<int>(d.size()));
    }

    // Leaves frame `id` incomplete past the 250 ms limit: the receiver drops
    // it and raises a keyframe request.
    void drop_a_frame(uint32_t id) {
        const uint8_t byte = 1;
        feed(talvek::tools::make_fragment(id, 0, 2, 1, &byte, 1));
        now += 300ms;
        testing::internal::CaptureStderr();
        feed(talvek::tools::make_fragment(id + 1, 0, 2, 1, &byte, 1));
        testing::internal::GetCapturedStderr();
    }

    // Every datagram the host application has been sent so far.
    std::vector<std::string> host_received() {
        return talvek::testing::received_datagrams<std::string>(host, 20ms);
    }

    static SDL_Event event_of(uint32_t type, uint8_t window_event = 0) {
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = type;
        e.window.event = window_event;
        return e;
    }

    std::chrono::steady_clock::time_point now{};
    client_test::FakeAudioBackend device;  // outlives the receiver that plays on it
    VideoReceiver receiver{{.clock = [this] { return now; }}};
    UDPSocket player_socket;
    UDPSocket host;
    Args args;
};

TEST_F(PlayerLoopTest, QuitAndCloseEndTheLoopOtherWindowEventsDoNot) {
    PlayerLoop loop(args, receiver, player_socket);
    loop.on_event(event_of(SDL_WINDOWEVENT, SDL_WINDOWEVENT_RESIZED));
    loop.on_event(event_of(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_LOST));
    loop.on_event(event_of(SDL_KEYUP));
    EXPECT_FALSE(loop.quit_requested());
    loop.on_event(event_of(SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE));
    EXPECT_TRUE(loop.quit_requested());

    PlayerLoop other(args, receiver, player_socket);
    other.on_event(event_of(SDL_QUIT));
    EXPECT_TRUE(other.quit_requested());
}

TEST_F(PlayerLoopTest, DroppedFrameSendsOneKfrqAndItsLogLine) {
    PlayerLoop loop(args, receiver, player_socket);
    drop_a_frame(10);
    drop_a_frame(20);  // a second cause before the poll: still one request

    testing::internal::CaptureStdout();
    loop.forward_keyframe_request();
    loop.forward_keyframe_request();
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(out, "[VideoPlayer] Sent keyframe request to parent (port " +
                       std::to_string(args.parent_port) + ")\n");
    EXPECT_EQ(host_received(), std::vector<std::string>{"KFRQ"});
}

TEST_F(PlayerLoopTest, WithoutParentPortNothingIsSentAndTheRequestWaits) {
    args.parent_port = 0;
    PlayerLoop loop(args, receiver, player_socket);
    drop_a_frame(10);

    testing::internal::CaptureStdout();
    loop.forward_keyframe_request();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(host_received().empty());
    EXPECT_TRUE(receiver.needs_keyframe_request()) << "the pending flag was consumed";
}

TEST_F(PlayerLoopTest, OnePassDrainsAPendingBurst) {
    PlayerLoop loop(args, receiver, player_socket);
    UDPSocket sender;
    ASSERT_TRUE(sender.bind(0));
    const uint8_t byte = 1;
    // A burst of fragments of frames that never complete, as a keyframe's
    // datagrams would arrive together.
    for (uint16_t i = 0; i < 100; ++i) {
        const auto d = talvek::tools::make_fragment(5, i, 1000, 1, &byte, 1);
        ASSERT_EQ(sender.send(d.data(), d.size(), "127.0.0.1", args.port),
                  static_cast<int>(d.size()));
    }
    loop.run_pass();
    char probe[64];
    EXPECT_EQ(player_socket.recv(probe, sizeof probe, 0), 0) << "datagrams left for later passes";
}

TEST_F(PlayerLoopTest, StartingVolumeReachesTheReceiverMutedAsZero) {
    args.audio_volume = 0.4f;
    PlayerLoop loud(args, receiver, player_socket);
    EXPECT_FLOAT_EQ(talvek::client::VideoReceiverTestPeer::audio_volume(receiver), 0.4f);
    args.audio_muted = true;
    PlayerLoop muted(args, receiver, player_socket);
    EXPECT_FLOAT_EQ(talvek::client::VideoReceiverTestPeer::audio_volume(receiver), 0.0f);
}

TEST_F(PlayerLoopTest, WithoutAWindowViewControlsAndBarClicksDoNothing) {
    args.has_audio = true;
    PlayerLoop loop(args, receiver, player_socket, [] { return 1000u; });
    ASSERT_EQ(loop.window(), nullptr);

    SDL_Event e = event_of(SDL_KEYDOWN);
    e.key.keysym.sym = SDLK_f;
    loop.on_event(e);
    e.key.keysym.sym = SDLK_F11;
    loop.on_event(e);
    EXPECT_FALSE(loop.view_state().fullscreen);

    SDL_Event wheel = event_of(SDL_MOUSEWHEEL);
    wheel.wheel.y = 1;
    loop.on_event(wheel);
    EXPECT_EQ(loop.view_state().zoom.zoom, 1.0f);

    SDL_Event press = event_of(SDL_MOUSEBUTTONDOWN);
    press.button.button = SDL_BUTTON_LEFT;
    press.button.x = 20;
    press.button.y = 10000;  // in the band of any window
    loop.on_event(press);
    press.button.clicks = 2;
    press.button.y = 0;
    loop.on_event(press);
    EXPECT_FALSE(loop.is_muted());
    EXPECT_FALSE(loop.view_state().fullscreen);
    EXPECT_TRUE(host_received().empty());

    // Keys that need no window still work.
    e.key.keysym.sym = SDLK_m;
    loop.on_event(e);
    EXPECT_TRUE(loop.is_muted());
    e.key.keysym.sym = SDLK_r;
    loop.on_event(e);
    EXPECT_EQ(host_received(), std::vector<std::string>{std::string("AUDS\x01\x00\x00\x80\x3F", 9)});
}

// The sender's screen-audio datagram for one Opus packet, its flags byte
// replaced when `flags` is given.
talvek::tools::Datagram screen_audio_datagram(uint32_t sequence,
                                              const std::vector<uint8_t>& packet,
                                              uint8_t flags = talvek::VOICE_FLAG_SCREEN_AUDIO) {
    auto d = talvek::tools::make_screen_audio_datagram(sequence, packet.data(), packet.size());
    d[offsetof(talvek::MediaHeader, flags)] = flags;
    return d;
}

TEST_F(PlayerLoopTest, ScreenAudioDatagramsReachThePlaybackQueue) {
    receiver.set_audio_backend(device);
    testing::internal::CaptureStdout();
    receiver.enable_audio(true);
    testing::internal::GetCapturedStdout();
    PlayerLoop loop(args, receiver, player_socket);

    client_test::OpusTone tone;
    ASSERT_TRUE(tone.ready());
    const auto packet = tone.next();
    const auto audio = screen_audio_datagram(1, packet);
    loop.on_datagram(audio.data(), static_cast<int>(audio.size()));
    EXPECT_EQ(device.queued_values.size(), 1920u) << "one 20 ms stereo frame";

    // The video bit beside the screen-audio bit changes nothing; without the
    // screen-audio bit the same bytes are a (broken) video fragment.
    const auto both = screen_audio_datagram(2, tone.next(),
                                            talvek::VOICE_FLAG_SCREEN_AUDIO | talvek::VOICE_FLAG_VIDEO);
    loop.on_datagram(both.data(), static_cast<int>(both.size()));
    EXPECT_EQ(device.queued_values.size(), 3840u);
    const auto video = screen_audio_datagram(3, tone.next(), talvek::VOICE_FLAG_VIDEO);
    loop.on_datagram(video.data(), static_cast<int>(video.size()));
    EXPECT_EQ(device.queued_values.size(), 3840u);
}

// ---- drawing only when something changes ----------------------------------

TEST_F(PlayerLoopTest, PassesDrawOnlyWhenWhatTheWindowShowsWouldChange) {
    args.has_audio = true;
    uint32_t clock_ms = 1000;
    PlayerLoop loop(args, receiver, player_socket, [&] { return clock_ms; });
    loop.run_pass();
    EXPECT_EQ(loop.draw_count(), 1u) << "the first pass draws";
    for (int i = 0; i < 3; ++i) loop.run_pass();
    EXPECT_EQ(loop.draw_count(), 1u) << "nothing changed";

    loop.on_event(event_of(SDL_WINDOWEVENT, SDL_WINDOWEVENT_EXPOSED));
    loop.run_pass();
    EXPECT_EQ(loop.draw_count(), 2u) << "the window asked for its contents";

    loop.set_volume(0.5f);
    loop.run_pass();
    EXPECT_EQ(loop.draw_count(), 3u) << "the bar shows the new volume";
    loop.set_volume(0.5f);
    loop.run_pass();
    EXPECT_EQ(loop.draw_count(), 3u) << "the same volume again";
    host_received();

    clock_ms += 10'000;  // the bar hides at the end of this pass...
    loop.run_pass();
    EXPECT_FALSE(loop.overlay_visible());
    loop.run_pass();
    EXPECT_EQ(loop.draw_count(), 4u) << "...and the next pass draws the picture without it";

    testing::internal::CaptureStdout();
    receiver.mark_stream_ended();
    testing::internal::GetCapturedStdout();
    loop.run_pass();
    loop.run_pass();
    EXPECT_EQ(loop.draw_count(), 5u) << "the stream-ended overlay, once";
}

TEST_F(PlayerLoopTest, PictureHandedOverWakesTheWaitingLoopAndIsDrawn) {
    PlayerLoop loop(args, receiver, player_socket);
    loop.run_pass();
    ASSERT_EQ(loop.draw_count(), 1u);

    talvek::client::VideoReceiverTestPeer::hand_over_picture(receiver);
    // The wake-up is a datagram at the player's own port, too short to be media.
    char probe[64];
    EXPECT_EQ(player_socket.recv(probe, sizeof probe, 1000), 1);
    talvek::client::VideoReceiverTestPeer::hand_over_picture(receiver);
    loop.run_pass();
    EXPECT_EQ(loop.draw_count(), 2u);
    EXPECT_EQ(player_socket.recv(probe, sizeof probe, 0), 0) << "the pass read the wake-up";
    EXPECT_TRUE(host_received().empty()) << "nothing reaches the host";
}

}  // namespace
