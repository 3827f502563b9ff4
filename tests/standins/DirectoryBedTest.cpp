// The bed's directory server reached through the ADsOpenObject hook.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <ole2.h>

#include <activeds.h>
#include <wrl/client.h>

#include <string>

#include "ADsOpenHook.h"
#include "TestBed.h"

using Microsoft::WRL::ComPtr;
using ::testing::ElementsAre;

// Binds with the flag and the serverless paths the directory classes use, then searches for a user of the
// bed's data.
TEST(TestBedSmoke, DirectorySearchThroughTheADsOpenHookFindsUser)
{
    SKIP_OUTSIDE_TEST_BED();
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        ADsOpenHook hook(GetModuleHandleW(nullptr));
        ASSERT_TRUE(hook.Active());

        ComPtr<IADs> root;
        ASSERT_EQ(S_OK,
                  ADsOpenObject(L"LDAP://rootDSE", nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IADs,
                                reinterpret_cast<void**>(root.GetAddressOf())));
        VARIANT context;
        VariantInit(&context);
        ASSERT_EQ(S_OK, root->Get(const_cast<BSTR>(L"defaultNamingContext"), &context));
        ASSERT_EQ(VT_BSTR, context.vt);
        std::wstring path = std::wstring(L"LDAP://") + context.bstrVal;
        VariantClear(&context);
        EXPECT_EQ(std::wstring(L"LDAP://") + TestBedDirectorySuffix, path);

        ComPtr<IDirectorySearch> search;
        ASSERT_EQ(S_OK,
                  ADsOpenObject(path.c_str(), TestBedDirectoryAdmin, TestBedDirectoryPassword,
                                ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch,
                                reinterpret_cast<void**>(search.GetAddressOf())));
        LPWSTR attribute = const_cast<LPWSTR>(L"sAMAccountName");
        ADS_SEARCH_HANDLE handle = nullptr;
        ASSERT_EQ(S_OK,
                  search->ExecuteSearch(const_cast<LPWSTR>(L"(&(objectClass=user)(sAMAccountName=prdadm))"), &attribute,
                                        1, &handle));
        EXPECT_EQ(S_OK, search->GetNextRow(handle));
        ADS_SEARCH_COLUMN column = {};
        ASSERT_EQ(S_OK, search->GetColumn(handle, attribute, &column));
        EXPECT_STREQ(L"prdadm", column.pADsValues[0].CaseIgnoreString);
        search->FreeColumn(&column);
        EXPECT_EQ(S_ADS_NOMORE_ROWS, search->GetNextRow(handle));
        search->CloseSearchHandle(handle);

        EXPECT_THAT(hook.Journal(),
                    ElementsAre(L"path=LDAP://rootDSE user= flags=1 iid={FD8256D0-FD15-11CE-ABC4-02608C9E7553}",
                                L"path=" + path + L" user=" + TestBedDirectoryAdmin
                                    + L" flags=1 iid={109BA8EC-92F0-11D0-A790-00C04FD8D5A8}"));
    }
    CoUninitialize();
}
