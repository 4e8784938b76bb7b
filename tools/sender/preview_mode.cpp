#include "preview_mode.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <thread>

#include "event_log.h"
#include "garbage_bursts.h"
#include "link.h"
#include "log.h"
#include "media_header.h"
#include "test_pattern.h"

namespace talvek::tools {

int run_preview_mode(const SenderOptions& o) {
    using Clock = Link::Clock;
    const size_t frame_bytes = static_cast<size_t>(o.width) * static_cast<size_t>(o.height) * 4;
    if (fragment_count_for(frame_bytes) > UINT16_MAX) {
        log_err("[Sender] Error: a %dx%d frame needs more than 65535 fragments\n",
                     o.width, o.height);
        return 1;
    }

    std::optional<GarbageBursts> garbage =
        garbage_bursts_for(o.garbage_every, o.garbage_burst, o.kind, o.impairment.seed);
    if (!garbage) return 2;  // Error already logged
    EventLog events;
    if (!events.open(o.event_log)) return 1;  // Error already logged

    Link link(o.host, o.port, o.impairment);
    if (!link.open()) return 1;  // the socket printed why

    const long frames = o.frames > 0 ? o.frames : std::lround(o.seconds * o.fps);
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / o.fps));
    log_out("[Sender] preview: %dx%d at %.3g fps to %s:%u, %ld frames of %zu datagrams\n",
                o.width, o.height, o.fps, o.host.c_str(), o.port, frames,
                fragment_count_for(frame_bytes));
    std::fflush(stdout);

    std::vector<uint8_t> frame(frame_bytes);
    std::vector<Datagram> datagrams;
    FragmentOptions fragment_options;
    fragment_options.flags = VOICE_FLAG_VIDEO;

    const Clock::time_point start = Clock::now();
    uint32_t next_frame_id = o.first_frame;
    for (long i = 0; i < frames; ++i) {
        const Clock::time_point due = start + interval * i;
        // Datagrams held back by --reorder-ms leave while we wait.
        for (Clock::time_point now = Clock::now(); now < due; now = Clock::now()) {
            link.pump();
            std::this_thread::sleep_for(
                std::min<Clock::duration>(due - now, std::chrono::milliseconds(1)));
        }
        if (garbage->due(std::chrono::duration<double>(due - start).count())) {
            datagrams.clear();
            const uint32_t first = next_frame_id;
            next_frame_id = garbage->make_burst(first, datagrams);
            link.send_paced(datagrams, Clock::time_point{});
            events.garbage(first, static_cast<int>(next_frame_id - first), datagrams.size());
        }
        const uint32_t frame_id = next_frame_id++;

        draw_test_pattern(frame.data(), o.width, o.height, frame_id);
        datagrams.clear();
        cut_into_fragments(frame_id, frame.data(), frame_bytes, fragment_options, datagrams);
        fragment_options.first_sequence += static_cast<uint32_t>(datagrams.size());
        // Spread the datagrams over most of the interval, leaving slack so
        // a slow frame does not push the next one back.
        const int64_t first_out = EventLog::now_ns();
        const size_t dropped = link.send_paced(datagrams, due + interval * 3 / 4);
        // The pattern's strip shows the low bits of the id.
        events.frame_at(first_out, frame_id, frame_id & ((1u << FRAME_NUMBER_BITS) - 1),
                        datagrams.size(), dropped, false);

        if (o.verbose) {
            log_out("[Sender] frame %u: %zu datagrams, %zu dropped\n", frame_id,
                        datagrams.size(), dropped);
            std::fflush(stdout);
        }
    }
    link.flush();

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const ImpairmentCounts& ic = link.impairment_counts();
    const LinkCounts& lc = link.counts();
    log_out("[Sender] done: %ld frames, %" PRIu64 " datagrams offered, %" PRIu64
                " sent (%" PRIu64 " dropped, %" PRIu64 " duplicated, %" PRIu64
                " reordered, %" PRIu64 " send failures), %" PRIu64 " bytes in %.2f s\n",
                frames, ic.offered, lc.datagrams_sent, ic.dropped, ic.duplicated, ic.reordered,
                lc.send_failures, lc.bytes_sent, elapsed);
    std::fflush(stdout);
    return lc.send_failures == 0 ? 0 : 1;
}

}  // namespace talvek::tools
