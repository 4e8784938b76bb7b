// A file's sound as the sender reads it: whatever the file's rate and
// channels, 48 kHz stereo comes out with the file's own pitch, and a short
// file starts over without a stop.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "audio_source.h"
#include "test_audio.h"
#include "test_audio_file.h"
#include "test_video_file.h"

namespace talvek::tools {
namespace {

// Reads `frames` stereo frames (whole 20 ms packets), as the stream does.
std::vector<int16_t> read_packets(AudioSource& source, int frames) {
    EXPECT_EQ(frames % 960, 0);
    std::vector<int16_t> all;
    std::vector<int16_t> packet(1920);
    for (int done = 0; done < frames; done += 960) {
        EXPECT_TRUE(source.read(packet.data(), 960));
        all.insert(all.end(), packet.begin(), packet.end());
    }
    return all;
}

class FileAudioSourceTest : public ::testing::Test {
protected:
    void TearDown() override { std::remove(path.c_str()); }

    std::unique_ptr<AudioSource> open_wav(const testing::TestSound& sound, double seconds) {
        EXPECT_TRUE(testing::write_test_audio_file(path, sound, seconds));
        std::unique_ptr<AudioSource> source;
        EXPECT_EQ(open_file_audio_source(path, source), FileAudioStatus::Opened);
        return source;
    }

    std::string path = testing::scratch_path("sound.wav");
};

TEST_F(FileAudioSourceTest, MonoAt44100ComesOutAt48000StereoAtItsPitch) {
    std::unique_ptr<AudioSource> source = open_wav({44100, 1, 1000}, 1.0);
    ASSERT_NE(source, nullptr);
    const std::vector<int16_t> stereo = read_packets(*source, 48000 / 2);
    const std::vector<int16_t> left = testing::channel_of(stereo, 0);
    EXPECT_EQ(left, testing::channel_of(stereo, 1)) << "mono goes to both sides";
    // Half a second of 1000 Hz. Unconverted, 44100 samples a second played
    // at 48000 would sound at 1088 Hz: 544 crossings.
    EXPECT_NEAR(testing::upward_crossings(left), 500, 2);
    EXPECT_GT(testing::tone_amplitude(left, 1000), 0.5 * testing::TEST_SOUND_AMPLITUDE);
}

TEST_F(FileAudioSourceTest, StereoKeepsLeftAndRight) {
    // Left 500 Hz, right 1000 Hz, at the output rate already.
    std::unique_ptr<AudioSource> source = open_wav({48000, 2, 500}, 0.5);
    ASSERT_NE(source, nullptr);
    const std::vector<int16_t> stereo = read_packets(*source, 12 * 960);  // 0.24 s
    const std::vector<int16_t> left = testing::channel_of(stereo, 0);
    const std::vector<int16_t> right = testing::channel_of(stereo, 1);
    EXPECT_NEAR(testing::upward_crossings(left), 120, 1);
    EXPECT_NEAR(testing::upward_crossings(right), 240, 1);
    // Unchanged: no resampling, no remix at the same rate and layout.
    for (long i = 0; i < 1000; ++i) {
        ASSERT_EQ(left[static_cast<size_t>(i)], testing::test_sound_sample({48000, 2, 500}, 0, i));
        ASSERT_EQ(right[static_cast<size_t>(i)], testing::test_sound_sample({48000, 2, 500}, 1, i));
    }
}

TEST_F(FileAudioSourceTest, ShortFileStartsOverAndKeepsGoing) {
    // A quarter second at 32 kHz, read for a second and a half: six times
    // through the file, each time the same sound.
    std::unique_ptr<AudioSource> source = open_wav({32000, 1, 800}, 0.25);
    ASSERT_NE(source, nullptr);
    const std::vector<int16_t> left = testing::channel_of(read_packets(*source, 72000), 0);
    ASSERT_EQ(left.size(), 72000u);
    EXPECT_NEAR(testing::upward_crossings(left), 1200, 8);
    for (size_t pass = 0; pass < 6; ++pass) {
        const auto from = left.begin() + static_cast<ptrdiff_t>(pass * 12000);
        const std::vector<int16_t> part(from + 1000, from + 11000);
        EXPECT_GT(testing::tone_amplitude(part, 800), 0.5 * testing::TEST_SOUND_AMPLITUDE)
            << "pass " << pass;
    }
}

TEST_F(FileAudioSourceTest, SoundBesideVideoIsFound) {
    const std::string clip = testing::scratch_path("clip_with_sound.mkv");
    const testing::TestSound sound{44100, 2, 600};
    ASSERT_TRUE(testing::write_test_video_file(clip, 160, 120, 15, &sound));
    std::unique_ptr<AudioSource> source;
    ASSERT_EQ(open_file_audio_source(clip, source), FileAudioStatus::Opened);
    const std::vector<int16_t> stereo = read_packets(*source, 24000);
    std::remove(clip.c_str());
    EXPECT_NEAR(testing::upward_crossings(testing::channel_of(stereo, 0)), 300, 2);
    EXPECT_NEAR(testing::upward_crossings(testing::channel_of(stereo, 1)), 600, 2);
}

TEST_F(FileAudioSourceTest, VideoOnlyFileHasNoAudioStream) {
    const std::string clip = testing::scratch_path("silent.mkv");
    ASSERT_TRUE(testing::write_test_video_file(clip, 160, 120, 3));
    std::unique_ptr<AudioSource> source;
    EXPECT_EQ(open_file_audio_source(clip, source), FileAudioStatus::NoAudioStream);
    EXPECT_EQ(source, nullptr);
    std::remove(clip.c_str());
}

TEST_F(FileAudioSourceTest, MissingFileFails) {
    std::unique_ptr<AudioSource> source;
    EXPECT_EQ(open_file_audio_source(testing::scratch_path("not_there.wav"), source),
              FileAudioStatus::Failed);
    EXPECT_EQ(source, nullptr);
}

}  // namespace
}  // namespace talvek::tools
