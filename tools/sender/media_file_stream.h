#pragma once
// One stream of a media file, demuxed with libavformat and decoded with the
// matching libavcodec decoder, frame by frame; after a rewind it gives the
// file again from its start. The video and the audio file sources share it.

#include <string>

#include "ffmpeg_ptr.h"

namespace talvek::tools {

class MediaFileStream {
public:
    enum class OpenResult { Opened, NoSuchStream, Failed };

    // The best stream of `type` in the file at `path`. Failures are logged,
    // but for a file that has no stream of that type at all.
    OpenResult open(const std::string& path, AVMediaType type);
    // 1: a decoded frame is in frame(); 0: the file is at its end and the
    // decoder has given all it held; -1: error, logged.
    int receive();
    // Back to the start; the decoder forgets what it held.
    bool rewind();

    AVFrame* frame() const { return decoded.get(); }
    const std::string& file() const { return path; }

private:
    std::string path;
    FormatInputPtr format;
    CodecContextPtr decoder;
    PacketPtr packet;
    FramePtr decoded;
    int stream_index = -1;
    bool draining = false;  // the demuxer ended; the decoder gives what it holds
};

}  // namespace talvek::tools
