// recv_cost: what one UDPSocket::recv of a raw preview datagram costs, the
// way preview drains its socket: bound with a 4 MiB buffer, it waits for the
// first datagram of a burst, lets the rest of the burst arrive, then reads
// with no wait until nothing is left, and prints the time per datagram. Built for Linux and Windows alike, so
// scripts/bench_windows_recv.sh can set the cost under wine against the
// native one.
//
//   recv_cost PORT      (prints "ready" once bound, then one result line)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "udp_socket.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s PORT\n", argv[0]);
        return 2;
    }
    socket_init();
    int status = 1;
    {
        talvek::UDPSocket socket;
        if (socket.bind(static_cast<unsigned short>(std::atoi(argv[1])))) {
            socket.set_recv_buffer(4 * 1024 * 1024);
            std::printf("ready\n");
            std::fflush(stdout);
            std::vector<unsigned char> buffer(2048);
            // The burst's first datagram; then, once the whole burst waits in
            // the buffer, everything pending.
            if (socket.recv(buffer.data(), buffer.size(), 10000) > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                const auto start = std::chrono::steady_clock::now();
                long count = 1;
                while (socket.recv(buffer.data(), buffer.size(), 0) > 0) ++count;
                const double us = std::chrono::duration<double, std::micro>(
                                      std::chrono::steady_clock::now() - start)
                                      .count();
                std::printf("%ld datagrams, %.1f us a datagram\n", count,
                            us / static_cast<double>(count));
                status = 0;
            }
        }
    }
    socket_cleanup();
    return status;
}
