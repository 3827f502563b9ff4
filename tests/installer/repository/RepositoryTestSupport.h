#pragma once
// Helpers shared by the repository framework's tests.

#include <windows.h>

#include <string>

#include "kitorepository.h"
#include "repositorykey.h"

// A key that counts the live instances of its kind, to see which keys an operation destroys.
class CountedKey : public RepositoryKey {
public:
    explicit CountedKey(const std::wstring& name) : RepositoryKey(name) { ++alive; }
    ~CountedKey() override { --alive; }
    static inline int alive = 0;

protected:
    RepositoryKey* copyOfKind() const override
    {
        CountedKey* copy = new CountedKey(name());
        copy->setValues(values());
        return copy;
    }
};

// Sets KitoDb for its life and gives the earlier value back; null stands for a process without a root.
class RootInUse {
public:
    explicit RootInUse(KitoRepository* root) : earlier(KitoDb) { KitoDb = root; }
    ~RootInUse() { KitoDb = earlier; }
    RootInUse(const RootInUse&) = delete;
    RootInUse& operator=(const RootInUse&) = delete;

private:
    KitoRepository* earlier;
};

// Frees a whole tree when the test ends, however it ends.
class TreeGuard {
public:
    explicit TreeGuard(RepositoryKey* key) : root(key) {}
    ~TreeGuard() { RepositoryKey::releaseTree(root); }
    TreeGuard(const TreeGuard&) = delete;
    TreeGuard& operator=(const TreeGuard&) = delete;
    RepositoryKey* get() const { return root; }
    void reset()
    {
        RepositoryKey::releaseTree(root);
        root = nullptr;
    }
    RepositoryKey* operator->() const { return root; }

private:
    RepositoryKey* root;
};

// A folder of its own below the temporary folder, removed with what it holds when the test ends.
class ScratchFolder {
public:
    ScratchFolder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static unsigned counter = 0;
        // Ids come back: a name some earlier process left behind is passed over.
        do {
            path = std::wstring(temp) + L"kitorepo-" + std::to_wstring(GetCurrentProcessId()) + L"-"
                + std::to_wstring(++counter);
        } while (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    }
    ~ScratchFolder()
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((path + L"\\" + found.cFileName).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::wstring path;
};
