// Benchmark, not a test: trace lines of threads that each log into their own queue, against the same
// _vsnwprintf into a stack buffer plus a list append written bare, for 1, 2, 4 and 8 threads sharing
// 100,000 lines. Prints the ratio per thread count, lines per second, and the 8-to-1 scaling of both.

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <list>
#include <thread>
#include <vector>

#include "BenchCompare.h"
#include "LibLogger.h"

namespace {

constexpr int Lines = 100000;
constexpr int Rounds = 5;
constexpr int ThreadCounts[] = {1, 2, 4, 8};

// What Log does for a line, without the queue lookup.
void BareLine(std::list<QLibLogRecord>& records, const char* file, uint32_t line, const char* function,
              const wchar_t* format, ...)
{
    wchar_t text[QLibThreadLogQueue::MessageChars + 1] = {};
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, QLibThreadLogQueue::MessageChars, format, args);
    va_end(args);
    text[QLibThreadLogQueue::MessageChars] = L'\0';
    const char* backslash = strrchr(file, '\\');
    records.push_back({line, backslash ? backslash + 1 : file, function, text});
}

void OursLines(int count)
{
    g_QLibLogQueue.OpenThreadQueue();
    for (int i = 0; i < count; ++i)
        QLIB_TRACE("Bench::Lines", L"(%d) Failed to open the service %s. pid=%d", i, L"SAPService", 4242);
    g_QLibLogQueue.ClearThreadQueue();
}

void BareLines(int count)
{
    std::list<QLibLogRecord> records;
    for (int i = 0; i < count; ++i)
        BareLine(records, __FILE_NAME__, __LINE__, "Bench::Lines", L"(%d) Failed to open the service %s. pid=%d", i,
                 L"SAPService", 4242);
}

// Wall time of all threads, each writing its share of the lines.
template <typename Work>
double TimeThreads(int threads, Work work)
{
    double start = BenchNowMs();
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back(work, Lines / threads);
    for (std::thread& thread : running)
        thread.join();
    return BenchNowMs() - start;
}

double LinesPerSecond(const std::vector<double>& ms)
{
    return Lines / BenchMedian(ms) * 1000.0;
}

} // namespace

int main()
{
    std::vector<double> oursRate, bareRate;
    for (int threads : ThreadCounts) {
        std::vector<double> oursMs, bareMs;
        TimeThreads(threads, OursLines);
        for (int round = 0; round < Rounds; ++round) {
            oursMs.push_back(TimeThreads(threads, OursLines));
            bareMs.push_back(TimeThreads(threads, BareLines));
        }
        std::string name = "trace lines, " + std::to_string(threads) + " thread" + (threads > 1 ? "s" : "");
        BenchReport(name.c_str(), oursMs, bareMs);
        oursRate.push_back(LinesPerSecond(oursMs));
        bareRate.push_back(LinesPerSecond(bareMs));
    }
    std::printf("trace lines per second (1 / 2 / 4 / 8 threads): ours %.0f / %.0f / %.0f / %.0f, bare %.0f / %.0f / "
                "%.0f / %.0f\n",
                oursRate[0], oursRate[1], oursRate[2], oursRate[3], bareRate[0], bareRate[1], bareRate[2], bareRate[3]);
    std::printf("trace scaling 8-to-1: ours %.2f, bare %.2f\n", oursRate[3] / oursRate[0], bareRate[3] / bareRate[0]);
    return 0;
}
