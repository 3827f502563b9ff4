#pragma once
// Guards against programming errors only: prints the place and stops the process at once.

[[noreturn]] void QLibAssertFailed(const char* file, int line);

#define QLIB_ASSERT(cond)                                                                                              \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            QLibAssertFailed(__FILE_NAME__, __LINE__);                                                                 \
    } while (0)
