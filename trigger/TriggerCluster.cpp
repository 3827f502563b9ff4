// Every object the cluster API hands out is copied into standard containers and released before the
// helper returns, on every path.

#include "TriggerCluster.h"

#include <cstring>

namespace {

TarnHandle g_TriggerCluster = nullptr;

// One object the API handed out, released by its own release call when the owner goes, whichever
// way the helper is left: after a failed call that handed it out all the same, or by an exception.
template <typename T, void (*Release)(T*)>
class ApiObject {
public:
    ApiObject() = default;
    ApiObject(const ApiObject&) = delete;
    ApiObject& operator=(const ApiObject&) = delete;
    ~ApiObject()
    {
        if (m_Object)
            Release(m_Object);
    }
    T** Put() { return &m_Object; }
    T* Get() const { return m_Object; }

private:
    T* m_Object = nullptr;
};

// The API's releases that take the address of the pointer.
void FreeAttr(TarnAttr* attr)
{
    TarnFreeAttr(&attr);
}
void FreeStr(char* text)
{
    TarnFreeStr(&text);
}

using AttrObject = ApiObject<TarnAttr, FreeAttr>;
using TextObject = ApiObject<char, FreeStr>;
using NamesObject = ApiObject<TarnNameList, TarnFreeObjNames>;
using StateObject = ApiObject<TarnStateInfo, TarnFreeStateInfo>;

// Control info built for one call and released when the call is done.
class CntlInfo {
public:
    bool Fill(uint32_t kind, const std::vector<const char*>& values)
    {
        return TarnFillCntlInfo(kind, values.empty() ? nullptr : values.data(), static_cast<uint32_t>(values.size()),
                                m_Cntl.Put())
            == 0;
    }
    const TarnCntlInfo* Get() const { return m_Cntl.Get(); }

private:
    ApiObject<TarnCntlInfo, TarnFreeCntlInfo> m_Cntl;
};

} // namespace

TriggerClusterSession::TriggerClusterSession()
{
    m_ApiStarted = TarnApiInit(0, 0) == 0;
    if (!m_ApiStarted) {
        TriggerFetchError();
        return;
    }
    g_TriggerCluster = TarnClusterOpenLocal(0xFFFFFFFFu, 0);
    if (!g_TriggerCluster)
        TriggerFetchError();
}

// The API was initialised: its use ends even when no cluster could be opened.
TriggerClusterSession::~TriggerClusterSession()
{
    if (g_TriggerCluster && TarnClusterClose(g_TriggerCluster, 0) != 0)
        TriggerFetchError();
    g_TriggerCluster = nullptr;
    if (m_ApiStarted && TarnApiExit(0) != 0)
        TriggerFetchError();
}

bool TriggerClusterSession::IsOpen() const
{
    return g_TriggerCluster != nullptr;
}

void TriggerWriteLog(const TriggerMessage& message, const char* text)
{
    // A failed log call hands out an error record like any other failed call.
    if (TarnLogAddMsg(g_TriggerCluster, message.severity, text, 0, message.id, 0) != 0)
        TriggerFetchError();
}

// The error record is not shown: each failure's own message names the call.
void TriggerFetchError()
{
    TarnApiGetLastError();
    TarnFreeError();
}

bool TriggerSameText(const std::string& left, const std::string& right)
{
    return _stricmp(left.c_str(), right.c_str()) == 0;
}

bool TriggerReadAttribute(const std::string& resource, const char* attribute, uint32_t attrFailId, uint32_t strFailId,
                          const TriggerAttrFailures& failures, std::string& value)
{
    AttrObject attr;
    if (TarnObjGetAttribute(g_TriggerCluster, TARN_OBJ_RESOURCE, resource.c_str(), attribute, nullptr, attr.Put(), 0)
        != 0) {
        TriggerCallFailed({attrFailId, 'E', failures.attrFormat}, resource);
        return false;
    }
    // A successful read that hands back no attribute or no text leaves the value as unknown as a
    // failed one: nothing is compared against a guessed value.
    TriggerMessage textFailed = {strFailId, 'E', failures.strFormat};
    const char* textFailedArg = failures.strNamesAttribute ? attribute : resource.c_str();
    if (!attr.Get()) {
        TriggerLog(textFailed, textFailedArg);
        return false;
    }
    TextObject text;
    if (TarnAttrGetStr(attr.Get(), 0, 0, text.Put(), 0) != 0) {
        TriggerCallFailed(textFailed, textFailedArg);
        return false;
    }
    if (!text.Get()) {
        TriggerLog(textFailed, textFailedArg);
        return false;
    }
    value = text.Get();
    return true;
}

bool TriggerGetNames(uint32_t cntlKind, const std::vector<const char*>& values, const TriggerMessage& fillFailed,
                     const TriggerMessage& namesFailed, const char* arg, std::vector<std::string>& names)
{
    CntlInfo cntl;
    if (!cntl.Fill(cntlKind, values)) {
        TriggerCallFailed(fillFailed, arg);
        return false;
    }
    NamesObject list;
    if (TarnObjGetNames(g_TriggerCluster, TARN_OBJ_RESOURCE, 0, list.Put(), cntl.Get()) != 0) {
        TriggerCallFailed(namesFailed, arg);
        return false;
    }
    names.clear();
    if (list.Get() && list.Get()->names) {
        for (uint32_t i = 0; i < list.Get()->count; ++i)
            names.push_back(TriggerArg(list.Get()->names[i]));
    }
    return true;
}

bool TriggerGetStates(uint32_t objectKind, const std::string& object, const char* limitToSystem,
                      const TriggerMessage& fillFailed, const TriggerMessage& stateFailed,
                      std::vector<TriggerSystemState>& states)
{
    CntlInfo cntl;
    if (limitToSystem && !cntl.Fill(TARN_CNTL_ON_SYSTEM, {limitToSystem})) {
        TriggerCallFailed(fillFailed);
        return false;
    }
    StateObject info;
    if (TarnObjGetState(g_TriggerCluster, objectKind, object.c_str(), 0, info.Put(), cntl.Get()) != 0) {
        TriggerCallFailed(stateFailed, object);
        return false;
    }
    states.clear();
    // Only the first object entry is ours; an answer without one holds no system.
    const TarnStateInfo* answer = info.Get();
    if (answer && answer->objects && answer->count > 0) {
        const TarnObjState& entry = answer->objects[0];
        for (uint32_t i = 0; entry.systems && i < entry.count; ++i)
            states.push_back({TriggerArg(entry.systems[i].system), entry.systems[i].state});
    }
    return true;
}

TriggerOnlineOutcome TriggerBringOnline(const std::string& group, const std::string& system,
                                        const TriggerOnlineMessages& messages)
{
    CntlInfo cntl;
    if (!cntl.Fill(TARN_CNTL_ONLINE, {})) {
        TriggerCallFailed(messages.fillFailed);
        return TriggerOnlineNoCntlInfo;
    }
    TriggerLog(messages.before, group, system);
    if (TarnGrpOnline(g_TriggerCluster, group.c_str(), system.c_str(), 0, cntl.Get()) != 0) {
        TriggerCallFailed(messages.failed, group, system);
        return TriggerOnlineRefused;
    }
    TriggerLog(messages.done, group, system);
    return TriggerOnlineAccepted;
}
