#pragma once
// Latency from a frame's send to the first screen capture that shows it, for
// the end-to-end benchmarks.
//
// Sends (the replay's --log): <t> <frame id> <picture number> ...
// Watch lines (screen_watch): <t> <picture number on screen, 0 for none>
// Times in steady-clock nanoseconds. Each capture after the first that shows
// a picture is matched to the latest send of that picture at or before it;
// a match more than a second old is a repeat, not a latency.

#include <istream>
#include <vector>

namespace talvek::verdict {

// Milliseconds, one per matched capture, in capture order.
std::vector<double> screen_latencies(std::istream& sends, std::istream& watch);

}  // namespace talvek::verdict
