// Benchmark, not a test: 200 user lookups (Initialize and Close of a directory object, as the agent's user
// check makes twice per monitor call) against the same ADSI calls written bare, on the bed's directory server.
// Needs slapd on 127.0.0.1:389 (scripts/bench.sh starts it). Usage: qlib_directory_bench.exe [rounds, default 10]

#include <cstdlib>

#include "ADsOpenHook.h"
#include "BenchCompare.h"
#include "LibADObject.h"

namespace {

constexpr int Lookups = 200;

template <typename T>
void** Out(QLibComOwner<T>& owner)
{
    return reinterpret_cast<void**>(owner.put());
}

// The lookup with nothing around it: root entry, naming context, search, one bind per row.
bool BareLookup(const wchar_t* name)
{
    QLibComOwner<IADs> root;
    if (FAILED(ADsOpenObject(L"LDAP://rootDSE", nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IADs, Out(root))))
        return false;
    std::wstring contexts[3];
    const wchar_t* names[] = {L"defaultNamingContext", L"configurationNamingContext", L"schemaNamingContext"};
    for (int i = 0; i < 3; ++i) {
        QLibBstrOwner property(SysAllocString(names[i]));
        QLibVariantOwner value;
        if (FAILED(root.get()->Get(property.get(), value.put())))
            return false;
        contexts[i] = value.get().bstrVal;
    }
    QLibComOwner<IDirectorySearch> search;
    std::wstring path = L"LDAP://" + contexts[0];
    if (FAILED(ADsOpenObject(path.c_str(), nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch,
                             Out(search))))
        return false;
    ADS_SEARCHPREF_INFO preferences[2] = {};
    preferences[0].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
    preferences[0].vValue.dwType = ADSTYPE_INTEGER;
    preferences[0].vValue.Integer = ADS_SCOPE_SUBTREE;
    preferences[1].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
    preferences[1].vValue.dwType = ADSTYPE_INTEGER;
    preferences[1].vValue.Integer = 500;
    search.get()->SetSearchPreference(preferences, 2);
    std::wstring filter = L"(&(objectClass=user) (cn=" + std::wstring(name) + L"))";
    LPWSTR attribute = const_cast<LPWSTR>(L"ADsPath");
    ADS_SEARCH_HANDLE handle = nullptr;
    if (FAILED(search.get()->ExecuteSearch(const_cast<LPWSTR>(filter.c_str()), &attribute, 1, &handle)))
        return false;
    int found = 0;
    while (search.get()->GetNextRow(handle) == S_OK) {
        ADS_SEARCH_COLUMN column = {};
        if (SUCCEEDED(search.get()->GetColumn(handle, attribute, &column))) {
            QLibComOwner<IADs> object;
            found += SUCCEEDED(ADsOpenObject(column.pADsValues[0].CaseIgnoreString, nullptr, nullptr,
                                             ADS_SECURE_AUTHENTICATION, IID_IADs, Out(object)));
            search.get()->FreeColumn(&column);
        }
    }
    search.get()->CloseSearchHandle(handle);
    return found == 1;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 10;
    if (rounds <= 0)
        rounds = 10;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    int ok = 0;
    {
        // Wine reaches the bed's server only through the hook; it serves both sides alike.
        ADsOpenHook hook(GetModuleHandleW(nullptr));
        BenchCompare(
            "user lookup, 200 Initialize/Close pairs", rounds,
            [&] {
                for (int i = 0; i < Lookups; ++i) {
                    QLibADObject user;
                    ok += user.Initialize(L"prdadm", L"user", 1, nullptr, nullptr, nullptr).IsOK();
                    (void)user.Close();
                }
            },
            [&] {
                for (int i = 0; i < Lookups; ++i)
                    ok += BareLookup(L"prdadm");
            });
    }
    CoUninitialize();
    return ok == 2 * Lookups * (rounds + 1) ? 0 : 1;
}
