// stream_verdict: the soak's and the end-to-end benchmarks' judgements, read
// from the logs their runs leave, so the scripts only wire programs together.
//
//   stream_verdict recoveries --mode player|preview --interval-ns N EVENTS WATCH
//       one line per fault: "<kind> <ms>[ late]" or "<kind> open late"
//   stream_verdict summary KIND RECOVERIES
//       "count N, median M ms, p90 P ms, max X ms, L late (O never resolved)"
//   stream_verdict latency SENDS WATCH
//       "<captures matched> <median ms> <p90 ms>"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "latency.h"
#include "percentiles.h"
#include "recovery.h"

using namespace talvek::verdict;

namespace {

int usage() {
    std::fprintf(stderr,
                 "Usage: stream_verdict recoveries --mode player|preview --interval-ns N "
                 "EVENTS WATCH\n"
                 "       stream_verdict summary KIND RECOVERIES\n"
                 "       stream_verdict latency SENDS WATCH\n");
    return 2;
}

bool open_input(const char* path, std::ifstream& in) {
    in.open(path);
    if (!in) std::fprintf(stderr, "stream_verdict: cannot read %s\n", path);
    return static_cast<bool>(in);
}

// The lines `recoveries` printed, read back.
std::vector<Recovery> read_recoveries(std::istream& in) {
    std::vector<Recovery> all;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Recovery r;
        std::string value;
        if (!(fields >> r.kind >> value)) continue;
        r.open = value == "open";
        if (!r.open) r.ms = std::strtod(value.c_str(), nullptr);
        std::string rest;
        r.late = r.open || (fields >> rest && rest == "late");
        all.push_back(r);
    }
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "recoveries" && argc == 8 && std::strcmp(argv[2], "--mode") == 0 &&
        std::strcmp(argv[4], "--interval-ns") == 0) {
        RecoveryInput input;
        if (std::strcmp(argv[3], "player") == 0) {
            input.mode = Mode::Player;
        } else if (std::strcmp(argv[3], "preview") == 0) {
            input.mode = Mode::Preview;
        } else {
            return usage();
        }
        input.frame_interval_ns = std::strtoll(argv[5], nullptr, 10);
        std::ifstream events, watch;
        if (!open_input(argv[6], events) || !open_input(argv[7], watch)) return 1;
        for (const Recovery& r : recoveries(input, events, watch)) {
            std::printf("%s\n", recovery_line(r).c_str());
        }
        return 0;
    }
    if (command == "summary" && argc == 4) {
        std::ifstream in;
        if (!open_input(argv[3], in)) return 1;
        std::printf("%s\n", recovery_summary(read_recoveries(in), argv[2]).c_str());
        return 0;
    }
    if (command == "latency" && argc == 4) {
        std::ifstream sends, watch;
        if (!open_input(argv[2], sends) || !open_input(argv[3], watch)) return 1;
        const Percentiles p = percentiles_of(screen_latencies(sends, watch));
        std::printf("%zu %.3f %.3f\n", p.count, p.median, p.p90);
        return 0;
    }
    return usage();
}
