#include "preview_mode.h"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <thread>

#include "link.h"
#include "media_header.h"
#include "test_pattern.h"

namespace talvek::tools {

int run_preview_mode(const SenderOptions& o) {
    using Clock = Link::Clock;
    const size_t frame_bytes = static_cast<size_t>(o.width) * static_cast<size_t>(o.height) * 4;
    if (fragment_count_for(frame_bytes) > UINT16_MAX) {
        std::fprintf(stderr, "[Sender] Error: a %dx%d frame needs more than 65535 fragments\n",
                     o.width, o.height);
        return 1;
    }

    Link link(o.host, o.port, o.impairment);
    if (!link.open()) return 1;  // the socket printed why

    const long frames = o.frames > 0 ? o.frames : std::lround(o.seconds * o.fps);
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / o.fps));
    std::printf("[Sender] preview: %dx%d at %.3g fps to %s:%u, %ld frames of %zu datagrams\n",
                o.width, o.height, o.fps, o.host.c_str(), o.port, frames,
                fragment_count_for(frame_bytes));
    std::fflush(stdout);

    std::vector<uint8_t> frame(frame_bytes);
    std::vector<Datagram> datagrams;
    FragmentOptions fragment_options;
    fragment_options.flags = VOICE_FLAG_VIDEO;

    const Clock::time_point start = Clock::now();
    for (long i = 0; i < frames; ++i) {
        const uint32_t frame_id = o.first_frame + static_cast<uint32_t>(i);
        const Clock::time_point due = start + interval * i;
        std::this_thread::sleep_until(due);

        draw_test_pattern(frame.data(), o.width, o.height, frame_id);
        datagrams.clear();
        cut_into_fragments(frame_id, frame.data(), frame_bytes, fragment_options, datagrams);
        fragment_options.first_sequence += static_cast<uint32_t>(datagrams.size());
        // Spread the datagrams over most of the interval, leaving slack so
        // a slow frame does not push the next one back.
        const uint64_t dropped_before = link.impairment_counts().dropped;
        link.send_paced(datagrams, due + interval * 3 / 4);

        if (o.verbose) {
            std::printf("[Sender] frame %u: %zu datagrams, %" PRIu64 " dropped\n", frame_id,
                        datagrams.size(), link.impairment_counts().dropped - dropped_before);
            std::fflush(stdout);
        }
    }
    link.flush();

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const ImpairmentCounts& ic = link.impairment_counts();
    const LinkCounts& lc = link.counts();
    std::printf("[Sender] done: %ld frames, %" PRIu64 " datagrams offered, %" PRIu64
                " sent (%" PRIu64 " dropped, %" PRIu64 " duplicated, %" PRIu64
                " reordered, %" PRIu64 " send failures), %" PRIu64 " bytes in %.2f s\n",
                frames, ic.offered, lc.datagrams_sent, ic.dropped, ic.duplicated, ic.reordered,
                lc.send_failures, lc.bytes_sent, elapsed);
    std::fflush(stdout);
    return lc.send_failures == 0 ? 0 : 1;
}

}  // namespace talvek::tools
