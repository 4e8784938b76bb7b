#pragma once
// A seeded, lossy, reordering, duplicating link between the sender and its
// target, so tests and developers can reproduce a bad network exactly.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <random>

#include "fragmenter.h"

namespace talvek::tools {

struct ImpairmentOptions {
    double drop_rate = 0.0;     // chance that a datagram is lost
    double dup_rate = 0.0;      // chance that a datagram is sent twice
    double reorder_rate = 0.0;  // chance that a datagram is held back
    int reorder_depth = 8;      // a held datagram goes out after 1..depth others
    uint32_t seed = 1;
};

struct ImpairmentCounts {
    uint64_t offered = 0;
    uint64_t dropped = 0;
    uint64_t duplicated = 0;
    uint64_t reordered = 0;
};

class Impairment {
public:
    using Emit = std::function<void(const Datagram&)>;

    explicit Impairment(const ImpairmentOptions& options);

    // Offers one datagram to the link; emit is called for each that leaves.
    // False when the datagram was dropped.
    bool push(const Datagram& datagram, const Emit& emit);
    // Sends whatever is still held back.
    void flush(const Emit& emit);

    const ImpairmentCounts& counts() const { return totals; }

private:
    struct Held {
        Datagram datagram;
        int release_after;  // datagrams still to pass before this one
    };

    bool chance(double rate);
    void release_due(const Emit& emit);

    ImpairmentOptions options;
    std::mt19937 rng;
    std::deque<Held> held;
    ImpairmentCounts totals;
};

}  // namespace talvek::tools
