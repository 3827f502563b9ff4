#pragma once
// What the cluster API stand-in keeps between calls: the description, the objects it handed out,
// the error records per thread, and the journal every call writes to.

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TarnApi.h"
#include "TarnDescription.h"

struct TarnOwned {
    virtual ~TarnOwned() = default;
};

struct TarnCluster : TarnOwned {};

struct TarnRegistration : TarnOwned {
    uint32_t kind = 0;
    std::string object;
    std::string attr;
    TarnObjCallback callback = nullptr;
    void* context = nullptr;
};

struct TarnCntlInfo : TarnOwned {
    uint32_t id = 0; // journaled as #ID/KIND
    uint32_t kind = 0;
    std::vector<std::string> values;
};

// An attribute handed out: every part the TarnAttr pointers lead to lives here.
struct TarnAttrBlock : TarnOwned {
    TarnAttrBlock(const std::string& owner, const TarnDescAttr& attr);

    TarnAttr attr{};
    std::string owner; // "object.attribute"
    std::string name;
    std::vector<std::string> texts;
    std::vector<int32_t> ints;
    std::vector<TarnAttrScalar> scalars;
    std::vector<TarnAttrItem> items;
    std::vector<TarnAttrItem*> itemPointers;
};

struct TarnTextBlock : TarnOwned {
    explicit TarnTextBlock(std::string t) : text(std::move(t)) {}
    std::string text;
};

struct TarnNamesBlock : TarnOwned {
    explicit TarnNamesBlock(std::vector<std::string> n);
    TarnNameList list{};
    std::vector<std::string> names;
    std::vector<char*> pointers;
};

struct TarnStateBlock : TarnOwned {
    // No object entry at all when empty is set.
    TarnStateBlock(const std::string& object, const std::vector<std::pair<std::string, uint32_t>>& states, bool empty);
    TarnStateInfo info{};
    TarnObjState object{};
    std::string name;
    std::vector<std::string> systems;
    std::vector<TarnSysState> entries;
};

struct TarnErrorBlock : TarnOwned {
    TarnError record{};
    std::string function;
    std::string text;
};

class TarnApiRuntime {
public:
    std::mutex lock;
    TarnDescription description;
    bool initialised = false;
    uint32_t callCount = 0;
    uint32_t cntlCount = 0;

    // Keeps the object until released; the key is the address the caller holds. what = "KIND DETAIL"
    // with KIND one of cluster, registration, attribute, text, names, state, cntl, error.
    void HandOut(const void* key, const std::string& what, std::unique_ptr<TarnOwned> object);
    // Journals the release; an address never handed out (or released before) is journaled as unknown.
    bool Release(const void* key, const char* function);
    template <class T>
    T* Find(const void* key)
    {
        auto it = m_Live.find(key);
        return it == m_Live.end() ? nullptr : dynamic_cast<T*>(it->second.object.get());
    }
    std::vector<TarnRegistration*> Registrations();
    size_t LiveCount() const { return m_Live.size(); }

    void SetError(uint32_t number, uint32_t code, const char* function, const std::string& text);
    TarnError* LastError();
    void FreeError();

    // Journals what was never released, then forgets every object.
    void Finish();

private:
    struct Live {
        std::string what;
        std::unique_ptr<TarnOwned> object;
    };
    std::map<const void*, Live> m_Live;
    std::map<DWORD, TarnErrorBlock*> m_Errors;
};

TarnApiRuntime& TarnApi();

// Appends one line to the journal named by TARN_JOURNAL (nothing when unset).
void TarnJournal(const std::string& line);

// One exported call: holds the lock, journals "call FUNCTION OBJECT = RESULT" when it ends.
class TarnApiCall {
public:
    TarnApiCall(const char* function, std::string object);
    ~TarnApiCall();
    TarnApiCall(const TarnApiCall&) = delete;
    TarnApiCall& operator=(const TarnApiCall&) = delete;

    // False when the call must end now with Result(): the API is not initialised or a failure is
    // injected. An injected "empty" lets the call succeed with an empty answer (AnswersEmpty).
    bool Start(bool needsInit = true);
    int32_t Fail(uint32_t code, const std::string& why);
    int32_t Result() const { return m_Result; }
    bool AnswersEmpty() const { return m_Empty; }
    // Adds " key=value" to the call line.
    void Arg(const std::string& key, const std::string& value) { m_Args += " " + key + "=" + value; }
    // The object that injected failures are matched against, when known only after the lock is held.
    void SetObject(std::string object) { m_Object = std::move(object); }
    // On success, this line goes to the journal in place of the call line.
    void JournalAs(std::string line) { m_SuccessLine = std::move(line); }

private:
    std::lock_guard<std::mutex> m_Guard;
    const char* m_Function;
    std::string m_Object;
    std::string m_SuccessLine;
    std::string m_Args;
    uint32_t m_Number;
    int32_t m_Result = 0;
    bool m_Empty = false;
};
