#include "removeservice.h"

#include <new>
#include <string>

#include "logger.h"
#include "servicemanager.h"
#include "stringutils.h"

namespace {

// A running service is not stopped: Windows removes it once it stops.
DWORD deleteInstallerService()
{
    ScopeTracer tracer(L"removeService", &g_logger);
    const wchar_t serviceName[] = L"qzInstaller";
    ServiceControl control;
    DWORD result = control.ConnectToSCM(nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not connect to SCM on localnode");
        return result;
    }
    // Installed until shown otherwise: when the check fails for another reason than "does not exist",
    // the open below runs into the same failure and reports its real code instead of a false success.
    bool installed = true;
    result = control.IsServiceInstalled(serviceName, installed);
    if (result != ERROR_SUCCESS) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not connect to SCM on localnode");
        return result;
    }
    if (!installed)
        return ERROR_SUCCESS;
    result = control.OpenServiceHandle(serviceName);
    if (result != ERROR_SUCCESS) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not open slave handle on localnode");
        std::wstring reason = getErrorMessage(result);
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Reason: '%s'", reason.c_str());
        return result;
    }
    result = control.DeleteService();
    if (result != ERROR_SUCCESS) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not delete slave on localnode");
        return result;
    }
    return ERROR_SUCCESS;
}

} // namespace

// The installer calls this export on its own as well: nothing may leave it as an exception.
extern "C" DWORD WINAPI removeService()
{
    try {
        return deleteInstallerService();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_INTERNAL_ERROR;
    }
}
