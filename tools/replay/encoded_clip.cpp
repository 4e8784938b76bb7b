#include "encoded_clip.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "clip_file.h"
#include "ffmpeg_ptr.h"
#include "log.h"
#include "noise_clip.h"

namespace talvek::bench {

namespace {

bool copy_planes(const std::vector<uint8_t>& yuv, int width, int height, AVFrame* frame) {
    if (av_frame_make_writable(frame) < 0) return false;
    const uint8_t* src = yuv.data();
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? width : width / 2;
        const int h = plane == 0 ? height : height / 2;
        for (int y = 0; y < h; ++y) {
            std::memcpy(frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane],
                        src, static_cast<size_t>(w));
            src += w;
        }
    }
    return true;
}

}  // namespace

bool encode_clip(const ClipSettings& s, EncodedClip& out) {
    tools::EncoderSettings encoder_settings;
    encoder_settings.codec = s.codec;
    encoder_settings.width = s.width;
    encoder_settings.height = s.height;
    encoder_settings.fps = s.fps;
    encoder_settings.bitrate = s.bitrate;
    encoder_settings.gop = s.gop;
    tools::VideoEncoder encoder;
    if (!encoder.open(encoder_settings)) return false;  // Error already logged
    tools::FramePtr picture = tools::make_yuv_frame(s.width, s.height);
    if (!picture) return false;

    testing::ClipOptions clip;
    clip.width = s.width;
    clip.height = s.height;
    clip.pictures = s.pictures;
    clip.noise_top = 0;
    clip.noise_bottom = s.height * 3 / 4;  // the bars; the number strip stays clean
    clip.noise_amplitude = s.noise_amplitude;

    out = EncodedClip{};
    out.settings = s;
    std::vector<tools::EncodedFrame> produced;
    for (int i = 0; i < s.pictures; ++i) {
        if (!copy_planes(testing::clip_picture_yuv(clip, i), s.width, s.height, picture.get())) {
            return false;
        }
        produced.clear();
        if (encoder.encode(picture.get(), false, produced) != 1) {
            log_err("[bench] the encoder gave no single packet for picture %d\n", i);
            return false;
        }
        out.frames.push_back(std::move(produced.front()));
    }
    return true;
}

std::string clip_cache_name(const ClipSettings& s) {
    char name[160];
    std::snprintf(name, sizeof name, "clip_%s_%dx%d_%gfps_%" PRId64 "bps_%dp_gop%d_n%d.bin",
                  tools::codec_label(s.codec), s.width, s.height, s.fps, s.bitrate, s.pictures,
                  s.gop, s.noise_amplitude);
    return name;
}

bool cached_clip(const ClipSettings& s, const std::string& dir, EncodedClip& out) {
    const std::string path = dir.empty() ? std::string() : dir + "/" + clip_cache_name(s);
    // A clip not cached yet is no error; a damaged one is logged and made again.
    if (!path.empty() && std::filesystem::exists(path) && tools::load_clip_file(path, out.frames) &&
        out.frames.size() == static_cast<size_t>(s.pictures)) {
        out.settings = s;
        return true;
    }
    out.frames.clear();
    if (!encode_clip(s, out)) return false;
    if (!path.empty() && !tools::save_clip_file(path, out.frames)) {
        log_err("[bench] cannot write %s\n", path.c_str());
    }
    return true;
}

}  // namespace talvek::bench
