#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

long g_allocationsBeforeFailure = -1;

// The library's allocation after the counted ones fails; all others succeed, the C runtime's own among them.
void* __cdecl failCountedAllocation(size_t size)
{
    return g_allocationsBeforeFailure-- == 0 ? nullptr : std::malloc(size);
}

// An allocation failure at any point of the export is answered: the trace goes without its name and the
// removal goes on, or the export answers 8; nothing is thrown out of it.
TEST_F(RemoveServiceExportTest, AllocationFailureIsAnsweredNotThrown)
{
    ImportRedirect redirect(library, "malloc", reinterpret_cast<void*>(failCountedAllocation));
    ASSERT_TRUE(redirect.active());
    for (long n = 0;; ++n) {
        g_allocationsBeforeFailure = n;
        const DWORD result = removeService();
        const bool failed = g_allocationsBeforeFailure < 0;
        EXPECT_TRUE(result == 0 || result == ERROR_NOT_ENOUGH_MEMORY)
            << result << " with allocation " << n << " failing";
        if (!failed)
            break;
    }
}

} // namespace
