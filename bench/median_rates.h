#pragma once
// Collects one counter of every benchmark run so a reporter can print each
// variant against its limit after the table: the median of the repetitions
// when single runs are shown, or the median aggregate when only aggregates
// are (--benchmark_report_aggregates_only).

#include <benchmark/benchmark.h>

#include <algorithm>
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

}  // namespace talvek::bench
