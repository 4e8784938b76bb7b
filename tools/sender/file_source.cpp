// A file's video as a source: demuxed with libavformat, decoded with the
// matching libavcodec decoder and scaled to the stream size. At the end of
// the file it seeks back to the start, so a short clip can feed a long run.

#include "log.h"
#include "media_file_stream.h"
#include "picture_scaler.h"
#include "video_source.h"

namespace talvek::tools {

namespace {

class FileSource final : public VideoSource {
public:
    explicit FileSource(std::string path_) : path(std::move(path_)) {}

    bool open();
    bool next(AVFrame* frame, uint32_t frame_id) override;
    std::string describe() const override { return "file " + path; }

private:
    std::string path;
    MediaFileStream media;
    PictureScaler scaler;
};

bool FileSource::open() {
    const MediaFileStream::OpenResult result = media.open(path, AVMEDIA_TYPE_VIDEO);
    if (result == MediaFileStream::OpenResult::NoSuchStream) {
        log_err("[Sender] Error: %s has no video stream we can decode\n", path.c_str());
    }
    return result == MediaFileStream::OpenResult::Opened;
}

bool FileSource::next(AVFrame* frame, uint32_t frame_id) {
    (void)frame_id;
    int got = media.receive();
    if (got == 0) {
        // One rewind per call: a file that yields nothing from its start
        // would otherwise loop here forever.
        if (!media.rewind()) return false;
        got = media.receive();
        if (got == 0) log_err("[Sender] Error: %s holds no picture\n", path.c_str());
    }
    if (got <= 0) return false;

    if (av_frame_make_writable(frame) < 0) return false;
    AVFrame* decoded = media.frame();
    const bool ok = scaler.scale(decoded->data, decoded->linesize, decoded->width,
                                 decoded->height, static_cast<AVPixelFormat>(decoded->format),
                                 frame);
    av_frame_unref(decoded);
    return ok;
}

}  // namespace

std::unique_ptr<VideoSource> open_file_source(const std::string& path) {
    auto source = std::make_unique<FileSource>(path);
    if (!source->open()) return nullptr;
    return source;
}

}  // namespace talvek::tools
