#include "malformed_datagrams.h"

#include "media_header.h"

namespace talvek::tools {

namespace {

constexpr std::string_view NAMES[] = {
    "short",     "payload-zero", "payload-over",  "payload-beyond", "count-zero",
    "count-over", "index-beyond", "garbage-frame", "random",         "never-complete",
};
static_assert(std::size(NAMES) == std::size(ALL_MALFORMED_KINDS));

constexpr uint16_t MAX_PAYLOAD = static_cast<uint16_t>(VIDEO_FRAGMENT_MAX_PAYLOAD);
constexpr uint16_t MAX_COUNT = static_cast<uint16_t>(VIDEO_MAX_FRAGMENTS);
// Garbage frames stay small enough that a flood of them is cheap to build.
constexpr uint32_t GARBAGE_FRAME_MAX_BYTES = 64 * 1024;
constexpr uint32_t RANDOM_MAX_BYTES = 2048;

}  // namespace

std::string_view malformed_kind_name(MalformedKind kind) {
    return NAMES[static_cast<size_t>(kind)];
}

std::optional<MalformedKind> parse_malformed_kind(std::string_view name) {
    for (MalformedKind kind : ALL_MALFORMED_KINDS) {
        if (malformed_kind_name(kind) == name) return kind;
    }
    return std::nullopt;
}

MalformedGenerator::MalformedGenerator(uint32_t seed, uint32_t first_frame_id)
    : rng(seed), frame_id(first_frame_id) {}

uint32_t MalformedGenerator::random_in(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(rng);
}

std::vector<uint8_t> MalformedGenerator::random_bytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_in(0, 255));
    return bytes;
}

// A datagram of the current frame carrying payload_bytes random bytes after
// its headers, whatever payload_size claims.
Datagram MalformedGenerator::fragment(uint16_t index, uint16_t count, uint16_t payload_size,
                                      size_t payload_bytes) {
    const std::vector<uint8_t> payload = random_bytes(payload_bytes);
    return make_fragment(frame_id, index, count, payload_size, payload.data(), payload.size(),
                         VOICE_FLAG_VIDEO, sequence++);
}

void MalformedGenerator::next(MalformedKind kind, std::vector<Datagram>& out) {
    switch (kind) {
    case MalformedKind::Short: {
        Datagram d = random_bytes(random_in(1, FRAGMENT_PAYLOAD_OFFSET - 1));
        // Keep the screen-audio bit clear so 28..39-byte ones reach the video path.
        if (d.size() > 26) d[26] &= static_cast<uint8_t>(~VOICE_FLAG_SCREEN_AUDIO);
        out.push_back(std::move(d));
        break;
    }
    case MalformedKind::PayloadZero:
        out.push_back(fragment(0, 1, 0, random_in(0, MAX_PAYLOAD)));
        break;
    case MalformedKind::PayloadOver:
        out.push_back(fragment(0, 1, MAX_PAYLOAD + 1, MAX_PAYLOAD + 1u));
        break;
    case MalformedKind::PayloadBeyond: {
        const auto claimed = static_cast<uint16_t>(random_in(1, MAX_PAYLOAD));
        out.push_back(fragment(0, 1, claimed, random_in(0, claimed - 1u)));
        break;
    }
    case MalformedKind::CountZero:
        out.push_back(fragment(0, 0, 100, 100));
        break;
    case MalformedKind::CountOver:
        out.push_back(fragment(0, MAX_COUNT + 1, 100, 100));
        break;
    case MalformedKind::IndexBeyond: {
        const auto count = static_cast<uint16_t>(random_in(1, MAX_COUNT));
        const auto index = static_cast<uint16_t>(random_in(count, UINT16_MAX));
        out.push_back(fragment(index, count, 100, 100));
        break;
    }
    case MalformedKind::GarbageFrame: {
        const std::vector<uint8_t> frame = random_bytes(random_in(1, GARBAGE_FRAME_MAX_BYTES));
        cut_video_frame(frame_id, frame.data(), frame.size(), sequence, out);
        break;
    }
    case MalformedKind::Random:
        out.push_back(random_bytes(random_in(1, RANDOM_MAX_BYTES)));
        break;
    case MalformedKind::NeverComplete: {
        const auto index = static_cast<uint16_t>(random_in(0, MAX_COUNT - 1u));
        out.push_back(fragment(index, MAX_COUNT, MAX_PAYLOAD, MAX_PAYLOAD));
        break;
    }
    }
    ++frame_id;
}

}  // namespace talvek::tools
