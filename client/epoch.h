#pragma once
// A generation counter: bumped whenever a receiver starts or stops so that
// work begun under an older generation can tell it is stale. The player itself
// never reads it; the embedded variant's owner does.

#include <atomic>
#include <cstdint>

namespace talvek {

class Epoch {
public:
    void bump() { counter.fetch_add(1, std::memory_order_release); }
    int32_t value() const { return counter.load(std::memory_order_acquire); }

private:
    std::atomic<int32_t> counter{0};
};

}  // namespace talvek
