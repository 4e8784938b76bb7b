#include "clip_file.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "log.h"

namespace talvek::tools {

namespace {

constexpr uint32_t CLIP_MAGIC = 0x50434c31;
// Above a player's 1000 fragments of 1400 bytes: a size beyond it is a
// damaged file, not a frame to allocate for.
constexpr uint32_t MAX_FRAME_BYTES = 16u << 20;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

template <typename T>
bool read_value(FILE* f, T& value) {
    return std::fread(&value, sizeof value, 1, f) == 1;
}

}  // namespace

bool load_clip_file(const std::string& path, std::vector<EncodedFrame>& out) {
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        log_err("[Sender] Error: cannot open clip %s\n", path.c_str());
        return false;
    }
    uint32_t magic = 0;
    uint32_t count = 0;
    if (!read_value(f.get(), magic) || magic != CLIP_MAGIC || !read_value(f.get(), count) ||
        count == 0) {
        log_err("[Sender] Error: %s is not an encoded clip\n", path.c_str());
        return false;
    }
    out.clear();
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t key = 0;
        uint32_t size = 0;
        if (!read_value(f.get(), key) || !read_value(f.get(), size) || size > MAX_FRAME_BYTES) {
            log_err("[Sender] Error: clip %s is damaged at frame %u\n", path.c_str(), i);
            return false;
        }
        EncodedFrame frame;
        frame.keyframe = key != 0;
        frame.data.resize(size);
        if (size > 0 && std::fread(frame.data.data(), 1, size, f.get()) != size) {
            log_err("[Sender] Error: clip %s is truncated at frame %u\n", path.c_str(), i);
            return false;
        }
        out.push_back(std::move(frame));
    }
    if (!out.front().keyframe) {
        log_err("[Sender] Error: clip %s does not start with a keyframe\n", path.c_str());
        return false;
    }
    return true;
}

bool save_clip_file(const std::string& path, const std::vector<EncodedFrame>& frames) {
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    const uint32_t count = static_cast<uint32_t>(frames.size());
    bool ok = std::fwrite(&CLIP_MAGIC, 4, 1, f.get()) == 1 && std::fwrite(&count, 4, 1, f.get()) == 1;
    for (const EncodedFrame& frame : frames) {
        const uint8_t key = frame.keyframe ? 1 : 0;
        const uint32_t size = static_cast<uint32_t>(frame.data.size());
        ok = ok && std::fwrite(&key, 1, 1, f.get()) == 1 && std::fwrite(&size, 4, 1, f.get()) == 1 &&
             std::fwrite(frame.data.data(), 1, size, f.get()) == size;
    }
    return std::fclose(f.release()) == 0 && ok;
}

}  // namespace talvek::tools
