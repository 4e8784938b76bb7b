#include "malformed_mode.h"

#include <array>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <thread>

#include "link.h"
#include "log.h"
#include "malformed_datagrams.h"
#include "reply_listener.h"

namespace talvek::tools {

int run_malformed_mode(const SenderOptions& o) {
    using Clock = Link::Clock;
    std::vector<MalformedKind> kinds;
    if (o.kind == "all") {
        kinds.assign(std::begin(ALL_MALFORMED_KINDS), std::end(ALL_MALFORMED_KINDS));
    } else if (std::optional<MalformedKind> kind = parse_malformed_kind(o.kind)) {
        kinds.push_back(*kind);
    } else {
        log_err("[Sender] Error: unknown --kind %s\n", o.kind.c_str());
        return 2;
    }

    Link link(o.host, o.port, o.impairment);
    if (!link.open(o.listen_port)) return 1;  // the socket printed why
    ReplyListener listener(link.socket());

    const long units = o.count > 0 ? o.count : std::lround(o.seconds * o.rate);
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / o.rate));
    if (!o.quiet) {
        log_out("[Sender] malformed: %s, %ld units at %.3g a second to %s:%u, seed %u\n",
                o.kind.c_str(), units, o.rate, o.host.c_str(), o.port, o.impairment.seed);
    }
    log_out("[Sender] listening on 127.0.0.1:%u\n", link.socket().get_bound_port());

    MalformedGenerator generator(o.impairment.seed, o.first_frame);
    std::array<uint64_t, std::size(ALL_MALFORMED_KINDS)> sent_per_kind{};
    std::vector<Datagram> datagrams;
    std::vector<Reply> replies;
    uint64_t reply_count = 0;
    auto handle_replies = [&] {
        replies.clear();
        listener.poll(replies);
        for (const Reply& reply : replies) log_out("%s", describe_reply(reply).c_str());
        reply_count += replies.size();
    };

    const Clock::time_point start = Clock::now();
    for (long i = 0; i < units; ++i) {
        std::this_thread::sleep_until(start + interval * i);
        handle_replies();
        const MalformedKind kind = kinds[static_cast<size_t>(i) % kinds.size()];
        datagrams.clear();
        generator.next(kind, datagrams);
        // At its own rate already: each unit goes out as one burst.
        link.send_paced(datagrams, Clock::time_point{});
        sent_per_kind[static_cast<size_t>(kind)] += datagrams.size();
        if (o.verbose) {
            log_out("[Sender] unit %ld: %.*s, %zu datagrams, first %zu bytes\n", i,
                    static_cast<int>(malformed_kind_name(kind).size()),
                    malformed_kind_name(kind).data(), datagrams.size(), datagrams.front().size());
        }
    }
    link.flush();
    handle_replies();

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    for (MalformedKind kind : kinds) {
        log_out("[Sender] %.*s: %" PRIu64 " datagrams\n",
                static_cast<int>(malformed_kind_name(kind).size()),
                malformed_kind_name(kind).data(), sent_per_kind[static_cast<size_t>(kind)]);
    }
    const LinkCounts& lc = link.counts();
    log_out("[Sender] done: %ld units, %" PRIu64 " datagrams offered, %" PRIu64 " sent (%" PRIu64
            " send failures), %" PRIu64 " bytes in %.2f s, %" PRIu64 " replies\n",
            units, link.impairment_counts().offered, lc.datagrams_sent, lc.send_failures,
            lc.bytes_sent, elapsed, reply_count);
    return lc.send_failures == 0 ? 0 : 1;
}

}  // namespace talvek::tools
