#pragma once

#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace quaylet::bench {

struct PairedTimes {
    double ours = 0;
    double baseline = 0;
};

// Runs a row's iterations, each timing both sides (`iteration` returns both times in seconds,
// or nothing once it has called SkipWithError), and reports the figure as time_ratio beside
// the baseline's median time, named `baselineCounter`.
template <typename Iteration>
void timeAgainstBaseline(benchmark::State& state, const std::string& baselineCounter,
                         Iteration iteration) {
    std::vector<double> ours;
    std::vector<double> baseline;
    for (auto _ : state) {
        const std::optional<PairedTimes> times = iteration();
        if (!times) {
            return;
        }
        ours.push_back(times->ours);
        baseline.push_back(times->baseline);
        state.SetIterationTime(times->ours);
    }
    state.counters[baselineCounter] = median(baseline);
    state.counters["time_ratio"] = medianRatio(ours, baseline);
}

}  // namespace quaylet::bench
