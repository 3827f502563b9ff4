// Runs the allocating operations of the key tree, its text form and its views with the n-th allocation
// failing, for every n until one run succeeds: none may throw, and none may leak what it had built.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <new>

#include "component.h"
#include "kitorepository.h"
#include "logger.h"
#include "nodetextform.h"
#include "repositorykey.h"
#include "solution.h"
#include "userinput.h"

namespace {

long g_failAfter = -1;
long g_live = 0;

} // namespace

void* operator new(size_t size)
{
    if (g_failAfter == 0)
        throw std::bad_alloc();
    if (g_failAfter > 0)
        --g_failAfter;
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    ++g_live;
    return block;
}

void operator delete(void* block) noexcept
{
    if (block) {
        --g_live;
        std::free(block);
    }
}

void operator delete(void* block, size_t) noexcept
{
    operator delete(block);
}

namespace {

std::wstring sampleText()
{
    RepositoryKey* root = RepositoryKey::create(L"Kito");
    root->setStringValue(L"Version", L"4.3");
    Solution* solution = new Solution(L"S1");
    solution->setStringValue(L"Guid", L"{A}");
    root->createSubKey(L"Solutions")->addSubKey(solution);
    root->createSubKey(L"Solutions\\S2\\Components\\C1")->setIntValue(L"Seq", 1);
    for (int i = 0; i < 20; ++i)
        root->createSubKey(L"Many\\K" + std::to_wstring(i));
    root->createSubKey(L"MANY\\k3")->setStringValue(L"Merged", L"yes");
    std::wstring text = writeKey(root);
    RepositoryKey::releaseTree(root);
    return text;
}

// Runs operation with the n-th allocation failing for n = 0, 1, ... until it runs out of allocations
// to fail; check then sees the result without failures and, with nothingOrAll, every other result that
// is not empty. Each run must leave no allocation behind once its result is released.
template <class Result, class Operation, class Check>
void failEachAllocation(Operation operation, Check check, void (*release)(Result&), bool nothingOrAll = false)
{
    for (long n = 0;; ++n) {
        long before = g_live;
        g_failAfter = n;
        Result result{};
        try {
            result = operation();
        } catch (...) {
            g_failAfter = -1;
            FAIL() << "exception with allocation " << n << " failing";
        }
        bool exhausted = g_failAfter != 0;
        g_failAfter = -1;
        if (exhausted) {
            EXPECT_TRUE(check(result));
        } else if (nothingOrAll) {
            EXPECT_TRUE(result == Result{} || check(result)) << "a part with allocation " << n << " failing";
        }
        release(result);
        ASSERT_EQ(before, g_live) << "leak with allocation " << n << " failing";
        if (exhausted)
            return;
    }
}

void releaseTree(RepositoryKey*& key)
{
    RepositoryKey::releaseTree(key);
    key = nullptr;
}

void releaseText(std::wstring& text)
{
    std::wstring().swap(text);
}

} // namespace

TEST(AllocationFailure, ParseGivesNullOrTheTree)
{
    const std::wstring text = sampleText();
    failEachAllocation<RepositoryKey*>([&text] { return parseText(text); },
                                       [&text](RepositoryKey* root) { return root && writeKey(root) == text; },
                                       releaseTree);
}

TEST(AllocationFailure, CopyWriteAndMergeGiveNullEmptyOrFailure)
{
    const std::wstring text = sampleText();
    RepositoryKey* source = parseText(text);
    ASSERT_TRUE(source);
    auto sameAsSource = [&text](RepositoryKey* key) { return key && writeKey(key) == text; };
    failEachAllocation<RepositoryKey*>([source] { return source->clone(); }, sameAsSource, releaseTree);
    failEachAllocation<std::wstring>([source] { return writeKey(source); },
                                     [&text](std::wstring written) { return written == text; }, releaseText);
    failEachAllocation<RepositoryKey*>(
        [source] {
            RepositoryKey* target = RepositoryKey::create(L"Target");
            if (target && target->mergeKey(*source) != 0) {
                RepositoryKey::releaseTree(target);
                return static_cast<RepositoryKey*>(nullptr);
            }
            return target;
        },
        sameAsSource, releaseTree);
    failEachAllocation<RepositoryKey*>(
        [] {
            RepositoryKey* root = RepositoryKey::create(L"R");
            if (root && !root->createSubKey(L"A\\B\\C")) {
                RepositoryKey::releaseTree(root);
                return static_cast<RepositoryKey*>(nullptr);
            }
            return root;
        },
        [](RepositoryKey* root) { return root && root->getSubKey(L"a\\b\\c"); }, releaseTree);
    RepositoryKey::releaseTree(source);
}

TEST(AllocationFailure, TypedCopiesGiveNullOrTheTree)
{
    // Names beyond the short-text buffer, so that the views' constructors allocate.
    Solution* source = makeKey<Solution>(std::wstring(L"Solution1"));
    ASSERT_TRUE(source);
    source->setStringValue(L"SolutionID", L"X");
    source->createSubKey(L"Components")->addSubKey(makeKey<Component>(std::wstring(L"Component1")));
    const std::wstring text = writeKey(source);
    failEachAllocation<RepositoryKey*>([source] { return source->clone(); },
                                       [&text](RepositoryKey* copy) { return copy && writeKey(copy) == text; },
                                       releaseTree, true);
    // The view of another kind: the same tree stamped as a component.
    source->setIntValue(RepositoryKey::KeyTypeValue, KeyTypeComponent);
    const std::wstring asComponent = writeKey(source);
    failEachAllocation<RepositoryKey*>([source]() -> RepositoryKey* { return makeKey<Component>(*source); },
                                       [&asComponent](RepositoryKey* copy) {
                                           return copy && writeKey(copy) == asComponent;
                                       },
                                       releaseTree, true);
    RepositoryKey::releaseTree(source);
}

// An install file's tree rebuilt as views, with every function traced into an open log: tracing and
// logging drop what they cannot format, and the tree comes back whole or not at all.
TEST(AllocationFailure, TracedRebuildOfViewsGivesNullOrTheTree)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring logName = L"kitoalloc-" + std::to_wstring(GetCurrentProcessId()) + L".log";
    ASSERT_EQ(0u, g_logger.init(logName.c_str(), 13, folder, LOG_DBG_10));
    RepositoryKey* source = parseText(sampleText());
    ASSERT_TRUE(source);
    source->getSubKey(L"Solutions\\S2")->setIntValue(RepositoryKey::KeyTypeValue, KeyTypeSolution);
    source->getSubKey(L"Solutions\\S2\\Components\\C1")->setIntValue(RepositoryKey::KeyTypeValue, KeyTypeComponent);
    const std::wstring text = writeKey(source);
    KitoRepository* repository = makeKey<KitoRepository>(std::wstring(L"KitoRepository"));
    failEachAllocation<RepositoryKey*>([&] { return repository->_initFromInstallXML(source); },
                                       [&text](RepositoryKey* rebuilt) { return rebuilt && writeKey(rebuilt) == text; },
                                       releaseTree, true);
    RepositoryKey::releaseTree(repository);
    RepositoryKey::releaseTree(source);
    g_logger.init(L"", 13, L"", 5);
    DeleteFileW((folder + logName).c_str());
}

// A repository root in KitoDb with one solution, the user's choices and a component.
RepositoryKey* choiceFixture()
{
    KitoRepository* root = makeKey<KitoRepository>(std::wstring(L"KitoRepository"));
    root->createSubKey(L"Solutions\\S1")->setStringValue(L"SolutionID", L"X");
    root->addSubKey(makeKey<UserInput>(std::wstring(L"UserInput")));
    root->addSubKey(makeKey<Component>(std::wstring(L"C1")));
    KitoDb = root;
    return root;
}

struct ChoiceCase {
    const char* name;
    // Texts short enough to need no allocation of their own.
    uint32_t (*operation)(RepositoryKey& userInput, RepositoryKey& component);
};

const ChoiceCase ChoiceCases[] = {
    {"addSolution", [](RepositoryKey& userInput, RepositoryKey&) { return UserInput::addSolution(userInput, L"S1"); }},
    {"addHosts", [](RepositoryKey& userInput, RepositoryKey&) { return UserInput::addHosts(userInput, L"a,b,c"); }},
    {"setGuid",
     [](RepositoryKey&, RepositoryKey& component) { return Component::setGuid(component, L"{G}", 7, 1, 3); }},
};

// With the n-th allocation failing for every n: the out-of-memory answer with the tree as it was, or
// success; the run without a failure succeeds and changes the tree.
TEST(AllocationFailure, ChoicesAnswerOutOfMemoryAndChangeNothing)
{
    for (const ChoiceCase& c : ChoiceCases) {
        for (long n = 0;; ++n) {
            long before = g_live;
            RepositoryKey* root = choiceFixture();
            std::wstring text = writeKey(root);
            RepositoryKey* userInput = root->getSubKey(L"UserInput");
            RepositoryKey* component = root->getSubKey(L"C1");
            g_failAfter = n;
            uint32_t rc = 0;
            try {
                rc = c.operation(*userInput, *component);
            } catch (...) {
                g_failAfter = -1;
                FAIL() << c.name << ": exception with allocation " << n << " failing";
            }
            bool exhausted = g_failAfter != 0;
            g_failAfter = -1;
            if (rc == KITO_NO_MEMORY) {
                EXPECT_EQ(text, writeKey(root)) << c.name << " with allocation " << n << " failing";
            } else {
                EXPECT_EQ(0u, rc) << c.name << " with allocation " << n << " failing";
            }
            if (exhausted) {
                EXPECT_NE(text, writeKey(root)) << c.name;
            }
            KitoDb = nullptr;
            RepositoryKey::releaseTree(root);
            releaseText(text);
            ASSERT_EQ(before, g_live) << c.name << ": leak with allocation " << n << " failing";
            if (exhausted)
                break;
        }
    }
}
