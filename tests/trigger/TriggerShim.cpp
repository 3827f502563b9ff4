// tarnapi_mt.dll for the trigger's failure tests: every call goes on to the cluster API stand-in, renamed
// tarnapi_orig.dll beside it (the forwarders of TriggerShim.def); two calls also do what no described
// cluster can, as the environment variable TRIGGER_SHIM asks:
//   "names-nomemory"         the trigger's first allocation after the first name list fails;
//   "attr-handed:RES.ATTR"   that attribute read fails, and hands the attribute out all the same.

#include <windows.h>

#include <cstdlib>
#include <string>

#include "ImportHook.h"
#include "TarnApi.h"

namespace {

template <typename Function>
Function Original(Function, const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"tarnapi_orig.dll"), name)));
}

std::string Mode()
{
    char mode[256] = {};
    GetEnvironmentVariableA("TRIGGER_SHIM", mode, sizeof mode - 1);
    return mode;
}

// The next allocation fails; the C runtime's own ones after it (those of the exception) succeed again.
void* __cdecl FailOnce(size_t size)
{
    static bool failed = false;
    if (failed)
        return std::malloc(size);
    failed = true;
    return nullptr;
}

} // namespace

extern "C" int32_t TarnObjGetNames(TarnHandle cluster, uint32_t objKind, uint32_t flags, TarnNameList** names,
                                   const TarnCntlInfo* cntl)
{
    int32_t result = Original(&TarnObjGetNames, "TarnObjGetNames")(cluster, objKind, flags, names, cntl);
    if (Mode() == "names-nomemory") {
        // Kept until the trigger ends.
        static const ImportHook failing(GetModuleHandleW(nullptr), "malloc", reinterpret_cast<void*>(FailOnce));
    }
    return result;
}

extern "C" int32_t TarnObjGetAttribute(TarnHandle cluster, uint32_t objKind, const char* objName, const char* attrName,
                                       const char* system, TarnAttr** attr, uint32_t flags)
{
    auto original = Original(&TarnObjGetAttribute, "TarnObjGetAttribute");
    int32_t result = original(cluster, objKind, objName, attrName, system, attr, flags);
    if (result != 0 || Mode() != "attr-handed:" + std::string(objName) + "." + attrName)
        return result;
    // A read of an attribute that does not exist fails and leaves its error record, as the failure the
    // trigger is told of.
    TarnAttr* none = nullptr;
    return original(cluster, objKind, objName, "NoSuchAttribute", system, &none, flags);
}
