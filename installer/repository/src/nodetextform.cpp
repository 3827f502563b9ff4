#include "nodetextform.h"

#include <windows.h>
#include <rpc.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <new>
#include <share.h>
#include <utility>
#include <vector>

#include "dumpform.h"
#include "kitoresult.h"
#include "logger.h"
#include "owners.h"
#include "repositorykey.h"

namespace {

constexpr size_t None = std::wstring::npos;
constexpr wchar_t Tab = L'\t';
constexpr const wchar_t* LineEnd = L"\r\n";

void openElement(std::wstring& out, const RepositoryKey& key, size_t depth)
{
    out.append(depth, Tab);
    out += L"<_";
    out += key.name();
    out += L'_';
    for (const auto& value : key.values()) {
        // Each stored pair as it is, so that names differing only in case keep their own texts.
        out += LineEnd;
        out.append(depth + 1, Tab);
        out += L'_';
        out += value.first;
        out += L"_=\"";
        out += value.second;
        out += L'"';
    }
    if (!key.values().empty()) {
        out += LineEnd;
        out.append(depth, Tab);
    }
    out += L'>';
    out += LineEnd;
}

void closeElement(std::wstring& out, const RepositoryKey& key, size_t depth)
{
    out.append(depth, Tab);
    out += L"</_";
    out += key.name();
    out += L"_>";
}

bool writeTreeText(std::wstring& out, const RepositoryKey& root, size_t depth)
{
    struct Level {
        const RepositoryKey* key;
        size_t next;
    };
    try {
        std::vector<Level> open{{&root, 0}};
        openElement(out, root, depth);
        while (!open.empty()) {
            Level& level = open.back();
            size_t levelDepth = depth + open.size() - 1;
            if (level.next < level.key->subKeys().size()) {
                const RepositoryKey* child = level.key->subKeys()[level.next++];
                openElement(out, *child, levelDepth + 1);
                open.push_back({child, 0});
                continue;
            }
            closeElement(out, *level.key, levelDepth);
            open.pop_back();
            if (!open.empty())
                out += LineEnd;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool isSpace(wchar_t c)
{
    return std::iswspace(c) != 0;
}

size_t skipSpace(const std::wstring& text, size_t p)
{
    while (p < text.size() && isSpace(text[p]))
        ++p;
    return p;
}

// The next delimiter at or after start that ends a name or value: one that is followed, after
// optional whitespace, by the end of the text or by a character that ends(c, spaceSkipped) accepts.
// Delimiters elsewhere belong to the name or value.
size_t findEnd(const std::wstring& text, size_t start, wchar_t delimiter, bool (*ends)(wchar_t, bool))
{
    for (size_t from = start;;) {
        size_t r = text.find(delimiter, from);
        if (r == None || r + 1 == text.size())
            return r;
        size_t next = skipSpace(text, r + 1);
        if (next == text.size() || ends(text[next], next > r + 1))
            return r;
        from = r + 1;
    }
}

bool endsElementOrValue(wchar_t c, bool spaceSkipped)
{
    return c == L'>' || (c == L'_' && spaceSkipped);
}

bool endsAttributeName(wchar_t c, bool)
{
    return c == L'=';
}

// findEnd over one text, remembering its last search. Whether a delimiter ends a name depends only on
// the text after it, so a search from s that found r (or nothing) answers every start from s up to r
// (or to the end) as well. Without this, a search that fails is repeated from each later element and
// damaged text takes time quadratic in its size.
class EndFinder {
public:
    EndFinder(const std::wstring& text, wchar_t delimiter, bool (*ends)(wchar_t, bool))
        : text(text), delimiter(delimiter), ends(ends)
    {
    }

    size_t operator()(size_t start)
    {
        if (start < searchedFrom || (found != None && start > found)) {
            searchedFrom = start;
            found = findEnd(text, start, delimiter, ends);
        }
        return found;
    }

private:
    const std::wstring& text;
    wchar_t delimiter;
    bool (*ends)(wchar_t, bool);
    size_t searchedFrom = None;
    size_t found = None;
};

// The three finders of one parse.
struct EndFinders {
    explicit EndFinders(const std::wstring& text)
        : elementName(text, L'_', endsElementOrValue), attributeName(text, L'_', endsAttributeName),
          attributeValue(text, L'"', endsElementOrValue)
    {
    }
    EndFinder elementName;
    EndFinder attributeName;
    EndFinder attributeValue;
};

// p at the underscore that opens the first attribute; leaves p at the first non-space after the last
// value, or wherever the attributes stopped being well formed.
void parseAttributes(const std::wstring& text, EndFinders& finders, size_t& p, RepositoryKey& key)
{
    const size_t len = text.size();
    for (;;) {
        if (++p >= len)
            return;
        size_t e = finders.attributeName(p);
        if (e == None)
            return;
        std::wstring name = text.substr(p, e - p);
        // Stored under its exact name: a dump and a reload must never fold two values into one.
        key.addValue(name);
        p = e + 1;
        if (p >= len)
            return;
        p = skipSpace(text, p);
        if (p >= len || text[p] != L'=' || ++p >= len)
            return;
        p = skipSpace(text, p);
        if (p >= len || text[p] != L'"' || ++p >= len)
            return;
        e = finders.attributeValue(p);
        if (e == None)
            return;
        key.setValueExactly(name, text.substr(p, e - p));
        p = skipSpace(text, e + 1);
        if (p >= len || text[p] != L'_')
            return;
    }
}

// p just after "</": moves past the closing tag's ">", or to the end of the text.
void skipClosingTag(const std::wstring& text, size_t& p)
{
    if (++p < text.size()) {
        size_t close = text.find(L'>', p);
        p = close == None ? text.size() : close + 1;
    }
}

KeyTree newKey(const std::wstring& name)
{
    KeyTree key(RepositoryKey::create(name));
    if (!key)
        throw std::bad_alloc();
    return key;
}

// One element's start tag. A null result has consumed the whole text. hasChildren is set when the
// element's children follow, with p just before the first of them.
KeyTree parseStartTag(const std::wstring& text, EndFinders& finders, size_t& p, bool& hasChildren)
{
    const size_t len = text.size();
    hasChildren = false;
    p = text.find(L'<', p);
    if (p != None)
        p = text.find(L'_', p);
    if (p == None || ++p >= len) {
        p = len;
        return nullptr;
    }
    size_t e = finders.elementName(p);
    if (e == None) {
        p = len;
        return nullptr;
    }
    KeyTree key = newKey(text.substr(p, e - p));
    p = e + 1;
    if (p == len)
        return key;
    p = text.find_first_of(L"_>", p);
    if (p == None) {
        p = len;
        return key;
    }
    if (text[p] != L'>')
        parseAttributes(text, finders, p, *key);
    if (p >= len || text[p] != L'>')
        return key;
    p = skipSpace(text, p + 1);
    if (p == len)
        return key;
    if (text[p] == L'<' && ++p == len)
        return key;
    if (text[p] == L'/') {
        skipClosingTag(text, p);
        return key;
    }
    --p;
    hasChildren = true;
    return key;
}

enum class AfterChild { NextChild, Closed, End };

// What follows a finished child of an open element.
AfterChild afterChild(const std::wstring& text, size_t& p)
{
    const size_t len = text.size();
    p = skipSpace(text, p);
    if (p == len)
        return AfterChild::End;
    if (text[p] == L'<' && ++p == len)
        return AfterChild::End;
    if (text[p] == L'/') {
        skipClosingTag(text, p);
        return AfterChild::Closed;
    }
    --p;
    return AfterChild::NextChild;
}

} // namespace

std::wstring writeKey(const RepositoryKey* key, int depth)
{
    std::wstring out;
    if (key && !writeTreeText(out, *key, depth > 0 ? static_cast<size_t>(depth) : 0))
        out.clear();
    return out;
}

std::wstring writeKey(const RepositoryKey* key)
{
    return writeKey(key, 0);
}

RepositoryKey* parseKey(const std::wstring& text, size_t& position)
{
    try {
        bool hasChildren = false;
        EndFinders finders(text);
        KeyTree root = parseStartTag(text, finders, position, hasChildren);
        if (!root || !hasChildren)
            return root.release();
        // The open elements, innermost last: an explicit stack instead of recursion.
        std::vector<RepositoryKey*> open{root.get()};
        while (!open.empty()) {
            if (open.size() >= MaxNodeTextDepth) {
                position = text.size();
                break;
            }
            KeyTree child = parseStartTag(text, finders, position, hasChildren);
            if (!child)
                break;
            // Added while still childless: a namesake sibling takes its values now and its children
            // as they are read, which is what merging the finished child would give.
            RepositoryKey* holder = open.back()->addSubKey(std::move(child));
            if (!holder)
                throw std::bad_alloc();
            if (hasChildren) {
                open.push_back(holder);
                continue;
            }
            for (;;) {
                AfterChild next = afterChild(text, position);
                if (next == AfterChild::End)
                    open.clear();
                else if (next == AfterChild::Closed)
                    open.pop_back();
                if (next != AfterChild::Closed || open.empty())
                    break;
            }
        }
        return root.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

RepositoryKey* parseText(const std::wstring& text)
{
    size_t position = 0;
    return parseKey(text, position);
}

namespace {

// A text that can be part of one file name: no folder separator, drive or stream colon, wildcard,
// quote, pipe or control character.
bool isOneFileName(const std::wstring& name)
{
    return std::all_of(name.begin(), name.end(),
                       [](wchar_t c) { return c >= L' ' && !std::wcschr(L"\\/:*?\"<>|", c); });
}

bool readWholeFile(FILE* file, std::wstring& text)
{
    wchar_t chunk[8192];
    size_t count;
    try {
        while ((count = std::fread(chunk, sizeof(wchar_t), sizeof chunk / sizeof chunk[0], file)) > 0)
            text.append(chunk, count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return !std::ferror(file);
}

} // namespace

uint32_t saveKeyToFile(const RepositoryKey* key, const std::wstring& fileName, const std::wstring& directory)
{
    ScopeTracer tracer(L"saveKeyToFile", &g_logger);
    if (!key)
        return E_KITO_INVALIDARG;
    try {
        std::wstring text;
        if (!writeTreeText(text, *key, 0))
            return E_KITO_FAILED;
        std::wstring path = pathInDirectory(directory, fileName);
        StreamOwner file(_wfsopen(path.c_str(), L"wb", _SH_DENYNO));
        if (!file) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"cannot open %s for writing", path.c_str());
            return E_KITO_FAILED;
        }
        bool whole = std::fwrite(text.data(), sizeof(wchar_t), text.size(), file.get()) == text.size();
        whole = std::fflush(file.get()) == 0 && whole;
        whole = file.close() && whole;
        if (!whole) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"cannot write %s whole", path.c_str());
            return E_KITO_FAILED;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return E_KITO_FAILED;
    }
}

RepositoryKey* loadKeyFromFile(const std::wstring& fileName, const std::wstring& directory)
{
    ScopeTracer tracer(L"loadKeyFromFile", &g_logger);
    try {
        std::wstring path = pathInDirectory(directory, fileName);
        StreamOwner file(_wfsopen(path.c_str(), L"rb", _SH_DENYNO));
        if (!file) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"cannot open %s", path.c_str());
            return nullptr;
        }
        std::wstring text;
        bool read = readWholeFile(file.get(), text);
        // Closed before the parse, which may take a while on a large file.
        file.reset();
        if (!read) {
            // A tree read from part of a file would be taken for the whole repository.
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"cannot read %s whole", path.c_str());
            return nullptr;
        }
        return parseText(text);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

uint32_t saveKeyToUniqueFile(Logger& logger, const RepositoryKey* key, std::wstring& outPath,
                             const std::wstring& directory)
{
    // The key's name becomes part of a file name: it may neither leave the folder nor name a stream.
    if (!key || !isOneFileName(key->name())) {
        return E_KITO_INVALIDARG;
    }
    UUID uuid;
    RPC_STATUS status = UuidCreate(&uuid);
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) {
        return E_KITO_FAILED;
    }
    RpcStringOwner uuidText;
    if (UuidToStringW(&uuid, uuidText.put()) != RPC_S_OK) {
        return E_KITO_FAILED;
    }
    std::wstring fileName = key->getName() + L"." + reinterpret_cast<wchar_t*>(uuidText.get()) + L".txt";
    outPath = pathInDirectory(directory, fileName);
    logger.logPlain(outPath.c_str(), L"%s", writeKey(key).c_str());
    logger.logDebug(LOG_DBG_1, L"", KITO_SOURCE_FILE, __LINE__, LOG_NO_COMPONENT, 0, L"%s key saved in file %s",
                    key->getName().c_str(), outPath.c_str());
    return 0;
}
