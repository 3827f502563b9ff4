// Whether an account exists: a lookup in the directory, on a thread of its own, so that a directory server
// that takes the connection and never answers holds the caller no longer than its time left, and the process
// no more than a few such threads.

#include <ole2.h>

#include <atomic>
#include <memory>

#include "LibADObject.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibService.h"
#include "TollanUtil.h"

namespace {

const char LookupFn[] = "CTollanUtil::DoesExistUser";

// Lookups whose threads still run in this process, stuck ones included.
std::atomic<int> g_OutstandingLookups{0};

// One of the places for outstanding lookups, held by the lookup's thread until it ends.
class LookupPlace {
public:
    LookupPlace() = default;
    ~LookupPlace()
    {
        if (m_Held)
            g_OutstandingLookups.fetch_sub(1);
    }
    LookupPlace(const LookupPlace&) = delete;
    LookupPlace& operator=(const LookupPlace&) = delete;

    // False, holding none, when every place is taken.
    bool Take()
    {
        int taken = g_OutstandingLookups.load();
        do {
            if (taken >= CTollanUtil::MaxOutstandingLookups)
                return false;
        } while (!g_OutstandingLookups.compare_exchange_weak(taken, taken + 1));
        m_Held = true;
        return true;
    }

private:
    bool m_Held = false;
};

// What the caller and the lookup's thread share. Each holds a reference, so a caller that stopped waiting
// leaves the thread nothing of the caller's to write to, and the last one to let go frees it.
struct UserLookup {
    explicit UserLookup(const std::wstring& name) : user(name) {}
    const std::wstring user;
    QLibStatus status = QLibOk();
    const wchar_t* failedCall = L"QLibADObject::Initialize";
};

// What the thread is handed: its reference, its place among the outstanding lookups, and a reference on the
// module that holds its code, which it gives back only as it ends.
struct LookupHandover {
    std::shared_ptr<UserLookup> lookup;
    LookupPlace place;
    HMODULE module = nullptr;
};

// The directory's answer for a user it does not know.
bool IsUnknownUser(const QLibStatus& status)
{
    return status.GetType() == QLIB_ERR_DIRECTORY && (status.GetCode() == 1317 || status.GetCode() == 3);
}

// The lookup proper, in an apartment of the thread's own that it leaves before it ends.
void LookUp(UserLookup& lookup)
{
    QLibComApartment apartment(COINIT_APARTMENTTHREADED);
    if (!apartment.Entered()) {
        lookup.failedCall = L"CoInitialize";
        lookup.status = QLibFailure(QLIB_ERR_COM, static_cast<uint32_t>(apartment.Result()));
        return;
    }
    // Made after the apartment, so released before the thread leaves it.
    QLibADObject account;
    lookup.status = account.Initialize(lookup.user.c_str(), L"user", QLibADObject::DefaultNamingContext, nullptr,
                                       nullptr, nullptr);
}

void RunHandover(LookupHandover* handover) noexcept
{
    std::unique_ptr<LookupHandover> owned(handover);
    UserLookup& lookup = *owned->lookup;
    try {
        LookUp(lookup);
    } catch (...) {
        // What an entry point reports for an exception.
        lookup.status = QLibFailure(QLIB_ERR_FRAMEWORK, ERROR_OUTOFMEMORY);
    }
}

DWORD WINAPI LookupThread(void* parameter)
{
    auto* handover = static_cast<LookupHandover*>(parameter);
    HMODULE module = handover->module;
    RunHandover(handover);
    FreeLibraryAndExitThread(module, 0);
}

// The lookup on a thread of its own, which owns the handover from then on.
QLibStatus StartLookup(std::unique_ptr<LookupHandover> handover, QLibHandleOwner* thread)
{
    QLibModuleOwner module;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&LookupThread),
                            module.put())) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE_FAILED(LookupFn, L"GetModuleHandleExW", status);
        return status;
    }
    handover->module = module.get();
    thread->reset(CreateThread(nullptr, 0, &LookupThread, handover.get(), 0, nullptr));
    if (!thread->IsValid()) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE_FAILED(LookupFn, L"CreateThread", status);
        return status;
    }
    handover.release();
    module.release();
    return QLibOk();
}

// The directory's answer, waited for no longer than the time left; a lookup still running then ends alone.
QLibStatus AwaitLookup(const std::wstring& user, int64_t timeLeft)
{
    if (timeLeft > 0) {
        auto handover = std::make_unique<LookupHandover>();
        if (!handover->place.Take()) {
            QLIB_TRACE(LookupFn, L"[%d] lookups are still waiting for the directory: user [%s] is not looked up.",
                       CTollanUtil::MaxOutstandingLookups, user.c_str());
            return QLibWin32Failure(WAIT_TIMEOUT);
        }
        auto lookup = std::make_shared<UserLookup>(user);
        handover->lookup = lookup;
        QLibHandleOwner thread;
        QLibStatus status = StartLookup(std::move(handover), &thread);
        if (status.IsFailed())
            return status;
        DWORD waited = WaitForSingleObject(thread.get(), QLibService::TimeoutFromTimeLeft(timeLeft));
        if (waited == WAIT_OBJECT_0) {
            status = lookup->status;
            if (status.IsFailed() && !IsUnknownUser(status))
                QLIB_TRACE_FAILED(LookupFn, lookup->failedCall, status);
            return status;
        }
        if (waited != WAIT_TIMEOUT) {
            status = QLibLastError();
            QLIB_TRACE_FAILED(LookupFn, L"WaitForSingleObject", status);
            return status;
        }
    }
    QLIB_TRACE(LookupFn, L"The directory did not answer on user [%s] within the time left.", user.c_str());
    return QLibWin32Failure(WAIT_TIMEOUT);
}

} // namespace

QLibStatus CTollanUtil::DoesExistUser(const std::wstring& user, const std::wstring& domain, uint8_t* exists,
                                      int64_t timeLeft)
{
    QLIB_TRACE(LookupFn, L"DoesExistUser called with user [%s], domain [%s].", user.c_str(), domain.c_str());
    QLibStatus status = AwaitLookup(user, timeLeft);
    if (status.IsOK())
        *exists = 1;
    else if (IsUnknownUser(status))
        *exists = 0;
    return status;
}
