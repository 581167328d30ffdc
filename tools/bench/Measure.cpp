#include "tools/bench/Measure.h"

#include <psapi.h>

#include <algorithm>

long long CounterNow()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double ToMilliseconds(long long counterTicks)
{
    static const double ticksPerMillisecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    return static_cast<double>(counterTicks) / ticksPerMillisecond;
}

double Percentile(std::vector<double> samples, double share)
{
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const double position = share * static_cast<double>(samples.size() - 1);
    const size_t below = static_cast<size_t>(position);
    const size_t above = std::min(below + 1, samples.size() - 1);
    const double fraction = position - static_cast<double>(below);
    return samples[below] + (samples[above] - samples[below]) * fraction;
}

double ProcessCpuMilliseconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

MemoryUse ProcessMemory()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    MemoryUse use;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters))) {
        use.workingSetMB = static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
        const SIZE_T privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
        use.privateMB = static_cast<double>(privateBytes) / (1024.0 * 1024.0);
    }
    return use;
}
