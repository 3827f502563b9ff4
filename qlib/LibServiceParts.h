#pragma once
// What the source files of the service object share.

#include <windows.h>

#include "LibStatus.h"

// Code 1 marks a state that a wait did not expect; the dependents' stop reports Windows codes.
QLibStatus QLibServiceStateFailure(DWORD code);
OSVERSIONINFOW QLibWindowsVersion();
// Windows 2000 names service accounts and builds environments its own way.
bool QLibIsWindows2000();

// The message of a failed allocation for a service query: the code and the byte count.
constexpr wchar_t QLibServiceAllocFailed[] = L"(%d) HeapAlloc failed. size = %d.";
