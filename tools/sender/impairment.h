#pragma once
// A seeded, lossy, reordering, duplicating link between the sender and its
// target, so tests and developers can reproduce a bad network exactly.

#include <chrono>
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
    // Above 0, a held datagram goes out instead 0..reorder_ms after it was
    // offered, whatever passes meanwhile: a link that delays, as a real one
    // does, rather than one that counts.
    int reorder_ms = 0;
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
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    explicit Impairment(const ImpairmentOptions& options);
    // The clock decides when a datagram held by reorder_ms is due.
    Impairment(const ImpairmentOptions& options, Clock clock);

    // Offers one datagram to the link; emit is called for each that leaves.
    // False when the datagram was dropped.
    bool push(const Datagram& datagram, const Emit& emit);
    // Sends the held datagrams whose delay has run out (reorder_ms only);
    // the caller polls it between pushes, at least once a millisecond.
    void release_expired(const Emit& emit);
    // Sends whatever is still held back.
    void flush(const Emit& emit);
    size_t held_count() const { return held.size(); }

    const ImpairmentCounts& counts() const { return totals; }

private:
    struct Held {
        Datagram datagram;
        int release_after;     // datagrams still to pass before this one
        TimePoint release_at;  // with reorder_ms: when it is due instead
    };

    bool chance(double rate);
    void release_due(const Emit& emit);

    ImpairmentOptions options;
    Clock now;
    std::mt19937 rng;
    std::deque<Held> held;
    ImpairmentCounts totals;
};

}  // namespace talvek::tools
