// Clocks and the median shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace nb::bench {

// Processor time of the calling thread, in milliseconds.
inline double threadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) * 1e-6;
}

// Wall-clock time in milliseconds, from a steady clock.
inline double wallMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The middle value (the upper one of an even count); 0 when there is none.
inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace nb::bench
