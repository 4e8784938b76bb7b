// The pre-encoded clip that --clip streams, and the benchmarks' clip cache
// that writes it.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "clip_file.h"
#include "encoded_clip.h"

namespace talvek::tools {
namespace {

// Two frames: a 3-byte keyframe "abc", then a 2-byte delta frame "de".
const std::vector<uint8_t> TWO_FRAMES = {
    0x31, 0x4c, 0x43, 0x50,  // magic 0x50434c31, little-endian
    2,    0,    0,    0,     // frame count
    1,                       // keyframe
    3,    0,    0,    0,     // size
    'a',  'b',  'c',
    0,                       // delta frame
    2,    0,    0,    0,     // size
    'd',  'e',
};

class ClipFileTest : public ::testing::Test {
protected:
    std::string write(const std::vector<uint8_t>& bytes) {
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
    void TearDown() override { std::remove(path.c_str()); }

    std::string path = ::testing::TempDir() + "clip_file_test.bin";
};

TEST_F(ClipFileTest, FramesAndKeyframeFlagsAreRead) {
    std::vector<EncodedFrame> frames;
    ASSERT_TRUE(load_clip_file(write(TWO_FRAMES), frames));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].keyframe);
    EXPECT_EQ(frames[0].data, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_FALSE(frames[1].keyframe);
    EXPECT_EQ(frames[1].data, (std::vector<uint8_t>{'d', 'e'}));
}

TEST_F(ClipFileTest, DamagedFilesAreRefused) {
    std::vector<EncodedFrame> frames;
    std::vector<uint8_t> truncated(TWO_FRAMES.begin(), TWO_FRAMES.end() - 1);
    EXPECT_FALSE(load_clip_file(write(truncated), frames));

    std::vector<uint8_t> wrong_magic = TWO_FRAMES;
    wrong_magic[0] = 0;
    EXPECT_FALSE(load_clip_file(write(wrong_magic), frames));

    std::vector<uint8_t> no_frames(TWO_FRAMES.begin(), TWO_FRAMES.begin() + 8);
    no_frames[4] = 0;
    EXPECT_FALSE(load_clip_file(write(no_frames), frames));

    std::vector<uint8_t> huge_size = TWO_FRAMES;
    huge_size[12] = 0x7f;  // the first frame claims 2 GiB
    EXPECT_FALSE(load_clip_file(write(huge_size), frames));

    EXPECT_FALSE(load_clip_file(path + ".missing", frames));
}

// A keyframe request restarts the clip at its first frame, so that frame
// must be one.
TEST_F(ClipFileTest, ClipThatStartsWithADeltaFrameIsRefused) {
    std::vector<uint8_t> delta_first = TWO_FRAMES;
    delta_first[8] = 0;
    std::vector<EncodedFrame> frames;
    EXPECT_FALSE(load_clip_file(write(delta_first), frames));
}

TEST_F(ClipFileTest, SavedFramesAreTheFileFormByteForByte) {
    const std::vector<EncodedFrame> frames = {{{'a', 'b', 'c'}, true}, {{'d', 'e'}, false}};
    ASSERT_TRUE(save_clip_file(path, frames));
    std::vector<uint8_t> bytes(TWO_FRAMES.size() + 1);
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    EXPECT_EQ(bytes, TWO_FRAMES);
    EXPECT_FALSE(save_clip_file(::testing::TempDir() + "no/such/folder/clip.bin", frames));
}

// A damaged cache file (here: four billion frames, the first of 2 GiB) is
// reported and encoded again, not allocated for.
TEST_F(ClipFileTest, DamagedCachedClipIsEncodedAgain) {
    bench::ClipSettings settings;
    settings.width = 160;
    settings.height = 96;
    settings.pictures = 3;
    settings.bitrate = 200'000;
    const std::string dir = ::testing::TempDir();
    path = dir + "/" + bench::clip_cache_name(settings);
    write({0x31, 0x4c, 0x43, 0x50, 0xff, 0xff, 0xff, 0xff, 1, 0xff, 0xff, 0xff, 0x7f});

    bench::EncodedClip clip;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(bench::cached_clip(settings, dir, clip));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("is damaged at frame 0"), std::string::npos) << err;
    ASSERT_EQ(clip.frames.size(), 3u);
    EXPECT_TRUE(clip.frames[0].keyframe);

    // The cache now holds the clip just encoded.
    std::vector<EncodedFrame> cached;
    ASSERT_TRUE(load_clip_file(path, cached));
    ASSERT_EQ(cached.size(), 3u);
    for (size_t i = 0; i < cached.size(); ++i) EXPECT_EQ(cached[i].data, clip.frames[i].data);
}

}  // namespace
}  // namespace talvek::tools
