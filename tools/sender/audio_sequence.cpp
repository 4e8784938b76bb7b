#include "audio_sequence.h"

#include <cerrno>
#include <cstdlib>

namespace talvek::tools {

namespace {

// Reads an unsigned decimal from `text` at `pos` up to `end`, moving `pos`
// past it. strtoul alone would take a sign or leading blanks.
bool read_unsigned(const std::string& text, size_t& pos, size_t end, unsigned long max,
                   unsigned long& out) {
    if (pos >= end || text[pos] < '0' || text[pos] > '9') return false;
    errno = 0;
    char* stop = nullptr;
    out = std::strtoul(text.c_str() + pos, &stop, 10);
    const size_t next = static_cast<size_t>(stop - text.c_str());
    if (errno != 0 || out > max || next > end) return false;
    pos = next;
    return true;
}

}  // namespace

uint32_t sequence_for_packet(const AudioSequencePlan& plan, long k) {
    if (!plan.list.empty()) return plan.list[static_cast<size_t>(k) % plan.list.size()];
    const uint32_t skipped = k >= plan.jump_at ? plan.jump : 0;
    return plan.first + static_cast<uint32_t>(k) + skipped;
}

long sequence_plan_limit(const AudioSequencePlan& plan) {
    return plan.list.empty() ? -1 : static_cast<long>(plan.list.size());
}

std::optional<std::vector<uint32_t>> parse_sequence_list(const std::string& text) {
    std::vector<uint32_t> list;
    size_t pos = 0;
    for (;;) {
        unsigned long n = 0;
        if (!read_unsigned(text, pos, text.size(), UINT32_MAX, n)) return std::nullopt;
        list.push_back(static_cast<uint32_t>(n));
        if (pos == text.size()) return list;
        if (text[pos] != ',') return std::nullopt;
        ++pos;
    }
}

bool parse_sequence_jump(const std::string& text, AudioSequencePlan& plan) {
    const size_t at = text.find('@');
    const size_t end = at == std::string::npos ? text.size() : at;
    size_t pos = 0;
    unsigned long skip = 0;
    if (!read_unsigned(text, pos, end, UINT32_MAX, skip) || pos != end) return false;
    unsigned long packet = 50;
    if (at != std::string::npos) {
        pos = at + 1;
        if (!read_unsigned(text, pos, text.size(), 1UL << 31, packet) || pos != text.size()) {
            return false;
        }
    }
    plan.jump = static_cast<uint32_t>(skip);
    plan.jump_at = static_cast<long>(packet);
    return true;
}

}  // namespace talvek::tools
