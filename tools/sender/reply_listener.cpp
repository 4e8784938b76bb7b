#include "reply_listener.h"

#include <cstdio>
#include <cstring>

namespace talvek::tools {

namespace {
constexpr char KFRQ[4] = {'K', 'F', 'R', 'Q'};
constexpr char AUDS[4] = {'A', 'U', 'D', 'S'};
constexpr size_t AUDS_LENGTH = 9;
constexpr size_t DUMP_LIMIT = 32;  // enough to recognise a header, short enough for one line
}  // namespace

Reply parse_reply(const uint8_t* data, size_t length) {
    Reply reply;
    reply.bytes.assign(data, data + length);
    if (length == sizeof KFRQ && std::memcmp(data, KFRQ, sizeof KFRQ) == 0) {
        reply.kind = Reply::Kind::KeyframeRequest;
    } else if (length == AUDS_LENGTH && std::memcmp(data, AUDS, sizeof AUDS) == 0) {
        reply.kind = Reply::Kind::AudioState;
        reply.muted = data[4] != 0;
        std::memcpy(&reply.volume, data + 5, sizeof reply.volume);  // little-endian host
    }
    return reply;
}

std::string describe_reply(const Reply& reply) {
    char line[64];
    switch (reply.kind) {
    case Reply::Kind::KeyframeRequest:
        return "[Sender] received KFRQ\n";
    case Reply::Kind::AudioState:
        std::snprintf(line, sizeof line, "[Sender] received AUDS muted=%d volume=%.3f\n",
                      reply.muted ? 1 : 0, static_cast<double>(reply.volume));
        return line;
    case Reply::Kind::Other:
        break;
    }
    std::snprintf(line, sizeof line, "[Sender] received %zu bytes:", reply.bytes.size());
    std::string text = line;
    for (size_t i = 0; i < reply.bytes.size() && i < DUMP_LIMIT; ++i) {
        std::snprintf(line, sizeof line, " %02x", reply.bytes[i]);
        text += line;
    }
    if (reply.bytes.size() > DUMP_LIMIT) text += " ...";
    return text + "\n";
}

int ReplyListener::poll(std::vector<Reply>& out) {
    int count = 0;
    for (;;) {
        int n = socket.recv(buffer.data(), buffer.size(), 0);
        if (n < 0) return -1;
        // 0 is "nothing waiting"; an empty datagram reads the same and is lost.
        if (n == 0) return count;
        out.push_back(parse_reply(buffer.data(), static_cast<size_t>(n)));
        ++count;
    }
}

}  // namespace talvek::tools
