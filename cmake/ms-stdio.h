/* Read before anything else in every C and C++ file. libstdc++ forces
   __USE_MINGW_ANSI_STDIO to 1 once any C++ header is read, which would give
   wprintf and friends ISO semantics (%s narrow). Declaring the C stdio first,
   while the build's 0 still holds, keeps Microsoft semantics everywhere. */
#include <stdio.h>
#include <wchar.h>
