// The real player's screen audio, heard through SDL's disk driver: what the
// playback device plays lands in a file of raw 48 kHz stereo s16, which the
// tests read back after the player has closed it.
//
// The sender's audio clock runs at half of real time here, so packets arrive
// far slower than the device plays them, even when a slow main-loop pass (a
// sanitizer build, a loaded machine) holds a few back and hands them over
// together: the queue never builds up, the player
// queues every sample as decoded (it changes sound only to bring a long
// queue down), and the device plays silence between packets. Cutting that
// silence out of the file leaves exactly what the player queued: the tone
// never has two zero frames in a row, the device's fill-in always has.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "program_under_test.h"
#include "test_audio.h"
#include "x11_window.h"
#include "xvfb_server.h"

using namespace std::chrono_literals;
using talvek::testing::ChildProcess;
using talvek::testing::X11Display;
namespace audio = talvek::tools::testing;

namespace {

const talvek::testing::ProgramUnderTest PLAYER("TALVEK_E2E_PLAYER", PLAYER_PATH);
const std::string SENDER = SENDER_PATH;

constexpr long FRAME_SAMPLES = 960; // one 20 ms packet or concealed frame, per channel
constexpr int SAMPLE_RATE = 48000;
constexpr long PACKETS = 100;       // two seconds of tone: 440 Hz, then 550 Hz
const std::string SLOW_CLOCK = "0.5";
// Opus's start-up and the decay at the end shift the non-silent span by a
// few hundred samples; a concealed frame is 960, so this still tells them apart.
constexpr double SPAN_TOLERANCE = 400.0;

std::unique_ptr<talvek::testing::XvfbServer> xvfb;

enum class Audio { Enabled, Absent };

// What the device played, as interleaved stereo values.
struct Played {
    bool file_exists = false;
    std::vector<int16_t> stereo;

    long frames() const { return static_cast<long>(stereo.size() / 2); }
    // What was queued: every run of two or more all-zero frames left out.
    Played queued() const {
        Played sound;
        sound.file_exists = file_exists;
        const auto silent = [&](long f) {
            return f >= 0 && f < frames() && stereo[static_cast<size_t>(2 * f)] == 0 &&
                   stereo[static_cast<size_t>(2 * f + 1)] == 0;
        };
        for (long f = 0; f < frames(); ++f) {
            if (silent(f) && (silent(f - 1) || silent(f + 1))) continue;
            sound.stereo.push_back(stereo[static_cast<size_t>(2 * f)]);
            sound.stereo.push_back(stereo[static_cast<size_t>(2 * f + 1)]);
        }
        return sound;
    }
    // Frames from the first to the last one with any non-zero value; -1 if none.
    long first_sound() const {
        for (size_t i = 0; i < stereo.size(); ++i)
            if (stereo[i] != 0) return static_cast<long>(i / 2);
        return -1;
    }
    long last_sound() const {
        for (size_t i = stereo.size(); i-- > 0;)
            if (stereo[i] != 0) return static_cast<long>(i / 2);
        return -1;
    }
    long sound_span() const {
        const long first = first_sound();
        return first < 0 ? 0 : last_sound() - first + 1;
    }
    // The span less the device's own silences: when the playback queue runs
    // dry for a moment (seen under wine, whose timing stalls now and then),
    // the driver plays whole buffers of exact zeros, which neither the tone
    // nor a concealed frame holds for a millisecond.
    long sounding_frames() const {
        constexpr long DEVICE_SILENCE = SAMPLE_RATE / 1000;
        const long first = first_sound();
        if (first < 0) return 0;
        const long last = last_sound();
        long silent = 0, run = 0;
        for (long f = first; f <= last; ++f) {
            const bool zero = stereo[static_cast<size_t>(2 * f)] == 0 &&
                              stereo[static_cast<size_t>(2 * f + 1)] == 0;
            run = zero ? run + 1 : 0;
            if (run == DEVICE_SILENCE) silent += DEVICE_SILENCE;
            else if (run > DEVICE_SILENCE) ++silent;
        }
        return last - first + 1 - silent;
    }
    // Left channel of `count` frames from `start`.
    std::vector<int16_t> left(long start, long count) const {
        std::vector<int16_t> mono;
        for (long f = start; f < start + count && f < frames(); ++f)
            mono.push_back(stereo[static_cast<size_t>(2 * f)]);
        return mono;
    }
};

class PlayerAudioEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!xvfb) xvfb = std::make_unique<talvek::testing::XvfbServer>();
    }
    void SetUp() override {
        ASSERT_TRUE(xvfb->ok()) << "Xvfb did not start";
        ASSERT_TRUE(display.ok());
    }
    void TearDown() override {
        if (!played_path.empty()) std::remove(played_path.c_str());
    }

    void start_player(Audio audio, std::vector<std::string> extra = {}) {
        port = talvek::testing::free_udp_port();
        played_path = ::testing::TempDir() + "player_audio_e2e_" + std::to_string(port) + ".raw";
        std::remove(played_path.c_str());
        std::vector<std::string> argv = PLAYER.command({"--port", std::to_string(port),
                                                        "--username", "Listener", "--width",
                                                        "640", "--height", "360"});
        if (audio == Audio::Enabled) argv.push_back("--has-audio");
        argv.insert(argv.end(), extra.begin(), extra.end());
        player = std::make_unique<ChildProcess>(
            argv, PLAYER.env({"SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=disk",
                              "SDL_DISKAUDIOFILE=" + played_path}));
        ASSERT_TRUE(player->wait_for_output(
            "[VideoPlayer] Listening on UDP port " + std::to_string(port) + "\n", 15s))
            << player->out() << player->err();
        window = display.wait_for_window("Stream: Listener", 10s);
        ASSERT_NE(window, 0u);
    }

    // The sender's tone, slow clock, extra options after; exit status.
    int send_audio(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {SENDER,       "audio", "--port", std::to_string(port),
                                         "--audio-clock-rate", SLOW_CLOCK};
        if (std::find(extra.begin(), extra.end(), "--audio-sequence-list") == extra.end()) {
            extra.insert(extra.end(), {"--count", std::to_string(PACKETS)});
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        ChildProcess sender(argv);
        const int status = sender.wait(30s);
        sender_output = sender.out() + sender.err();
        return status;
    }

    // Lets the last packet play out, closes the window and reads what was
    // played.
    Played finish() {
        std::this_thread::sleep_for(1500ms);
        Played played;
        EXPECT_TRUE(display.request_close(window));
        EXPECT_EQ(player->wait(20s), 0) << player->err();
        std::ifstream file(played_path, std::ios::binary);
        played.file_exists = file.good();
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()};
        played.stereo.resize(bytes.size() / 2);
        std::copy(bytes.begin(), bytes.begin() + static_cast<long>(played.stereo.size() * 2),
                  reinterpret_cast<char*>(played.stereo.data()));
        return played;
    }

    Played play_tone(Audio audio, std::vector<std::string> player_extra = {}) {
        start_player(audio, std::move(player_extra));
        EXPECT_EQ(send_audio(), 0) << sender_output;
        return finish();
    }

    X11Display display;
    unsigned short port = 0;
    std::string played_path;
    std::unique_ptr<ChildProcess> player;
    unsigned long window = 0;
    std::string sender_output;
};

// "first,first+1,...": `count` consecutive sequence numbers.
std::string run_of(uint32_t first, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (!text.empty()) text += ",";
        text += std::to_string(first + static_cast<uint32_t>(i));
    }
    return text;
}

// Amplitude of the strongest ladder pitch other than `hz`.
double strongest_other_pitch(const std::vector<int16_t>& mono, int hz) {
    double strongest = 0.0;
    for (int other = 440; other <= 1210; other += 110) {
        if (other != hz) strongest = std::max(strongest, audio::tone_amplitude(mono, other));
    }
    return strongest;
}

TEST_F(PlayerAudioEndToEnd, PlaysTheSendersToneAtItsPitchAndLength) {
    const Played played = play_tone(Audio::Enabled).queued();
    ASSERT_TRUE(player->out().find("[VideoReceiver] Screen audio enabled (stereo, 48kHz)\n") !=
                std::string::npos)
        << player->out();
    const long start = played.first_sound();
    ASSERT_GE(start, 0) << "nothing but silence in " << played.frames() << " frames";
    EXPECT_NEAR(static_cast<double>(played.sounding_frames()),
                static_cast<double>(PACKETS * FRAME_SAMPLES), SPAN_TOLERANCE);

    // The middle half of each second, clear of the step between them.
    const std::vector<int16_t> first_second = played.left(start + SAMPLE_RATE / 4, SAMPLE_RATE / 2);
    const std::vector<int16_t> second_second =
        played.left(start + SAMPLE_RATE * 5 / 4, SAMPLE_RATE / 2);
    const double a440 = audio::tone_amplitude(first_second, 440);
    EXPECT_NEAR(a440, 8192.0, 8192.0 * 0.15) << "the tone's peak is a quarter of full scale";
    EXPECT_GT(a440, 20.0 * strongest_other_pitch(first_second, 440));
    const double a550 = audio::tone_amplitude(second_second, 550);
    EXPECT_NEAR(a550, 8192.0, 8192.0 * 0.15);
    EXPECT_GT(a550, 20.0 * strongest_other_pitch(second_second, 550));
    EXPECT_EQ(audio::strongest_ladder_pitch(played.left(start, SAMPLE_RATE / 2)), 440);
}

TEST_F(PlayerAudioEndToEnd, GapsAreConcealedWithAtMostThreeFrames) {
    // 100 packets: one number missing after the 30th (one frame concealed),
    // eight after the 60th (capped at three). Without concealment the sound
    // would last 100 frames, uncapped 109.
    const std::string list = run_of(1, 30) + "," + run_of(32, 30) + "," + run_of(70, 40);
    ASSERT_NO_FATAL_FAILURE(start_player(Audio::Enabled));
    ASSERT_EQ(send_audio({"--audio-sequence-list", list}), 0) << sender_output;
    ASSERT_NE(sender_output.find("100 audio packets"), std::string::npos) << sender_output;
    const Played played = finish().queued();
    ASSERT_GE(played.first_sound(), 0);
    EXPECT_NEAR(static_cast<double>(played.sounding_frames()),
                static_cast<double>((PACKETS + 1 + 3) * FRAME_SAMPLES), SPAN_TOLERANCE);
}

TEST_F(PlayerAudioEndToEnd, HalfVolumeHalvesTheLevel) {
    const Played full = play_tone(Audio::Enabled).queued();
    player.reset();
    const Played half = play_tone(Audio::Enabled, {"--audio-volume", "0.5"}).queued();
    ASSERT_GE(full.first_sound(), 0);
    ASSERT_GE(half.first_sound(), 0);
    const double full_rms = audio::rms(full.left(full.first_sound(), full.sound_span()));
    const double half_rms = audio::rms(half.left(half.first_sound(), half.sound_span()));
    ASSERT_GT(full_rms, 1000.0);
    EXPECT_NEAR(half_rms / full_rms, 0.5, 0.02) << full_rms << " then " << half_rms;
}

TEST_F(PlayerAudioEndToEnd, MutedPlaysSilence) {
    const Played played = play_tone(Audio::Enabled, {"--audio-muted"});
    ASSERT_TRUE(played.file_exists);
    // The device ran the whole time (about 4 s: sending and the play-out),
    // fed with zeros.
    EXPECT_GT(played.frames(), 2 * SAMPLE_RATE);
    EXPECT_EQ(played.first_sound(), -1) << "first non-zero value at frame "
                                        << played.first_sound();
}

TEST_F(PlayerAudioEndToEnd, WithoutHasAudioNothingIsPlayed) {
    const Played played = play_tone(Audio::Absent);
    EXPECT_TRUE(!played.file_exists || played.stereo.empty())
        << played.frames() << " frames played";
    EXPECT_EQ(player->out().find("Screen audio enabled"), std::string::npos) << player->out();
    EXPECT_EQ(player->out().find("[Audio] Opened playback device"), std::string::npos);
}

}  // namespace
