#pragma once
// One non-blocking IPv4 UDP socket bound to 127.0.0.1: the only channel
// between our programs and the host application. Winsock on Windows, BSD
// sockets elsewhere; callers see the same operations, results and messages.

#include <cstddef>
#include <cstdint>

namespace talvek {

class UDPSocket {
public:
#ifdef _WIN32
    using Handle = uintptr_t;  // Winsock SOCKET, kept out of this header
    static constexpr Handle INVALID_HANDLE = ~Handle{0};
#else
    using Handle = int;
    static constexpr Handle INVALID_HANDLE = -1;
#endif

    UDPSocket() = default;
    ~UDPSocket();
    UDPSocket(const UDPSocket&) = delete;
    UDPSocket& operator=(const UDPSocket&) = delete;

    // Creates the socket, makes it non-blocking and binds it to
    // 127.0.0.1:port (0 lets the system choose). Refuses a second socket.
    bool bind(unsigned short port);

    // One datagram to host:port (dotted IPv4 text, no name lookup).
    // Returns the bytes sent or -1.
    int send(const void* data, size_t len, const char* host, unsigned short port);

    // At most one datagram, waiting up to timeout_ms (none when <= 0).
    // Returns its length, 0 when nothing arrived (or it was empty), -1 on
    // error; a datagram longer than len is reported, dropped and gives -1.
    int recv(void* buf, size_t len, int timeout_ms);

    bool set_recv_buffer(int bytes);
    bool set_send_buffer(int bytes);

    unsigned short get_bound_port() const { return bound_port; }
    bool is_valid() const { return sock != INVALID_HANDLE; }
    void reset();

private:
    Handle sock = INVALID_HANDLE;
    uint16_t bound_port = 0;
};

}  // namespace talvek

// Start and stop the platform's socket library once per process. They do
// nothing where sockets need no start-up.
bool socket_init();
void socket_cleanup();
