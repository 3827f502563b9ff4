#include "TarnDescription.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::string> Words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

bool ParseNumber(const std::string& text, uint32_t* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    unsigned long number = strtoul(text.c_str(), &end, 0);
    if (*end != '\0')
        return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

// "NAME = VALUE" or "NAME += ITEM": the value is the rest of the line after one space, kept as it
// stands (trailing blanks included).
bool SplitAssignment(const std::string& body, std::string* name, std::string* value, bool* append)
{
    size_t eq = body.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    *append = body[eq - 1] == '+';
    std::string left = body.substr(0, *append ? eq - 1 : eq);
    std::vector<std::string> nameWords = Words(left);
    if (nameWords.size() != 1)
        return false;
    *name = nameWords[0];
    *value = body.substr(eq + 1);
    if (!value->empty() && (*value)[0] == ' ')
        value->erase(0, 1);
    return true;
}

} // namespace

const TarnDescAttr* TarnDescObject::FindAttr(const std::string& attr) const
{
    for (const TarnDescAttr& a : attrs)
        if (a.name == attr)
            return &a;
    return nullptr;
}

TarnDescAttr& TarnDescObject::SetAttr(const std::string& attr, const std::string& value)
{
    TarnDescAttr* found = const_cast<TarnDescAttr*>(FindAttr(attr));
    if (found == nullptr) {
        attrs.push_back({attr, "", {}, false});
        found = &attrs.back();
    }
    found->value = value;
    return *found;
}

bool TarnDescObject::HasStateOn(const std::string& system) const
{
    for (const auto& entry : states)
        if (entry.first == system)
            return true;
    return false;
}

uint32_t TarnDescObject::StateOn(const std::string& system) const
{
    for (const auto& [name, state] : states)
        if (name == system)
            return state;
    return 0;
}

std::string TarnDescObject::AttrText(const std::string& attr) const
{
    const TarnDescAttr* a = FindAttr(attr);
    return a == nullptr ? std::string() : a->value;
}

namespace {

// The file's text with every "include PATH" line (relative to the including file) replaced by the
// text of that file.
bool ReadExpanded(const std::string& path, int depth, std::string* text, std::string* error)
{
    if (depth > 8) {
        *error = "includes nest too deep at " + path;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the cluster description " + path;
        return false;
    }
    size_t slash = path.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> words = Words(line);
        if (words.size() == 2 && words[0] == "include" && line[0] == 'i') {
            bool absolute = words[1].size() > 1 && (words[1][1] == ':' || words[1][0] == '\\' || words[1][0] == '/');
            if (!ReadExpanded(absolute ? words[1] : folder + words[1], depth + 1, text, error))
                return false;
            continue;
        }
        *text += line + "\n";
    }
    return true;
}

} // namespace

bool TarnDescription::Load(const std::string& path, std::string* error)
{
    std::string text;
    return ReadExpanded(path, 0, &text, error) && Parse(text, error);
}

bool TarnDescription::Parse(const std::string& text, std::string* error)
{
    TarnDescription parsed;
    TarnDescObject* current = nullptr;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        auto fail = [&](const char* why) {
            *error = "line " + std::to_string(number) + ": " + why + ": " + line;
            return false;
        };
        std::vector<std::string> words = Words(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        bool indented = line[0] == ' ' || line[0] == '\t';
        if (!indented) {
            current = nullptr;
            if (words[0] == "fail") {
                TarnDescFailure f;
                if (words.size() < 4 || words.size() > 5)
                    return fail("expected: fail CALL OBJECT CODE [TIMES]");
                f.call = words[1];
                f.object = words[2];
                f.null = words[3] == "null";
                if (words[3] != "empty" && !f.null && (!ParseNumber(words[3], &f.code) || f.code == 0))
                    return fail("the code must be a non-zero number, empty or null");
                if (words.size() == 5 && (!ParseNumber(words[4], &f.times) || f.times == 0))
                    return fail("the count must be a positive number");
                parsed.m_Failures.push_back(f);
                continue;
            }
            if (words.size() != 2)
                return fail("expected: KEYWORD NAME");
            if (words[0] == "system") {
                parsed.m_Systems.push_back(words[1]);
                continue;
            }
            std::vector<TarnDescObject>* list = words[0] == "type" ? &parsed.m_Types
                : words[0] == "group"                              ? &parsed.m_Groups
                : words[0] == "resource"                           ? &parsed.m_Resources
                                                                   : nullptr;
            if (list == nullptr)
                return fail("unknown keyword");
            list->push_back({words[1], {}, {}, {}});
            current = &list->back();
            continue;
        }
        if (current == nullptr)
            return fail("indented line outside a type, group or resource");
        if (words[0] == "state") {
            uint32_t state = 0;
            if (words.size() != 3 || !ParseNumber(words[2], &state))
                return fail("expected: state SYSTEM NUMBER");
            current->states.emplace_back(words[1], state);
            continue;
        }
        if (words[0] == "arg" && line.find('=') == std::string::npos) {
            bool isList = words.size() == 3 && words[2] == "list";
            if (words.size() != 2 && !isList)
                return fail("expected: arg NAME [list]");
            current->args.push_back({words[1], isList});
            continue;
        }
        std::string name, value;
        bool append = false;
        if (!SplitAssignment(line, &name, &value, &append))
            return fail("expected: NAME = VALUE or NAME += ITEM");
        TarnDescAttr& attr = current->SetAttr(name, append ? current->AttrText(name) : value);
        if (append) {
            attr.isList = true;
            attr.items.push_back(value);
        }
    }
    *this = std::move(parsed);
    return true;
}

bool TarnDescription::HasSystem(const std::string& system) const
{
    for (const std::string& s : m_Systems)
        if (s == system)
            return true;
    return false;
}

std::vector<TarnDescObject>& TarnDescription::Objects(uint32_t kind)
{
    switch (kind) {
    case TARN_DESC_GROUP:
        return m_Groups;
    case TARN_DESC_RESOURCE:
        return m_Resources;
    case TARN_DESC_TYPE:
        return m_Types;
    default:
        m_None.clear();
        return m_None;
    }
}

TarnDescObject* TarnDescription::Find(uint32_t kind, const std::string& name)
{
    for (TarnDescObject& object : Objects(kind))
        if (object.name == name)
            return &object;
    return nullptr;
}

std::optional<std::vector<std::string>> TarnDescription::ArgValues(const std::string& resource)
{
    TarnDescObject* res = Find(TARN_DESC_RESOURCE, resource);
    if (res == nullptr)
        return std::nullopt;
    TarnDescObject* type = Find(TARN_DESC_TYPE, res->AttrText("Type"));
    if (type == nullptr)
        return std::nullopt;
    std::vector<std::string> values;
    for (const TarnDescArg& arg : type->args) {
        const TarnDescAttr* attr = res->FindAttr(arg.name);
        if (!arg.isList) {
            values.push_back(attr == nullptr ? std::string() : attr->value);
            continue;
        }
        size_t count = attr == nullptr ? 0 : attr->items.size();
        values.push_back(std::to_string(count));
        for (size_t i = 0; i < count; ++i)
            values.push_back(attr->items[i]);
    }
    return values;
}

std::optional<TarnDescFailure> TarnDescription::TakeFailure(const std::string& call, const std::string& object)
{
    for (auto it = m_Failures.begin(); it != m_Failures.end(); ++it) {
        // A failure for GROUP also matches the object GROUP@SYSTEM.
        bool matches = it->object == "*" || it->object == object || object.rfind(it->object + "@", 0) == 0;
        if (it->call != call || !matches)
            continue;
        TarnDescFailure failure = *it;
        if (it->times == 1)
            m_Failures.erase(it);
        else if (it->times > 1)
            --it->times;
        return failure;
    }
    return std::nullopt;
}

std::string TarnDescEnv(const char* name)
{
    char buffer[1024];
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer))
        return std::string();
    return std::string(buffer, length);
}
