#pragma once
// The real `sender` process aimed at a socket of the test: start it, learn
// the port it listens on, read what it sends until it ends, answer it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "udp_socket.h"

namespace talvek::tools {

inline const std::string SENDER = SENDER_PATH;

class SenderProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(receiver.bind(0));
        receiver.set_recv_buffer(4 << 20);
    }

    // Starts `sender <mode> --port <our port> <extra>` and reads the port it
    // listens on from its start-up line.
    void start_sender(const std::string& mode, std::vector<std::string> extra) {
        std::vector<std::string> argv = {SENDER, mode, "--port",
                                         std::to_string(receiver.get_bound_port())};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sender = std::make_unique<talvek::testing::ChildProcess>(argv);
        ASSERT_TRUE(sender->started());
        const std::string marker = "[Sender] listening on 127.0.0.1:";
        ASSERT_TRUE(sender->wait_for_output(marker, std::chrono::seconds(10))) << sender->err();
        const std::string out = sender->out();
        sender_port =
            static_cast<uint16_t>(std::stoul(out.substr(out.find(marker) + marker.size())));
        ASSERT_NE(sender_port, 0);
    }

    // Receives until the sender has ended and nothing more is waiting; calls
    // `on_datagram` for each. Returns the sender's exit status.
    int receive_until_exit(const std::function<void(const uint8_t*, int)>& on_datagram) {
        std::vector<uint8_t> buffer(65536);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = -1;
        while (std::chrono::steady_clock::now() < deadline) {
            const int n = receiver.recv(buffer.data(), buffer.size(), 20);
            if (n > 0) {
                on_datagram(buffer.data(), n);
                continue;
            }
            if (status >= 0) break;  // ended, and the socket is empty
            status = sender->wait(std::chrono::milliseconds(0));
        }
        return status;
    }

    void send_to_sender(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(receiver.send(bytes.data(), bytes.size(), "127.0.0.1", sender_port),
                  static_cast<int>(bytes.size()));
    }

    UDPSocket receiver;
    std::unique_ptr<talvek::testing::ChildProcess> sender;
    uint16_t sender_port = 0;
};

}  // namespace talvek::tools
