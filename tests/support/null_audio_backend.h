#pragma once
// A playback device that plays nothing: every open succeeds with exactly the
// format asked for, and every queued buffer is checked and then forgotten,
// so a long run holds no audio in memory.

#include <cstdint>
#include <functional>

#include "audio_backend.h"

namespace talvek::testing {

class NullAudioBackend final : public client::AudioBackend {
public:
    // Sees every queued buffer, its size in bytes.
    std::function<void(const short* values, uint32_t bytes)> on_queue;
    // What the device says it still holds: 0, a device that keeps up, unless
    // the owner says otherwise.
    uint32_t reported_queue = 0;

    SDL_AudioDeviceID open_device(const char*, int, const SDL_AudioSpec* desired,
                                  SDL_AudioSpec* obtained, int) override {
        *obtained = *desired;
        return 1;
    }
    void close_device(SDL_AudioDeviceID) override {}
    void pause_device(SDL_AudioDeviceID, int) override {}
    int queue(SDL_AudioDeviceID, const void* data, uint32_t bytes) override {
        if (on_queue) on_queue(static_cast<const short*>(data), bytes);
        return 0;
    }
    uint32_t dequeue(SDL_AudioDeviceID, void*, uint32_t) override { return 0; }
    uint32_t queued_bytes(SDL_AudioDeviceID) override { return reported_queue; }
    void clear_queue(SDL_AudioDeviceID) override {}
    int device_count(int) override { return 1; }
    const char* device_name(int, int) override { return "null"; }
    const char* last_error() override { return ""; }
};

}  // namespace talvek::testing
