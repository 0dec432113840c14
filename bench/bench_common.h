// Shared by the benchmark programs: a clock, medians and percentiles, and the
// one line each measurement prints for scripts/bench.sh to collect.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// Seconds since an arbitrary start, from the performance counter.
double now_seconds();

double median(std::vector<double> values);
// The p-th percentile (0..100) by nearest rank; 0 for no values.
double percentile(std::vector<double> values, double p);

// How a row is judged by the report:
//   time        ratio = ours / baseline, passes when ratio <= target
//   throughput  ratio = ours / baseline, passes when ratio >= target
//   absolute    no baseline; passes when ours <= target (in the row's unit)
//   info        shown for reading, never judged
enum class compare { time, throughput, absolute, info };

struct row {
    std::string name;        // "scan-1000", "download-fresh", ...
    std::string what;        // one line for the table
    double ours = 0;
    double baseline = 0;     // ignored for absolute rows
    std::string unit;        // "s", "MiB/s", "ms", "MiB"
    compare kind = compare::info;
    double target = 0;
    std::vector<std::pair<std::string, double>> detail;  // extra figures for the JSON
};

// Prints the row as one line "BENCH {json}" on stdout and flushes it.
void print_row(const row& r);

}  // namespace bench
