// Timing and statistics helpers of the benchmark.
#ifndef BRISCABENCH_MEASURE_H
#define BRISCABENCH_MEASURE_H

#include <windows.h>

#include <vector>

// Reads the performance counter; differences convert with ToMilliseconds.
long long CounterNow();
double ToMilliseconds(long long counterTicks);

// The value below which the given share (0..1) of the samples lies; 0 when empty.
double Percentile(std::vector<double> samples, double share);
inline double Median(const std::vector<double>& samples) { return Percentile(samples, 0.5); }

// CPU time (user + kernel) of this process so far, in milliseconds.
double ProcessCpuMilliseconds();

struct MemoryUse {
    double workingSetMB = 0;
    // Private bytes; Wine reports none, so its committed memory (PagefileUsage) instead.
    double privateMB = 0;
};
MemoryUse ProcessMemory();

#endif
