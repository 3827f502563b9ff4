#include "LibAssert.h"

#include <windows.h>

#include <cstdio>

void QLibAssertFailed(const char* file, int line)
{
    fprintf(stderr, "ASSERTION FAILED: file: %s line %d\n", file, line);
    fflush(stderr);
    // No unwinding and no DLL detach handlers: the state is already broken.
    TerminateProcess(GetCurrentProcess(), 3);
    for (;;) {}
}
