#include "garbage_bursts.h"

#include <string>

#include "log.h"

namespace talvek::tools {

std::optional<std::vector<MalformedKind>> malformed_kinds_named(std::string_view name) {
    if (name == "all") {
        return std::vector<MalformedKind>(std::begin(ALL_MALFORMED_KINDS),
                                          std::end(ALL_MALFORMED_KINDS));
    }
    if (std::optional<MalformedKind> kind = parse_malformed_kind(name)) {
        return std::vector<MalformedKind>{*kind};
    }
    return std::nullopt;
}

GarbageBursts::GarbageBursts(double every_seconds, int units_, std::vector<MalformedKind> kinds_,
                             uint32_t seed_)
    : every(every_seconds), units(units_), kinds(std::move(kinds_)), seed(seed_) {}

bool GarbageBursts::due(double elapsed_seconds) const {
    return enabled() && elapsed_seconds >= every * static_cast<double>(bursts + 1);
}

uint32_t GarbageBursts::make_burst(uint32_t first_frame_id, std::vector<Datagram>& out) {
    // A generator per burst starts its ids where this burst's range does;
    // the seed moves on so no two bursts carry the same bytes.
    MalformedGenerator generator(seed + static_cast<uint32_t>(bursts) * 7919u, first_frame_id);
    for (int i = 0; i < units; ++i) {
        generator.next(kinds[units_made % kinds.size()], out);
        ++units_made;
    }
    ++bursts;
    return first_frame_id + static_cast<uint32_t>(units);
}

std::optional<GarbageBursts> garbage_bursts_for(double every_seconds, int units,
                                                std::string_view kind, uint32_t seed) {
    std::optional<std::vector<MalformedKind>> kinds = malformed_kinds_named(kind);
    if (!kinds) {
        log_err("[Sender] Error: unknown --kind %s\n", std::string(kind).c_str());
        return std::nullopt;
    }
    return GarbageBursts(every_seconds, units, std::move(*kinds), seed);
}

}  // namespace talvek::tools
