// Whether an account exists: a lookup in the directory.

#include <ole2.h>

#include "LibADObject.h"
#include "LibLogger.h"
#include "TollanUtil.h"

QLibStatus CTollanUtil::DoesExistUser(const std::wstring& user, const std::wstring& domain, uint8_t* exists)
{
    const char* function = "CTollanUtil::DoesExistUser";
    QLIB_TRACE(function, L"DoesExistUser called with user [%s], domain [%s].", user.c_str(), domain.c_str());
    HRESULT com = CoInitialize(nullptr);
    // A thread already in the multithreaded apartment can use COM as it is, and must not lose it.
    bool initialised = com == S_OK || com == S_FALSE;
    if (!initialised && com != RPC_E_CHANGED_MODE) {
        QLIB_TRACE(function, L"%s returned 0x%.08X", L"CoInitialize", static_cast<uint32_t>(com));
        return QLibFailure(QLIB_ERR_COM, static_cast<uint32_t>(com));
    }
    QLibStatus status;
    {
        QLibADObject account;
        status = account.Initialize(user.c_str(), L"user", QLibADObject::DefaultNamingContext, nullptr, nullptr,
                                    nullptr);
        if (status.IsOK())
            *exists = 1;
        else if (status.GetType() == QLIB_ERR_DIRECTORY && (status.GetCode() == 1317 || status.GetCode() == 3))
            *exists = 0;
        else
            QLIB_TRACE_FAILED(function, L"QLibADObject::Initialize", status);
        (void)account.Close();
    }
    if (initialised)
        CoUninitialize();
    return status;
}
