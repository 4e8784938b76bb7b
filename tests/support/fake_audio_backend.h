#pragma once
// Stands in for SDL's audio calls: records every request and plays a queue
// of bytes that only the test moves, so nothing depends on SDL's audio thread.

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio_backend.h"

namespace client_test {

class FakeAudioBackend final : public talvek::client::AudioBackend {
public:
    struct OpenRequest {
        bool default_device = false;  // the name was null
        std::string name;
        int iscapture = -1;
        SDL_AudioSpec desired{};
        int allowed_changes = -1;
    };

    // --- what the fake answers -------------------------------------------
    SDL_AudioDeviceID next_id = 7;  // 0 makes the next open fail
    std::string error = "no such device";
    std::optional<SDL_AudioSpec> obtained_instead;  // default: exactly what was asked for
    uint32_t pending_bytes = 0;                     // what the queue holds now
    int count = 0;
    std::vector<const char*> names;
    std::function<void()> on_queue;  // runs inside every queue call

    // --- what was asked ----------------------------------------------------
    std::vector<OpenRequest> opens;
    std::vector<SDL_AudioDeviceID> closed;
    std::vector<int> pauses;                 // the `paused` argument of each call
    std::vector<uint32_t> queue_calls;       // bytes per call
    std::vector<short> queued_values;        // everything queued, in order
    std::vector<uint32_t> dequeue_requests;  // bytes asked for per call
    int clears = 0;
    std::vector<int> count_requests;         // iscapture per call
    std::vector<std::pair<int, int>> name_requests;  // (index, iscapture)

    SDL_AudioDeviceID open_device(const char* name, int iscapture, const SDL_AudioSpec* desired,
                                  SDL_AudioSpec* obtained, int allowed_changes) override {
        opens.push_back({name == nullptr, name ? name : "", iscapture, *desired, allowed_changes});
        if (next_id != 0) *obtained = obtained_instead.value_or(*desired);
        return next_id;
    }
    void close_device(SDL_AudioDeviceID id) override { closed.push_back(id); }
    void pause_device(SDL_AudioDeviceID, int paused) override { pauses.push_back(paused); }
    int queue(SDL_AudioDeviceID, const void* data, uint32_t bytes) override {
        queue_calls.push_back(bytes);
        const auto* values = static_cast<const short*>(data);
        queued_values.insert(queued_values.end(), values, values + bytes / 2);
        pending_bytes += bytes;
        if (on_queue) on_queue();
        return 0;
    }
    uint32_t dequeue(SDL_AudioDeviceID, void* out, uint32_t bytes) override {
        dequeue_requests.push_back(bytes);
        const uint32_t got = std::min(bytes, pending_bytes);
        std::memset(out, 0x5A, got);
        pending_bytes -= got;
        return got;
    }
    uint32_t queued_bytes(SDL_AudioDeviceID) override { return pending_bytes; }
    void clear_queue(SDL_AudioDeviceID) override {
        ++clears;
        pending_bytes = 0;
    }
    int device_count(int iscapture) override {
        count_requests.push_back(iscapture);
        return count;
    }
    const char* device_name(int index, int iscapture) override {
        name_requests.emplace_back(index, iscapture);
        return static_cast<size_t>(index) < names.size() ? names[static_cast<size_t>(index)]
                                                         : nullptr;
    }
    const char* last_error() override { return error.c_str(); }
};

}  // namespace client_test
