// Screen audio without video: what a player's audio path needs, at real
// time, with nothing else in the way of the packets' timing.

#include "audio_mode.h"

#include <algorithm>
#include <cinttypes>

#include "audio_stream.h"
#include "link.h"
#include "log.h"
#include "reply_listener.h"

namespace talvek::tools {

int run_audio_mode(const SenderOptions& o) {
    using Clock = Link::Clock;
    std::unique_ptr<AudioSource> source = open_audio_source(o, true);
    if (!source) return 1;  // Error already logged

    Link link(o.host, o.port, o.impairment);
    if (!link.open(o.listen_port)) return 1;  // the socket printed why
    ReplyListener listener(link.socket());

    long packets = audio_packets_for(o, o.seconds);
    if (o.count > 0) {
        const long limit = sequence_plan_limit(o.audio_sequence);
        packets = limit >= 0 ? std::min(o.count, limit) : o.count;
    }
    AudioStream audio(o, std::move(source), link, packets);
    if (!audio.open()) return 1;
    if (!o.quiet) log_out("%s", audio.describe().c_str());
    log_out("[Sender] listening on 127.0.0.1:%u\n", link.socket().get_bound_port());

    std::vector<Reply> replies;
    uint64_t reply_count = 0;
    auto handle_replies = [&] {
        replies.clear();
        listener.poll(replies);  // an error is logged by the socket; try again later
        for (const Reply& reply : replies) log_out("%s", describe_reply(reply).c_str());
        reply_count += replies.size();
    };

    const Clock::time_point start = Clock::now();
    audio.start(start);
    const bool ok = audio.run(handle_replies, nullptr);
    link.flush();
    handle_replies();

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const ImpairmentCounts& ic = link.impairment_counts();
    const LinkCounts& lc = link.counts();
    log_out("[Sender] done: %s, %" PRIu64 " datagrams offered, %" PRIu64 " sent (%" PRIu64
            " dropped, %" PRIu64 " duplicated, %" PRIu64 " reordered, %" PRIu64
            " send failures), %" PRIu64 " bytes in %.2f s, %" PRIu64 " replies\n",
            describe_audio_counts(audio.counts()).c_str(), ic.offered, lc.datagrams_sent,
            ic.dropped, ic.duplicated, ic.reordered, lc.send_failures, lc.bytes_sent, elapsed,
            reply_count);
    return ok && lc.send_failures == 0 ? 0 : 1;
}

}  // namespace talvek::tools
