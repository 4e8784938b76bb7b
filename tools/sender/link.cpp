#include "link.h"

#include <algorithm>
#include <thread>

namespace talvek::tools {

namespace {
// Datagrams sent back to back before the pacer looks at the clock again;
// small enough that a burst stays far below a default socket buffer.
constexpr size_t BURST = 16;
}  // namespace

Link::Link(std::string host_, uint16_t port_, const ImpairmentOptions& options)
    : host(std::move(host_)), port(port_), impairment(options) {}

bool Link::open(uint16_t local_port) { return sock.bind(local_port); }

void Link::send_now(const Datagram& datagram) {
    // A full send buffer is not a loss on our side: wait for room.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int n = sock.send(datagram.data(), datagram.size(), host.c_str(), port);
        if (n >= 0) {
            ++totals.datagrams_sent;
            totals.bytes_sent += static_cast<uint64_t>(n);
            return;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ++totals.send_failures;
}

size_t Link::send_paced(const std::vector<Datagram>& datagrams, Clock::time_point deadline) {
    const Impairment::Emit emit = [this](const Datagram& d) { send_now(d); };
    const Clock::time_point start = Clock::now();
    const auto span = deadline > start ? deadline - start : Clock::duration::zero();
    const size_t total = datagrams.size();
    size_t dropped = 0;
    for (size_t i = 0; i < total; ++i) {
        if (i % BURST == 0 && i > 0) {
            const auto due = start + span * static_cast<Clock::rep>(i) / static_cast<Clock::rep>(total);
            std::this_thread::sleep_until(due);
        }
        // Per datagram, not per burst: the audio thread's packets slip in
        // between the fragments of a frame as they would on a real link.
        const std::lock_guard<std::mutex> lock(mutex);
        if (!impairment.push(datagrams[i], emit)) ++dropped;
    }
    return dropped;
}

bool Link::send(const Datagram& datagram) {
    const std::lock_guard<std::mutex> lock(mutex);
    return impairment.push(datagram, [this](const Datagram& d) { send_now(d); });
}

void Link::pump() {
    const std::lock_guard<std::mutex> lock(mutex);
    impairment.release_expired([this](const Datagram& d) { send_now(d); });
}

void Link::flush() {
    const std::lock_guard<std::mutex> lock(mutex);
    impairment.flush([this](const Datagram& d) { send_now(d); });
}

}  // namespace talvek::tools
