#include "impairment.h"

namespace talvek::tools {

Impairment::Impairment(const ImpairmentOptions& options_) : options(options_), rng(options_.seed) {}

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

bool Impairment::push(const Datagram& datagram, const Emit& emit) {
    ++totals.offered;
    if (chance(options.drop_rate)) {
        ++totals.dropped;
        return false;
    }
    const bool twice = chance(options.dup_rate);
    if (twice) ++totals.duplicated;

    if (options.reorder_depth > 0 && chance(options.reorder_rate)) {
        ++totals.reordered;
        const int after = std::uniform_int_distribution<int>(1, options.reorder_depth)(rng);
        held.push_back({datagram, after});
        if (twice) emit(datagram);
        return true;
    }
    emit(datagram);
    if (twice) emit(datagram);
    release_due(emit);
    return true;
}

void Impairment::flush(const Emit& emit) {
    for (const Held& h : held) emit(h.datagram);
    held.clear();
}

}  // namespace talvek::tools
