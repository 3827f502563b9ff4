#pragma once
// Exports of the cluster API stand-in for tests and demonstrations only.

#include "TarnApi.h"

#ifdef __cplusplus
extern "C" {
#endif

// Sets the attribute of a described object, then calls every callback registered for it on a
// thread of the cluster API and waits for them. A null value calls them with a null attribute and
// changes nothing. Returns how many callbacks were called, or -1 when there is no such object.
int32_t TarnApiTestChangeAttr(uint32_t objKind, const char* objName, const char* attrName, const char* value);

// How many handed-out objects (handles, attributes, texts, lists, error records) are not released.
uint32_t TarnApiTestUnreleased(void);

#ifdef __cplusplus
}
#endif
