#pragma once
// What every benchmark program prints: ours against the bare equivalent, timed in the same run, as
//   NAME: ratio MIN / MEDIAN / MAX (ours X ms, bare Y ms)
// with the ratio taken round by round and the times as medians. A benchmark is a few lines:
//   BenchCompare("thing, 1000 items", 20, [&] { Ours(); }, [&] { Bare(); });

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

inline double BenchNowMs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Work>
double BenchTimeMs(Work&& work)
{
    double start = BenchNowMs();
    work();
    return BenchNowMs() - start;
}

inline double BenchMedian(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Prints the line from times measured by the caller, one pair per round.
inline void BenchReport(const char* name, const std::vector<double>& oursMs, const std::vector<double>& bareMs)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < oursMs.size() && i < bareMs.size(); ++i)
        ratios.push_back(bareMs[i] > 0 ? oursMs[i] / bareMs[i] : 0);
    if (ratios.empty())
        return;
    std::sort(ratios.begin(), ratios.end());
    std::printf("%s: ratio %.2f / %.2f / %.2f (ours %.3f ms, bare %.3f ms)\n", name, ratios.front(),
                BenchMedian(ratios), ratios.back(), BenchMedian(oursMs), BenchMedian(bareMs));
    std::fflush(stdout);
}

// One warm-up of each, then rounds of ours and bare in turn, so that both see the same machine.
template <typename Ours, typename Bare>
void BenchCompare(const char* name, int rounds, Ours&& ours, Bare&& bare)
{
    ours();
    bare();
    std::vector<double> oursMs, bareMs;
    for (int round = 0; round < rounds; ++round) {
        oursMs.push_back(BenchTimeMs(ours));
        bareMs.push_back(BenchTimeMs(bare));
    }
    BenchReport(name, oursMs, bareMs);
}
