#pragma once
// Median and 90th percentile as the benchmark and soak reports take them:
// of n sorted values (1-based), value (n + 1) / 2 and value max(n * 9 / 10, 1),
// both rounded down.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace talvek::verdict {

struct Percentiles {
    size_t count = 0;
    double median = 0.0;
    double p90 = 0.0;
    double max = 0.0;
};

inline Percentiles percentiles_of(std::vector<double> values) {
    Percentiles p;
    p.count = values.size();
    if (values.empty()) return p;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    p.median = values[(n + 1) / 2 - 1];
    p.p90 = values[std::max<size_t>(n * 9 / 10, 1) - 1];
    p.max = values.back();
    return p;
}

}  // namespace talvek::verdict
