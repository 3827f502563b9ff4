#include "logger.h"

#include <gtest/gtest.h>

#include "InstallerTestSupport.h"
#include "kitoresult.h"

using installertest::maskTimeStamps;
using installertest::PrivateLocalMachine;
using installertest::readBytes;
using installertest::readUtf16;
using installertest::ScratchDir;

namespace {

const std::wstring kRule(55, L'/');
const std::wstring kBanner = kRule + L"\n Logging starting at :<TS> \n" + kRule + L"\n\n";
const wchar_t kConfigKey[] = L"SOFTWARE\\Osmark\\Kito";

class LoggerFile : public ::testing::Test {
protected:
    std::wstring logText() const { return maskTimeStamps(readUtf16(dir.file(L"test.log"))); }
    // The text after the banner.
    std::wstring lines() const { return logText().substr(kBanner.size()); }
    void openAt(uint32_t level) { ASSERT_EQ(0u, logger.init(L"test.log", 13, dir.path().c_str(), level)); }

    ScratchDir dir;
    Logger logger;
};

TEST_F(LoggerFile, BannerAndDebugLineBytes)
{
    openAt(5);
    logger.logDebug(LOG_DBG_1, L"HostCleanUp::canBeCleaned", L"C:\\src\\hostcleanup.cpp", 7, 0x08, 0, L"found %s %d",
                    L"solutions", 3);

    std::string bytes = readBytes(dir.file(L"test.log"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ('/', bytes[0]) << "no byte-order mark";
    EXPECT_EQ('\0', bytes[1]) << "UTF-16LE";
    EXPECT_EQ(kBanner
                  + L"[<TS> Kito DBG_1 Q-16-13-0 hostcleanup.cpp:HostCleanUp::canBeCleaned:0007] found solutions 3\r\n",
              logText());
}

TEST_F(LoggerFile, PartSuppressFlagsAndLocation)
{
    openAt(5);
    logger.logDebug(LOG_DBG_1, L"f", L"C:\\a\\b.cpp", 1, 0xFF, 0, L"bare");
    logger.logDebug(LOG_DBG_1, nullptr, L"b.cpp", 1, 0, 0, L"|no location");
    logger.logDebug(LOG_DBG_1, L"f", L"plain.cpp", 12345, 0x08 | 0x01, 4, L"long line");
    logger.log(5, L"f", L"x.cpp", 2, 0x08 | 0x01 | 0x80, 0, L"unnamed severity");
    logger.log(LOG_WARNING, nullptr, nullptr, 0, 0x01 | 0x10 | 0x04 | 0x40, 0, L"warning");
    EXPECT_EQ(L"bare"
              L"[<TS> Kito DBG_1 Q-16-13-0 ] |no location\r\n"
              L"[Kito DBG_1 Q-16-13-4 plain.cpp:f:12345] long line\r\n"
              L"[Kito  Q-16-13-0 ] unnamed severity\r\n"
              L"WARNING warning\r\n",
              lines());
}

TEST_F(LoggerFile, LevelGateAndTracer)
{
    openAt(5);
    logger.logDebug(5, L"f", L"a.cpp", 1, 0xDF, 0, L"level 5");
    logger.logDebug(6, L"f", L"a.cpp", 1, 0xDF, 0, L"level 6");
    logger.logDebug(0xFFFFFFFFu, L"f", L"a.cpp", 1, 0xDF, 0, L"level -1");
    logger.log(LOG_INFO, L"f", L"a.cpp", 1, 0xDF, 0, L"info");
    logger.logDebug(0, L"f", L"a.cpp", 1, 0xDF, 0, nullptr);
    {
        ScopeTracer quiet(L"quiet", &logger);
    }
    EXPECT_EQ(L"level 5\r\ninfo\r\n", lines());

    openAt(9);
    {
        ScopeTracer traced(L"KitoRepository::dump", &logger);
    }
    std::wstring text = logText();
    EXPECT_NE(std::wstring::npos, text.find(L" Kito DBG_10 Q-16-13-0 logger.cpp:KitoRepository::dump:"));
    EXPECT_NE(std::wstring::npos, text.find(L"] >> Entering KitoRepository::dump\r\n"));
    EXPECT_LT(text.find(L">> Entering"), text.find(L"] << Exiting KitoRepository::dump\r\n"));
}

TEST_F(LoggerFile, MessageLengthsAtBufferBoundaries)
{
    openAt(5);
    const size_t lengths[] = {1023, 1024, 20479, 20480, 102399, 102400};
    for (size_t length : lengths) {
        logger.logDebug(0, nullptr, nullptr, 0, 0xDF, 0, L"%s", std::wstring(length, L'x').c_str());
    }
    std::wstring text = lines();
    size_t start = 0;
    for (size_t expected : {1023, 1024, 20479, 20480, 102399}) {
        size_t end = text.find(L"\r\n", start);
        ASSERT_NE(std::wstring::npos, end);
        EXPECT_EQ(expected, end - start);
        start = end + 2;
    }
    EXPECT_EQ(text.size(), start) << "a message of 102400 characters is dropped";
}

TEST_F(LoggerFile, DirectoryBackslashAndOneBannerPerOpen)
{
    ASSERT_EQ(0u, logger.init(L"test.log", 13, (dir.path() + L"\\").c_str(), 5));
    logger.logDebug(0, nullptr, nullptr, 0, 0xDF, 0, L"first");
    ASSERT_EQ(0u, logger.init(L"test.log", 13, dir.path().c_str(), 5));
    logger.logDebug(0, nullptr, nullptr, 0, 0xDF, 0, L"second");
    EXPECT_EQ(kBanner + L"first\r\n" + kBanner + L"second\r\n", logText());
}

TEST_F(LoggerFile, SecondInitAndDestructorCloseTheFile)
{
    {
        Logger own;
        ASSERT_EQ(0u, own.init(L"first.log", 13, dir.path().c_str(), 5));
        ASSERT_EQ(0u, own.init(L"second.log", 13, dir.path().c_str(), 5));
        EXPECT_TRUE(DeleteFileW(dir.file(L"first.log").c_str())) << "the first file is no longer open";
        EXPECT_FALSE(DeleteFileW(dir.file(L"second.log").c_str())) << "the open log cannot be deleted";
    }
    EXPECT_TRUE(DeleteFileW(dir.file(L"second.log").c_str()));
}

TEST_F(LoggerFile, ClosedLogDropsEverythingButOwnFiles)
{
    EXPECT_EQ(0u, logger.init(L"test.log", 13, L"", 5));
    logger.logDebug(0, L"f", L"a.cpp", 1, 0, 0, L"dropped");
    EXPECT_EQ(E_KITO_LOGOPEN, logger.init(L"test.log", 13, dir.file(L"missing").c_str(), 5));
    logger.log(LOG_ERROR, L"f", L"a.cpp", 1, 0, 0, L"dropped");
    logger.logToFile(dir.file(L"other.log").c_str(), LOG_ERROR, L"f", L"a.cpp", 1, 0, 0, L"dropped");
    logger.logPlain(dir.file(L"plain.txt").c_str(), L"%s=%d", L"plain", 1);
    logger.logPlain(dir.file(L"plain.txt").c_str(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir.file(L"test.log")));
    EXPECT_FALSE(std::filesystem::exists(dir.file(L"other.log")));
    EXPECT_EQ(L"plain=1\r\n", readUtf16(dir.file(L"plain.txt")));
}

TEST_F(LoggerFile, LinesToAnotherFile)
{
    openAt(5);
    logger.logToFile(dir.file(L"other.log").c_str(), LOG_NOTICE, L"f", L"a.cpp", 3, 0x01 | 0x08, 0, L"notice");
    logger.logDebugToFile(dir.file(L"other.log").c_str(), 6, L"f", L"a.cpp", 3, 0xDF, 0, L"gated");
    logger.logDebugToFile(nullptr, 1, L"f", L"a.cpp", 3, 0xDF, 0, L"into the log");
    EXPECT_EQ(L"[Kito NOTICE Q-16-13-0 a.cpp:f:0003] notice\r\n", readUtf16(dir.file(L"other.log")));
    EXPECT_EQ(L"into the log\r\n", lines());
}

TEST(LoggerNames, TablesAndParts)
{
    EXPECT_STREQ(L"CRITICAL", severityName(0));
    EXPECT_STREQ(L"INFO", severityName(4));
    EXPECT_STREQ(L"", severityName(5));
    EXPECT_STREQ(L"DBG_1", debugLevelName(0));
    EXPECT_STREQ(L"DBG_10", debugLevelName(9));
    EXPECT_STREQ(L"", debugLevelName(10));
}

void partsOf(Logger& logger, std::wstring& message, std::wstring& product, std::wstring& level, std::wstring& id,
             const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    EXPECT_EQ(0u, logger.formatParts(message, product, level, id, LOG_ERROR, 7, format, args));
    va_end(args);
}

TEST(LoggerNames, FormatPartsKeepsMessageThatDoesNotFit)
{
    ScratchDir dir;
    Logger logger;
    ASSERT_EQ(0u, logger.init(L"parts.log", 13, dir.path().c_str(), 5));
    std::wstring message = L"old", product, level, id;
    partsOf(logger, message, product, level, id, L"%d items", 4);
    EXPECT_EQ(L"4 items", message);
    EXPECT_EQ(L"Kito", product);
    EXPECT_EQ(L"ERROR", level);
    EXPECT_EQ(L"Q-16-13-7 ", id);
    partsOf(logger, message, product, level, id, L"%s", std::wstring(1024, L'y').c_str());
    EXPECT_EQ(L"4 items", message);
}

// Which debug levels a logger initialised from the registry writes.
std::wstring levelsWritten(const ScratchDir& dir)
{
    {
        Logger logger;
        EXPECT_EQ(0u, logger.init(L"level.log", 13, dir.path().c_str(), 0));
        for (uint32_t level = 0; level < 10; ++level) {
            logger.logDebug(level, nullptr, nullptr, 0, 0xDF & ~0x02, 0, L"");
        }
    }
    std::wstring text = maskTimeStamps(readUtf16(dir.file(L"level.log"))).substr(kBanner.size());
    std::filesystem::remove(dir.file(L"level.log"));
    return text;
}

TEST(LoggerRegistry, LevelFromLogLevelValue)
{
    PrivateLocalMachine registry;
    ScratchDir dir;
    const std::wstring upToSix = L"DBG_1 \r\nDBG_2 \r\nDBG_3 \r\nDBG_4 \r\nDBG_5 \r\nDBG_6 \r\n";
    EXPECT_EQ(upToSix, levelsWritten(dir)) << "no value";
    struct Case {
        const wchar_t* value;
        std::wstring expected;
    } cases[] = {
        {L"1", upToSix},
        {L"0", upToSix},
        {L"11", upToSix},
        {L"-3", upToSix},
        {L"abc", upToSix},
        {L"2", L"DBG_1 \r\nDBG_2 \r\n"},
        {L"3x", L"DBG_1 \r\nDBG_2 \r\nDBG_3 \r\n"},
        {L"10", upToSix + L"DBG_7 \r\nDBG_8 \r\nDBG_9 \r\nDBG_10 \r\n"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, PrivateLocalMachine::setString(kConfigKey, L"LOG_LEVEL", c.value));
        EXPECT_EQ(c.expected, levelsWritten(dir)) << "LOG_LEVEL " << testing::PrintToString(std::wstring(c.value));
    }
}

TEST(LoggerRegistry, PathFromLogPathOnlyWithoutDirectory)
{
    PrivateLocalMachine registry;
    ScratchDir dir;
    ScratchDir other;
    ASSERT_EQ(ERROR_SUCCESS, PrivateLocalMachine::setString(kConfigKey, L"LOG_PATH", dir.path()));
    Logger logger;
    EXPECT_EQ(0u, logger.init(L"fromreg.log", 13, nullptr, 5));
    EXPECT_TRUE(std::filesystem::exists(dir.file(L"fromreg.log")));
    EXPECT_EQ(0u, logger.init(L"given.log", 13, other.path().c_str(), 5));
    EXPECT_TRUE(std::filesystem::exists(other.file(L"given.log")));
    EXPECT_FALSE(std::filesystem::exists(dir.file(L"given.log")));
}

TEST(LoggerRegistry, NoLogPathLeavesLogClosed)
{
    PrivateLocalMachine registry;
    Logger logger;
    EXPECT_EQ(0u, logger.init(L"nowhere.log", 13, nullptr, 5));
    EXPECT_FALSE(std::filesystem::exists(L"nowhere.log"));
}

} // namespace
