#pragma once
// Where the player mode's pictures come from: the moving test picture, or
// the video of a file. Either way the encoder gets YUV420P frames of the
// stream size, one per call, for as long as it asks.

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
}

namespace talvek::tools {

class VideoSource {
public:
    virtual ~VideoSource() = default;

    // Writes the next picture into `frame` (YUV420P, the size the source was
    // made for). `frame_id` is the number the picture will travel under; the
    // test picture shows it. Logs and returns false on failure.
    virtual bool next(AVFrame* frame, uint32_t frame_id) = 0;

    // What the start-up line says about the pictures.
    virtual std::string describe() const = 0;
};

std::unique_ptr<VideoSource> make_test_pattern_source(int width, int height);

// Decodes the best video stream of a file with libavformat and libavcodec,
// scaled to the size of the frame it fills, one decoded picture per call
// whatever the file's own rate, starting over at the end. Null (logged) if
// the file cannot be read.
std::unique_ptr<VideoSource> open_file_source(const std::string& path);

}  // namespace talvek::tools
