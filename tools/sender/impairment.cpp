#include "impairment.h"

namespace talvek::tools {

Impairment::Impairment(const ImpairmentOptions& options_)
    : Impairment(options_, [] { return std::chrono::steady_clock::now(); }) {}

Impairment::Impairment(const ImpairmentOptions& options_, Clock clock)
    : options(options_), now(std::move(clock)), rng(options_.seed) {}

bool Impairment::chance(double rate) {
    if (rate <= 0.0) return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < rate;
}

void Impairment::release_due(const Emit& emit) {
    for (auto it = held.begin(); it != held.end();) {
        if (--it->release_after <= 0) {
            emit(it->datagram);
            it = held.erase(it);
        } else {
            ++it;
        }
    }
}

void Impairment::release_expired(const Emit& emit) {
    // Without a window held datagrams are counted out by later pushes only.
    if (held.empty() || options.reorder_ms <= 0) return;
    const TimePoint time = now();
    // In offer order, so two held datagrams that fall due together keep it.
    for (auto it = held.begin(); it != held.end();) {
        if (time >= it->release_at) {
            emit(it->datagram);
            it = held.erase(it);
        } else {
            ++it;
        }
    }
}

bool Impairment::push(const Datagram& datagram, const Emit& emit) {
    const bool by_time = options.reorder_ms > 0;
    // Datagrams that fell due go first: they were offered earlier.
    if (by_time) release_expired(emit);
    ++totals.offered;
    if (chance(options.drop_rate)) {
        ++totals.dropped;
        return false;
    }
    const bool twice = chance(options.dup_rate);
    if (twice) ++totals.duplicated;

    if ((by_time || options.reorder_depth > 0) && chance(options.reorder_rate)) {
        ++totals.reordered;
        Held h{datagram, 0, TimePoint{}};
        if (by_time) {
            // Microsecond steps: a paced frame's datagrams are tens of them apart.
            const auto delay = std::chrono::microseconds(std::uniform_int_distribution<int>(
                1, options.reorder_ms * 1000)(rng));
            h.release_at = now() + delay;
        } else {
            h.release_after = std::uniform_int_distribution<int>(1, options.reorder_depth)(rng);
        }
        held.push_back(std::move(h));
        if (twice) emit(datagram);
        return true;
    }
    emit(datagram);
    if (twice) emit(datagram);
    if (!by_time) release_due(emit);
    return true;
}

void Impairment::flush(const Emit& emit) {
    for (const Held& h : held) emit(h.datagram);
    held.clear();
}

}  // namespace talvek::tools
