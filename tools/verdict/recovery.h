#pragma once
// How long the picture on screen takes to come back after each fault of a
// soak run, from the sender's event log and the screen watcher's lines.
//
// Events (the sender's --event-log), times in steady-clock nanoseconds:
//   <t> frame <id> <picture> <datagrams> <dropped> <keyframe 0|1>
//   <t> kfrq
//   <t> garbage <first id> <units> <datagrams>
// Watch lines (screen_watch): <t> <picture number on screen, 0 for none>
//
// player: a KFRQ, and a frame that lost datagrams, are back once the screen
// shows a frame sent at or after the first keyframe sent after them; late
// when that takes more than one keyframe interval (4 s) and the 250 ms a
// frame has to arrive.
// preview: a frame that lost datagrams is back once a later frame shows;
// late when after the next frame sent whole + 100 ms + a frame interval. A
// garbage burst sent before that limit may blank the picture (a fragment
// count of 0 clears it), so the whole frame after the burst sets the limit.
// A fault not back by the end, and sent more than 5 s before the last
// frame, is "open late".

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace talvek::verdict {

enum class Mode { Player, Preview };

struct Recovery {
    std::string kind;    // "kfrq" or "loss"
    bool open = false;   // never came back
    double ms = 0.0;     // time to come back, when not open
    bool late = false;
};

struct RecoveryInput {
    Mode mode = Mode::Player;
    int64_t frame_interval_ns = 0;
};

// Reads both logs and gives one recovery per fault, in the order they came
// back (open ones last, in the order they were sent).
std::vector<Recovery> recoveries(const RecoveryInput& input, std::istream& events,
                                 std::istream& watch);

// The soak's line for one kind: "count N, median M ms, p90 P ms, max X ms,
// L late (O never resolved)"; late counts the open ones too.
std::string recovery_summary(const std::vector<Recovery>& all, const std::string& kind);

// One line per recovery, as "<kind> <ms with one decimal>[ late]" or
// "<kind> open late".
std::string recovery_line(const Recovery& r);

}  // namespace talvek::verdict
