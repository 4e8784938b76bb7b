#pragma once
// Owning pointers for the FFmpeg objects the sender holds, so every early
// return releases what was acquired without a cleanup ladder.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace talvek::tools {

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FormatInputDeleter {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FormatInputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

// FFmpeg's error text for an AVERROR code (av_err2str is C-only).
std::string av_error_text(int error);

// A YUV420P frame of this size with its own buffers, or null.
FramePtr make_yuv_frame(int width, int height);

}  // namespace talvek::tools
