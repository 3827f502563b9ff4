#include <gtest/gtest.h>

#include <windows.h>

#include <clocale>
#include <memory>

#include "FreshProcess.h"
#include "stringutils.h"

TEST(StringUtils, EqualsTextHonoursCaseFlag)
{
    EXPECT_FALSE(equalsText(L"Selected", L"selected", 0));
    EXPECT_TRUE(equalsText(L"Selected", L"selected", 1));
    EXPECT_TRUE(equalsText(L"Selected", L"Selected", 0));
    EXPECT_FALSE(equalsText(L"Selected", L"Selecte", 1));
    // Latin-1 letters fold as well; the multiplication and division signs are no letters.
    EXPECT_TRUE(equalsText(L"\u00C4PFEL", L"\u00E4pfel", 1));
    EXPECT_FALSE(equalsText(L"\u00D7", L"\u00F7", 1));
}

TEST(StringUtils, CaseFoldingIgnoresTheLocale)
{
    // The same answer whatever locale the host process set.
    std::setlocale(LC_ALL, "Turkish");
    EXPECT_TRUE(equalsText(L"FILES", L"files", 1));
    EXPECT_EQ(L"FILES", toUpper(L"files"));
    std::setlocale(LC_ALL, "C");
}

TEST(StringUtils, SplitKeepsInnerAndLeadingEmptyPieces)
{
    std::vector<std::wstring> pieces;
    splitText(L"a\\\\b", L"\\", pieces);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"", L"b"}), pieces);

    pieces.clear();
    splitText(L"\\a\\", L"\\", pieces);
    EXPECT_EQ((std::vector<std::wstring>{L"", L"a"}), pieces);

    pieces.assign(1, L"kept");
    splitText(L"", L"\\", pieces);
    splitText(L"x", L"", pieces);
    EXPECT_EQ(std::vector<std::wstring>{L"kept"}, pieces);

    pieces.clear();
    splitText(L"one, two, ", L", ", pieces);
    EXPECT_EQ((std::vector<std::wstring>{L"one", L"two"}), pieces);
}

TEST(StringUtils, RepeatUpperAndIndex)
{
    EXPECT_EQ(L"\t\t\t", repeatChar(3, L'\t'));
    EXPECT_EQ(L"", repeatChar(0, L'\t'));
    EXPECT_EQ(L"", repeatChar(-2, L'\t'));
    EXPECT_EQ(L"ABC-\u00C9\u00F7\u0101", toUpper(L"abC-\u00E9\u00F7\u0101"));

    EXPECT_EQ(-1, indexOfText({}, L"a", 1));
    std::vector<std::wstring> list{L"Alpha", L"beta", L"BETA"};
    EXPECT_EQ(1, indexOfText(list, L"BETA", 1));
    EXPECT_EQ(2, indexOfText(list, L"BETA", 0));
    EXPECT_EQ(-1, indexOfText(list, L"gamma", 1));
}

TEST(StringUtils, NarrowAndWideConversions)
{
    EXPECT_EQ(L"", toWide(nullptr));
    EXPECT_EQ(L"Kito 4.3", toWide("Kito 4.3"));

    // Narrow texts whole in the locale's code page (null: the text has no form there).
    struct Row {
        const char* locale;
        const wchar_t* wide;
        const char* narrow;
    };
    const Row rows[] = {
        {"C", L"Kito 4.3", "Kito 4.3"},
        {".932", L"Kito \u65E5\u672C", "Kito \x93\xFA\x96\x7B"},
        {".932", L"\u65E5\u672C\u65E5\u672C", "\x93\xFA\x96\x7B\x93\xFA\x96\x7B"},
        {"C", L"Kito \u65E5", nullptr},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(std::setlocale(LC_CTYPE, row.locale));
        std::unique_ptr<char[]> narrow(toNarrow(row.wide));
        if (row.narrow)
            EXPECT_STREQ(row.narrow, narrow.get()) << row.locale;
        else
            EXPECT_EQ(nullptr, narrow.get()) << row.locale;
    }

    // In a double-byte code page a lead byte at the end is no character: nothing half converted.
    ASSERT_TRUE(std::setlocale(LC_CTYPE, ".932"));
    EXPECT_EQ(L"", toWide("ab\x82"));
    std::setlocale(LC_CTYPE, "C");
}

TEST(StringUtils, ModuleDirectoryIsTheProgramsFolder)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring expected(path, length);
    expected.resize(expected.rfind(L'\\'));
    EXPECT_EQ(expected, getModuleDirectory());
}

TEST(StringUtils, EnvironmentVariables)
{
    EXPECT_EQ(L"", getEnvVarValue(L"KITO_TEST_NEVER_SET"));
    std::wstring longValue(1000, L'v');
    ASSERT_TRUE(SetEnvironmentVariableW(L"KITO_TEST_LONG", longValue.c_str()));
    EXPECT_EQ(longValue, getEnvVarValue(L"KITO_TEST_LONG"));
    ASSERT_EQ(0, _wputenv(L"KITO_TEST_PUT=put"));
    EXPECT_EQ(L"put", getEnvVarValue(L"KITO_TEST_PUT"));
}

TEST(StringUtils, FindsOwnProcessIgnoringCase)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    name = toUpper(name.substr(name.rfind(L'\\') + 1));
    EXPECT_TRUE(isProcessRunning(name));
    EXPECT_FALSE(isProcessRunning(L"kito-no-such-program.exe"));
}

TEST(StringUtils, SystemErrorText)
{
    EXPECT_NE(L"", getSystemErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(L"", getSystemErrorText(0x2BADF00D));
}

TEST(StringUtils, MessagesAreEmptyBeforeAModuleIsLoaded)
{
    expectInFreshProcess([] {
        EXPECT_EQ(L"", formatMessage(0x100));
        EXPECT_EQ(L"", getErrorMessage(ERROR_FILE_NOT_FOUND));
    });
}

TEST(StringUtils, MessageModuleTextsWithAndWithoutInserts)
{
    expectInFreshProcess([] {
        EXPECT_EQ(static_cast<uint32_t>(ERROR_MOD_NOT_FOUND), loadMessageModule(L"kito-no-such.dll", L""));
        ASSERT_EQ(0u, loadMessageModule(L"kito_testmessages.dll", L""));
        // Loaded once: a second call does not even look for the file.
        EXPECT_EQ(0u, loadMessageModule(L"kito-no-such.dll", L""));
    });
    ASSERT_EQ(0u, loadMessageModule(L"kito_testmessages.dll", L""));

    EXPECT_EQ(L"Solution S1 needs 42 MB.", formatMessage(0x100, L"S1", 42));
    EXPECT_EQ(L"Solution S1 needs 42 MB.", getErrorMessage(0x100, std::wstring(L"S1"), 42u));
    // Without inserts the sequences stay as they are instead of reading arguments that are not there.
    std::wstring bare = formatMessage(0x100);
    EXPECT_NE(std::wstring::npos, bare.find(L"%1")) << bare;
    // Codes the module lacks come from the system.
    EXPECT_NE(L"", formatMessage(ERROR_FILE_NOT_FOUND));
}
