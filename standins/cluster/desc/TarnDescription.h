#pragma once
// The cluster description both stand-ins read: systems, resource types, groups, resources, the
// state of each group and resource per system, and failures to inject. Format: README.md.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TarnDescAttr {
    std::string name;
    std::string value; // a scalar's text
    std::vector<std::string> items; // a list's items
    bool isList = false;
};

struct TarnDescArg {
    std::string name;
    bool isList = false;
};

struct TarnDescObject {
    std::string name;
    std::vector<TarnDescAttr> attrs;
    std::vector<std::pair<std::string, uint32_t>> states; // system, state
    std::vector<TarnDescArg> args; // resource types only

    const TarnDescAttr* FindAttr(const std::string& attr) const;
    TarnDescAttr& SetAttr(const std::string& attr, const std::string& value);
    bool HasStateOn(const std::string& system) const;
    uint32_t StateOn(const std::string& system) const; // 0 when no state was given
    std::string AttrText(const std::string& attr) const; // empty when absent
};

struct TarnDescFailure {
    std::string call;
    std::string object; // "*" matches every object; NAME also matches NAME@...
    uint32_t code = 0; // 0: the call succeeds with an empty answer
    bool null = false; // the call succeeds and hands back null (the framework's encoding calls)
    uint32_t times = 0; // 0: every matching call fails
};

class TarnDescription {
public:
    // Replaces the whole description; on failure *error says which line is wrong and nothing changes.
    bool Load(const std::string& path, std::string* error);
    bool Parse(const std::string& text, std::string* error);

    const std::vector<std::string>& Systems() const { return m_Systems; }
    bool HasSystem(const std::string& system) const;
    std::vector<TarnDescObject>& Objects(uint32_t kind); // 2 groups, 3 resources, 4 types; others empty
    TarnDescObject* Find(uint32_t kind, const std::string& name);

    // The resource's argument values in its type's argument order, a list as its count then its items.
    std::optional<std::vector<std::string>> ArgValues(const std::string& resource);

    // The failure to inject into this call, if any; a failure with a count is used up by it.
    std::optional<TarnDescFailure> TakeFailure(const std::string& call, const std::string& object);

private:
    std::vector<std::string> m_Systems;
    std::vector<TarnDescObject> m_Groups;
    std::vector<TarnDescObject> m_Resources;
    std::vector<TarnDescObject> m_Types;
    std::vector<TarnDescObject> m_None;
    std::vector<TarnDescFailure> m_Failures;
};

// Object kinds as the cluster API numbers them.
enum : uint32_t { TARN_DESC_GROUP = 2, TARN_DESC_RESOURCE = 3, TARN_DESC_TYPE = 4 };

// The value of an environment variable, empty when unset.
std::string TarnDescEnv(const char* name);
