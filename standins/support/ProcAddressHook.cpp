#include "ProcAddressHook.h"

namespace {

ProcAddressHook* g_procAddressHook = nullptr;

} // namespace

ProcAddressHook::ProcAddressHook(HMODULE module)
    : m_hook(module, "GetProcAddress", reinterpret_cast<const void*>(&Find))
{
    g_procAddressHook = this;
}

ProcAddressHook::~ProcAddressHook()
{
    g_procAddressHook = nullptr;
}

FARPROC WINAPI ProcAddressHook::Find(HMODULE module, LPCSTR name)
{
    ProcAddressHook* hook = g_procAddressHook;
    auto original = hook ? hook->m_hook.Original<FARPROC(WINAPI*)(HMODULE, LPCSTR)>() : nullptr;
    // An ordinal is no name a test can choose.
    if (hook == nullptr || IS_INTRESOURCE(name))
        return original ? original(module, name) : nullptr;
    if (hook->m_failing == name) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    auto answer = hook->m_answers.find(name);
    if (answer != hook->m_answers.end())
        return reinterpret_cast<FARPROC>(const_cast<void*>(answer->second));
    return original(module, name);
}
