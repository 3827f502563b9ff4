#pragma once

// Directory objects as a test describes them, handed out by the ADsOpenHook for registered paths: Wine's ADSI
// offers no names, GUIDs, multi-valued reads, writes, property lists, containers or deletes on a bound object.
// Every reference held on a fake is counted, so a test can show that none is left. A fake's search is the real
// one's, except that integer columns carry the server's values exactly, which Wine's do not.

#include <windows.h>

#include <ole2.h>

#include <activeds.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "HookJournal.h"

// A text (VT_BSTR), an integer (VT_I4) or a value of a type no reader takes (VT_BOOL).
using ADsFakeValue = std::variant<std::wstring, long, bool>;

struct ADsFakeProperty {
    long adsType = ADSTYPE_CASE_IGNORE_STRING;
    std::vector<ADsFakeValue> values;
};

// A search column the fake's search reports with another type: the row whose first value is the text.
struct ADsFakeRetype {
    std::wstring column;
    std::wstring value;
    ADSTYPE type;
};

struct ADsFakeObject {
    HRESULT bindResult = S_OK; // a failure: binding the path fails with it
    std::wstring name; // get_Name, as "CN=..."
    std::wstring objectClass;
    std::wstring guid;
    std::wstring parent;
    bool container = false; // offers IADsContainer and IADsDeleteOps
    std::map<std::wstring, ADsFakeProperty> properties;
    std::vector<ADsFakeRetype> retyped;
};

// What the fakes share: their descriptions, the references held on them and the changes asked of them
// ("PutEx 2 description=a;b", "SetInfo", "DeleteObject 0", "Delete user CN=x").
class ADsFakeWorld : public std::enable_shared_from_this<ADsFakeWorld> {
public:
    void Describe(const std::wstring& path, ADsFakeObject object);
    // Null when the path is not registered.
    std::shared_ptr<ADsFakeObject> Find(const std::wstring& path) const;
    // A new fake of the description, searching through the real object when one was given; S_OK or E_NOINTERFACE.
    HRESULT Create(std::shared_ptr<ADsFakeObject> object, IDirectorySearch* real, REFIID iid, void** result);

    long Outstanding() const { return m_outstanding; }
    std::vector<std::wstring> Calls() const { return m_calls.Lines(); }

    std::atomic<long> m_outstanding{0};
    HookJournal m_calls;

private:
    mutable std::mutex m_lock;
    std::vector<std::pair<std::wstring, std::shared_ptr<ADsFakeObject>>> m_objects;
};
