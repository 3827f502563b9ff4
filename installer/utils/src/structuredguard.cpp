#include "structuredguard.h"

#include <windows.h>

namespace {

// Where the guarded work of this thread resumes after an exception (a __builtin_setjmp buffer).
thread_local void* t_resume[5];
thread_local bool t_armed = false;

[[noreturn]] void resumeGuardedCaller()
{
    __builtin_longjmp(t_resume, 1);
}

// Only errors (severity 3) on a thread inside guarded work are taken; warnings and informational
// exceptions, such as debug output or a C++ throw, go their usual way.
LONG CALLBACK divertToGuard(EXCEPTION_POINTERS* info)
{
    if (!t_armed || (info->ExceptionRecord->ExceptionCode >> 30) != 3)
        return EXCEPTION_CONTINUE_SEARCH;
    t_armed = false;
    // The dispatcher returns into resumeGuardedCaller on a stack below the failed frame, which then
    // leaves for the guard's own frame.
    CONTEXT* context = info->ContextRecord;
#ifdef _WIN64
    context->Rsp = ((context->Rsp - 512) & ~static_cast<DWORD64>(15)) - 8;
    context->Rip = reinterpret_cast<DWORD64>(&resumeGuardedCaller);
#else
    context->Esp = (context->Esp - 512) & ~static_cast<DWORD>(15);
    context->Eip = reinterpret_cast<DWORD>(&resumeGuardedCaller);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

bool runGuarded(void (*work)(void* context), void* context)
{
    PVOID handler = AddVectoredExceptionHandler(1, divertToGuard);
    volatile bool completed = false;
    if (__builtin_setjmp(t_resume) == 0) {
        t_armed = handler != nullptr;
        work(context);
        completed = true;
    }
    t_armed = false;
    if (handler)
        RemoveVectoredExceptionHandler(handler);
    return completed;
}
