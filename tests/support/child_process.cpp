#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "udp_socket.h"

extern char** environ;

namespace talvek::testing {

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> env) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return;
    }

    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const std::string& extra : env) {
            if (extra.compare(0, name.size() + 1, name + "=") == 0) overridden = true;
        }
        if (!overridden) environment.push_back(entry);
    }
    environment.insert(environment.end(), env.begin(), env.end());

    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);

    out_reader = std::thread([this, fd = out_pipe[0]] { pump(fd, out_text); });
    err_reader = std::thread([this, fd = err_pipe[0]] { pump(fd, err_text); });
}

ChildProcess::~ChildProcess() {
    if (pid > 0 && !reaped) {
        kill(pid, SIGKILL);
        wait(std::chrono::seconds(5));
    }
    if (out_reader.joinable()) out_reader.join();
    if (err_reader.joinable()) err_reader.join();
}

void ChildProcess::pump(int fd, std::string& sink) {
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(mutex);
        sink.append(buf, static_cast<size_t>(n));
    }
    close(fd);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (pid <= 0) return -1;
    if (reaped) return status;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int raw = 0;
        pid_t r = waitpid(pid, &raw, WNOHANG);
        if (r == pid) {
            reaped = true;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            // The pipes close when the process ends: collect the last output.
            if (out_reader.joinable()) out_reader.join();
            if (err_reader.joinable()) err_reader.join();
            return status;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::signal(int sig) {
    if (pid > 0 && !reaped) kill(pid, sig);
}

std::string ChildProcess::out() const {
    std::lock_guard<std::mutex> lock(mutex);
    return out_text;
}

std::string ChildProcess::err() const {
    std::lock_guard<std::mutex> lock(mutex);
    return err_text;
}

bool ChildProcess::wait_for_output(const std::string& text,
                                   std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (out().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return out().find(text) != std::string::npos;
}

unsigned short free_udp_port() {
    UDPSocket probe;
    if (!probe.bind(0)) return 0;
    return probe.get_bound_port();
}

long udp_socket_drops(unsigned short port) {
    std::ifstream table("/proc/net/udp");
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ":%04X", port);
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
        std::istringstream fields(line);
        std::string field[13];
        for (auto& f : field) fields >> f;
        if (field[1].size() > 5 && field[1].ends_with(suffix)) return std::stol(field[12]);
    }
    return -1;
}

}  // namespace talvek::testing
