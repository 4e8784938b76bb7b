// The player's fragment table and decode ring under any sequence of
// datagrams and clock steps (record format in fuzz_records.h), wired as the
// receiver wires them: a completed frame is pushed, a drain record takes
// the ring as the decode thread would. No receiver, no thread, no decoder:
// every input replays exactly and costs only the reassembly itself.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode_ring.h"
#include "fragment_table.h"
#include "fuzz_check.h"
#include "fuzz_records.h"

using talvek::client::DecodeRing;
using talvek::client::EncodedFrame;
using talvek::client::FragmentTable;
using talvek::fuzz::InputReader;
using talvek::fuzz::RecordKind;

namespace {

constexpr uint64_t MAX_FRAME_BYTES = FragmentTable::record_bytes(FragmentTable::MAX_FRAGMENTS);

struct Harness {
    void check_bounds() const {
        FUZZ_CHECK(table.records().size() <= FragmentTable::EVICT_AT_RECORDS);
        uint64_t record_bytes = 0;
        for (const auto& [id, record] : table.records()) {
            FUZZ_CHECK(record.fragment_count >= 1 &&
                       record.fragment_count <= FragmentTable::MAX_FRAGMENTS);
            FUZZ_CHECK(record.fragments_received < record.fragment_count);
            FUZZ_CHECK(id >= table.last_completed());
            record_bytes += FragmentTable::record_bytes(record.fragment_count);
        }
        FUZZ_CHECK(table.buffered() == record_bytes);
        FUZZ_CHECK(table.buffered() <= FragmentTable::EVICT_ABOVE_BYTES);

        constexpr size_t SLOTS = DecodeRing::SLOTS;
        FUZZ_CHECK(ring.slots() == 0 || ring.slots() == SLOTS);
        FUZZ_CHECK(ring.count() <= SLOTS && ring.read_index() < SLOTS &&
                   ring.write_index() < SLOTS);
        FUZZ_CHECK((ring.read_index() + ring.count()) % SLOTS == ring.write_index());
    }

    void datagram(const std::vector<uint8_t>& d) {
        const uint32_t completed_before = table.last_completed();
        frame.clear();
        const FragmentTable::Outcome outcome =
            table.handle_fragment(d.data(), static_cast<int>(d.size()), now, frame);
        if (outcome.completed) {
            FUZZ_CHECK(!frame.empty() && frame.size() <= MAX_FRAME_BYTES);
            FUZZ_CHECK(table.last_completed() >= completed_before);
            ring.push(std::move(frame));
            table.keep_spare(ring.take_spare());
            ++pushed_since_drain;
        } else {
            FUZZ_CHECK(table.last_completed() == completed_before);
        }
        // A timed-out frame is always a lost one.
        FUZZ_CHECK(outcome.dropped.empty() || outcome.frame_lost);
        for (const auto& drop : outcome.dropped) {
            FUZZ_CHECK(drop.fragments_received < drop.fragment_count);
        }
        check_bounds();
    }

    void drain() {
        ring.take_all(batch);
        // The ring keeps the newest six of what was pushed.
        FUZZ_CHECK(batch.size() == (pushed_since_drain < DecodeRing::SLOTS
                                        ? pushed_since_drain
                                        : DecodeRing::SLOTS));
        for (const auto& f : batch) FUZZ_CHECK(!f.empty() && f.size() <= MAX_FRAME_BYTES);
        FUZZ_CHECK(ring.empty());
        pushed_since_drain = 0;
    }

    void run(const uint8_t* data, size_t size) {
        // Both keep their spare buffers from input to input (they hold no
        // stream state), so an input costs its reassembly, not allocations.
        table.reset();
        ring.forget_queued();
        now = {};
        pushed_since_drain = 0;
        InputReader in(data, size);
        while (!in.empty()) {
            switch (talvek::fuzz::record_kind(in.u8())) {
            case RecordKind::Datagram:
                datagram(in.bytes(in.u16()));
                break;
            case RecordKind::ClockStep:
                now += std::chrono::milliseconds(in.u16());
                break;
            case RecordKind::Drain:
                drain();
                break;
            }
        }
    }

    FragmentTable::TimePoint now{};
    FragmentTable table;
    DecodeRing ring;
    EncodedFrame frame;
    std::vector<EncodedFrame> batch;
    size_t pushed_since_drain = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness harness;  // its buffers carry over from input to input
    harness.run(data, size);
    return 0;
}
