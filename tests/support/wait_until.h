#pragma once
// Polls a condition that another thread or process makes true.

#include <chrono>
#include <thread>

namespace talvek::testing {

// True as soon as pred() holds; false when it still does not after `timeout`.
template <typename Pred>
bool wait_until(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

}  // namespace talvek::testing
