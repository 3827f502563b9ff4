// Times loading a large node text file and writing it back, against a bare read of the same file
// and one scan of it for '<'. Run under Wine from the build's bin folder; prints one line per size.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "nodetextform.h"
#include "repositorykey.h"

namespace {

double seconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

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

size_t countKeys(const RepositoryKey* root)
{
    size_t count = 1;
    for (const RepositoryKey* child : root->subKeys())
        count += countKeys(child);
    return count;
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

double bareReadAndScan(const std::wstring& path, size_t& opens)
{
    double start = seconds();
    std::wstring text = readText(path);
    opens = 0;
    for (wchar_t c : text)
        opens += c == L'<';
    return seconds() - start;
}

double loadAndWriteBack(const std::wstring& folder, size_t& keys)
{
    double start = seconds();
    RepositoryKey* loaded = loadKeyFromFile(L"bench.xml", folder);
    saveKeyToFile(loaded, L"bench-back.xml", folder);
    double elapsed = seconds() - start;
    keys = loaded ? countKeys(loaded) : 0;
    RepositoryKey::releaseTree(loaded);
    return elapsed;
}

void run(const std::wstring& folder, int keys, int bigChildren)
{
    RepositoryKey* tree = buildTree(keys, bigChildren);
    saveKeyToFile(tree, L"bench.xml", folder);
    RepositoryKey::releaseTree(tree);
    std::wstring path = folder + L"\\bench.xml";

    double bare = 1e9, full = 1e9;
    size_t opens = 0, loaded = 0;
    for (int round = 0; round < 3; ++round) {
        bare = std::min(bare, bareReadAndScan(path, opens));
        full = std::min(full, loadAndWriteBack(folder, loaded));
    }
    std::wstring back = folder + L"\\bench-back.xml";
    std::wstring original = readText(path);
    bool same = original == readText(back);
    std::printf("keys %u (one with %d children), file %.2f MB, '<' %u: load+write %.3f s, bare read+scan %.4f s, "
                "ratio %.1f, written back %s\n",
                static_cast<unsigned>(loaded), bigChildren, original.size() * sizeof(wchar_t) / 1048576.0,
                static_cast<unsigned>(opens), full, bare, full / bare, same ? "identical" : "DIFFERENT");
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
