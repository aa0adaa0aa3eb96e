// What the benchmarks print beside their figures: the middle of a few runs,
// and how busy the machine was, since other work skews every timing.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace mirvo::bench {

// The median of the runs (the mean of the middle two for an even count);
// -1 for no runs, which no figure can be.
inline double median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The one-minute load average; -1 when it cannot be read.
inline double load_one_minute() {
    double l[1] = {-1};
    return getloadavg(l, 1) == 1 ? l[0] : -1;
}

// The load averages as /proc/loadavg gives them ("1.02 0.87 0.66 ...").
inline std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string avg;
    std::getline(in, avg);
    return avg;
}

}  // namespace mirvo::bench
