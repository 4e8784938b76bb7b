#pragma once
// Which `sequence` each screen-audio packet travels under. A player takes
// a gap in the numbers for lost packets and conceals them, so tests shape
// the numbering on purpose: a start value, one jump, or an exact list.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvek::tools {

struct AudioSequencePlan {
    uint32_t first = 1;  // sequence of packet 0
    uint32_t jump = 0;   // numbers skipped once, before packet `jump_at`
    long jump_at = 50;   // one second of 20 ms packets
    // When not empty: packet k carries list[k], and there are no more
    // packets than entries. `first` and the jump do not apply then.
    std::vector<uint32_t> list;
};

// Sequence of packet k (0-based), wrapping at 2^32 like the field.
uint32_t sequence_for_packet(const AudioSequencePlan& plan, long k);

// Packets the plan allows: the list's length, or -1 for no limit.
long sequence_plan_limit(const AudioSequencePlan& plan);

// "10,12,11,13": unsigned 32-bit numbers separated by commas, nothing else.
std::optional<std::vector<uint32_t>> parse_sequence_list(const std::string& text);

// "N" or "N@K": skip N numbers before packet K (default 50).
bool parse_sequence_jump(const std::string& text, AudioSequencePlan& plan);

}  // namespace talvek::tools
