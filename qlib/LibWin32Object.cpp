#include "LibWin32Object.h"

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibNtDll.h"

QLibStatus QLibObject::Close()
{
    return QLibOk();
}

void QLibCloseHeldHandle::Close(const QLibHeldHandle& held)
{
    if (held.kind == QLibHandleKind::ServiceManager) {
        CloseServiceHandle(static_cast<SC_HANDLE>(held.value));
        return;
    }
    if (!CloseHandle(held.value))
        QLIB_TRACE("QLibWin32Object::Close", L"Failed to close handle. Error=%d.", GetLastError());
}

QLibWin32Object::QLibWin32Object(HANDLE handle)
{
    Hold(handle);
    QLIB_ASSERT(IsValid());
}

bool QLibWin32Object::IsValid() const
{
    return m_Handle.IsValid();
}

// Never fails towards the caller; an invalid value such as INVALID_HANDLE_VALUE is left alone.
QLibStatus QLibWin32Object::Close()
{
    if (m_Handle.IsValid())
        m_Handle.reset();
    return QLibOk();
}

HANDLE QLibWin32Object::GetHandle() const
{
    return Handle();
}

QLibStatus QLibWin32Object::Attach(HANDLE handle)
{
    (void)Close();
    Hold(handle);
    return QLibOk();
}

HANDLE QLibWin32Object::Detach()
{
    return m_Handle.release().value;
}

QLibStatus QLibWin32Object::GetName(std::wstring& name) const
{
    QLIB_ASSERT(IsValid());
    name.clear();
    QLibNtDll ntDll;
    QLibHeapOwner<void> buffer;
    QLibStatus status = ntDll.GetObjectInformation(Handle(), ObjectNameInformation, buffer.put());
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
