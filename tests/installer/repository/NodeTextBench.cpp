// Times loading a large node text file and writing it back, against a bare read of the same file
// and one scan of it for '<'. Prints one line per size.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "BenchCompare.h"
#include "nodetextform.h"
#include "repositorykey.h"

namespace {

// keys in all, one of them holding bigChildren children, the rest in groups of a hundred.
RepositoryKey* buildTree(int keys, int bigChildren)
{
    RepositoryKey* root = RepositoryKey::create(L"Kito");
    root->setStringValue(L"Version", L"4.3");
    RepositoryKey* big = root->createSubKey(L"Components");
    for (int i = 0; i < bigChildren; ++i) {
        RepositoryKey* child = RepositoryKey::create(L"C" + std::to_wstring(i));
        child->setIntValue(L"Seq", i);
        big->addSubKey(child);
    }
    int made = 2 + bigChildren;
    RepositoryKey* group = nullptr;
    for (int i = 0; made < keys; ++i, ++made) {
        if (i % 100 == 0) {
            group = root->createSubKey(L"G" + std::to_wstring(i / 100));
            ++made;
        }
        group->addSubKey(RepositoryKey::create(L"E" + std::to_wstring(i)));
    }
    return root;
}

std::wstring readText(const std::wstring& path)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    std::fseek(file, 0, SEEK_END);
    long bytes = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    std::wstring text(static_cast<size_t>(bytes) / sizeof(wchar_t), L'\0');
    std::fread(&text[0], sizeof(wchar_t), text.size(), file);
    std::fclose(file);
    return text;
}

size_t bareReadAndScan(const std::wstring& path)
{
    std::wstring text = readText(path);
    return static_cast<size_t>(std::count(text.begin(), text.end(), L'<'));
}

// The same text with every start tag without values written "<_Name_ _>", as a careless writer might:
// each such tag makes the parser look for an attribute name that never ends.
std::wstring withBlankInEmptyStartTags(const std::wstring& text)
{
    std::wstring out;
    bool inStartTag = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'<')
            inStartTag = i + 1 < text.size() && text[i + 1] == L'_';
        if (inStartTag && text[i] == L'_' && i + 1 < text.size() && text[i + 1] == L'>')
            out += L"_ ";
        out += text[i];
    }
    return out;
}

void loadOnly(const std::wstring& folder, const wchar_t* file)
{
    RepositoryKey::releaseTree(loadKeyFromFile(file, folder));
}

void writeText(const std::wstring& path, const std::wstring& text)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    std::fwrite(text.data(), sizeof(wchar_t), text.size(), file);
    std::fclose(file);
}

void loadAndWriteBack(const std::wstring& folder)
{
    RepositoryKey* loaded = loadKeyFromFile(L"bench.xml", folder);
    saveKeyToFile(loaded, L"bench-back.xml", folder);
    RepositoryKey::releaseTree(loaded);
}

void run(const std::wstring& folder, int keys, int bigChildren)
{
    RepositoryKey* tree = buildTree(keys, bigChildren);
    saveKeyToFile(tree, L"bench.xml", folder);
    RepositoryKey::releaseTree(tree);
    std::wstring path = folder + L"\\bench.xml";

    std::string name = "node text load and write, " + std::to_string(keys) + " keys";
    BenchCompare(
        name.c_str(), 3, [&] { loadAndWriteBack(folder); }, [&] { bareReadAndScan(path); });
    std::wstring back = folder + L"\\bench-back.xml";
    if (readText(path) != readText(back))
        std::printf("%s: written back DIFFERENT\n", name.c_str());

    std::wstring damaged = folder + L"\\bench-damaged.xml";
    writeText(damaged, withBlankInEmptyStartTags(readText(path)));
    std::string damagedName = "node text load, " + std::to_string(keys) + " keys, empty start tags with a blank";
    BenchCompare(
        damagedName.c_str(), 3, [&] { loadOnly(folder, L"bench-damaged.xml"); }, [&] { bareReadAndScan(damaged); });
    DeleteFileW(damaged.c_str());
    DeleteFileW(path.c_str());
    DeleteFileW(back.c_str());
}

} // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder(temp);
    folder.pop_back();
    run(folder, 25000, 2500);
    run(folder, 50000, 5000);
    run(folder, 100000, 10000);
    return 0;
}
