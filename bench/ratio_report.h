#pragma once
// The benchmarks' report: Google Benchmark's usual console table, then each
// variant against its limit, printed by the benchmark from the median of one
// counter (of the repetitions when single runs are shown, or the median
// aggregate when only aggregates are: --benchmark_report_aggregates_only).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace talvek::bench {

class MedianRates {
public:
    explicit MedianRates(std::string counter_name) : counter(std::move(counter_name)) {}

    void collect(const std::vector<benchmark::BenchmarkReporter::Run>& runs) {
        using Run = benchmark::BenchmarkReporter::Run;
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            auto found = run.counters.find(counter);
            if (found == run.counters.end()) continue;
            if (run.run_type == Run::RT_Iteration) {
                rates[run.run_name.function_name].push_back(found->second.value);
            } else if (run.aggregate_name == "median") {
                aggregate_medians[run.run_name.function_name] = found->second.value;
            }
        }
    }

    // 0 when the benchmark did not run or failed.
    double median(const std::string& name) const {
        auto found = rates.find(name);
        if (found == rates.end() || found->second.empty()) {
            auto aggregate = aggregate_medians.find(name);
            return aggregate == aggregate_medians.end() ? 0.0 : aggregate->second;
        }
        std::vector<double> v = found->second;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
    }

private:
    std::string counter;
    std::map<std::string, std::vector<double>> rates;
    std::map<std::string, double> aggregate_medians;
};

// Prints the ratios after the table; median() of a name that did not run is 0.
using PrintRatios = std::function<void(std::ostream&, const MedianRates&)>;

class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter(std::string counter, PrintRatios print)
        : ConsoleReporter(OO_Tabular), rates(std::move(counter)), print_ratios(std::move(print)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        rates.collect(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        print_ratios(out, rates);
        out.flush();
    }

private:
    MedianRates rates;
    PrintRatios print_ratios;
};

}  // namespace talvek::bench
