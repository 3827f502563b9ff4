#pragma once
// Client interface of the cluster API (tarnapi_mt.dll): the calls the agent and the trigger make.
// Strings are 8-bit. Integer results are 0 on success, else an error code; the error record of
// the failed call is then fetched with TarnApiGetLastError and released with TarnFreeError.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TarnCluster* TarnHandle;
typedef struct TarnRegistration* TarnRegHandle;
typedef struct TarnCntlInfo TarnCntlInfo;

// Object kinds.
enum {
    TARN_OBJ_SYSTEM = 1,
    TARN_OBJ_GROUP = 2,
    TARN_OBJ_RESOURCE = 3,
    TARN_OBJ_TYPE = 4,
};

// Control kinds: what a control info selects.
enum {
    TARN_CNTL_TYPE_IN_GROUP = 16, // values: type name, group name
    TARN_CNTL_ON_SYSTEM = 17, // value: system name (state query limited to it)
    TARN_CNTL_TYPE = 18, // value: type name
    TARN_CNTL_ONLINE = 48, // no values
};

// States on one system.
enum {
    TARN_STATE_UNKNOWN = 0,
    TARN_STATE_GROUP_OFFLINE = 1,
    TARN_STATE_RESOURCE_ONLINE = 2,
};

// Event passed to a change callback.
enum { TARN_EVENT_ATTR_CHANGED = 7 };

// Error codes of the cluster API's own failures (injected failures carry the code they were given).
enum {
    TARN_E_INVALID_ARG = 0x2001,
    TARN_E_NOT_FOUND = 0x2002,
    TARN_E_NOT_INITIALIZED = 0x2003,
    TARN_E_DESCRIPTION = 0x2004,
};

// An attribute value: an integer attribute's number, and every attribute's text.
typedef struct TarnAttrScalar {
    int32_t* intValue;
    char* strValue;
} TarnAttrScalar;

typedef struct TarnAttrItem {
    uint32_t itemType;
    uint32_t reserved;
    TarnAttrScalar* scalar; // byte 8
} TarnAttrItem;

// What TarnObjGetAttribute hands out and a change callback receives. The integer value lies at
// **(int32_t**)(*(TarnAttrItem**)attr->items)->scalar, that is items[0]->scalar->intValue[0].
typedef struct TarnAttr {
    char* name;
    uint32_t itemCount;
    uint32_t reserved;
    TarnAttrItem** items; // byte 16
} TarnAttr;

typedef struct TarnError {
    uint32_t size;
    uint32_t number; // byte 4: journal sequence number of the failed call
    uint32_t code; // byte 8: the error code
    uint32_t reserved;
    const char* function;
    const char* text;
} TarnError;

typedef struct TarnNameList {
    char** names;
    uint32_t count;
} TarnNameList;

typedef struct TarnSysState {
    char* system;
    uint32_t state;
} TarnSysState;

typedef struct TarnObjState {
    char* name;
    TarnSysState* systems;
    uint32_t count;
} TarnObjState;

typedef struct TarnStateInfo {
    TarnObjState* objects;
    uint32_t count;
} TarnStateInfo;

// Called on a thread of the cluster API; returns 0.
typedef int32_t (*TarnObjCallback)(int32_t event, int32_t objKind, void* context, TarnAttr* attr);

int32_t TarnApiInit(uint32_t version, uint32_t flags);
int32_t TarnApiExit(uint32_t flags);
TarnError* TarnApiGetLastError(void);
void TarnFreeError(void);

TarnHandle TarnClusterOpenLocal(uint32_t cluster, uint32_t flags);
int32_t TarnClusterClose(TarnHandle cluster, uint32_t flags);

// objName is a resource, group or type name after objKind; system is unused (null).
int32_t TarnObjGetAttribute(TarnHandle cluster, uint32_t objKind, const char* objName, const char* attrName,
                            const char* system, TarnAttr** attr, uint32_t flags);
void TarnFreeAttr(TarnAttr** attr);
int32_t TarnAttrGetStr(const TarnAttr* attr, uint32_t index, uint32_t flags, char** text, uint32_t reserved);
void TarnFreeStr(char** text);

// The returned registration calls callback (with context) whenever the attribute changes.
TarnRegHandle TarnObjRegister(TarnHandle cluster, uint32_t objKind, const char* objName, const char* attrName,
                              uint32_t event, TarnObjCallback callback, void* context);
int32_t TarnObjUnRegister(TarnRegHandle registration, uint32_t flags);

int32_t TarnResGetType(TarnHandle cluster, const char* resource, char** typeName, uint32_t flags);

// Names of every object of the kind, or of those the control info selects, in description order.
int32_t TarnObjGetNames(TarnHandle cluster, uint32_t objKind, uint32_t flags, TarnNameList** names,
                        const TarnCntlInfo* cntl);
void TarnFreeObjNames(TarnNameList* names);

// The object's state on every system in description order (on one system with TARN_CNTL_ON_SYSTEM).
int32_t TarnObjGetState(TarnHandle cluster, uint32_t objKind, const char* objName, uint32_t flags, TarnStateInfo** info,
                        const TarnCntlInfo* cntl);
void TarnFreeStateInfo(TarnStateInfo* info);

int32_t TarnFillCntlInfo(uint32_t cntlKind, const char* const* values, uint32_t valueCount, TarnCntlInfo** cntl);
void TarnFreeCntlInfo(TarnCntlInfo* cntl);

int32_t TarnGrpOnline(TarnHandle cluster, const char* group, const char* system, uint32_t flags,
                      const TarnCntlInfo* cntl);

// severity: one of 'I', 'N', 'W', 'E', 'C'.
int32_t TarnLogAddMsg(TarnHandle cluster, char severity, const char* text, uint32_t flags, uint32_t msgId,
                      uint32_t reserved);

#ifdef __cplusplus
}
#endif
