#pragma once

// Replaces a module's ADsOpenObject so that its binds reach the bed's directory server under Wine, whose
// client fails secure authentication against slapd and cannot bind a path that names no server: the hook
// clears ADS_SECURE_AUTHENTICATION, puts 127.0.0.1 into such paths and calls the real one. The journal holds
// "path=P user=U flags=F iid={...}" per call as the module made it, never the password. One at a time per process.
// Paths a test describes (with the bed's server in them) bind to fakes of the test's making (ADsFake.h).
// Another server ("host:port") may stand in for the bed's, such as one of the test's that never answers.

#include <windows.h>

#include <string>
#include <vector>

#include "ADsFake.h"
#include "HookJournal.h"
#include "ImportHook.h"

class ADsOpenHook {
public:
    explicit ADsOpenHook(HMODULE module, std::wstring server = L"127.0.0.1");
    ~ADsOpenHook();
    ADsOpenHook(const ADsOpenHook&) = delete;
    ADsOpenHook& operator=(const ADsOpenHook&) = delete;

    bool Active() const { return m_hook.Active(); }
    std::vector<std::wstring> Journal() const { return m_journal.Lines(); }

    void Fake(const std::wstring& path, ADsFakeObject object) { m_fakes->Describe(path, std::move(object)); }
    std::shared_ptr<ADsFakeObject> Described(const std::wstring& path) const { return m_fakes->Find(path); }
    // References held on fakes: every test ends with none.
    long Outstanding() const { return m_fakes->Outstanding(); }
    std::vector<std::wstring> FakeCalls() const { return m_fakes->Calls(); }

private:
    static HRESULT WINAPI Open(LPCWSTR path, LPCWSTR user, LPCWSTR password, DWORD flags, REFIID iid, void** object);

    const std::wstring m_server;
    HookJournal m_journal;
    std::shared_ptr<ADsFakeWorld> m_fakes = std::make_shared<ADsFakeWorld>();
    ImportHook m_hook;
};
