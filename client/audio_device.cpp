#include "audio_device.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "log.h"

namespace talvek::client {

namespace {

int iscapture_of(AudioDevice::Mode mode) { return mode == AudioDevice::Mode::Capture ? 1 : 0; }

// drop_queued_bytes dequeues into this much scratch space at a time.
constexpr unsigned DROP_CHUNK_BYTES = 4096;

}  // namespace

bool AudioDevice::open(Mode new_mode, int sample_rate, int channels, int samples,
                       const char* device_name) {
    close();
    mode = new_mode;  // kept also when the open fails

    SDL_AudioSpec desired{};
    desired.freq = sample_rate;
    desired.format = AUDIO_S16LSB;
    desired.channels = static_cast<Uint8>(channels);
    desired.samples = static_cast<Uint16>(samples);
    desired.callback = nullptr;  // queue mode
    desired.userdata = nullptr;
    SDL_AudioSpec obtained{};

    // No allowed changes: SDL converts to exactly the format asked for.
    device_id = backend->open_device(device_name, iscapture_of(mode), &desired, &obtained, 0);
    if (device_id == 0) {
        log_err("[Audio] Failed to open device: %s\n", backend->last_error());
        return false;
    }
    log_out("[Audio] Opened %s device: %d Hz, %d ch, %d samples\n",
            mode == Mode::Capture ? "capture" : "playback", obtained.freq,
            static_cast<int>(obtained.channels), static_cast<int>(obtained.samples));
    backend->pause_device(device_id, 0);
    return true;
}

void AudioDevice::close() {
    if (device_id == 0) return;
    backend->close_device(device_id);
    device_id = 0;
}

int AudioDevice::read_samples(short* out, int max_samples) {
    if (!is_open_as(Mode::Capture)) return 0;
    const unsigned available_values = backend->queued_bytes(device_id) / 2;
    const int available = static_cast<int>(std::min<unsigned>(available_values, INT_MAX));
    const int n = std::min(available, max_samples);
    if (n <= 0) return 0;
    const uint32_t got = backend->dequeue(device_id, out, static_cast<uint32_t>(n) * 2);
    return static_cast<int>(got / 2);
}

void AudioDevice::write_samples(const short* samples, int count) {
    // A negative count would turn into a huge byte length.
    if (!is_open_as(Mode::Playback) || count <= 0) return;
    backend->queue(device_id, samples, static_cast<uint32_t>(count) * 2);  // result ignored
}

unsigned AudioDevice::get_queued_size() const {
    return device_id == 0 ? 0 : backend->queued_bytes(device_id);
}

unsigned AudioDevice::drop_queued_bytes(unsigned bytes) {
    if (!is_open_as(Mode::Playback) || bytes == 0) return 0;
    unsigned char scratch[DROP_CHUNK_BYTES];
    unsigned dropped = 0;
    while (dropped < bytes) {
        const unsigned chunk = std::min(DROP_CHUNK_BYTES, bytes - dropped);
        const uint32_t got = backend->dequeue(device_id, scratch, chunk);
        if (got == 0) break;
        dropped += got;
        if (got < chunk) break;  // the queue ran dry
    }
    return dropped;
}

void AudioDevice::clear_queue() {
    if (device_id != 0) backend->clear_queue(device_id);
}

void AudioDevice::pause(bool paused) {
    if (device_id != 0) backend->pause_device(device_id, paused ? 1 : 0);
}

std::vector<std::string> AudioDevice::list_devices(Mode mode, AudioBackend& backend) {
    std::vector<std::string> names;
    const int iscapture = iscapture_of(mode);
    const int count = backend.device_count(iscapture);  // -1 when SDL cannot tell
    for (int i = 0; i < count; ++i) {
        if (const char* name = backend.device_name(i, iscapture)) names.emplace_back(name);
    }
    return names;
}

void AudioDevice::set_backend(AudioBackend& replacement) {
    close();
    backend = &replacement;
}

}  // namespace talvek::client
