#pragma once
// Makes the video files the tests read back: the test picture, numbered 0,
// 1, 2..., encoded as VP8 and written to a Matroska file with libavformat,
// with a sound track beside it when asked.

#include <string>

#include "test_audio_file.h"

namespace talvek::tools::testing {

// Writes `pictures` frames of width x height at 30 fps to `path`, and as
// long a stretch of `sound` when it is given.
bool write_test_video_file(const std::string& path, int width, int height, int pictures,
                           const TestSound* sound = nullptr);

// A path for a scratch file of this name, unique to this test process.
std::string scratch_path(const std::string& name);

}  // namespace talvek::tools::testing
