// A video file as the player mode's source: decoded, scaled to the stream
// size and started over at its end, with the pictures in file order.

#include <gtest/gtest.h>

#include <cstdio>

#include "test_decoder.h"
#include "test_video_file.h"
#include "video_source.h"

namespace talvek::tools {
namespace {

class FileSourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        path = new std::string(testing::scratch_path("clip.mkv"));
        ASSERT_TRUE(testing::write_test_video_file(*path, 320, 240, PICTURES));
    }
    static void TearDownTestSuite() {
        std::remove(path->c_str());
        delete path;
        path = nullptr;
    }

    static constexpr int PICTURES = 12;
    static std::string* path;
};

std::string* FileSourceTest::path = nullptr;

TEST_F(FileSourceTest, PicturesComeInFileOrderAndStartOverAtTheEnd) {
    std::unique_ptr<VideoSource> source = open_file_source(*path);
    ASSERT_NE(source, nullptr);
    FramePtr frame = make_yuv_frame(320, 240);
    for (uint32_t i = 0; i < PICTURES + 5; ++i) {
        ASSERT_TRUE(source->next(frame.get(), 1000 + i)) << "picture " << i;
        EXPECT_EQ(testing::shown_frame_number(frame.get()), i % PICTURES) << "picture " << i;
    }
}

TEST_F(FileSourceTest, PicturesAreScaledToTheStreamSize) {
    std::unique_ptr<VideoSource> source = open_file_source(*path);
    ASSERT_NE(source, nullptr);
    FramePtr frame = make_yuv_frame(640, 160);
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(source->next(frame.get(), 0));
        EXPECT_EQ(frame->width, 640);
        EXPECT_EQ(frame->height, 160);
        EXPECT_EQ(testing::shown_frame_number(frame.get()), i);
    }
}

TEST(FileSource, MissingFileIsRefused) {
    EXPECT_EQ(open_file_source(testing::scratch_path("no-such-file.mkv")), nullptr);
}

TEST(FileSource, FileWithoutVideoIsRefused) {
    const std::string text = testing::scratch_path("notes.txt");
    FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a video\n", f);
    std::fclose(f);
    EXPECT_EQ(open_file_source(text), nullptr);
    std::remove(text.c_str());
}

}  // namespace
}  // namespace talvek::tools
