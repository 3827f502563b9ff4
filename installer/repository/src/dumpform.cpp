#include "dumpform.h"

#include <cstdio>
#include <vector>

#include "kitoresult.h"
#include "owners.h"
#include "repositorykey.h"
#include "stringutils.h"

namespace {

const wchar_t kLineEnd[] = L"\r\n";

std::wstring valueText(const RepositoryKey* key, const wchar_t* name)
{
    std::wstring text;
    key->getStringValue(name, text);
    return text;
}

// "<", the tag and the values but the two reserved ones, each on its own line; then ">" and a line end.
void openElement(std::wstring& out, const RepositoryKey* key, const std::wstring& tag, int depth)
{
    out += repeatChar(depth, L'\t');
    out += L'<';
    out += tag;
    for (const auto& value : key->values()) {
        if (equalsNoCase(value.first, L"SubKeyCounter") || equalsNoCase(value.first, L"TAG")) {
            continue;
        }
        out += kLineEnd;
        out += repeatChar(depth + 1, L'\t');
        out += value.first;
        out += L'=';
        out += value.second;
    }
    if (key->values().size() > 2) {
        out += kLineEnd;
        out += repeatChar(depth, L'\t');
    }
    out += L'>';
    out += kLineEnd;
}

bool putSucceeded(int result)
{
    return result != EOF && result != static_cast<int>(WEOF);
}

struct OpenElement {
    const RepositoryKey* key;
    std::wstring tag;
    int depth;
    size_t nextChild;
};

} // namespace

std::wstring writeDumpKey(const RepositoryKey* key, int depth)
{
    std::wstring out;
    std::wstring tag = key ? valueText(key, L"TAG") : std::wstring();
    if (tag.empty()) {
        return out;
    }
    // An explicit stack, so that a deep tree cannot exhaust the caller's stack.
    openElement(out, key, tag, depth);
    std::vector<OpenElement> open{{key, tag, depth, 0}};
    while (!open.empty()) {
        OpenElement& current = open.back();
        const RepositoryKey::KeyList& children = current.key->subKeys();
        if (current.nextChild == children.size()) {
            out += repeatChar(current.depth, L'\t');
            out += L"</";
            out += current.tag;
            out += L'>';
            open.pop_back();
            if (!open.empty()) {
                out += kLineEnd;
            }
            continue;
        }
        const RepositoryKey* child = children[current.nextChild++];
        std::wstring content = valueText(child, L"VAL");
        std::wstring childTag = valueText(child, L"TAG");
        if (!content.empty() || childTag.empty()) {
            out += content;
            out += kLineEnd;
            continue;
        }
        int childDepth = current.depth + 1;
        openElement(out, child, childTag, childDepth);
        open.push_back({child, childTag, childDepth, 0});
    }
    return out;
}

std::wstring writeDumpKey(const RepositoryKey* key)
{
    return writeDumpKey(key, 0);
}

std::wstring pathInDirectory(const std::wstring& directory, const std::wstring& fileName)
{
    std::wstring path = directory.empty() ? getModuleDirectory() : directory;
    if (path.empty() || path.back() != L'\\') {
        path += L'\\';
    }
    return path + fileName;
}

uint32_t saveDumpToFile(const RepositoryKey* key, const std::wstring& fileName, const std::wstring& directory)
{
    std::wstring text = writeDumpKey(key);
    StreamOwner file(_wfopen(pathInDirectory(directory, fileName).c_str(), L"wb"));
    if (!file) {
        return E_KITO_FAILED;
    }
    bool written = fputwc(0xFEFF, file.get()) != WEOF && putSucceeded(fputws(text.c_str(), file.get()));
    written = fflush(file.get()) == 0 && written;
    written = file.close() && written;
    return written ? 0 : E_KITO_FAILED;
}
