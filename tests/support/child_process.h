#pragma once
// A program under test, started as the host application starts it: its own
// process, standard output and error captured, ended by us or by itself.

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace talvek::testing {

class ChildProcess {
public:
    // Starts argv[0] with the given arguments and extra environment entries
    // ("NAME=value"), which override the inherited ones.
    ChildProcess(std::vector<std::string> argv, std::vector<std::string> env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid > 0; }

    // Waits for the process to end; -1 on time-out, else its exit status
    // (128 + signal when a signal ended it).
    int wait(std::chrono::milliseconds timeout);
    void signal(int sig);

    std::string out() const;
    std::string err() const;

    // Waits until standard output holds `text`.
    bool wait_for_output(const std::string& text, std::chrono::milliseconds timeout) const;

private:
    void pump(int fd, std::string& sink);

    pid_t pid = -1;
    int status = -1;
    bool reaped = false;
    mutable std::mutex mutex;
    std::string out_text;
    std::string err_text;
    std::thread out_reader;
    std::thread err_reader;
};

// A UDP port on 127.0.0.1 that was free a moment ago.
unsigned short free_udp_port();

// Datagrams the kernel has dropped at the UDP socket bound to `port`
// because its receive buffer was full (Linux's /proc/net/udp, which also
// lists the sockets of programs run under wine); -1 when no socket holds
// the port.
long udp_socket_drops(unsigned short port);

}  // namespace talvek::testing
