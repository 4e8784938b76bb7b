#pragma once
// Polls a condition that another thread or process makes true: true as soon
// as it is, false once `timeout` has passed without it.

#include <chrono>
#include <thread>

namespace talvek::testing {

template <typename Pred>
bool wait_until(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                std::chrono::microseconds poll = std::chrono::microseconds(100)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

}  // namespace talvek::testing
