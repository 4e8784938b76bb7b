#pragma once
// One SDL2 audio device in queue mode: the owner pushes samples into SDL's
// queue for playback, or pulls captured samples out of it; no callback is
// installed and SDL's own audio thread moves the queue to or from the device.
//
// Samples are signed 16-bit little-endian, interleaved by channel. Counts of
// samples are 16-bit values over all channels (a stereo frame is two), not
// frames and not bytes; queue sizes are bytes. SDL's audio subsystem must be
// initialised before open(). Driven from one thread; SDL serialises the queue.

#include <SDL_audio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio_backend.h"

namespace talvek::client {

class AudioDevice {
public:
    enum class Mode : int32_t {
        Capture = 0,
        Playback = 1,
    };

    AudioDevice() = default;
    ~AudioDevice() { close(); }
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    // Closes any open device first. device_name null is the system's default
    // device of that kind. On success the device runs at once (not paused).
    bool open(Mode mode, int sample_rate, int channels, int samples, const char* device_name);
    void close();

    // Capture only: moves up to max_samples queued values into out.
    int read_samples(short* out, int max_samples);
    // Playback only: appends count values to the queue.
    void write_samples(const short* samples, int count);
    unsigned get_queued_size() const;
    // Playback only; SDL2 dequeues from capture devices alone, so on a real
    // playback device this finds nothing to take and returns 0.
    unsigned drop_queued_bytes(unsigned bytes);
    void clear_queue();
    void pause(bool paused);

    static std::vector<std::string> list_devices(Mode mode,
                                                 AudioBackend& backend = sdl_audio_backend());

    // Seam for tests: the SDL calls go through `backend` from now on; any
    // open device is closed first.
    void set_backend(AudioBackend& replacement);

private:
    bool is_open_as(Mode wanted) const { return device_id != 0 && mode == wanted; }

    SDL_AudioDeviceID device_id = 0;
    Mode mode = Mode::Playback;
    AudioBackend* backend = &sdl_audio_backend();
};

}  // namespace talvek::client
