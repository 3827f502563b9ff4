// The exported calls of the cluster API stand-in, answered from the cluster description.

#include "ApiRuntime.h"

namespace {

std::string Text(const char* s)
{
    return s == nullptr ? std::string("-") : std::string(s);
}

// "KIND,VALUE,..." as injected failures name a selection; "-" for none.
std::string Joined(const TarnCntlInfo* cntl)
{
    if (cntl == nullptr)
        return "-";
    std::string joined = std::to_string(cntl->kind);
    for (const std::string& value : cntl->values)
        joined += "," + value;
    return joined;
}

// "#ID/KIND" as the journal names a control info; "none" for none.
std::string Named(const TarnCntlInfo* cntl)
{
    return cntl == nullptr ? std::string("none") : "#" + std::to_string(cntl->id) + "/" + std::to_string(cntl->kind);
}

// A journal entry stays one line: a line break becomes the two characters \n.
std::string OneLine(const std::string& text)
{
    std::string line;
    for (char c : text)
        line += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return line;
}

bool IsCluster(const void* cluster)
{
    return TarnApi().Find<TarnCluster>(cluster) != nullptr;
}

// A control info that the caller holds, or null for none; anything else is refused.
bool IsCntlOrNull(const TarnCntlInfo* cntl)
{
    return cntl == nullptr || TarnApi().Find<TarnCntlInfo>(cntl) == cntl;
}

template <class T>
T* Keep(const void* key, const std::string& what, std::unique_ptr<T> block)
{
    T* kept = block.get();
    TarnApi().HandOut(key, what, std::move(block));
    return kept;
}

// Releases what *pointer holds and clears the caller's pointer.
template <class T>
void ReleaseAndClear(T** pointer, const char* function)
{
    std::lock_guard<std::mutex> guard(TarnApi().lock);
    if (pointer == nullptr) {
        TarnJournal(std::string("release ") + function + " unknown");
        return;
    }
    TarnApi().Release(*pointer, function);
    *pointer = nullptr;
}

} // namespace

extern "C" {

int32_t TarnApiInit(uint32_t, uint32_t)
{
    TarnApiCall call("TarnApiInit", "-");
    TarnApiRuntime& api = TarnApi();
    std::string path = TarnDescEnv("TARN_CLUSTER_DESC");
    std::string error;
    if (!path.empty() && !api.description.Load(path, &error))
        return call.Fail(TARN_E_DESCRIPTION, error);
    if (path.empty())
        api.description = TarnDescription();
    if (!call.Start(false))
        return call.Result();
    api.initialised = true;
    return 0;
}

int32_t TarnApiExit(uint32_t)
{
    TarnApiCall call("TarnApiExit", "-");
    if (!call.Start())
        return call.Result();
    TarnApi().Finish();
    return 0;
}

TarnError* TarnApiGetLastError(void)
{
    std::lock_guard<std::mutex> guard(TarnApi().lock);
    TarnError* error = TarnApi().LastError();
    TarnJournal("call TarnApiGetLastError - code=" + std::to_string(error->code) + " = 0");
    return error;
}

void TarnFreeError(void)
{
    std::lock_guard<std::mutex> guard(TarnApi().lock);
    TarnApi().FreeError();
}

TarnHandle TarnClusterOpenLocal(uint32_t, uint32_t)
{
    TarnApiCall call("TarnClusterOpenLocal", "-");
    if (!call.Start())
        return nullptr;
    if (TarnApi().description.Systems().empty()) {
        call.Fail(TARN_E_NOT_FOUND, "no cluster is described (TARN_CLUSTER_DESC)");
        return nullptr;
    }
    auto cluster = std::make_unique<TarnCluster>();
    const void* key = cluster.get();
    return Keep(key, "cluster TarnClusterOpenLocal", std::move(cluster));
}

int32_t TarnClusterClose(TarnHandle cluster, uint32_t)
{
    TarnApiCall call("TarnClusterClose", "-");
    if (!call.Start())
        return call.Result();
    if (!IsCluster(cluster))
        return call.Fail(TARN_E_INVALID_ARG, "not an open cluster handle");
    TarnApi().Release(cluster, "TarnClusterClose");
    return 0;
}

int32_t TarnObjGetAttribute(TarnHandle cluster, uint32_t objKind, const char* objName, const char* attrName,
                            const char*, TarnAttr** attr, uint32_t)
{
    std::string owner = Text(objName) + "." + Text(attrName);
    TarnApiCall call("TarnObjGetAttribute", owner);
    call.Arg("kind", std::to_string(objKind));
    if (attr != nullptr)
        *attr = nullptr;
    if (!call.Start())
        return call.Result();
    if (!IsCluster(cluster) || objName == nullptr || attrName == nullptr || attr == nullptr)
        return call.Fail(TARN_E_INVALID_ARG, "bad cluster handle or null argument");
    if (call.AnswersEmpty())
        return 0;
    TarnDescObject* object = TarnApi().description.Find(objKind, objName);
    const TarnDescAttr* found = object == nullptr ? nullptr : object->FindAttr(attrName);
    if (found == nullptr)
        return call.Fail(TARN_E_NOT_FOUND, "no such object or attribute");
    auto block = std::make_unique<TarnAttrBlock>(owner, *found);
    *attr = &block->attr;
    Keep(*attr, "attribute " + owner, std::move(block));
    return 0;
}

void TarnFreeAttr(TarnAttr** attr)
{
    ReleaseAndClear(attr, "TarnFreeAttr");
}

int32_t TarnAttrGetStr(const TarnAttr* attr, uint32_t index, uint32_t, char** text, uint32_t)
{
    TarnApiCall call("TarnAttrGetStr", "-");
    TarnAttrBlock* block = TarnApi().Find<TarnAttrBlock>(attr);
    if (block != nullptr)
        call.SetObject(block->owner);
    if (text != nullptr)
        *text = nullptr;
    if (!call.Start())
        return call.Result();
    if (block == nullptr || text == nullptr)
        return call.Fail(TARN_E_INVALID_ARG, "not an attribute handed out, or null text");
    call.Arg("index", std::to_string(index));
    if (call.AnswersEmpty())
        return 0;
    if (index >= block->texts.size())
        return call.Fail(TARN_E_NOT_FOUND, "no value at this index");
    auto copy = std::make_unique<TarnTextBlock>(block->texts[index]);
    *text = copy->text.data();
    Keep(*text, "text " + block->owner, std::move(copy));
    return 0;
}

void TarnFreeStr(char** text)
{
    ReleaseAndClear(text, "TarnFreeStr");
}

TarnRegHandle TarnObjRegister(TarnHandle cluster, uint32_t objKind, const char* objName, const char* attrName, uint32_t,
                              TarnObjCallback callback, void* context)
{
    std::string owner = Text(objName) + "." + Text(attrName);
    TarnApiCall call("TarnObjRegister", owner);
    if (!call.Start())
        return nullptr;
    if (!IsCluster(cluster) || objName == nullptr || attrName == nullptr || callback == nullptr) {
        call.Fail(TARN_E_INVALID_ARG, "bad cluster handle or null argument");
        return nullptr;
    }
    if (TarnApi().description.Find(objKind, objName) == nullptr) {
        call.Fail(TARN_E_NOT_FOUND, "no such object");
        return nullptr;
    }
    auto registration = std::make_unique<TarnRegistration>();
    registration->kind = objKind;
    registration->object = objName;
    registration->attr = attrName;
    registration->callback = callback;
    registration->context = context;
    auto* handle = reinterpret_cast<TarnRegHandle>(registration.get());
    Keep(handle, "registration " + owner, std::move(registration));
    return handle;
}

int32_t TarnObjUnRegister(TarnRegHandle registration, uint32_t)
{
    TarnApiCall call("TarnObjUnRegister", "-");
    if (!call.Start())
        return call.Result();
    if (TarnApi().Find<TarnRegistration>(registration) == nullptr)
        return call.Fail(TARN_E_INVALID_ARG, "not a registration handle");
    TarnApi().Release(registration, "TarnObjUnRegister");
    return 0;
}

int32_t TarnResGetType(TarnHandle cluster, const char* resource, char** typeName, uint32_t)
{
    TarnApiCall call("TarnResGetType", Text(resource));
    if (typeName != nullptr)
        *typeName = nullptr;
    if (!call.Start())
        return call.Result();
    if (!IsCluster(cluster) || resource == nullptr || typeName == nullptr)
        return call.Fail(TARN_E_INVALID_ARG, "bad cluster handle or null argument");
    if (call.AnswersEmpty())
        return 0;
    TarnDescObject* res = TarnApi().description.Find(TARN_OBJ_RESOURCE, resource);
    if (res == nullptr)
        return call.Fail(TARN_E_NOT_FOUND, "no such resource");
    auto copy = std::make_unique<TarnTextBlock>(res->AttrText("Type"));
    *typeName = copy->text.data();
    Keep(*typeName, std::string("text ") + resource + ".Type", std::move(copy));
    return 0;
}

int32_t TarnObjGetNames(TarnHandle cluster, uint32_t objKind, uint32_t, TarnNameList** names, const TarnCntlInfo* cntl)
{
    bool knownCntl = IsCntlOrNull(cntl);
    TarnApiCall call("TarnObjGetNames", knownCntl ? Joined(cntl) : std::string("-"));
    call.Arg("kind", std::to_string(objKind));
    call.Arg("cntl", knownCntl ? Named(cntl) : std::string("unknown"));
    if (names != nullptr)
        *names = nullptr;
    if (!call.Start())
        return call.Result();
    if (!IsCluster(cluster) || names == nullptr || !knownCntl)
        return call.Fail(TARN_E_INVALID_ARG, "bad cluster handle, null list or unknown control info");
    bool byType = cntl != nullptr && (cntl->kind == TARN_CNTL_TYPE || cntl->kind == TARN_CNTL_TYPE_IN_GROUP);
    if (cntl != nullptr && (!byType || objKind != TARN_OBJ_RESOURCE))
        return call.Fail(TARN_E_INVALID_ARG, "this control info selects no names of this kind");
    TarnDescription& desc = TarnApi().description;
    std::vector<std::string> found;
    if (objKind == TARN_OBJ_SYSTEM && !call.AnswersEmpty())
        found = desc.Systems();
    for (const TarnDescObject& object : call.AnswersEmpty() ? std::vector<TarnDescObject>() : desc.Objects(objKind)) {
        bool typeMatches = !byType || object.AttrText("Type") == cntl->values[0];
        bool groupMatches = !byType || cntl->kind != TARN_CNTL_TYPE_IN_GROUP
            || object.AttrText("Group") == cntl->values[1];
        if (typeMatches && groupMatches)
            found.push_back(object.name);
    }
    auto block = std::make_unique<TarnNamesBlock>(std::move(found));
    *names = &block->list;
    Keep(*names, "names " + Joined(cntl), std::move(block));
    return 0;
}

void TarnFreeObjNames(TarnNameList* names)
{
    std::lock_guard<std::mutex> guard(TarnApi().lock);
    TarnApi().Release(names, "TarnFreeObjNames");
}

int32_t TarnObjGetState(TarnHandle cluster, uint32_t objKind, const char* objName, uint32_t, TarnStateInfo** info,
                        const TarnCntlInfo* cntl)
{
    bool knownCntl = IsCntlOrNull(cntl);
    TarnApiCall call("TarnObjGetState", Text(objName));
    call.Arg("kind", std::to_string(objKind));
    call.Arg("cntl", knownCntl ? Named(cntl) : std::string("unknown"));
    if (info != nullptr)
        *info = nullptr;
    if (!call.Start())
        return call.Result();
    if (!IsCluster(cluster) || objName == nullptr || info == nullptr || !knownCntl)
        return call.Fail(TARN_E_INVALID_ARG, "bad cluster handle, null argument or unknown control info");
    if (cntl != nullptr && cntl->kind != TARN_CNTL_ON_SYSTEM)
        return call.Fail(TARN_E_INVALID_ARG, "a state query takes only a system control info");
    TarnDescription& desc = TarnApi().description;
    TarnDescObject* object = objKind == TARN_OBJ_GROUP || objKind == TARN_OBJ_RESOURCE ? desc.Find(objKind, objName)
                                                                                       : nullptr;
    if (object == nullptr)
        return call.Fail(TARN_E_NOT_FOUND, "no such group or resource");
    if (cntl != nullptr && !desc.HasSystem(cntl->values[0]))
        return call.Fail(TARN_E_NOT_FOUND, "no such system");
    // Systems in description order, those with a state given for the object only.
    std::vector<std::pair<std::string, uint32_t>> states;
    for (const std::string& system : desc.Systems())
        if ((cntl == nullptr || system == cntl->values[0]) && object->HasStateOn(system))
            states.emplace_back(system, object->StateOn(system));
    auto block = std::make_unique<TarnStateBlock>(objName, states, call.AnswersEmpty());
    *info = &block->info;
    Keep(*info, std::string("state ") + objName, std::move(block));
    return 0;
}

void TarnFreeStateInfo(TarnStateInfo* info)
{
    std::lock_guard<std::mutex> guard(TarnApi().lock);
    TarnApi().Release(info, "TarnFreeStateInfo");
}

int32_t TarnFillCntlInfo(uint32_t cntlKind, const char* const* values, uint32_t valueCount, TarnCntlInfo** cntl)
{
    TarnApiCall call("TarnFillCntlInfo", std::to_string(cntlKind));
    if (cntl != nullptr)
        *cntl = nullptr;
    if (!call.Start())
        return call.Result();
    uint32_t expected = cntlKind == TARN_CNTL_TYPE_IN_GROUP             ? 2
        : cntlKind == TARN_CNTL_TYPE || cntlKind == TARN_CNTL_ON_SYSTEM ? 1
        : cntlKind == TARN_CNTL_ONLINE                                  ? 0
                                                                        : UINT32_MAX;
    if (cntl == nullptr || expected == UINT32_MAX || valueCount != expected || (valueCount > 0 && values == nullptr))
        return call.Fail(TARN_E_INVALID_ARG, "unknown control kind or wrong number of values");
    auto block = std::make_unique<TarnCntlInfo>();
    block->kind = cntlKind;
    std::string listed;
    for (uint32_t i = 0; i < valueCount; ++i) {
        if (values[i] == nullptr)
            return call.Fail(TARN_E_INVALID_ARG, "null control value");
        block->values.push_back(values[i]);
        listed += (i == 0 ? "" : ",") + block->values.back();
    }
    block->id = ++TarnApi().cntlCount;
    call.Arg("values", listed);
    call.Arg("cntl", Named(block.get()));
    *cntl = block.get();
    Keep(*cntl, "cntl " + Named(*cntl), std::move(block));
    return 0;
}

void TarnFreeCntlInfo(TarnCntlInfo* cntl)
{
    std::lock_guard<std::mutex> guard(TarnApi().lock);
    TarnApi().Release(cntl, "TarnFreeCntlInfo");
}

int32_t TarnGrpOnline(TarnHandle cluster, const char* group, const char* system, uint32_t, const TarnCntlInfo* cntl)
{
    bool knownCntl = IsCntlOrNull(cntl);
    TarnApiCall call("TarnGrpOnline", Text(group) + "@" + Text(system));
    call.Arg("cntl", knownCntl ? Named(cntl) : std::string("unknown"));
    if (!call.Start())
        return call.Result();
    if (!IsCluster(cluster) || group == nullptr || system == nullptr || cntl == nullptr || !knownCntl
        || cntl->kind != TARN_CNTL_ONLINE)
        return call.Fail(TARN_E_INVALID_ARG, "bad cluster handle, null name or no online control info");
    TarnDescription& desc = TarnApi().description;
    if (desc.Find(TARN_OBJ_GROUP, group) == nullptr || !desc.HasSystem(system))
        return call.Fail(TARN_E_NOT_FOUND, "no such group or system");
    TarnJournal(std::string("online ") + group + " " + system + " " + Named(cntl));
    return 0;
}

// Its journal line is the "log" line itself.
int32_t TarnLogAddMsg(TarnHandle cluster, char severity, const char* text, uint32_t, uint32_t msgId, uint32_t)
{
    TarnApiCall call("TarnLogAddMsg", std::to_string(msgId));
    if (!call.Start())
        return call.Result();
    if (!IsCluster(cluster) || text == nullptr)
        return call.Fail(TARN_E_INVALID_ARG, "bad cluster handle or null text");
    call.JournalAs(std::string("log ") + severity + " " + std::to_string(msgId) + " " + OneLine(text));
    return 0;
}

} // extern "C"
