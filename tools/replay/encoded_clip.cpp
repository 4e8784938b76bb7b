#include "encoded_clip.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ffmpeg_ptr.h"
#include "log.h"
#include "noise_clip.h"

namespace talvek::bench {

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// The cache file: a magic word, the frame count, then per frame one
// keyframe byte, a 32-bit size and the bytes. Host byte order: it never
// leaves the machine that wrote it.
constexpr uint32_t CACHE_MAGIC = 0x50434c31;  // "PCL1"

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

bool save_clip(const std::string& path, const EncodedClip& clip) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    const uint32_t count = static_cast<uint32_t>(clip.frames.size());
    bool ok = std::fwrite(&CACHE_MAGIC, 4, 1, f.get()) == 1 && std::fwrite(&count, 4, 1, f.get()) == 1;
    for (const tools::EncodedFrame& frame : clip.frames) {
        const uint8_t key = frame.keyframe ? 1 : 0;
        const uint32_t size = static_cast<uint32_t>(frame.data.size());
        ok = ok && std::fwrite(&key, 1, 1, f.get()) == 1 && std::fwrite(&size, 4, 1, f.get()) == 1 &&
             std::fwrite(frame.data.data(), 1, size, f.get()) == size;
    }
    return std::fclose(f.release()) == 0 && ok;
}

bool load_clip(const std::string& path, EncodedClip& out) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return false;
    uint32_t magic = 0;
    uint32_t count = 0;
    if (std::fread(&magic, 4, 1, f.get()) != 1 || magic != CACHE_MAGIC ||
        std::fread(&count, 4, 1, f.get()) != 1) {
        return false;
    }
    out.frames.assign(count, {});
    for (tools::EncodedFrame& frame : out.frames) {
        uint8_t key = 0;
        uint32_t size = 0;
        if (std::fread(&key, 1, 1, f.get()) != 1 || std::fread(&size, 4, 1, f.get()) != 1) {
            return false;
        }
        frame.keyframe = key != 0;
        frame.data.resize(size);
        if (std::fread(frame.data.data(), 1, size, f.get()) != size) return false;
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
    if (!path.empty() && load_clip(path, out) &&
        out.frames.size() == static_cast<size_t>(s.pictures)) {
        out.settings = s;
        return true;
    }
    if (!encode_clip(s, out)) return false;
    if (!path.empty() && !save_clip(path, out)) {
        log_err("[bench] cannot write %s\n", path.c_str());
    }
    return true;
}

}  // namespace talvek::bench
