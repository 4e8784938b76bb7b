#pragma once
// libavcodec's VP8 (libvpx) or H.264 (libx264) encoder, set up as a screen
// share sends: real time, no lookahead, no B-frames, so each picture comes
// out as one packet before the next picture goes in; keyframes on a fixed
// interval and on demand, since a receiver recovers from loss only through one.

#include <cstdint>
#include <vector>

#include "ffmpeg_ptr.h"
#include "media_header.h"

namespace talvek::tools {

struct EncoderSettings {
    VideoCodec codec = VideoCodec::VP8;
    int width = 1280;
    int height = 720;
    double fps = 30.0;
    int64_t bitrate = 2'000'000;  // bits per second
    int gop = 300;                // frames from one scheduled keyframe to the next
};

struct EncodedFrame {
    std::vector<uint8_t> data;
    bool keyframe = false;
};

// The libavcodec encoder used for a codec: "libvpx" or "libx264".
const char* encoder_name(VideoCodec codec);
const char* codec_label(VideoCodec codec);  // "vp8" or "h264"

class VideoEncoder {
public:
    // Logs and returns false when the encoder is missing or refuses the settings.
    bool open(const EncoderSettings& settings);

    // Encodes one YUV420P picture of the opened size; with `force_keyframe`
    // it becomes a keyframe. Appends what the encoder gives back to `out`
    // and returns how many packets that was (1 with these settings, 0 if the
    // encoder skipped the picture), or -1 after logging an error. The
    // picture's pts and pict_type are overwritten.
    int encode(AVFrame* picture, bool force_keyframe, std::vector<EncodedFrame>& out);

private:
    int collect(std::vector<EncodedFrame>& out);

    CodecContextPtr context;
    PacketPtr packet;
    int64_t next_pts = 0;
};

}  // namespace talvek::tools
