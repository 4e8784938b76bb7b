#include "latency.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <utility>

namespace talvek::verdict {

std::vector<double> screen_latencies(std::istream& sends, std::istream& watch) {
    constexpr int64_t REPEAT_AFTER_NS = 1'000'000'000;
    // Send times per picture number, in the order sent.
    std::map<int64_t, std::vector<int64_t>> sent;
    std::string line;
    while (std::getline(sends, line)) {
        std::istringstream fields(line);
        int64_t t = 0, id = 0, picture = 0;
        if (fields >> t >> id >> picture) sent[picture].push_back(t);
    }

    std::vector<double> out;
    bool first = true;
    while (std::getline(watch, line)) {
        std::istringstream fields(line);
        int64_t t = 0, picture = 0;
        if (!(fields >> t >> picture)) continue;
        // The first capture shows what was there before the run.
        if (std::exchange(first, false) || picture == 0) continue;
        const auto found = sent.find(picture);
        if (found == sent.end()) continue;
        const std::vector<int64_t>& times = found->second;
        // The latest send at or before the capture.
        auto after = std::upper_bound(times.begin(), times.end(), t);
        if (after == times.begin()) continue;
        const int64_t best = *(after - 1);
        if (t - best <= REPEAT_AFTER_NS) out.push_back(static_cast<double>(t - best) / 1e6);
    }
    return out;
}

}  // namespace talvek::verdict
