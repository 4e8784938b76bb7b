#include "audio_backend.h"

namespace talvek::client {

namespace {

class SdlAudioBackend final : public AudioBackend {
public:
    SDL_AudioDeviceID open_device(const char* name, int iscapture, const SDL_AudioSpec* desired,
                                  SDL_AudioSpec* obtained, int allowed_changes) override {
        return SDL_OpenAudioDevice(name, iscapture, desired, obtained, allowed_changes);
    }
    void close_device(SDL_AudioDeviceID id) override { SDL_CloseAudioDevice(id); }
    void pause_device(SDL_AudioDeviceID id, int paused) override {
        SDL_PauseAudioDevice(id, paused);
    }
    int queue(SDL_AudioDeviceID id, const void* data, uint32_t bytes) override {
        return SDL_QueueAudio(id, data, bytes);
    }
    uint32_t dequeue(SDL_AudioDeviceID id, void* out, uint32_t bytes) override {
        return SDL_DequeueAudio(id, out, bytes);
    }
    uint32_t queued_bytes(SDL_AudioDeviceID id) override { return SDL_GetQueuedAudioSize(id); }
    void clear_queue(SDL_AudioDeviceID id) override { SDL_ClearQueuedAudio(id); }
    int device_count(int iscapture) override { return SDL_GetNumAudioDevices(iscapture); }
    const char* device_name(int index, int iscapture) override {
        return SDL_GetAudioDeviceName(index, iscapture);
    }
    const char* last_error() override { return SDL_GetError(); }
};

}  // namespace

AudioBackend& sdl_audio_backend() {
    static SdlAudioBackend backend;
    return backend;
}

}  // namespace talvek::client
