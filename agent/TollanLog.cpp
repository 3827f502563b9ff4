#include "TollanLog.h"

#include <string>

#include "TarnAgfw.h"

CTollanLogSink g_TollanLogSink;

CTarnAgLogSink::CTarnAgLogSink(uint32_t dumpTag, uint32_t immediateTag)
{
    SetTags(dumpTag, immediateTag);
    SetImmediate(1);
}

void CTarnAgLogSink::SetTags(uint32_t dumpTag, uint32_t immediateTag)
{
    m_DumpTag = dumpTag;
    m_ImmediateTag = immediateTag;
}

void CTarnAgLogSink::WriteNow(const char* file, uint32_t line, const char* function, const wchar_t* message)
{
    if (IsImmediate())
        TarnAgResLogMsg2(m_ImmediateTag, function, file, line, 0, message);
}

void CTarnAgLogSink::WriteRecord(const char* file, uint32_t line, const char* function, const wchar_t* message)
{
    TarnAgResLogMsg2(m_DumpTag, function, file, line, 0, message);
}

CTollanLogSink::CTollanLogSink() : CTarnAgLogSink(20, 19) {}

// The message log reads its text as a format: a percent sign in a traced text is doubled so that it
// comes out as it was written, and never consumes an argument that is not there.
void CTollanLogSink::WriteRecord(const char*, uint32_t, const char* function, const wchar_t* message)
{
    std::wstring text;
    for (const wchar_t* c = message == nullptr ? L"" : message; *c != L'\0'; ++c) {
        text += *c;
        if (*c == L'%')
            text += L'%';
    }
    TarnAgLogMsg2(TARNAG_SEV_SUCCESS, function, "TollanLog", 24, 10000, 0, text.c_str());
}
