// AudioDevice against a recording stand-in for SDL (every request exactly),
// then against SDL's real dummy audio driver, which has one default device of
// each kind and plays or records silence in real time.

#include "audio_device.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "fake_audio_backend.h"
#include "wait_until.h"

using client_test::FakeAudioBackend;
using talvek::client::AudioDevice;
using Mode = AudioDevice::Mode;

namespace {

class AudioDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { device.set_backend(sdl); }

    // Opens with stdout and stderr captured; returns what was printed.
    std::string open_logged(Mode mode, int rate = 48000, int channels = 2, int samples = 960,
                            bool* ok = nullptr) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool opened = device.open(mode, rate, channels, samples, nullptr);
        std::string text = testing::internal::GetCapturedStdout();
        text += testing::internal::GetCapturedStderr();
        if (ok) *ok = opened;
        return text;
    }

    FakeAudioBackend sdl;
    AudioDevice device;
};

// ---- open and close ----------------------------------------------------------

TEST_F(AudioDeviceTest, OpenAsksForExactlyThatFormatAndStartsPlaying) {
    bool ok = false;
    EXPECT_EQ(open_logged(Mode::Playback, 48000, 2, 960, &ok),
              "[Audio] Opened playback device: 48000 Hz, 2 ch, 960 samples\n");
    EXPECT_TRUE(ok);
    ASSERT_EQ(sdl.opens.size(), 1u);
    const auto& request = sdl.opens[0];
    EXPECT_TRUE(request.default_device);
    EXPECT_EQ(request.iscapture, 0);
    EXPECT_EQ(request.allowed_changes, 0) << "SDL must convert to exactly this format";
    EXPECT_EQ(request.desired.freq, 48000);
    EXPECT_EQ(request.desired.format, 0x8010) << "AUDIO_S16LSB";
    EXPECT_EQ(request.desired.channels, 2);
    EXPECT_EQ(request.desired.samples, 960);
    EXPECT_EQ(request.desired.callback, nullptr) << "queue mode";
    EXPECT_EQ(request.desired.userdata, nullptr);
    EXPECT_EQ(sdl.pauses, std::vector<int>{0}) << "un-paused right after the open";
}

TEST_F(AudioDeviceTest, OpenLogsWhatSdlGaveNotWhatWasAsked) {
    SDL_AudioSpec obtained{};
    obtained.freq = 44100;
    obtained.channels = 1;
    obtained.samples = 1024;
    sdl.obtained_instead = obtained;
    EXPECT_EQ(open_logged(Mode::Capture),
              "[Audio] Opened capture device: 44100 Hz, 1 ch, 1024 samples\n");
    EXPECT_EQ(sdl.opens[0].iscapture, 1);
}

TEST_F(AudioDeviceTest, ChannelsAndBufferSizeAreTruncatedToTheirFields) {
    open_logged(Mode::Playback, 48000, 256 + 2, 65536 + 960);
    EXPECT_EQ(sdl.opens[0].desired.channels, 2);
    EXPECT_EQ(sdl.opens[0].desired.samples, 960);
}

TEST_F(AudioDeviceTest, NamedDeviceIsAskedForByName) {
    testing::internal::CaptureStdout();
    device.open(Mode::Playback, 48000, 2, 960, "Headphones");
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(sdl.opens[0].default_device);
    EXPECT_EQ(sdl.opens[0].name, "Headphones");
}

TEST_F(AudioDeviceTest, FailedOpenLogsSdlsReasonAndStaysClosedWithTheNewMode) {
    sdl.next_id = 0;
    bool ok = true;
    EXPECT_EQ(open_logged(Mode::Capture, 48000, 2, 960, &ok),
              "[Audio] Failed to open device: no such device\n");
    EXPECT_FALSE(ok);
    EXPECT_TRUE(sdl.pauses.empty());

    // Closed: nothing reaches SDL.
    sdl.pending_bytes = 100;
    short out[8];
    EXPECT_EQ(device.read_samples(out, 8), 0);
    EXPECT_EQ(device.get_queued_size(), 0u);
    device.clear_queue();
    device.pause(true);
    device.close();
    EXPECT_TRUE(sdl.dequeue_requests.empty());
    EXPECT_EQ(sdl.clears, 0);
    EXPECT_TRUE(sdl.pauses.empty());
    EXPECT_TRUE(sdl.closed.empty());

    // The mode asked for was kept: once a capture device opens, reads work.
    sdl.next_id = 9;
    open_logged(Mode::Capture);
    EXPECT_EQ(device.read_samples(out, 8), 8);
}

TEST_F(AudioDeviceTest, SecondOpenClosesTheFirstDevice) {
    open_logged(Mode::Playback);
    sdl.next_id = 8;
    open_logged(Mode::Capture);
    EXPECT_EQ(sdl.closed, std::vector<SDL_AudioDeviceID>{7});
    EXPECT_EQ(sdl.opens.size(), 2u);
}

TEST_F(AudioDeviceTest, CloseIsSafeTwiceAndTheDestructorClosesWhatIsOpen) {
    open_logged(Mode::Playback);
    device.close();
    device.close();
    EXPECT_EQ(sdl.closed, std::vector<SDL_AudioDeviceID>{7});

    FakeAudioBackend other;
    {
        AudioDevice scoped;
        scoped.set_backend(other);
        testing::internal::CaptureStdout();
        scoped.open(Mode::Playback, 48000, 2, 960, nullptr);
        testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(other.closed, std::vector<SDL_AudioDeviceID>{7});
}

// ---- samples in and out ------------------------------------------------------

TEST_F(AudioDeviceTest, WriteQueuesTwoBytesPerValue) {
    open_logged(Mode::Playback);
    std::vector<short> frame(1920);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<short>(i - 960);
    device.write_samples(frame.data(), 1920);
    EXPECT_EQ(sdl.queue_calls, std::vector<uint32_t>{3840});
    EXPECT_EQ(sdl.queued_values, frame);
    EXPECT_EQ(device.get_queued_size(), 3840u);
}

TEST_F(AudioDeviceTest, EachKindRefusesTheOtherKindsTransfer) {
    short values[4] = {1, 2, 3, 4};
    open_logged(Mode::Capture);
    device.write_samples(values, 4);
    EXPECT_TRUE(sdl.queue_calls.empty()) << "no writes to a capture device";

    open_logged(Mode::Playback);
    sdl.pending_bytes = 8;
    EXPECT_EQ(device.read_samples(values, 4), 0);
    EXPECT_TRUE(sdl.dequeue_requests.empty()) << "no reads from a playback device";
    EXPECT_EQ(device.drop_queued_bytes(8), 8u) << "dropping is for playback";
}

TEST_F(AudioDeviceTest, WriteWithoutValuesQueuesNothing) {
    open_logged(Mode::Playback);
    short value = 1;
    device.write_samples(&value, 0);
    device.write_samples(&value, -1);
    EXPECT_TRUE(sdl.queue_calls.empty());
}

TEST_F(AudioDeviceTest, ReadMovesWholeValuesOnly) {
    open_logged(Mode::Capture);
    short out[16] = {};

    sdl.pending_bytes = 3;  // one value and a stray byte
    EXPECT_EQ(device.read_samples(out, 16), 1);
    EXPECT_EQ(sdl.dequeue_requests, std::vector<uint32_t>{2});

    sdl.dequeue_requests.clear();
    sdl.pending_bytes = 1;
    EXPECT_EQ(device.read_samples(out, 16), 0);
    sdl.pending_bytes = 0;
    EXPECT_EQ(device.read_samples(out, 16), 0);
    EXPECT_TRUE(sdl.dequeue_requests.empty()) << "nothing to move, nothing asked";
}

TEST_F(AudioDeviceTest, ReadTakesNoMoreThanAskedFor) {
    open_logged(Mode::Capture);
    short out[16] = {};
    sdl.pending_bytes = 200;
    EXPECT_EQ(device.read_samples(out, 10), 10);
    EXPECT_EQ(sdl.dequeue_requests, std::vector<uint32_t>{20});
    EXPECT_EQ(device.read_samples(out, 0), 0);
    EXPECT_EQ(device.read_samples(out, -5), 0);
    EXPECT_EQ(sdl.dequeue_requests.size(), 1u);
}

// ---- queue management --------------------------------------------------------

TEST_F(AudioDeviceTest, DropAsksForAtMost4096BytesAtATime) {
    open_logged(Mode::Playback);
    sdl.pending_bytes = 20000;
    EXPECT_EQ(device.drop_queued_bytes(10000), 10000u);
    EXPECT_EQ(sdl.dequeue_requests, (std::vector<uint32_t>{4096, 4096, 1808}));
    EXPECT_EQ(sdl.pending_bytes, 10000u);
}

TEST_F(AudioDeviceTest, DropStopsAtTheFirstShortAnswer) {
    open_logged(Mode::Playback);
    sdl.pending_bytes = 5000;
    EXPECT_EQ(device.drop_queued_bytes(10000), 5000u);
    EXPECT_EQ(sdl.dequeue_requests, (std::vector<uint32_t>{4096, 4096}));

    sdl.dequeue_requests.clear();
    EXPECT_EQ(device.drop_queued_bytes(10000), 0u);
    EXPECT_EQ(sdl.dequeue_requests, std::vector<uint32_t>{4096}) << "empty: one request";
}

TEST_F(AudioDeviceTest, DropOfNothingDoesNotTouchSdl) {
    open_logged(Mode::Playback);
    sdl.pending_bytes = 100;
    EXPECT_EQ(device.drop_queued_bytes(0), 0u);
    EXPECT_TRUE(sdl.dequeue_requests.empty());
}

TEST_F(AudioDeviceTest, ClearAndPauseReachAnOpenDevice) {
    open_logged(Mode::Playback);
    sdl.pending_bytes = 64;
    device.clear_queue();
    EXPECT_EQ(sdl.clears, 1);
    EXPECT_EQ(device.get_queued_size(), 0u);
    device.pause(true);
    device.pause(false);
    EXPECT_EQ(sdl.pauses, (std::vector<int>{0, 1, 0}));
}

// ---- device lists ------------------------------------------------------------

TEST(AudioDeviceList, NamesInIndexOrderWithoutTheNamelessOnes) {
    FakeAudioBackend sdl;
    sdl.count = 4;
    sdl.names = {"Speakers", nullptr, "Headphones", "HDMI"};
    EXPECT_EQ(AudioDevice::list_devices(Mode::Playback, sdl),
              (std::vector<std::string>{"Speakers", "Headphones", "HDMI"}));
    EXPECT_EQ(sdl.count_requests, std::vector<int>{0});
    EXPECT_EQ(sdl.name_requests, (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));

    sdl.name_requests.clear();
    sdl.count = 1;
    AudioDevice::list_devices(Mode::Capture, sdl);
    EXPECT_EQ(sdl.name_requests, (std::vector<std::pair<int, int>>{{0, 1}}));
}

TEST(AudioDeviceList, UncountableDevicesGiveAnEmptyList) {
    FakeAudioBackend sdl;
    sdl.count = -1;
    EXPECT_TRUE(AudioDevice::list_devices(Mode::Playback, sdl).empty());
    EXPECT_TRUE(sdl.name_requests.empty());
}

// ---- SDL's dummy audio driver -----------------------------------------------

class DummyDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();
    }
    void TearDown() override { SDL_Quit(); }
};

TEST_F(DummyDriverTest, PlaybackGetsTheExactFormatAskedFor) {
    AudioDevice device;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(device.open(Mode::Playback, 48000, 2, 960, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Audio] Opened playback device: 48000 Hz, 2 ch, 960 samples\n");

    // Held, so that SDL's audio thread leaves the queue alone.
    device.pause(true);
    device.clear_queue();
    const std::vector<short> frame(1920, 100);
    device.write_samples(frame.data(), 1920);
    EXPECT_EQ(device.get_queued_size(), 3840u);

    // SDL2 dequeues from capture devices only: a playback queue is not trimmed.
    EXPECT_EQ(device.drop_queued_bytes(10000), 0u);
    EXPECT_EQ(device.get_queued_size(), 3840u);

    device.clear_queue();
    EXPECT_EQ(device.get_queued_size(), 0u);
    device.close();
    EXPECT_EQ(device.get_queued_size(), 0u);
}

TEST_F(DummyDriverTest, PlaybackQueueDrainsWhileRunning) {
    AudioDevice device;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(device.open(Mode::Playback, 48000, 2, 960, nullptr));
    testing::internal::GetCapturedStdout();
    const std::vector<short> frame(1920, 0);
    device.write_samples(frame.data(), 1920);
    talvek::testing::wait_until([&] { return device.get_queued_size() == 0; },
                                std::chrono::seconds(5), std::chrono::milliseconds(5));
    EXPECT_EQ(device.get_queued_size(), 0u) << "not paused: SDL plays what is queued";
}

TEST_F(DummyDriverTest, CaptureRecordsSilenceInRealTime) {
    AudioDevice device;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(device.open(Mode::Capture, 48000, 1, 480, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Audio] Opened capture device: 48000 Hz, 1 ch, 480 samples\n");

    std::vector<short> out(4800, 123);
    int got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got == 0 && std::chrono::steady_clock::now() < deadline) {
        got = device.read_samples(out.data(), static_cast<int>(out.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GT(got, 0);
    for (int i = 0; i < got; ++i) ASSERT_EQ(out[static_cast<size_t>(i)], 0) << i;
}

TEST_F(DummyDriverTest, ListsTheOneDeviceOfEachKind) {
    // A driver with a default device only lists it under SDL's generic name.
    EXPECT_EQ(AudioDevice::list_devices(Mode::Playback),
              std::vector<std::string>{"System audio output device"});
    EXPECT_EQ(AudioDevice::list_devices(Mode::Capture),
              std::vector<std::string>{"System audio capture device"});
}

TEST(AudioDeviceWithoutSdl, ListingBeforeSdlAudioStartsIsEmpty) {
    ASSERT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    EXPECT_TRUE(AudioDevice::list_devices(Mode::Playback).empty()) << "SDL cannot count: -1";
}

}  // namespace
