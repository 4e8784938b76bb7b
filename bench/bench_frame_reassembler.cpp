// How fast preview's reassembler turns fragment datagrams into whole raw
// frames, measured against the least any reassembler must do: copy each
// datagram's payload into a frame-sized buffer.
//
//   reassemble/WxH      handle_fragment for every datagram of a frame, then
//                       has_complete_frame / clear_frame as the main loop does
//   copy/WxH            memcpy of the same payload bytes from the same
//                       datagrams into one frame buffer kept across frames:
//                       the limit
//   copy_new_frame/WxH  the same copy into a zeroed frame buffer allocated
//                       and freed every frame; it shows how much of the gap
//                       to the limit is the per-frame buffer alone
//   reassemble_fixed_clock/WxH
//                       reassemble with a clock that always answers the same
//                       time; the difference to reassemble is the cost of
//                       reading the steady clock on every datagram
//
// Every iteration completes a new frame: the datagrams are renumbered with
// the next frame number between iterations, outside the timed region (the
// copy benchmarks renumber too, so every variant starts from the same caches).
// After the table the program prints each variant/copy as throughput ratios
// (median over repetitions when --benchmark_repetitions is given).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fragmenter.h"
#include "frame_reassembler.h"
#include "media_header.h"
#include "ratio_report.h"
#include "test_pattern.h"

namespace {

using talvek::FRAGMENT_HEADER_OFFSET;
using talvek::FRAGMENT_PAYLOAD_OFFSET;
using talvek::VIDEO_FRAGMENT_MAX_PAYLOAD;
using talvek::tools::Datagram;

struct Size {
    int width;
    int height;
};

constexpr Size SIZES[] = {{1280, 720}, {1920, 1080}};

struct Workload {
    size_t frame_bytes = 0;
    std::vector<Datagram> datagrams;
};

Workload make_workload(Size size) {
    Workload w;
    w.frame_bytes = static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * 4;
    const std::vector<uint8_t> frame =
        talvek::tools::make_test_pattern(size.width, size.height, 1);
    talvek::tools::FragmentOptions options;
    options.flags = talvek::VOICE_FLAG_VIDEO;
    talvek::tools::cut_into_fragments(1, frame.data(), frame.size(), options, w.datagrams);
    return w;
}

// Gives every datagram the frame number `id`.
void renumber(std::vector<Datagram>& datagrams, uint32_t id) {
    for (Datagram& d : datagrams) std::memcpy(d.data() + FRAGMENT_HEADER_OFFSET, &id, sizeof id);
}

void set_counters(benchmark::State& state, const Workload& w) {
    const auto iterations = static_cast<int64_t>(state.iterations());
    state.SetBytesProcessed(iterations * static_cast<int64_t>(w.frame_bytes));
    state.SetItemsProcessed(iterations * static_cast<int64_t>(w.datagrams.size()));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(iterations), benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(w.datagrams.size()) + " datagrams/frame");
}

void run_reassembler(benchmark::State& state, Size size, FrameReassembler& reassembler) {
    Workload w = make_workload(size);
    uint32_t id = 0;
    for (auto _ : state) {
        state.PauseTiming();
        renumber(w.datagrams, ++id);
        state.ResumeTiming();

        for (const Datagram& d : w.datagrams) {
            reassembler.handle_fragment(d.data(), static_cast<int>(d.size()));
        }
        if (!reassembler.has_complete_frame()) {
            state.SkipWithError("the frame did not complete");
            break;
        }
        benchmark::DoNotOptimize(reassembler.get_frame().data());
        reassembler.clear_frame();
    }
    set_counters(state, w);
}

void reassemble(benchmark::State& state, Size size) {
    FrameReassembler reassembler(size.width, size.height);
    run_reassembler(state, size, reassembler);
}

void reassemble_fixed_clock(benchmark::State& state, Size size) {
    const FrameReassembler::TimePoint fixed = std::chrono::steady_clock::now();
    FrameReassembler reassembler(size.width, size.height, [fixed] { return fixed; });
    run_reassembler(state, size, reassembler);
}

// The payload copy alone, into `frame`.
void copy_payloads(const std::vector<Datagram>& datagrams, uint8_t* frame) {
    const size_t slot = static_cast<size_t>(VIDEO_FRAGMENT_MAX_PAYLOAD);
    const size_t header = static_cast<size_t>(FRAGMENT_PAYLOAD_OFFSET);
    for (size_t i = 0; i < datagrams.size(); ++i) {
        const Datagram& d = datagrams[i];
        std::memcpy(frame + i * slot, d.data() + header, d.size() - header);
    }
}

void copy(benchmark::State& state, Size size) {
    Workload w = make_workload(size);
    std::vector<uint8_t> frame(w.frame_bytes);
    uint32_t id = 0;
    for (auto _ : state) {
        state.PauseTiming();
        renumber(w.datagrams, ++id);
        state.ResumeTiming();

        copy_payloads(w.datagrams, frame.data());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    set_counters(state, w);
}

void copy_new_frame(benchmark::State& state, Size size) {
    Workload w = make_workload(size);
    uint32_t id = 0;
    for (auto _ : state) {
        state.PauseTiming();
        renumber(w.datagrams, ++id);
        state.ResumeTiming();

        std::vector<uint8_t> frame(w.frame_bytes, 0);
        copy_payloads(w.datagrams, frame.data());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    set_counters(state, w);
}

std::string size_name(Size size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// The usual console table, then each variant's throughput as a fraction of
// copy's for each frame size.
void print_ratios(std::ostream& out, const talvek::bench::MedianRates& rates) {
    static constexpr const char* VARIANTS[] = {"reassemble", "reassemble_fixed_clock",
                                               "copy_new_frame"};
    char line[256];
    out << "\nThroughput against the copy limit (MB = 10^6 bytes; median of repetitions;\n"
           "ratio 1.000 = as fast as the copy)\n";
    std::snprintf(line, sizeof line, "%-11s %-24s %10s %10s %10s\n", "frame", "variant",
                  "MB/s", "copy MB/s", "ratio");
    out << line;
    for (Size size : SIZES) {
        const std::string name = size_name(size);
        const double limit = rates.median("copy/" + name);
        if (limit <= 0.0) continue;
        for (const char* variant : VARIANTS) {
            const double rate = rates.median(std::string(variant) + "/" + name);
            if (rate <= 0.0) continue;
            std::snprintf(line, sizeof line, "%-11s %-24s %10.0f %10.0f %10.3f\n",
                          name.c_str(), variant, rate / 1e6, limit / 1e6, rate / limit);
            out << line;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (Size size : SIZES) {
        const std::string name = size_name(size);
        benchmark::RegisterBenchmark(("reassemble/" + name).c_str(), reassemble, size)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("copy/" + name).c_str(), copy, size)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("copy_new_frame/" + name).c_str(), copy_new_frame, size)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("reassemble_fixed_clock/" + name).c_str(),
                                     reassemble_fixed_clock, size)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    talvek::bench::RatioReporter reporter("bytes_per_second", print_ratios);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
