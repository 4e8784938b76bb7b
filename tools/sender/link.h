#pragma once
// The sender's side of the loopback link: one socket, the impairments, and
// pacing that spreads a frame's datagrams over its frame interval, as a real
// sender would, instead of one burst that overruns the receiver's buffer.
// Video and the screen audio's own thread send through it at once, so each
// datagram passes the impairments under a lock; the counts are read once
// the senders have stopped.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "fragmenter.h"
#include "impairment.h"
#include "udp_socket.h"

namespace talvek::tools {

struct LinkCounts {
    uint64_t datagrams_sent = 0;
    uint64_t bytes_sent = 0;
    uint64_t send_failures = 0;
};

class Link {
public:
    using Clock = std::chrono::steady_clock;

    Link(std::string host, uint16_t port, const ImpairmentOptions& impairment);

    // Binds 127.0.0.1:local_port (0: a port the system chooses). Replies
    // from the target come back to this socket.
    bool open(uint16_t local_port = 0);

    // Sends the datagrams through the impairments, spread evenly until
    // `deadline` (all at once when it has passed). Returns how many of them
    // the impairments dropped.
    size_t send_paced(const std::vector<Datagram>& datagrams, Clock::time_point deadline);
    // One datagram through the impairments, now; false when they dropped it.
    bool send(const Datagram& datagram);
    // Sends the datagrams held back by --reorder-ms whose delay has run out;
    // called between frames, at least once a millisecond.
    void pump();
    void flush();

    UDPSocket& socket() { return sock; }
    const LinkCounts& counts() const { return totals; }
    const ImpairmentCounts& impairment_counts() const { return impairment.counts(); }

private:
    void send_now(const Datagram& datagram);  // with `mutex` held

    std::string host;
    uint16_t port;
    UDPSocket sock;
    Impairment impairment;
    LinkCounts totals;
    std::mutex mutex;  // impairment, totals and the order of sends
};

}  // namespace talvek::tools
