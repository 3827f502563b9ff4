#include "TollanAgent.h"

#include "LibLogger.h"

// What stays in force when the cluster cannot be asked.
std::atomic<uint32_t> g_OnlineTimeout{600};
std::atomic<uint32_t> g_OfflineTimeout{600};
std::atomic<uint32_t> g_MonitorTimeout{60};
std::atomic<uint32_t> g_CleanTimeout{120};

std::atomic<TarnHandle> g_TarnCluster{nullptr};

namespace {

TarnRegHandle g_OnlineTimeoutReg = nullptr;
TarnRegHandle g_OfflineTimeoutReg = nullptr;
TarnRegHandle g_MonitorTimeoutReg = nullptr;
TarnRegHandle g_CleanTimeoutReg = nullptr;

// One callback per attribute, as the cluster API passes no hint of which one changed. Called on the
// API's threads, which know nothing of C++ exceptions.
template <int Index>
int32_t TimeoutChanged(int32_t, int32_t, void*, TarnAttr* attr)
{
    try {
        TollanStoreTimeout(g_TollanTimeouts[Index], attr);
    } catch (...) {
    }
    return 0;
}

} // namespace

const CTollanTimeoutAttr g_TollanTimeouts[TollanTimeoutCount] = {
    {"OnlineTimeout", &g_OnlineTimeout, TimeoutChanged<0>, &g_OnlineTimeoutReg},
    {"OfflineTimeout", &g_OfflineTimeout, TimeoutChanged<1>, &g_OfflineTimeoutReg},
    {"MonitorTimeout", &g_MonitorTimeout, TimeoutChanged<2>, &g_MonitorTimeoutReg},
    {"CleanTimeout", &g_CleanTimeout, TimeoutChanged<3>, &g_CleanTimeoutReg},
};

// A timeout of zero or less would leave every operation of its entry point without time.
void TollanStoreTimeout(const CTollanTimeoutAttr& timeout, const TarnAttr* attr)
{
    int32_t value = 0;
    if (!TollanGetAttrInteger(attr, &value))
        return;
    if (value <= 0) {
        QLIB_TRACE("TollanStoreTimeout", L"%S [%d] is not above zero; keeping [%u].", timeout.name, value,
                   timeout.seconds->load());
        return;
    }
    timeout.seconds->store(static_cast<uint32_t>(value));
}

// The value lies behind the pointer at byte 16, the one it points to, the one at byte 8 of that,
// and the one that points to.
bool TollanGetAttrInteger(const TarnAttr* attr, int32_t* value)
{
    if (attr == nullptr || attr->items == nullptr || attr->items[0] == nullptr)
        return false;
    const TarnAttrScalar* scalar = attr->items[0]->scalar;
    if (scalar == nullptr || scalar->intValue == nullptr)
        return false;
    *value = *scalar->intValue;
    return true;
}
