// Times the repository's install-sequence order of 1,000 components against a bare order of the same
// keys through a hash of their folded names and a stable sort. Prints one line with the ratio.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "BenchCompare.h"
#include "kitorepository.h"
#include "stringutils.h"

namespace {

constexpr int Components = 1000;
constexpr int Rounds = 50;

RepositoryKey::KeyList bareOrder(const RepositoryKey& sequence, const RepositoryKey::KeyList& keys)
{
    std::unordered_map<std::wstring, RepositoryKey*> keyOf;
    for (RepositoryKey* key : keys)
        keyOf.emplace(foldText(key->name()), key);
    std::vector<std::pair<RepositoryKey*, long>> numbered;
    for (const auto& value : sequence.values()) {
        auto match = keyOf.find(foldText(value.first));
        if (match != keyOf.end())
            numbered.emplace_back(match->second, std::wcstol(value.second.c_str(), nullptr, 10));
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    RepositoryKey::KeyList ordered;
    for (const auto& entry : numbered)
        ordered.push_back(entry.first);
    return ordered;
}

} // namespace

int main()
{
    KitoRepository root(std::wstring(L"KitoRepository"));
    RepositoryKey* components = root.createSubKey(L"Components");
    RepositoryKey* sequence = root.createSubKey(L"InstallSequence");
    for (int i = 0; i < Components; ++i) {
        std::wstring name = L"Component" + std::to_wstring(i);
        components->createSubKey(name);
        // Upper case in the sequence, so that every lookup folds; numbers in reverse with ties.
        sequence->setIntValue(toUpper(name), (Components - i) / 3);
    }
    const RepositoryKey::KeyList keys = components->getSubKeys();

    RepositoryKey::KeyList ours, bare;
    BenchCompare(
        "orderByInstallSequence, 1000 components", Rounds,
        [&] {
            ours.clear();
            root.orderByInstallSequence(keys, ours);
        },
        [&] { bare = bareOrder(*sequence, keys); });
    if (ours != bare)
        std::printf("orderByInstallSequence: DIFFERENT order\n");
    RepositoryKey::releaseTree(components);
    RepositoryKey::releaseTree(sequence);
    return ours == bare ? 0 : 1;
}
