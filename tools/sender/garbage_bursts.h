#pragma once
// Bursts of broken datagrams in the middle of a real stream, for soak runs:
// every `every_seconds`, `units` units of the malformed kinds in turn
// (malformed_datagrams.h), sent between two frames through the same
// impaired link. Each unit takes a frame id of its own; the stream's next
// frame takes the id after the burst's last, so a garbage frame that
// completes never numbers above the real frames that follow it and the
// stream is not taken for stale.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "fragmenter.h"
#include "malformed_datagrams.h"

namespace talvek::tools {

// "all" for every kind in turn, or one kind's name; nullopt if unknown.
std::optional<std::vector<MalformedKind>> malformed_kinds_named(std::string_view name);

class GarbageBursts;

// The bursts that --garbage-every, --garbage-burst and --kind ask for;
// nullopt, logged, when the kind is unknown.
std::optional<GarbageBursts> garbage_bursts_for(double every_seconds, int units,
                                                std::string_view kind, uint32_t seed);

class GarbageBursts {
public:
    // every_seconds <= 0 or units <= 0: no bursts at all.
    GarbageBursts(double every_seconds, int units, std::vector<MalformedKind> kinds,
                  uint32_t seed);

    bool enabled() const { return every > 0.0 && units > 0 && !kinds.empty(); }
    // True once `elapsed_seconds` into the stream has reached the next burst.
    bool due(double elapsed_seconds) const;

    // Appends the next burst to `out`, frame ids from first_frame_id up, and
    // returns the first id after them.
    uint32_t make_burst(uint32_t first_frame_id, std::vector<Datagram>& out);

    uint64_t bursts_made() const { return bursts; }

private:
    double every;
    int units;
    std::vector<MalformedKind> kinds;
    uint32_t seed;
    uint64_t bursts = 0;
    uint64_t units_made = 0;
};

}  // namespace talvek::tools
