#include "LibWin32Object.h"

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibNtDll.h"

QLibStatus QLibObject::Close()
{
    return QLibOk();
}

QLibWin32Object::QLibWin32Object(HANDLE handle) : m_hHandle(handle)
{
    QLIB_ASSERT(IsValid());
}

QLibWin32Object::~QLibWin32Object()
{
    (void)QLibWin32Object::Close();
}

bool QLibWin32Object::IsValid() const
{
    return m_hHandle != nullptr && m_hHandle != INVALID_HANDLE_VALUE;
}

// Never fails towards the caller; an invalid value such as INVALID_HANDLE_VALUE is left alone. The
// object is the handle's owner, and a failed close is traced, so it closes the handle itself.
QLibStatus QLibWin32Object::Close()
{
    if (QLibWin32Object::IsValid()) {
        if (!CloseHandle(m_hHandle))
            QLIB_TRACE("QLibWin32Object::Close", L"Failed to close handle. Error=%d.", GetLastError());
        m_hHandle = nullptr;
    }
    return QLibOk();
}

HANDLE QLibWin32Object::GetHandle() const
{
    return m_hHandle;
}

QLibStatus QLibWin32Object::Attach(HANDLE handle)
{
    (void)Close();
    m_hHandle = handle;
    return QLibOk();
}

HANDLE QLibWin32Object::Detach()
{
    HANDLE handle = m_hHandle;
    m_hHandle = nullptr;
    return handle;
}

QLibStatus QLibWin32Object::GetName(std::wstring& name) const
{
    QLIB_ASSERT(IsValid());
    name.clear();
    QLibNtDll ntDll;
    QLibHeapOwner<void> buffer;
    QLibStatus status = ntDll.GetObjectInformation(m_hHandle, ObjectNameInformation, buffer.put());
    if (status.IsFailed()) {
        QLIB_TRACE("QLibWin32Object::GetName", L"(%d) GetObjectInformation failed.", status.GetCode());
        return status;
    }
    const UNICODE_STRING& text = static_cast<OBJECT_NAME_INFORMATION*>(buffer.get())->Name;
    if (text.Buffer != nullptr)
        name.assign(text.Buffer, text.Length / sizeof(wchar_t));
    return status;
}

QLibStatus QLibWin32Object::GetNameRelativeToBaseNamedObjects(std::wstring& name) const
{
    name.clear();
    std::wstring fullName;
    QLibStatus status = GetName(fullName);
    if (status.IsFailed()) {
        QLIB_TRACE("QLibWin32Object::GetNameRelativeToBaseNamedObjects", L"(%d) GetName failed.", status.GetCode());
        return status;
    }
    QLIB_TRACE("QLibWin32Object::GetNameRelativeToBaseNamedObjects", L"Object name is %s", fullName.c_str());
    if (fullName.empty())
        return status;

    // Leading backslashes start no component; the first one must be the directory itself.
    size_t first = fullName.find_first_not_of(L'\\');
    size_t firstEnd = fullName.find(L'\\', first);
    size_t second = firstEnd == std::wstring::npos ? firstEnd : fullName.find_first_not_of(L'\\', firstEnd);
    if (first != std::wstring::npos && fullName.compare(first, firstEnd - first, L"BaseNamedObjects") == 0
        && second != std::wstring::npos) {
        name = fullName.substr(second, fullName.find(L'\\', second) - second);
        return status;
    }
    status = QLibWin32Failure(ERROR_INVALID_PARAMETER);
    return status;
}
