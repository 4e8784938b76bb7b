#include "udp_socket.h"

#include <climits>
#include <cstring>

#include "log.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace talvek {

namespace {

// The little the two socket libraries disagree on, in one place.
#ifdef _WIN32
using NativeSocket = SOCKET;
using AddrLen = int;
int last_error() { return WSAGetLastError(); }
bool would_block(int error) { return error == WSAEWOULDBLOCK; }
void close_native(NativeSocket s) { closesocket(s); }
bool make_non_blocking(NativeSocket s) {
    u_long on = 1;
    // FIONBIO is built as an unsigned value, but ioctlsocket takes a long.
    return ioctlsocket(s, static_cast<long>(FIONBIO), &on) == 0;
}
#else
using NativeSocket = int;
using AddrLen = socklen_t;
int last_error() { return errno; }
bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
void close_native(NativeSocket s) { ::close(s); }
bool make_non_blocking(NativeSocket s) {
    int on = 1;
    return ioctl(s, FIONBIO, &on) == 0;
}
#endif

NativeSocket native(UDPSocket::Handle h) { return static_cast<NativeSocket>(h); }

// Sizes beyond INT_MAX cannot be passed to the int-sized socket calls.
int clamp_len(size_t len) { return len > INT_MAX ? INT_MAX : static_cast<int>(len); }

// Waits until the socket is readable: 1 readable, 0 timed out, -1 error.
int wait_readable(NativeSocket s, int timeout_ms) {
#ifdef _WIN32
    fd_set read_set;
    FD_ZERO(&read_set);
    FD_SET(s, &read_set);
    timeval tv;
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    return select(0, &read_set, nullptr, nullptr, &tv);
#else
    // poll, not select: select's fd_set cannot hold descriptors past 1023.
    pollfd pfd{s, POLLIN, 0};
    return ::poll(&pfd, 1, timeout_ms);
#endif
}

// Receives one datagram. Linux cuts an oversized datagram silently; MSG_TRUNC
// makes it tell us, and we fail the call as Winsock does (WSAEMSGSIZE).
int receive_one(NativeSocket s, void* buf, size_t len, int& error) {
    sockaddr_in from;
    AddrLen from_len = sizeof from;
#ifdef _WIN32
    int n = recvfrom(s, static_cast<char*>(buf), clamp_len(len), 0,
                     reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n < 0) error = last_error();
    return n;
#else
    ssize_t n = recvfrom(s, buf, static_cast<size_t>(clamp_len(len)), MSG_TRUNC,
                         reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n < 0) {
        error = last_error();
        return -1;
    }
    if (static_cast<size_t>(n) > len) {
        error = EMSGSIZE;
        return -1;
    }
    return static_cast<int>(n);
#endif
}

}  // namespace

UDPSocket::~UDPSocket() {
    if (is_valid()) close_native(native(sock));
}

bool UDPSocket::bind(unsigned short port) {
    if (is_valid()) {
        log_err("[UDPSocket] Socket already created\n");
        return false;
    }

    NativeSocket s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
#ifdef _WIN32
    if (s == INVALID_SOCKET) {
#else
    if (s < 0) {
#endif
        log_err("[UDPSocket] socket() failed: %d\n", last_error());
        return false;
    }
    sock = static_cast<Handle>(s);

    if (!make_non_blocking(s)) {
        log_err("[UDPSocket] ioctlsocket(FIONBIO) failed: %d\n", last_error());
        close_native(s);
        sock = INVALID_HANDLE;
        return false;
    }

    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // 127.0.0.1 only, never INADDR_ANY
    addr.sin_port = htons(port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0) {
        log_err("[UDPSocket] bind() failed: %d\n", last_error());
        close_native(s);
        sock = INVALID_HANDLE;
        return false;
    }

    sockaddr_in local;
    AddrLen local_len = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &local_len) == 0) {
        bound_port = ntohs(local.sin_port);
    }
    return true;
}

int UDPSocket::send(const void* data, size_t len, const char* host, unsigned short port) {
    if (!is_valid()) {
        log_err("[UDPSocket] Socket not initialized\n");
        return -1;
    }

    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, host, &to.sin_addr) <= 0) {
        log_err("[UDPSocket] Invalid host address: %s\n", host);
        return -1;
    }

#ifdef _WIN32
    int n = sendto(native(sock), static_cast<const char*>(data), clamp_len(len), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
#else
    int n = static_cast<int>(sendto(native(sock), data, static_cast<size_t>(clamp_len(len)), 0,
                                    reinterpret_cast<const sockaddr*>(&to), sizeof to));
#endif
    if (n < 0) {
        int error = last_error();
        if (!would_block(error)) log_err("[UDPSocket] sendto() failed: %d\n", error);
        return -1;
    }
    return n;
}

int UDPSocket::recv(void* buf, size_t len, int timeout_ms) {
    if (!is_valid()) return -1;

    if (timeout_ms > 0) {
        int ready = wait_readable(native(sock), timeout_ms);
        if (ready < 0) return -1;
        if (ready == 0) return 0;
    }

    int error = 0;
    int n = receive_one(native(sock), buf, len, error);
    if (n >= 0) return n;
    if (would_block(error)) return 0;
    log_err("[UDPSocket] recvfrom() failed: %d\n", error);
    return -1;
}

static bool set_buffer_option(UDPSocket::Handle sock, int option, int bytes) {
#ifdef _WIN32
    return setsockopt(static_cast<SOCKET>(sock), SOL_SOCKET, option,
                      reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
#else
    return setsockopt(sock, SOL_SOCKET, option, &bytes, sizeof bytes) == 0;
#endif
}

bool UDPSocket::set_recv_buffer(int bytes) {
    return is_valid() && set_buffer_option(sock, SO_RCVBUF, bytes);
}

bool UDPSocket::set_send_buffer(int bytes) {
    return is_valid() && set_buffer_option(sock, SO_SNDBUF, bytes);
}

void UDPSocket::reset() {
    if (!is_valid()) return;
    close_native(native(sock));
    sock = INVALID_HANDLE;
    bound_port = 0;
}

}  // namespace talvek

bool socket_init() {
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
    return true;
#endif
}

void socket_cleanup() {
#ifdef _WIN32
    WSACleanup();
#endif
}
