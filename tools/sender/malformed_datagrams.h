#pragma once
// Datagrams a player must survive: each kind breaks one rule of the video
// fragment datagram (or all of them), so a robustness run can aim at one
// check at a time. Seeded, so a crash found with a seed can be replayed.

#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "fragmenter.h"

namespace talvek::tools {

enum class MalformedKind {
    Short,          // 1..39 random bytes: no room for both headers
    PayloadZero,    // payload_size 0
    PayloadOver,    // payload_size 1401, with all 1401 bytes present
    PayloadBeyond,  // payload_size larger than the bytes that follow the header
    CountZero,      // fragment_count 0
    CountOver,      // fragment_count 1001
    IndexBeyond,    // fragment_index >= fragment_count
    GarbageFrame,   // a complete, well-formed frame of random bytes
    Random,         // 1..2048 random bytes, flags included
    NeverComplete,  // 1 of 1000 announced fragments, a new frame id each time
};

inline constexpr MalformedKind ALL_MALFORMED_KINDS[] = {
    MalformedKind::Short,       MalformedKind::PayloadZero,  MalformedKind::PayloadOver,
    MalformedKind::PayloadBeyond, MalformedKind::CountZero,  MalformedKind::CountOver,
    MalformedKind::IndexBeyond, MalformedKind::GarbageFrame, MalformedKind::Random,
    MalformedKind::NeverComplete,
};

// Command-line names: "short", "payload-zero", ... "never-complete".
std::string_view malformed_kind_name(MalformedKind kind);
std::optional<MalformedKind> parse_malformed_kind(std::string_view name);

class MalformedGenerator {
public:
    MalformedGenerator(uint32_t seed, uint32_t first_frame_id);

    // Appends one unit of the kind to `out`: a single datagram, or for
    // GarbageFrame all fragments of one frame. Every unit takes a new frame
    // id, rising, so a receiver never discards it as older than the last.
    void next(MalformedKind kind, std::vector<Datagram>& out);

private:
    uint32_t random_in(uint32_t low, uint32_t high);  // inclusive
    std::vector<uint8_t> random_bytes(size_t count);
    Datagram fragment(uint16_t index, uint16_t count, uint16_t payload_size, size_t payload_bytes);

    std::mt19937 rng;
    uint32_t frame_id;
    uint32_t sequence = 0;
};

}  // namespace talvek::tools
