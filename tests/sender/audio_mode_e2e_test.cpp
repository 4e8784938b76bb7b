// The real `sender` sending screen audio to a socket of the test over
// loopback, alone and beside the video: numbering, pace, loss on purpose,
// and the sound itself, decoded with libopus as a player decodes it.

#include <gtest/gtest.h>

#include <opus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "media_header.h"
#include "sender_process_test.h"
#include "test_audio.h"
#include "test_audio_file.h"
#include "test_tone.h"
#include "test_video_file.h"

namespace talvek::tools {
namespace {

using Clock = std::chrono::steady_clock;

struct AudioPacket {
    uint32_t sequence;
    std::vector<uint8_t> opus;
    double at;  // seconds after the first packet arrived
};

class AudioModeTest : public SenderProcessTest {
protected:
    // Runs the sender to its end; keeps the audio datagrams, checking each
    // header on the way, and counts the video ones.
    int run(const std::string& mode, const std::vector<std::string>& extra) {
        start_sender(mode, extra);
        Clock::time_point first{};
        return receive_until_exit([&](const uint8_t* d, int n) {
            EXPECT_GE(n, 28);
            if (n < 28) return;
            const MediaHeader h = read_media_header(d);
            if (!is_screen_audio(h.flags)) {
                ++video_datagrams;
                return;
            }
            EXPECT_EQ(h.flags, VOICE_FLAG_SCREEN_AUDIO);
            EXPECT_EQ(std::vector<uint8_t>(d, d + 20), std::vector<uint8_t>(20, 0));
            EXPECT_EQ(d[27], 0);
            EXPECT_GE(h.payload_length, 1);
            EXPECT_EQ(h.payload_length, n - 28) << "nothing after the packet";
            const Clock::time_point now = Clock::now();
            if (audio.empty()) first = now;
            audio.push_back({h.sequence, {d + 28, d + n},
                             std::chrono::duration<double>(now - first).count()});
        });
    }

    // Median time between arrivals, in seconds: a late read on a busy
    // machine bunches a few packets but does not move it.
    double median_gap() const {
        std::vector<double> gaps;
        for (size_t i = 1; i < audio.size(); ++i) gaps.push_back(audio[i].at - audio[i - 1].at);
        if (gaps.empty()) return 0.0;
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<ptrdiff_t>(gaps.size() / 2),
                         gaps.end());
        return gaps[gaps.size() / 2];
    }

    // The run's pace: arrivals `interval` seconds apart, and the whole run
    // as long as its packets, give or take a loaded machine.
    void expect_pace(double interval) const {
        ASSERT_GE(audio.size(), 2u);
        const double span = interval * static_cast<double>(audio.size() - 1);
        EXPECT_NEAR(median_gap(), interval, interval * 0.2);
        EXPECT_GT(audio.back().at, span * 0.8);
        EXPECT_LT(audio.back().at, span * 1.5);
    }

    std::vector<uint32_t> sequences() const {
        std::vector<uint32_t> out;
        for (const AudioPacket& p : audio) out.push_back(p.sequence);
        return out;
    }

    // "[Sender] audio <seq>: <bytes> bytes, sent|dropped" lines, by sequence.
    std::map<uint32_t, std::pair<size_t, std::string>> verbose_lines() const {
        std::map<uint32_t, std::pair<size_t, std::string>> lines;
        std::istringstream text(sender->out());
        std::string line;
        while (std::getline(text, line)) {
            unsigned sequence = 0;
            size_t bytes = 0;
            char fate[16] = {};
            if (std::sscanf(line.c_str(), "[Sender] audio %u: %zu bytes, %15s", &sequence, &bytes,
                            fate) == 3) {
                lines[sequence] = {bytes, fate};
            }
        }
        return lines;
    }

    std::vector<AudioPacket> audio;
    size_t video_datagrams = 0;
};

TEST_F(AudioModeTest, SequencesRiseByOneAtFiftyPacketsASecond) {
    const int status = run("audio", {"--count", "60", "--first-seq", "1000", "--verbose"});
    const std::string out = sender->out();
    ASSERT_EQ(status, 0) << out << sender->err();
    ASSERT_EQ(audio.size(), 60u);
    for (size_t i = 0; i < audio.size(); ++i) EXPECT_EQ(audio[i].sequence, 1000 + i);

    expect_pace(0.020);

    const auto lines = verbose_lines();
    ASSERT_EQ(lines.size(), 60u) << out;
    for (const AudioPacket& p : audio) {
        EXPECT_EQ(lines.at(p.sequence).first, p.opus.size());
        EXPECT_EQ(lines.at(p.sequence).second, "sent");
    }
    EXPECT_NE(out.find("[Sender] done: 60 audio packets ("), std::string::npos) << out;
    EXPECT_NE(out.find(" 0 lost to --audio-drop), 60 datagrams offered, 60 sent ("),
              std::string::npos)
        << out;
}

TEST_F(AudioModeTest, PacketsCarryTheToneOfTheirPlaceInTheStream) {
    // 1.2 s: the 440 Hz second, then 550 Hz.
    ASSERT_EQ(run("audio", {"--count", "60"}), 0) << sender->err();
    ASSERT_EQ(audio.size(), 60u);
    testing::OpusTestDecoder decoder;
    std::vector<int16_t> pcm;
    for (const AudioPacket& p : audio) {
        ASSERT_EQ(decoder.decode(p.opus.data(), p.opus.size(), 960, pcm), 960)
            << "packet " << p.sequence;
    }
    for (size_t k : {5u, 25u, 45u, 53u, 57u}) {
        const std::vector<int16_t> one(pcm.begin() + static_cast<ptrdiff_t>(k * 1920),
                                       pcm.begin() + static_cast<ptrdiff_t>((k + 1) * 1920));
        EXPECT_EQ(testing::strongest_ladder_pitch(testing::channel_of(one, 0)),
                  tone_frequency_at(static_cast<int64_t>(k) * 960))
            << "packet " << k;
    }
}

TEST_F(AudioModeTest, AudioDropLeavesGapsInTheNumbers) {
    const int status =
        run("audio", {"--count", "50", "--audio-drop", "0.3", "--seed", "5", "--verbose"});
    const std::string out = sender->out();
    ASSERT_EQ(status, 0) << out << sender->err();
    ASSERT_GT(audio.size(), 20u);
    ASSERT_LT(audio.size(), 48u);

    // Every number from 1 to 50 was either heard or reported dropped.
    std::map<uint32_t, bool> heard;
    for (size_t i = 1; i < audio.size(); ++i) {
        EXPECT_GT(audio[i].sequence, audio[i - 1].sequence) << "gaps, never out of order";
    }
    for (const AudioPacket& p : audio) heard[p.sequence] = true;
    const auto lines = verbose_lines();
    ASSERT_EQ(lines.size(), 50u) << out;
    size_t gaps = 0;
    for (uint32_t s = 1; s <= 50; ++s) {
        const bool dropped = lines.at(s).second == "dropped";
        EXPECT_NE(heard.count(s) == 1, dropped) << "sequence " << s;
        if (dropped) ++gaps;
    }
    EXPECT_EQ(gaps + audio.size(), 50u);
    const std::string summary = "[Sender] done: 50 audio packets (";
    const size_t at = out.find(summary);
    ASSERT_NE(at, std::string::npos) << out;
    unsigned long long bytes = 0;
    unsigned long long lost = 0;
    ASSERT_EQ(std::sscanf(out.c_str() + at + summary.size(), "%llu Opus bytes, %llu lost", &bytes,
                          &lost),
              2);
    EXPECT_EQ(lost, gaps);
}

TEST_F(AudioModeTest, ExplicitSequenceListIsSentInItsOrder) {
    const std::vector<uint32_t> list = {10, 12, 11, 13, 13, 4294967295u, 5};
    ASSERT_EQ(run("audio", {"--audio-sequence-list", "10,12,11,13,13,4294967295,5"}), 0)
        << sender->err();
    EXPECT_EQ(sequences(), list) << "one packet each, then no more";
}

TEST_F(AudioModeTest, SequenceJumpMakesOneGap) {
    ASSERT_EQ(run("audio", {"--count", "8", "--audio-seq-jump", "5@4"}), 0) << sender->err();
    EXPECT_EQ(sequences(), (std::vector<uint32_t>{1, 2, 3, 4, 10, 11, 12, 13}));
}

TEST_F(AudioModeTest, FortyMsPacketsHold1920SamplesAndComeTwentyFiveASecond) {
    ASSERT_EQ(run("audio", {"--count", "12", "--audio-packet-ms", "40"}), 0) << sender->err();
    ASSERT_EQ(audio.size(), 12u);
    testing::OpusTestDecoder decoder;
    for (const AudioPacket& p : audio) {
        std::vector<int16_t> pcm;
        EXPECT_EQ(decoder.decode(p.opus.data(), p.opus.size(), 5760, pcm), 1920);
        EXPECT_EQ(decoder.decode(p.opus.data(), p.opus.size(), 960, pcm), OPUS_BUFFER_TOO_SMALL)
            << "too long for a player's 20 ms frame";
    }
    expect_pace(0.040);
}

TEST_F(AudioModeTest, FileSoundIsSentAtItsPitch) {
    const std::string wav = testing::scratch_path("e2e_sound.wav");
    ASSERT_TRUE(testing::write_test_audio_file(wav, {22050, 1, 700}, 0.5));
    const int status = run("audio", {"--input", wav, "--count", "20"});
    std::remove(wav.c_str());
    ASSERT_EQ(status, 0) << sender->out() << sender->err();
    EXPECT_NE(sender->out().find("audio of file " + wav), std::string::npos);
    ASSERT_EQ(audio.size(), 20u);
    testing::OpusTestDecoder decoder;
    std::vector<int16_t> pcm;
    for (const AudioPacket& p : audio) decoder.decode(p.opus.data(), p.opus.size(), 960, pcm);
    ASSERT_EQ(pcm.size(), 20u * 1920);
    const std::vector<int16_t> steady(pcm.begin() + 2 * 1920, pcm.end());
    const std::vector<int16_t> left = testing::channel_of(steady, 0);
    // 18 packets, 0.36 s of 700 Hz.
    EXPECT_NEAR(testing::upward_crossings(left), 252, 3);
}

TEST_F(AudioModeTest, FileWithoutSoundIsAnErrorInTheAudioMode) {
    const std::string clip = testing::scratch_path("e2e_silent.mkv");
    ASSERT_TRUE(testing::write_test_video_file(clip, 160, 120, 3));
    sender = std::make_unique<talvek::testing::ChildProcess>(
        std::vector<std::string>{SENDER, "audio", "--port",
                                 std::to_string(receiver.get_bound_port()), "--input", clip});
    EXPECT_EQ(sender->wait(std::chrono::seconds(10)), 1);
    std::remove(clip.c_str());
    EXPECT_NE(sender->err().find("has no audio stream"), std::string::npos) << sender->err();
}

TEST_F(AudioModeTest, AudioStateRepliesArePrinted) {
    start_sender("audio", {"--count", "25"});
    bool answered = false;
    const int status = receive_until_exit([&](const uint8_t*, int) {
        if (answered) return;
        answered = true;
        // muted = 0, volume 0.75f (0x3F400000 LE)
        send_to_sender({'A', 'U', 'D', 'S', 0x00, 0x00, 0x00, 0x40, 0x3F});
    });
    ASSERT_EQ(status, 0);
    EXPECT_NE(sender->out().find("[Sender] received AUDS muted=0 volume=0.750\n"),
              std::string::npos)
        << sender->out();
    EXPECT_NE(sender->out().find(" 1 replies\n"), std::string::npos) << sender->out();
}

TEST_F(AudioModeTest, PlayerModeInterleavesAudioWithTheVideo) {
    // One second of video at 30 fps: fifty 20 ms packets beside it.
    const int status = run("player", {"--audio", "--width", "320", "--height", "240", "--fps",
                                      "30", "--frames", "30", "--first-seq", "7"});
    const std::string out = sender->out();
    ASSERT_EQ(status, 0) << out << sender->err();
    ASSERT_EQ(audio.size(), 50u) << out;
    for (size_t i = 0; i < audio.size(); ++i) EXPECT_EQ(audio[i].sequence, 7 + i);
    EXPECT_GE(video_datagrams, 30u);
    expect_pace(0.020);
    EXPECT_NE(out.find("[Sender] audio: test tone 440 Hz"), std::string::npos) << out;
    EXPECT_NE(out.find("[Sender] done: 30 frames ("), std::string::npos) << out;
    EXPECT_NE(out.find(" replies, 50 audio packets ("), std::string::npos) << out;
}

TEST_F(AudioModeTest, PlayerModeSendsTheSoundOfItsInput) {
    const std::string clip = testing::scratch_path("e2e_clip_sound.mkv");
    const testing::TestSound sound{44100, 2, 600};
    ASSERT_TRUE(testing::write_test_video_file(clip, 160, 120, 15, &sound));
    const int status = run("player", {"--audio", "--input", clip, "--width", "160", "--height",
                                      "120", "--fps", "30", "--frames", "24"});
    std::remove(clip.c_str());
    ASSERT_EQ(status, 0) << sender->out() << sender->err();
    ASSERT_EQ(audio.size(), 40u);
    EXPECT_GE(video_datagrams, 24u);
    testing::OpusTestDecoder decoder;
    std::vector<int16_t> pcm;
    for (const AudioPacket& p : audio) decoder.decode(p.opus.data(), p.opus.size(), 960, pcm);
    ASSERT_EQ(pcm.size(), 40u * 1920);
    const std::vector<int16_t> steady(pcm.begin() + 2 * 1920, pcm.begin() + 22 * 1920);
    // 0.4 s: 600 Hz on the left, 1200 Hz on the right.
    EXPECT_NEAR(testing::upward_crossings(testing::channel_of(steady, 0)), 240, 3);
    EXPECT_NEAR(testing::upward_crossings(testing::channel_of(steady, 1)), 480, 4);
}

}  // namespace
}  // namespace talvek::tools
