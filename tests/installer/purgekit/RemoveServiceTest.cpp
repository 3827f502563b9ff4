#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "ImportRedirect.h"
#include "ServiceTestSupport.h"

namespace {

typedef DWORD(WINAPI* RemoveServiceExport)();

const wchar_t InstallerService[] = L"qzInstaller";

// Calls the export of the built library, as the installer does; every test leaves no "qzInstaller" behind.
class RemoveServiceExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        servicetest::cleanUp(InstallerService);
        library = LoadLibraryW(L"Purgekit.dll");
        ASSERT_NE(nullptr, library);
        removeService = reinterpret_cast<RemoveServiceExport>(
            reinterpret_cast<void*>(GetProcAddress(library, "removeService")));
        ASSERT_NE(nullptr, removeService) << "exported by its plain name";
    }
    void TearDown() override
    {
        servicetest::cleanUp(InstallerService);
        FreeLibrary(library);
    }

    HMODULE library = nullptr;
    RemoveServiceExport removeService = nullptr;
};

TEST_F(RemoveServiceExportTest, DeletesTheInstalledService)
{
    ASSERT_EQ(0u, servicetest::createService(InstallerService, servicetest::testServiceCommand(L"")));
    EXPECT_EQ(0u, removeService());
    EXPECT_EQ(0u, servicetest::currentState(InstallerService)) << "gone at once: the export left no handle open";
}

TEST_F(RemoveServiceExportTest, AbsentServiceIsSuccess)
{
    EXPECT_EQ(0u, removeService());
}

TEST_F(RemoveServiceExportTest, RunningServiceIsMarkedAndASecondDeletionFails)
{
    ASSERT_EQ(0u, servicetest::createService(InstallerService, servicetest::testServiceCommand(L"")));
    ASSERT_EQ(0u, servicetest::startService(InstallerService));
    EXPECT_EQ(0u, removeService()) << "a running service is deleted once it stops";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), removeService());
    servicetest::cleanUp(InstallerService);
    EXPECT_EQ(0u, servicetest::currentState(InstallerService)) << "the failing call closed its handles too";
}

TEST_F(RemoveServiceExportTest, OpenFailureOtherThanAbsenceIsReturned)
{
    ImportRedirect redirect(library, "OpenServiceW", reinterpret_cast<void*>(servicetest::deniedService));
    ASSERT_TRUE(redirect.active());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), removeService())
        << "a service that could not be looked at is never reported removed";
}

bool g_failNext = false;

// The library's next allocation fails; those of the C runtime after it (the exception's) succeed again.
void* __cdecl failOnce(size_t size)
{
    if (!std::exchange(g_failNext, false))
        return std::malloc(size);
    return nullptr;
}

TEST_F(RemoveServiceExportTest, AllocationFailureIsAnsweredNotThrown)
{
    g_failNext = true;
    ImportRedirect redirect(library, "malloc", reinterpret_cast<void*>(failOnce));
    ASSERT_TRUE(redirect.active());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), removeService());
}

} // namespace
