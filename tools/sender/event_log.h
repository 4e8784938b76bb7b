#pragma once
// A machine-readable record of what the sender did and when, for soak runs
// that match it against what the target showed. One line per event, each
// starting with the steady clock in nanoseconds (CLOCK_MONOTONIC, the clock
// tools/screen_watch/screen_watch stamps its lines with):
//
//   <ns> frame <frame id> <picture> <datagrams> <dropped> <key 0|1>
//   <ns> kfrq
//   <ns> garbage <first frame id> <units> <datagrams>
//
// `picture` is the number the frame's picture shows in its frame-number
// strip; `dropped` counts its datagrams the impairments lost. A frame line
// is written as its first datagram leaves. Lines are flushed at once, so a
// run that is ended by a signal keeps all of them.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace talvek::tools {

class EventLog {
public:
    // An empty path keeps the log closed: every call then does nothing.
    // Logs and returns false when the file cannot be written.
    bool open(const std::string& path);

    void keyframe_request();
    void garbage(uint32_t first_frame_id, int units, size_t datagrams);

    // A frame line is written once the frame is out and its drop count
    // known, with the time taken as its first datagram left.
    static int64_t now_ns();
    void frame_at(int64_t ns, uint32_t frame_id, uint32_t picture, size_t datagrams,
                  size_t dropped, bool keyframe);

private:
    struct FileCloser {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, FileCloser> file;
};

}  // namespace talvek::tools
