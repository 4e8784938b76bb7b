#pragma once
// The SDL audio calls that AudioDevice makes, behind one small interface so
// that a test can stand in for SDL and see every request exactly. The real
// one, sdl_audio_backend(), forwards each call unchanged and holds no state.

#include <SDL_audio.h>

#include <cstdint>

namespace talvek::client {

class AudioBackend {
public:
    virtual ~AudioBackend() = default;

    virtual SDL_AudioDeviceID open_device(const char* name, int iscapture,
                                          const SDL_AudioSpec* desired, SDL_AudioSpec* obtained,
                                          int allowed_changes) = 0;
    virtual void close_device(SDL_AudioDeviceID id) = 0;
    virtual void pause_device(SDL_AudioDeviceID id, int paused) = 0;
    virtual int queue(SDL_AudioDeviceID id, const void* data, uint32_t bytes) = 0;
    virtual uint32_t dequeue(SDL_AudioDeviceID id, void* out, uint32_t bytes) = 0;
    virtual uint32_t queued_bytes(SDL_AudioDeviceID id) = 0;
    virtual void clear_queue(SDL_AudioDeviceID id) = 0;
    virtual int device_count(int iscapture) = 0;
    virtual const char* device_name(int index, int iscapture) = 0;
    virtual const char* last_error() = 0;
};

// SDL2 itself. Safe to share between any number of devices and threads.
AudioBackend& sdl_audio_backend();

}  // namespace talvek::client
