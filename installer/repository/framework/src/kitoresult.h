#pragma once
// Result codes of the installer's repository framework: 0 is success.

#include <cstdint>

constexpr uint32_t KITO_OK = 0;
constexpr uint32_t E_KITO_FAILED = 0xC0060001;
constexpr uint32_t E_KITO_INVALIDARG = 0xC0060003;
constexpr uint32_t E_KITO_REGOPEN = 0xC0060004;
constexpr uint32_t E_KITO_REGQUERY = 0xC0060005;
constexpr uint32_t E_KITO_REGSET = 0xC0060006;
constexpr uint32_t E_KITO_REGCREATE = 0xC0060007;
constexpr uint32_t E_KITO_REGDELETE = 0xC0060008;
constexpr uint32_t E_KITO_REGCONNECT = 0xC0060009;
constexpr uint32_t E_KITO_LOGOPEN = 0xC006000A;
constexpr uint32_t E_KITO_PRODINFO = 0xC006000B;

// Plain codes of a few key operations, which their callers test by value.
constexpr uint32_t KITO_NOT_IN_LIST = 9;
constexpr uint32_t KITO_NO_SUCH_VALUE = 10;
constexpr uint32_t KITO_NAME_TAKEN = 11;
// An allocation that failed: the Windows code ERROR_NOT_ENOUGH_MEMORY, as every code-returning
// operation of the framework answers it (the ones handing out keys answer null).
constexpr uint32_t KITO_NO_MEMORY = 8;
