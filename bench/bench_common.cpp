#include "bench_common.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

namespace bench {

double now_seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

namespace {

// Names and units are plain ASCII chosen by the benchmarks; quotes and
// backslashes are escaped all the same.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out + "\"";
}

std::string number(double value) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

const char* kind_name(compare kind) {
    switch (kind) {
    case compare::time: return "time";
    case compare::throughput: return "throughput";
    case compare::absolute: return "absolute";
    case compare::info: break;
    }
    return "info";
}

}  // namespace

void print_row(const row& r) {
    std::string line = "BENCH {\"name\": " + quoted(r.name) + ", \"what\": " + quoted(r.what) +
                       ", \"ours\": " + number(r.ours) + ", \"baseline\": " + number(r.baseline) +
                       ", \"unit\": " + quoted(r.unit) + ", \"compare\": " + quoted(kind_name(r.kind)) +
                       ", \"target\": " + number(r.target) + ", \"detail\": {";
    for (std::size_t i = 0; i < r.detail.size(); ++i) {
        if (i) line += ", ";
        line += quoted(r.detail[i].first) + ": " + number(r.detail[i].second);
    }
    line += "}}\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace bench
