#include "event_log.h"

#include <chrono>

#include "log.h"

namespace talvek::tools {

int64_t EventLog::now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool EventLog::open(const std::string& path) {
    if (path.empty()) return true;
    file.reset(std::fopen(path.c_str(), "w"));
    if (!file) {
        log_err("[Sender] Error: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

void EventLog::frame_at(int64_t ns, uint32_t frame_id, uint32_t picture, size_t datagrams,
                        size_t dropped, bool keyframe) {
    if (!file) return;
    std::fprintf(file.get(), "%lld frame %u %u %zu %zu %d\n", static_cast<long long>(ns),
                 frame_id, picture, datagrams, dropped, keyframe ? 1 : 0);
    std::fflush(file.get());
}

void EventLog::keyframe_request() {
    if (!file) return;
    std::fprintf(file.get(), "%lld kfrq\n", static_cast<long long>(now_ns()));
    std::fflush(file.get());
}

void EventLog::garbage(uint32_t first_frame_id, int units, size_t datagrams) {
    if (!file) return;
    std::fprintf(file.get(), "%lld garbage %u %d %zu\n", static_cast<long long>(now_ns()),
                 first_frame_id, units, datagrams);
    std::fflush(file.get());
}

}  // namespace talvek::tools
