// A file's sound as an audio source: demuxed with libavformat, decoded with
// the matching libavcodec decoder and converted to 48 kHz stereo s16 with
// libswresample. At the end of the file it goes back to the start, like
// the video source, so a short clip can feed a long run.

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "audio_source.h"
#include "ffmpeg_ptr.h"
#include "log.h"
#include "media_file_stream.h"
#include "test_tone.h"

namespace talvek::tools {

namespace {

struct SwrDeleter {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

class FileAudioSource final : public AudioSource {
public:
    explicit FileAudioSource(std::string path_) : path(std::move(path_)) {}
    ~FileAudioSource() override { av_channel_layout_uninit(&converter_layout); }
    FileAudioSource(const FileAudioSource&) = delete;
    FileAudioSource& operator=(const FileAudioSource&) = delete;

    FileAudioStatus open();
    bool read(int16_t* stereo, int frames) override;
    std::string describe() const override { return "audio of file " + path; }

private:
    // 1: samples were added to `pending`; 0: the file is at its end (the
    // converter's tail included); -1: error, logged.
    int decode_more();
    bool convert(const AVFrame* in);
    bool open_converter(const AVFrame* in);
    bool rewind();

    std::string path;
    MediaFileStream media;
    SwrPtr converter;
    int converter_rate = 0;  // input the converter was made for
    int converter_format = -1;
    AVChannelLayout converter_layout{};
    int64_t frames_since_rewind = 0;  // a file that yields nothing must not loop forever
    std::vector<int16_t> pending;     // converted, interleaved stereo, not yet read
    size_t pending_start = 0;
    std::vector<int16_t> scratch;
};

FileAudioStatus FileAudioSource::open() {
    switch (media.open(path, AVMEDIA_TYPE_AUDIO)) {
    case MediaFileStream::OpenResult::Opened: return FileAudioStatus::Opened;
    case MediaFileStream::OpenResult::NoSuchStream: return FileAudioStatus::NoAudioStream;
    case MediaFileStream::OpenResult::Failed: break;
    }
    return FileAudioStatus::Failed;
}

bool FileAudioSource::open_converter(const AVFrame* in) {
    AVChannelLayout in_layout{};
    // Raw formats such as WAV may not say which channels they hold.
    if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&in_layout, in->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&in_layout, &in->ch_layout) < 0) {
        return false;
    }
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;  // not const: FFmpeg 5 takes it so
    SwrContext* raw = nullptr;
    int err = swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_S16, AUDIO_SAMPLE_RATE, &in_layout,
                                  static_cast<AVSampleFormat>(in->format), in->sample_rate, 0,
                                  nullptr);
    converter.reset(raw);
    if (err >= 0) err = swr_init(converter.get());
    if (err < 0) {
        log_err("[Sender] Error: cannot convert the audio of %s to 48 kHz stereo: %s\n",
                path.c_str(), av_error_text(err).c_str());
        converter.reset();
        av_channel_layout_uninit(&in_layout);
        return false;
    }
    av_channel_layout_uninit(&converter_layout);
    converter_layout = in_layout;  // takes over what in_layout owns
    converter_rate = in->sample_rate;
    converter_format = in->format;
    return true;
}

bool FileAudioSource::convert(const AVFrame* in) {
    // With in == null this drains what the converter still holds.
    if (in) {
        const bool same_input = converter && in->sample_rate == converter_rate &&
                                in->format == converter_format &&
                                in->ch_layout.nb_channels == converter_layout.nb_channels;
        if (!same_input && !open_converter(in)) return false;
    } else if (!converter) {
        return true;
    }
    const int in_count = in ? in->nb_samples : 0;
    const int room = swr_get_out_samples(converter.get(), in_count);
    if (room < 0) return false;
    scratch.resize(static_cast<size_t>(room) * AUDIO_CHANNELS);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(scratch.data())};
    const int got = swr_convert(converter.get(), out, room,
                                in ? const_cast<const uint8_t**>(in->extended_data) : nullptr,
                                in_count);
    if (got < 0) {
        log_err("[Sender] Error: converting the audio of %s: %s\n", path.c_str(),
                av_error_text(got).c_str());
        return false;
    }
    pending.insert(pending.end(), scratch.begin(),
                   scratch.begin() + static_cast<ptrdiff_t>(got) * AUDIO_CHANNELS);
    frames_since_rewind += got;
    return true;
}

int FileAudioSource::decode_more() {
    const int got = media.receive();
    if (got < 0) return -1;
    if (got == 1) {
        const bool ok = convert(media.frame());
        av_frame_unref(media.frame());
        return ok ? 1 : -1;
    }
    if (!convert(nullptr)) return -1;
    // A fresh converter after the rewind: its filter history belongs to the
    // end of the file, not its start.
    converter.reset();
    return 0;
}

bool FileAudioSource::rewind() {
    if (frames_since_rewind == 0) {
        log_err("[Sender] Error: %s holds no sound\n", path.c_str());
        return false;
    }
    if (!media.rewind()) return false;
    frames_since_rewind = 0;
    return true;
}

bool FileAudioSource::read(int16_t* stereo, int frames) {
    const size_t wanted = static_cast<size_t>(frames) * AUDIO_CHANNELS;
    while (pending.size() - pending_start < wanted) {
        const int got = decode_more();
        if (got < 0) return false;
        if (got == 0 && !rewind()) return false;
    }
    std::memcpy(stereo, pending.data() + pending_start, wanted * sizeof(int16_t));
    pending_start += wanted;
    // Keep the buffer from growing: drop what was read once it is most of it.
    if (pending_start > pending.size() / 2) {
        pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(pending_start));
        pending_start = 0;
    }
    return true;
}

}  // namespace

FileAudioStatus open_file_audio_source(const std::string& path,
                                       std::unique_ptr<AudioSource>& out) {
    auto source = std::make_unique<FileAudioSource>(path);
    const FileAudioStatus status = source->open();
    if (status == FileAudioStatus::Opened) out = std::move(source);
    return status;
}

}  // namespace talvek::tools
