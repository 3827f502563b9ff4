#pragma once
// The bare equivalent of one account lookup in the directory, as the agent must make it without a server name:
// the naming context from the root entry, then one search. Needs COM on the thread and the bed's directory.

#include <windows.h>
#include <ole2.h>

#include <activeds.h>

#include <string>

inline bool BenchBareLookup(const wchar_t* name)
{
    IADs* root = nullptr;
    if (FAILED(
            ADsOpenObject(L"LDAP://127.0.0.1/rootDSE", nullptr, nullptr, 0, IID_IADs, reinterpret_cast<void**>(&root))))
        return false;
    VARIANT context;
    VariantInit(&context);
    BSTR property = SysAllocString(L"defaultNamingContext");
    HRESULT got = root->Get(property, &context);
    SysFreeString(property);
    root->Release();
    if (FAILED(got) || context.vt != VT_BSTR)
        return false;
    std::wstring path = std::wstring(L"LDAP://127.0.0.1/") + context.bstrVal;
    VariantClear(&context);
    IDirectorySearch* search = nullptr;
    if (FAILED(
            ADsOpenObject(path.c_str(), nullptr, nullptr, 0, IID_IDirectorySearch, reinterpret_cast<void**>(&search))))
        return false;
    std::wstring filter = std::wstring(L"(&(objectClass=user)(cn=") + name + L"))";
    LPWSTR columns[] = {const_cast<LPWSTR>(L"ADsPath")};
    ADS_SEARCH_HANDLE handle = nullptr;
    bool found = false;
    if (SUCCEEDED(search->ExecuteSearch(&filter[0], columns, 1, &handle))) {
        found = search->GetFirstRow(handle) == S_OK;
        search->CloseSearchHandle(handle);
    }
    search->Release();
    return found;
}
