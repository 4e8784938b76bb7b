// rcvbuf_probe [bytes]: asks for a receive buffer the way preview does
// (4 MiB unless told otherwise), prints what the system granted, then fills
// the socket with full-size raw fragment datagrams without reading and
// counts how many it held before it began to drop them.
//
// Output is "key: value" lines so scripts can pick fields out.

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media_header.h"
#include "udp_socket.h"

namespace {

constexpr int PREVIEW_REQUEST = 4 * 1024 * 1024;
constexpr int OFFERED = 20000;  // far more than any granted buffer holds

// UDPSocket keeps its descriptor to itself; find it by its bound port.
int descriptor_bound_to(unsigned short port) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int result = -1;
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            continue;
        }
        if (addr.sin_family == AF_INET && ntohs(addr.sin_port) == port) {
            result = static_cast<int>(fd);
            break;
        }
    }
    closedir(dir);
    return result;
}

long read_number(const char* path) {
    std::ifstream in(path);
    long value = -1;
    in >> value;
    return value;
}

// The "drops" column of /proc/net/udp for a socket bound to 127.0.0.1:port.
long socket_drops(unsigned short port) {
    std::ifstream in("/proc/net/udp");
    std::string line;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::getline(in, line);  // column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string s; fields >> s;) f.push_back(s);
        if (f.size() >= 13 && f[1] == wanted) return std::strtol(f[12].c_str(), nullptr, 10);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int request = argc > 1 ? std::atoi(argv[1]) : PREVIEW_REQUEST;
    socket_init();

    talvek::UDPSocket receiver;
    talvek::UDPSocket sender;
    if (!receiver.bind(0) || !sender.bind(0)) return 1;
    const bool accepted = receiver.set_recv_buffer(request);
    const unsigned short port = receiver.get_bound_port();

    const int fd = descriptor_bound_to(port);
    int granted = -1;
    socklen_t len = sizeof granted;
    if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0) granted = -1;

    std::printf("requested_bytes: %d\n", request);
    std::printf("setsockopt_ok: %s\n", accepted ? "yes" : "no");
    std::printf("granted_so_rcvbuf: %d\n", granted);
    std::printf("rmem_max: %ld\n", read_number("/proc/sys/net/core/rmem_max"));
    std::printf("rmem_default: %ld\n", read_number("/proc/sys/net/core/rmem_default"));

    // A full raw fragment: both headers and a 1400-byte payload.
    const size_t datagram_bytes =
        static_cast<size_t>(talvek::FRAGMENT_PAYLOAD_OFFSET + talvek::VIDEO_FRAGMENT_MAX_PAYLOAD);
    std::vector<uint8_t> datagram(datagram_bytes, 0x5a);
    int sent = 0;
    for (int i = 0; i < OFFERED; ++i) {
        if (sender.send(datagram.data(), datagram.size(), "127.0.0.1", port) > 0) ++sent;
    }
    const long drops = socket_drops(port);
    int held = 0;
    std::vector<uint8_t> buffer(2048);
    while (receiver.recv(buffer.data(), buffer.size(), 0) > 0) ++held;

    const long frame_720p = (1280L * 720 * 4 + talvek::VIDEO_FRAGMENT_MAX_PAYLOAD - 1) /
                            talvek::VIDEO_FRAGMENT_MAX_PAYLOAD;
    std::printf("datagram_bytes: %zu\n", datagram_bytes);
    std::printf("datagrams_sent: %d\n", sent);
    std::printf("datagrams_held: %d\n", held);
    std::printf("socket_drops: %ld\n", drops);
    std::printf("buffer_bytes_per_datagram: %.0f\n",
                held > 0 && granted > 0 ? static_cast<double>(granted) / held : 0.0);
    std::printf("frames_1280x720_held: %.2f\n",
                static_cast<double>(held) / static_cast<double>(frame_720p));
    socket_cleanup();
    return 0;
}
