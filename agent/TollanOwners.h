#pragma once
// Owners, on the library's owner template, of what the cluster framework, the cluster API and the C runtime
// hand the agent: each is released by its own call when its owner goes, on every path.

#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "LibOwners.h"
#include "TarnAgfw.h"
#include "TarnApi.h"

struct CTollanTarnMemFree : QLibNonNull {
    static void Close(wchar_t* text) { TarnAgDeleteMem(text); }
};
struct CTollanTarnArgListFree : QLibNonNull {
    static void Close(wchar_t** list) { TarnAgDelEncodedArgList(list); }
};
// The cluster API's release takes the address of the pointer.
struct CTollanTarnStrFree : QLibNonNull {
    static void Close(char* text) { TarnFreeStr(&text); }
};
struct CTollanTarnAttrFree : QLibNonNull {
    static void Close(TarnAttr* attr) { TarnFreeAttr(&attr); }
};
// The C runtime's heap, which the framework's cookie store shares with the agent.
struct CTollanCrtFree : QLibNonNull {
    static void Close(void* memory) { free(memory); }
};
// A program's output as the run hands it out.
struct CTollanVirtualFree : QLibNonNull {
    static void Close(void* region) { VirtualFree(region, 0, MEM_RELEASE); }
};

using CTollanTarnMemOwner = QLibUnique<wchar_t*, CTollanTarnMemFree>;
using CTollanTarnArgListOwner = QLibUnique<wchar_t**, CTollanTarnArgListFree>;
using CTollanTarnStrOwner = QLibUnique<char*, CTollanTarnStrFree>;
using CTollanTarnAttrOwner = QLibUnique<TarnAttr*, CTollanTarnAttrFree>;
using CTollanCrtTextOwner = QLibUnique<wchar_t*, CTollanCrtFree>;
using CTollanOutputOwner = QLibUnique<wchar_t*, CTollanVirtualFree>;

// The error record of the cluster API's last failed call, fetched when the owner is made and released when it
// goes; the API is told to release it even when it handed out none.
class CTollanTarnError {
public:
    CTollanTarnError() : m_Record(TarnApiGetLastError()) {}
    ~CTollanTarnError() { TarnFreeError(); }
    CTollanTarnError(const CTollanTarnError&) = delete;
    CTollanTarnError& operator=(const CTollanTarnError&) = delete;

    // The record's two numbers; 0 without a record.
    uint32_t Number() const { return m_Record != nullptr ? m_Record->number : 0; }
    uint32_t Code() const { return m_Record != nullptr ? m_Record->code : 0; }

private:
    const TarnError* m_Record;
};
