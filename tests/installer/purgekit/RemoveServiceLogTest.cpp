#include <gtest/gtest.h>

#include <string>

#include "ImportRedirect.h"
#include "InstallerTestSupport.h"
#include "ServiceTestSupport.h"
#include "logger.h"
#include "removeservice.h"

namespace {

// The export's own source linked into this program, so that its lines land in a log the test opens.
class RemoveServiceLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        servicetest::cleanUp(L"qzInstaller");
        ASSERT_EQ(0u, g_logger.init(L"qzPurgekit.log", 13, scratch.path().c_str(), 5));
    }
    // Closes the log, so that its folder goes too.
    void TearDown() override { g_logger.init(L"", 13, L"", 5); }
    // The messages of the export's own lines, each with its line end, without the line heads.
    std::wstring exportLines() const
    {
        std::wstring text = installertest::readUtf16(scratch.file(L"qzPurgekit.log")), messages;
        for (size_t begin = 0, end; (end = text.find(L"\r\n", begin)) != std::wstring::npos; begin = end + 2) {
            std::wstring line = text.substr(begin, end - begin);
            if (line.find(L"removeservice.cpp:removeService:") != std::wstring::npos)
                messages += line.substr(line.find(L"] ") + 2) + L"\r\n";
        }
        return messages;
    }

    installertest::ScratchDir scratch;
};

TEST_F(RemoveServiceLogTest, AbsentServiceWritesNoLineOfItsOwn)
{
    EXPECT_EQ(0u, removeService());
    EXPECT_EQ(L"", exportLines());
}

TEST_F(RemoveServiceLogTest, ConnectionFailureWritesOneLine)
{
    ImportRedirect redirect(GetModuleHandleW(nullptr), "OpenSCManagerW",
                            reinterpret_cast<void*>(servicetest::unreachableManager));
    ASSERT_TRUE(redirect.active());
    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), removeService());
    EXPECT_EQ(L"Could not connect to SCM on localnode\r\n", exportLines());
}

TEST_F(RemoveServiceLogTest, OpenFailureIsExplainedByItsReason)
{
    ImportRedirect redirect(GetModuleHandleW(nullptr), "OpenServiceW",
                            reinterpret_cast<void*>(servicetest::deniedService));
    ASSERT_TRUE(redirect.active());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), removeService());
    EXPECT_EQ(L"Could not open slave handle on localnode\r\nReason: ''\r\n", exportLines())
        << "no message module is loaded, so the reason stays empty";
}

} // namespace
