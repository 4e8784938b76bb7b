#include "recovery.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>

#include "percentiles.h"

namespace talvek::verdict {

namespace {

constexpr int64_t KEYFRAME_LIMIT_NS = 4'250'000'000;  // one keyframe interval + 250 ms
constexpr int64_t WHOLE_FRAME_SLACK_NS = 100'000'000;
constexpr int64_t OPEN_AFTER_NS = 5'000'000'000;

// One line of either log, kept with its place so that equal times keep the
// watcher's lines first, then the events in the order written.
struct Line {
    int64_t t = 0;
    bool watch = false;
    std::string kind;              // events: frame, kfrq, garbage
    std::vector<int64_t> numbers;  // what follows the time (and the kind)
};

std::vector<Line> merged(std::istream& events, std::istream& watch) {
    std::vector<Line> lines;
    std::string text;
    while (std::getline(watch, text)) {
        std::istringstream fields(text);
        Line l;
        int64_t picture = 0;
        if (!(fields >> l.t >> picture)) continue;
        l.watch = true;
        l.numbers = {picture};
        lines.push_back(std::move(l));
    }
    while (std::getline(events, text)) {
        std::istringstream fields(text);
        Line l;
        if (!(fields >> l.t >> l.kind)) continue;
        for (int64_t v = 0; fields >> v;) l.numbers.push_back(v);
        lines.push_back(std::move(l));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return a.t < b.t; });
    return lines;
}

struct Fault {
    std::string kind;
    int64_t t = 0;
    int64_t frame_id = 0;
    std::optional<int64_t> repair_key;  // player: the keyframe sent after it
    std::optional<int64_t> deadline;    // preview: when it is late
    bool done = false;
};

}  // namespace

std::vector<Recovery> recoveries(const RecoveryInput& input, std::istream& events,
                                 std::istream& watch) {
    const bool player = input.mode == Mode::Player;
    std::vector<Fault> faults;
    std::vector<Recovery> out;
    std::map<int64_t, int64_t> last_id_of_picture;
    int64_t last_send = 0;
    size_t head = 0;       // faults before it are all done
    size_t unkeyed = 0;    // player: faults from here on wait for a keyframe
    size_t undated = 0;    // preview: faults from here on wait for a whole frame
    size_t dated_from = 0;
    std::optional<int64_t> whole_limit;

    for (const Line& l : merged(events, watch)) {
        if (!l.watch && l.kind == "frame" && l.numbers.size() >= 5) {
            const int64_t id = l.numbers[0];
            const int64_t picture = l.numbers[1];
            const bool lossy = l.numbers[3] > 0;
            const bool keyframe = l.numbers[4] != 0;
            last_id_of_picture[picture] = id;
            last_send = l.t;
            if (player) {
                if (keyframe) {
                    for (size_t i = unkeyed; i < faults.size(); ++i) faults[i].repair_key = id;
                    unkeyed = faults.size();
                }
                if (lossy) faults.push_back({"loss", l.t, id, {}, {}, false});
            } else if (lossy) {
                faults.push_back({"loss", l.t, id, {}, {}, false});
            } else {
                whole_limit = l.t + WHOLE_FRAME_SLACK_NS + input.frame_interval_ns;
                for (size_t i = undated; i < faults.size(); ++i) faults[i].deadline = whole_limit;
                dated_from = undated;
                undated = faults.size();
            }
        } else if (!l.watch && l.kind == "garbage") {
            if (!player && whole_limit && l.t < *whole_limit) {
                for (size_t i = dated_from; i < faults.size(); ++i) faults[i].deadline.reset();
                undated = dated_from;
            }
        } else if (!l.watch && l.kind == "kfrq") {
            if (player) faults.push_back({"kfrq", l.t, 0, {}, {}, false});
        } else if (l.watch) {
            const auto shown_it = last_id_of_picture.find(l.numbers[0]);
            if (shown_it == last_id_of_picture.end()) continue;
            const int64_t shown = shown_it->second;
            for (size_t i = head; i < faults.size(); ++i) {
                Fault& f = faults[i];
                if (f.done) continue;
                const bool back = player ? f.repair_key && shown >= *f.repair_key
                                         : shown > f.frame_id;
                if (!back) continue;
                const int64_t d = l.t - f.t;
                const bool late = player ? d > KEYFRAME_LIMIT_NS : f.deadline && l.t > *f.deadline;
                out.push_back({f.kind, false, static_cast<double>(d) / 1e6, late});
                f.done = true;
            }
            while (head < faults.size() && faults[head].done) ++head;
        }
    }
    for (size_t i = head; i < faults.size(); ++i) {
        if (!faults[i].done && last_send - faults[i].t > OPEN_AFTER_NS) {
            out.push_back({faults[i].kind, true, 0.0, true});
        }
    }
    return out;
}

std::string recovery_line(const Recovery& r) {
    char text[96];
    if (r.open) {
        std::snprintf(text, sizeof text, "%s open late", r.kind.c_str());
    } else {
        std::snprintf(text, sizeof text, "%s %.1f%s", r.kind.c_str(), r.ms, r.late ? " late" : "");
    }
    return text;
}

std::string recovery_summary(const std::vector<Recovery>& all, const std::string& kind) {
    std::vector<double> times;
    int late = 0;
    int open = 0;
    for (const Recovery& r : all) {
        if (r.kind != kind) continue;
        if (r.late) ++late;
        if (r.open) {
            ++open;
        } else {
            times.push_back(r.ms);
        }
    }
    char text[160];
    if (times.empty()) {
        std::snprintf(text, sizeof text, "count 0, %d never resolved", open);
        return text;
    }
    const Percentiles p = percentiles_of(times);
    std::snprintf(text, sizeof text,
                  "count %zu, median %.0f ms, p90 %.0f ms, max %.0f ms, %d late (%d never resolved)",
                  p.count, p.median, p.p90, p.max, late, open);
    return text;
}

}  // namespace talvek::verdict
