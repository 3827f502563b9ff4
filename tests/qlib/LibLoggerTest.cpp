#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <string>
#include <thread>

#include "LibLogger.h"
#include "RecordingSink.h"

namespace {

const wchar_t* const StartMarker = L"*** Start of debug information dump for troubleshooting ***";
const wchar_t* const EndMarker = L"*** End of debug information dump for troubleshooting ***";

class TraceQueue : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_QLibLogQueue.SetSink(&sink);
        sink.now.clear();
        g_QLibLogQueue.OpenThreadQueue();
        g_QLibLogQueue.EnableThreadQueue();
        g_QLibLogQueue.ClearThreadQueue();
    }
    void TearDown() override { g_QLibLogQueue.ClearThreadQueue(); }

    // Outlives every later call into the queue, as a sink must.
    static inline RecordingSink sink;
};

TEST_F(TraceQueue, ThreadWithoutQueueLogsNothingEvenImmediately)
{
    sink.SetImmediate(1);
    std::thread([] { g_QLibLogQueue.Log("a.cpp", 1, "F::G", L"dropped %d", 1); }).join();
    sink.SetImmediate(0);
    EXPECT_TRUE(sink.now.empty());
    std::thread([] { EXPECT_EQ(nullptr, g_QLibLogQueue.FindThreadQueue(GetCurrentThreadId())); }).join();
}

TEST_F(TraceQueue, RecordKeepsBaseNameButImmediateWriteGetsPathAsGiven)
{
    sink.SetImmediate(1);
    g_QLibLogQueue.Log("C:\\src\\qlib\\LibProcess.cpp", 42, "QLibProcess::Open", L"(%d) failed %s", 5, L"x");
    sink.SetImmediate(0);
    ASSERT_EQ(1u, sink.now.size());
    EXPECT_EQ("C:\\src\\qlib\\LibProcess.cpp", sink.now[0].file);
    EXPECT_EQ(L"(5) failed x", sink.now[0].message);

    auto& records = g_QLibLogQueue.FindThreadQueue(GetCurrentThreadId())->GetRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("LibProcess.cpp", records.front().file);
    EXPECT_EQ(42u, records.front().line);
    EXPECT_EQ("QLibProcess::Open", records.front().function);
}

TEST_F(TraceQueue, LongMessageIsCutTo999Characters)
{
    std::wstring longText(1500, L'x');
    g_QLibLogQueue.Log("a.cpp", 1, "F::G", L"%s", longText.c_str());
    auto& records = g_QLibLogQueue.FindThreadQueue(GetCurrentThreadId())->GetRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(999u, records.front().message.size());
}

TEST_F(TraceQueue, NarrowArgumentsFollowMicrosoftWideFormat)
{
    g_QLibLogQueue.Log("a.cpp", 1, "F::G", L"%S returned %d, 0x%.08X", "OpenServiceW", 2, 1060);
    auto& records = g_QLibLogQueue.FindThreadQueue(GetCurrentThreadId())->GetRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"OpenServiceW returned 2, 0x00000424", records.front().message);
}

TEST_F(TraceQueue, DumpWritesMarkersAroundRecordsAndEmptiesQueue)
{
    sink.records.clear();
    g_QLibLogQueue.Log("a.cpp", 10, "A::B", L"one");
    g_QLibLogQueue.Log("b.cpp", 20, "C::D", L"two");
    g_QLibLogQueue.Dump();
    ASSERT_EQ(4u, sink.records.size());
    EXPECT_EQ(StartMarker, sink.records[0].message);
    EXPECT_EQ("LibLogger", sink.records[0].file);
    EXPECT_EQ(200u, sink.records[0].line);
    EXPECT_EQ("QLibThreadLogQueue::Dump", sink.records[0].function);
    EXPECT_EQ(L"one", sink.records[1].message);
    EXPECT_EQ(L"two", sink.records[2].message);
    EXPECT_EQ(EndMarker, sink.records[3].message);
    EXPECT_EQ(211u, sink.records[3].line);

    // The second dump finds an empty queue and still writes both markers.
    sink.records.clear();
    g_QLibLogQueue.Dump();
    ASSERT_EQ(2u, sink.records.size());
    EXPECT_EQ(StartMarker, sink.records[0].message);
    EXPECT_EQ(EndMarker, sink.records[1].message);
}

TEST_F(TraceQueue, DisabledQueueRecordsNothingButStillDumps)
{
    sink.records.clear();
    g_QLibLogQueue.Log("a.cpp", 1, "F::G", L"before");
    g_QLibLogQueue.DisableThreadQueue();
    g_QLibLogQueue.Log("a.cpp", 2, "F::G", L"while disabled");
    g_QLibLogQueue.Dump();
    g_QLibLogQueue.EnableThreadQueue();
    ASSERT_EQ(3u, sink.records.size());
    EXPECT_EQ(L"before", sink.records[1].message);
}

TEST_F(TraceQueue, NullSinkKeepsPreviousOne)
{
    sink.records.clear();
    g_QLibLogQueue.SetSink(nullptr);
    g_QLibLogQueue.Dump();
    EXPECT_EQ(2u, sink.records.size());
}

TEST_F(TraceQueue, ThreadsKeepSeparateQueues)
{
    sink.records.clear();
    g_QLibLogQueue.Log("a.cpp", 1, "Main::Run", L"main thread");
    std::thread([] {
        g_QLibLogQueue.OpenThreadQueue();
        g_QLibLogQueue.Log("b.cpp", 2, "Worker::Run", L"worker thread");
        g_QLibLogQueue.Dump();
    }).join();
    ASSERT_EQ(3u, sink.records.size());
    EXPECT_EQ(L"worker thread", sink.records[1].message);

    sink.records.clear();
    g_QLibLogQueue.Dump();
    ASSERT_EQ(3u, sink.records.size());
    EXPECT_EQ(L"main thread", sink.records[1].message);
}

TEST_F(TraceQueue, ExportPacksRecordsAndStopsWhenFull)
{
    g_QLibLogQueue.Log("ab.cpp", 0x01020304, "F::G", L"hi");
    g_QLibLogQueue.Log("ab.cpp", 2, "F::G", L"hi");
    // "ab.cpp\0" + line + "F::G\0" + L"hi\0"
    const uint32_t recordSize = 7 + 4 + 5 + 6;

    uint32_t packed = 99, left = 99;
    uint8_t buffer[64] = {};
    g_QLibLogQueue.ExportThreadQueue(buffer, recordSize - 1, &packed, &left);
    EXPECT_EQ(0u, packed);
    EXPECT_EQ(2u, left);

    g_QLibLogQueue.ExportThreadQueue(buffer, 2 * recordSize - 1, &packed, &left);
    EXPECT_EQ(1u, packed);
    EXPECT_EQ(1u, left);
    const uint8_t expected[recordSize] = {'a', 'b', '.', 'c', 'p', 'p', 0, 4,   3, 2, 1,
                                          'F', ':', ':', 'G', 0,   'h', 0, 'i', 0, 0, 0};
    EXPECT_EQ(0, memcmp(expected, buffer, recordSize));

    g_QLibLogQueue.ExportThreadQueue(buffer, sizeof buffer, &packed, &left);
    EXPECT_EQ(2u, packed);
    EXPECT_EQ(0u, left);
    // Exporting copies; the records stay queued.
    EXPECT_EQ(2u, g_QLibLogQueue.FindThreadQueue(GetCurrentThreadId())->GetRecords().size());
}

TEST(TraceQueueExport, ThreadWithoutQueueReportsNothing)
{
    std::thread([] {
        uint32_t packed = 7, left = 7;
        uint8_t buffer[16];
        g_QLibLogQueue.ExportThreadQueue(buffer, sizeof buffer, &packed, &left);
        EXPECT_EQ(0u, packed);
        EXPECT_EQ(0u, left);
    }).join();
}

// A thread remembers its own queue; removing the queues makes it forget, in this object only.
TEST(TraceQueueOwn, RemovalIsSeenByTheNextLineAndOtherObjectsKeepTheirs)
{
    RecordingSink sink;
    QLibThreadLogQueue first;
    QLibThreadLogQueue second;
    for (QLibThreadLogQueue* queue : {&first, &second}) {
        queue->SetSink(&sink);
        queue->OpenThreadQueue();
        queue->Log("a.cpp", 1, "F::G", L"kept");
    }
    first.RemoveAllThreadQueues();
    first.Log("a.cpp", 2, "F::G", L"dropped");
    second.Log("a.cpp", 3, "F::G", L"kept");
    EXPECT_EQ(nullptr, first.FindThreadQueue(GetCurrentThreadId()));
    EXPECT_EQ(2u, second.FindThreadQueue(GetCurrentThreadId())->GetRecords().size());

    first.OpenThreadQueue();
    first.Log("a.cpp", 4, "F::G", L"kept");
    EXPECT_EQ(1u, first.FindThreadQueue(GetCurrentThreadId())->GetRecords().size());
}

// Runs one write of the base sink with standard output sent into a pipe, and gives what came out.
std::string CaptureBaseSink(uint8_t immediate, bool record)
{
    int fds[2];
    EXPECT_EQ(0, _pipe(fds, 4096, _O_TEXT));
    fflush(stdout);
    int saved = _dup(1);
    _dup2(fds[1], 1);
    QLibLogSink base;
    base.SetImmediate(immediate);
    if (record)
        base.WriteRecord("LibMutex.cpp", 77, "QLibMutex::Create", L"(5) CreateMutex failed. Name=m");
    else
        base.WriteNow("LibMutex.cpp", 77, "QLibMutex::Create", L"now");
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    _close(fds[1]);
    std::string out;
    char chunk[512];
    int got;
    while ((got = _read(fds[0], chunk, sizeof chunk)) > 0)
        out.append(chunk, got);
    _close(fds[0]);
    return out;
}

TEST(QLibLogSinkBase, PrintsNarrowNamesAndWideMessage)
{
    std::string out = CaptureBaseSink(0, true);
    EXPECT_NE(std::string::npos,
              out.find("Mod: LibMutex.cpp Line: 77 Func: QLibMutex::Create Msg: (5) CreateMutex failed. Name=m"))
        << out;
    EXPECT_EQ('\n', out.at(out.find("Mod:") - 1));
}

TEST(QLibLogSinkBase, WritesNowOnlyWhenImmediate)
{
    EXPECT_EQ("", CaptureBaseSink(0, false));
    EXPECT_NE(std::string::npos, CaptureBaseSink(1, false).find("Msg: now"));
}

} // namespace
