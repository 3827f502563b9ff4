// Test exports of the cluster API stand-in: attribute changes seen through the change callbacks.

#include "ApiRuntime.h"
#include "TarnApiTest.h"

namespace {

struct Firing {
    std::vector<TarnRegistration> registrations;
    uint32_t kind = 0;
    TarnAttr* attr = nullptr;
};

DWORD WINAPI FireCallbacks(void* param)
{
    auto* firing = static_cast<Firing*>(param);
    for (const TarnRegistration& r : firing->registrations)
        r.callback(TARN_EVENT_ATTR_CHANGED, static_cast<int32_t>(firing->kind), r.context, firing->attr);
    return 0;
}

} // namespace

extern "C" {

int32_t TarnApiTestChangeAttr(uint32_t objKind, const char* objName, const char* attrName, const char* value)
{
    if (objName == nullptr || attrName == nullptr)
        return -1;
    Firing firing;
    firing.kind = objKind;
    std::unique_ptr<TarnAttrBlock> block;
    {
        std::lock_guard<std::mutex> guard(TarnApi().lock);
        TarnDescObject* object = TarnApi().description.Find(objKind, objName);
        if (object == nullptr)
            return -1;
        std::string owner = std::string(objName) + "." + attrName;
        if (value != nullptr) {
            block = std::make_unique<TarnAttrBlock>(owner, object->SetAttr(attrName, value));
            firing.attr = &block->attr;
        }
        for (TarnRegistration* r : TarnApi().Registrations())
            if (r->kind == objKind && r->object == objName && r->attr == attrName)
                firing.registrations.push_back(*r);
        TarnJournal("change " + owner + " = " + (value == nullptr ? "(null attribute)" : value) + ", "
                    + std::to_string(firing.registrations.size()) + " callbacks");
    }
    // Called without the lock held, so a callback may call the cluster API.
    HANDLE thread = CreateThread(nullptr, 0, FireCallbacks, &firing, 0, nullptr);
    if (thread == nullptr)
        return -1;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return static_cast<int32_t>(firing.registrations.size());
}

uint32_t TarnApiTestUnreleased(void)
{
    std::lock_guard<std::mutex> guard(TarnApi().lock);
    return static_cast<uint32_t>(TarnApi().LiveCount());
}

} // extern "C"
