#pragma once
// Holds a receiver's decode thread at the top of every pass and lets it
// through one batch at a time, so a target decides exactly which frames
// form a batch and runs on after the batch has gone through: each input
// replays the same way every time.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "video_receiver.h"

namespace talvek::fuzz {

class DecodeGate {
public:
    using Batch = std::vector<client::VideoReceiver::EncodedFrame>;
    using BatchCheck = std::function<void(const Batch&)>;

    // The hooks to install before bring-up. `check` runs on the decode
    // thread with every batch it takes, before decoding.
    client::VideoReceiver::DecodeHooks hooks(BatchCheck check = {}) {
        client::VideoReceiver::DecodeHooks h;
        h.before_wait = [this] {
            std::unique_lock lock(mutex);
            cv.wait(lock, [this] { return passes > 0 || opened; });
            if (!opened) --passes;
        };
        h.on_batch = std::move(check);
        h.after_batch = [this](bool) {
            std::lock_guard lock(mutex);
            ++batches;
            cv.notify_all();
        };
        return h;
    }

    // Lets one batch through and waits until it has been decoded. The queue
    // must hold a frame, or the thread would wait for one for ever.
    void pass_one_batch() {
        std::unique_lock lock(mutex);
        const uint64_t target = batches + 1;
        ++passes;
        cv.notify_all();
        cv.wait(lock, [&] { return batches >= target; });
    }

    // For good, before the receiver is stopped, so the thread can see it.
    void open() {
        std::lock_guard lock(mutex);
        opened = true;
        cv.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable cv;
    int passes = 0;
    uint64_t batches = 0;
    bool opened = false;
};

}  // namespace talvek::fuzz
