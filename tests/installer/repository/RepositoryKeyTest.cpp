#include <gtest/gtest.h>

#include <climits>

#include "component.h"
#include "kitorepository.h"
#include "product.h"
#include "repositoryinitparams.h"
#include "repositorykey.h"
#include "solution.h"
#include "solutionoption.h"
#include "systemcheck.h"
#include "userinput.h"

#include "RepositoryTestSupport.h"

namespace {

std::vector<std::wstring> namesOf(const RepositoryKey::KeyList& keys)
{
    std::vector<std::wstring> names;
    for (const RepositoryKey* key : keys)
        names.push_back(key->getName());
    return names;
}

int32_t intValue(const RepositoryKey* key, const std::wstring& name)
{
    int32_t value = INT_MIN;
    key->getIntValue(name, value);
    return value;
}

std::wstring textValue(const RepositoryKey* key, const std::wstring& name)
{
    std::wstring text = L"<missing>";
    key->getStringValue(name, text);
    return text;
}

class RecordingKey : public RepositoryKey {
public:
    using RepositoryKey::RepositoryKey;
    uint32_t onEvent(int32_t event, RepositoryKey* source) override
    {
        events.emplace_back(event, source);
        return 0;
    }
    std::vector<std::pair<int32_t, RepositoryKey*>> events;
};

} // namespace

TEST(RepositoryKey, ValueNamesMatchIgnoringCaseExceptForExactWriters)
{
    TreeGuard key(RepositoryKey::create(L"K"));
    key->addValue(L"selected");
    EXPECT_EQ(0u, key->setStringValue(L"Selected", L"1"));
    EXPECT_EQ(std::vector<std::wstring>{L"selected"}, key->getValueNames());
    EXPECT_EQ(L"1", textValue(key.get(), L"SELECTED"));

    EXPECT_EQ(0u, key->setIntValue(L"Selected", 1));
    EXPECT_EQ((std::vector<std::wstring>{L"Selected", L"selected"}), key->getValueNames());
    // The first in code-unit order answers lookups.
    EXPECT_EQ(0u, key->setStringValue(L"SELECTED", L"x"));
    EXPECT_EQ(L"x", key->values().at(L"Selected"));
    EXPECT_EQ(L"1", key->values().at(L"selected"));

    EXPECT_EQ(0u, key->removeValue(L"sElEcTeD"));
    EXPECT_EQ(std::vector<std::wstring>{L"selected"}, key->getValueNames());
    EXPECT_EQ(KITO_NO_SUCH_VALUE, key->removeValue(L"Other"));
    EXPECT_TRUE(key->hasValue(L"SELECTED"));
    EXPECT_FALSE(key->hasValue(L""));
}

TEST(RepositoryKey, EmptyNamesAndMissingValuesAreInvalid)
{
    TreeGuard key(RepositoryKey::create(L"K"));
    int32_t number = 77;
    std::wstring text = L"untouched";
    EXPECT_EQ(E_KITO_INVALIDARG, key->setStringValue(L"", L"x"));
    EXPECT_EQ(E_KITO_INVALIDARG, key->setIntValue(L"", 1));
    EXPECT_EQ(E_KITO_INVALIDARG, key->addValue(L""));
    EXPECT_EQ(E_KITO_INVALIDARG, key->removeValue(L""));
    EXPECT_EQ(E_KITO_INVALIDARG, key->getIntValue(L"Missing", number));
    EXPECT_EQ(E_KITO_INVALIDARG, key->getStringValue(L"Missing", text));
    EXPECT_EQ(77, number);
    EXPECT_EQ(L"untouched", text);

    key->setStringValue(L"Word", L"abc");
    EXPECT_EQ(0u, key->getIntValue(L"Word", number));
    EXPECT_EQ(0, number);
    key->setIntValue(L"Negative", INT_MIN);
    EXPECT_EQ(L"-2147483648", textValue(key.get(), L"Negative"));
    EXPECT_EQ(INT_MIN, intValue(key.get(), L"Negative"));
}

TEST(RepositoryKey, PathLookupIgnoresCaseAndFirstNamesakeWins)
{
    TreeGuard root(RepositoryKey::create(L"Kito"));
    RepositoryKey* s1 = root->createSubKey(L"Solutions\\S1");
    ASSERT_TRUE(s1);
    EXPECT_EQ(s1, root->getSubKey(L"solutions\\s1"));
    EXPECT_EQ(L"Kito\\Solutions\\S1", s1->getPath());
    EXPECT_EQ(nullptr, root->getSubKey(L"Solutions\\S1\\"));
    EXPECT_EQ(nullptr, root->getSubKey(L"Solutions\\S2"));

    // A namesake made through setName is never reached.
    RepositoryKey* other = root->createSubKey(L"Other");
    other->createSubKey(L"Deep");
    other->setName(L"SOLUTIONS");
    EXPECT_EQ(nullptr, root->getSubKey(L"solutions\\Deep"));
    EXPECT_EQ(s1, root->getSubKey(L"Solutions\\S1"));
}

TEST(RepositoryKey, LongChildListsStayConsistentWhenNamesAndListsChange)
{
    TreeGuard root(RepositoryKey::create(L"Root"));
    for (int i = 0; i < 100; ++i)
        root->createSubKey(L"Child" + std::to_wstring(i));
    EXPECT_EQ(100u, root->subKeys().size());
    RepositoryKey* c50 = root->getSubKey(L"CHILD50");
    ASSERT_TRUE(c50);
    EXPECT_EQ(L"Child50", c50->getName());

    c50->setName(L"Renamed");
    EXPECT_EQ(nullptr, root->getSubKey(L"child50"));
    EXPECT_EQ(c50, root->getSubKey(L"renamed"));
    // A later namesake appears once the earlier one is gone.
    RepositoryKey* c7 = root->getSubKey(L"Child7");
    root->subKeys()[99]->setName(L"child7");
    RepositoryKey* later = root->subKeys()[99];
    EXPECT_EQ(c7, root->getSubKey(L"CHILD7"));
    EXPECT_EQ(0u, root->removeSubKey(c7));
    EXPECT_EQ(later, root->getSubKey(L"CHILD7"));
    EXPECT_EQ(KITO_NAME_TAKEN, c50->rename(L"CHILD7"));
    RepositoryKey::releaseTree(c7);
}

TEST(RepositoryKey, CreateSubKeyWalksAndCreatesComponents)
{
    TreeGuard root(RepositoryKey::create(L"R"));
    RepositoryKey* c = root->createSubKey(L"A\\B\\C");
    ASSERT_TRUE(c);
    EXPECT_EQ(L"R\\A\\B\\C", c->getPath());
    EXPECT_EQ(c, root->createSubKey(L"a\\b\\c"));
    EXPECT_EQ(1u, root->subKeys().size());
    EXPECT_EQ(root->getSubKey(L"A\\B"), root->createSubKey(L"A\\B\\"));

    EXPECT_EQ(nullptr, root->createSubKey(L""));
    EXPECT_EQ(nullptr, root->createSubKey(L"A\\\\B"));
    EXPECT_EQ(nullptr, root->createSubKey(L"\\A"));
    EXPECT_EQ(1u, root->subKeys().size());

    // With a child of empty name, the empty component has a key to continue with.
    RepositoryKey* a = root->getSubKey(L"A");
    RepositoryKey* unnamed = a->addSubKey(RepositoryKey::create(L""));
    RepositoryKey* b = root->createSubKey(L"A\\\\B");
    ASSERT_TRUE(b);
    EXPECT_EQ(unnamed, b->getParent());
}

TEST(RepositoryKey, AddAtRefusesPathsThatCreateNothing)
{
    TreeGuard root(RepositoryKey::create(L"R"));
    RepositoryKey* key = RepositoryKey::create(L"K");
    EXPECT_EQ(nullptr, root->addSubKeyAt(L"", key));
    EXPECT_EQ(nullptr, root->addSubKeyAt(L"A\\\\B", key));
    EXPECT_EQ(E_KITO_FAILED, root->addSubKeysAt(L"", {key}));
    EXPECT_EQ(nullptr, key->getParent());
    EXPECT_EQ(key, root->addSubKeyAt(L"A\\B", key));
    EXPECT_EQ(key, root->getSubKey(L"A\\B\\K"));

    RepositoryKey* x = RepositoryKey::create(L"X");
    RepositoryKey* y = RepositoryKey::create(L"Y");
    EXPECT_EQ(0u, root->addSubKeysAt(L"L", {x, y}));
    EXPECT_EQ((std::vector<std::wstring>{L"X", L"Y"}), namesOf(root->getSubKey(L"L")->subKeys()));
    EXPECT_EQ(E_KITO_FAILED, root->addSubKeys({nullptr}));
}

TEST(RepositoryKey, AddingANamesakeMergesAndDestroysTheAddedKey)
{
    TreeGuard root(RepositoryKey::create(L"R"));
    RepositoryKey* files = root->createSubKey(L"Files");
    files->setStringValue(L"Keep", L"old");
    files->setStringValue(L"Both", L"old");
    files->createSubKey(L"Dir")->setStringValue(L"A", L"1");

    CountedKey* incoming = new CountedKey(L"FILES");
    incoming->setStringValue(L"Both", L"new");
    incoming->setStringValue(L"Added", L"new");
    CountedKey* dir = new CountedKey(L"DIR");
    dir->setStringValue(L"B", L"2");
    incoming->addSubKey(dir);
    CountedKey* fresh = new CountedKey(L"Fresh");
    incoming->addSubKey(fresh);
    ASSERT_EQ(3, CountedKey::alive);

    EXPECT_EQ(files, root->addSubKey(incoming));
    // Both the added key and its namesake child were merged away; the new child moved over.
    EXPECT_EQ(1, CountedKey::alive);
    EXPECT_EQ(L"Files", files->getName());
    EXPECT_EQ(L"old", textValue(files, L"Keep"));
    EXPECT_EQ(L"new", textValue(files, L"Both"));
    EXPECT_EQ(L"new", textValue(files, L"Added"));
    EXPECT_EQ((std::vector<std::wstring>{L"Dir", L"Fresh"}), namesOf(files->subKeys()));
    EXPECT_EQ(L"2", textValue(files->getSubKey(L"Dir"), L"B"));
    EXPECT_EQ(files, fresh->getParent());
    EXPECT_EQ(1u, root->subKeys().size());
}

TEST(RepositoryKey, MovingAKeyTakesItOutOfItsOldParent)
{
    TreeGuard a(RepositoryKey::create(L"A"));
    TreeGuard b(RepositoryKey::create(L"B"));
    RepositoryKey* child = a->createSubKey(L"Child");
    EXPECT_EQ(child, b->addSubKey(child));
    EXPECT_TRUE(a->subKeys().empty());
    EXPECT_EQ(b.get(), child->getParent());

    // Re-adding moves it to the end.
    RepositoryKey* other = b->createSubKey(L"Other");
    b->addSubKey(child);
    EXPECT_EQ((std::vector<RepositoryKey*>{other, child}), b->getSubKeys());

    EXPECT_EQ(KITO_NOT_IN_LIST, a->removeSubKey(child));
    EXPECT_EQ(E_KITO_INVALIDARG, a->removeSubKey(nullptr));
    EXPECT_EQ(E_KITO_INVALIDARG, child->setParent(nullptr));
    EXPECT_EQ(0u, b->removeSubKey(child));
    EXPECT_EQ(nullptr, child->getParent());
    RepositoryKey::releaseTree(child);
}

TEST(RepositoryKey, RefusesToAddItselfOrAnAncestor)
{
    TreeGuard root(RepositoryKey::create(L"R"));
    RepositoryKey* leaf = root->createSubKey(L"A\\B");
    RepositoryKey* a = root->getSubKey(L"A");
    EXPECT_EQ(nullptr, leaf->addSubKey(leaf));
    EXPECT_EQ(nullptr, leaf->addSubKey(a));
    EXPECT_EQ(nullptr, leaf->addSubKey(root.get()));
    EXPECT_EQ(a, root->getSubKey(L"A"));
    EXPECT_EQ(L"R\\A\\B", leaf->getPath());
}

TEST(RepositoryKey, RenameRefusesSiblingNames)
{
    TreeGuard root(RepositoryKey::create(L"R"));
    RepositoryKey* one = root->createSubKey(L"One");
    root->createSubKey(L"Two");
    EXPECT_EQ(KITO_NAME_TAKEN, one->rename(L"TWO"));
    EXPECT_EQ(KITO_NAME_TAKEN, one->rename(L"one"));
    EXPECT_EQ(L"One", one->getName());
    EXPECT_EQ(0u, one->rename(L"Three"));
    EXPECT_EQ(one, root->getSubKey(L"three"));
    EXPECT_EQ(0u, root->rename(L"Anything"));
    EXPECT_TRUE(one->isSameName(root->getSubKey(L"THREE")));
}

TEST(RepositoryKey, SearchesByValueKeepChildOrder)
{
    TreeGuard root(RepositoryKey::create(L"Solutions"));
    const int32_t statuses[] = {3, 1, 2, INT_MIN, INT_MAX};
    for (int i = 0; i < 5; ++i)
        root->createSubKey(L"S" + std::to_wstring(i))->setIntValue(L"InstallStatus", statuses[i]);
    root->createSubKey(L"NoStatus");
    root->getSubKey(L"S0")->setStringValue(L"Kind", L"b");
    root->getSubKey(L"S1")->setStringValue(L"Kind", L"B");
    root->getSubKey(L"S2")->setStringValue(L"Kind", L"a");

    EXPECT_EQ((std::vector<std::wstring>{L"S0", L"S2", L"S4"}),
              namesOf(root->findSubKeysByIntValue(L"installstatus", CompareGreaterOrEqual, 2)));
    EXPECT_TRUE(root->findSubKeysByIntValue(L"InstallStatus", 6, 2).empty());
    // Extremes compare as numbers: no difference that overflows.
    EXPECT_EQ(std::vector<std::wstring>{L"S3"}, namesOf(root->findSubKeysByIntValue(L"InstallStatus", CompareLess, 1)));
    EXPECT_EQ((std::vector<std::wstring>{L"S0", L"S1", L"S2", L"S4"}),
              namesOf(root->findSubKeysByIntValue(L"InstallStatus", CompareGreater, -1000)));
    EXPECT_EQ(4u, root->findSubKeysByIntValue(L"InstallStatus", CompareNotEqual, INT_MIN).size());

    EXPECT_EQ(std::vector<std::wstring>{L"S0"}, namesOf(root->findSubKeysByStringValue(L"Kind", CompareEqual, L"b")));
    EXPECT_EQ((std::vector<std::wstring>{L"S0", L"S2"}),
              namesOf(root->findSubKeysByStringValue(L"Kind", CompareGreater, L"B")));
    EXPECT_EQ(std::vector<std::wstring>{L"S1"}, namesOf(root->findSubKeysByStringValue(L"Kind", CompareLess, L"a")));
}

TEST(RepositoryKey, CompareKinds)
{
    EXPECT_TRUE(compareByKind(INT_MIN, CompareLess, INT_MAX));
    EXPECT_TRUE(compareByKind(INT_MAX, CompareGreater, -1));
    EXPECT_TRUE(compareByKind(5, CompareLessOrEqual, 5));
    EXPECT_FALSE(compareByKind(5, CompareNotEqual, 5));
    EXPECT_FALSE(compareByKind(5, -1, 5));
}

TEST(RepositoryKey, AttachedKeysAndTheirSearches)
{
    TreeGuard root(RepositoryKey::create(L"R"));
    RepositoryKey* holder = root->createSubKey(L"Holder");
    root->createSubKey(L"Plain");
    RepositoryKey* tag = RepositoryKey::create(L"Tag");
    tag->setIntValue(L"Order", 4);
    tag->setStringValue(L"Role", L"Primary");
    EXPECT_EQ(tag, holder->attachKey(tag));
    EXPECT_EQ(nullptr, holder->attachKey(nullptr));
    EXPECT_EQ(holder, tag->getOwner());

    EXPECT_EQ(1u, holder->findAttachedKeysByName(L"TAG").size());
    EXPECT_EQ(1u, holder->findAttachedKeysByIntValue(L"order", 4).size());
    EXPECT_TRUE(holder->findAttachedKeysByIntValue(L"Order", 5).empty());
    EXPECT_EQ(1u, holder->findAttachedKeysByStringValue(L"Role", L"PRIMARY").size());
    EXPECT_EQ(std::vector<std::wstring>{L"Holder"}, namesOf(root->findSubKeysWithAttachedName(L"tag")));
    EXPECT_EQ(std::vector<std::wstring>{L"Holder"}, namesOf(root->findSubKeysWithAttachedIntValue(L"Order", 4)));
    EXPECT_EQ(std::vector<std::wstring>{L"Holder"},
              namesOf(root->findSubKeysWithAttachedStringValue(L"Role", L"primary")));

    // Attaching elsewhere moves it; destroying the owner clears the link instead of leaving it dangling.
    TreeGuard other(RepositoryKey::create(L"Other"));
    other->attachKey(tag);
    EXPECT_TRUE(holder->getAttachedKeys().empty());
    EXPECT_EQ(KITO_NOT_IN_LIST, holder->detachKey(tag));
    EXPECT_EQ(E_KITO_INVALIDARG, holder->detachKey(nullptr));
    other.reset();
    EXPECT_EQ(nullptr, tag->getOwner());
    RepositoryKey::release(tag);
}

TEST(RepositoryKey, ListenersHearTheirEventOnce)
{
    TreeGuard source(RepositoryKey::create(L"Source"));
    RecordingKey listener(L"Listener");
    EXPECT_EQ(0u, source->addListener(7, &listener));
    EXPECT_EQ(0u, source->addListener(7, &listener));
    EXPECT_EQ(E_KITO_INVALIDARG, source->addListener(7, nullptr));
    EXPECT_EQ(0u, source->notifyListeners(7));
    EXPECT_EQ(0u, source->notifyListeners(8));
    ASSERT_EQ(1u, listener.events.size());
    EXPECT_EQ(7, listener.events[0].first);
    EXPECT_EQ(source.get(), listener.events[0].second);
    EXPECT_EQ(0u, source->removeListener(7, &listener));
    EXPECT_EQ(E_KITO_INVALIDARG, source->removeListener(7, nullptr));
    source->notifyListeners(7);
    EXPECT_EQ(1u, listener.events.size());
}

TEST(RepositoryKey, ReleaseAndReleaseTree)
{
    TreeGuard root(RepositoryKey::create(L"R"));
    CountedKey* single = new CountedKey(L"Single");
    root->addSubKey(single);
    RepositoryKey::release(single);
    EXPECT_EQ(0, CountedKey::alive);
    EXPECT_TRUE(root->subKeys().empty());

    CountedKey* branch = new CountedKey(L"Branch");
    root->addSubKey(branch);
    for (int i = 0; i < 40; ++i)
        branch->addSubKey(new CountedKey(L"Leaf" + std::to_wstring(i)))->addSubKey(new CountedKey(L"Sub"));
    EXPECT_EQ(81, CountedKey::alive);
    RepositoryKey::releaseTree(branch);
    EXPECT_EQ(0, CountedKey::alive);
    EXPECT_TRUE(root->subKeys().empty());
    RepositoryKey::release(nullptr);
    RepositoryKey::releaseTree(nullptr);

    // A child outlives a parent destroyed alone, without a link to it.
    RepositoryKey* parent = RepositoryKey::create(L"P");
    RepositoryKey* orphan = parent->createSubKey(L"Orphan");
    RepositoryKey::release(parent);
    EXPECT_EQ(nullptr, orphan->getParent());
    RepositoryKey::release(orphan);
}

TEST(RepositoryKey, DeepTreesCopyAndFreeWithoutRecursion)
{
    // Deep enough that any per-level recursion would overflow the stack.
    TreeGuard root(RepositoryKey::create(L"Top"));
    RepositoryKey* node = root.get();
    for (int i = 0; i < 200000; ++i) {
        node = node->addSubKey(new CountedKey(L"Level"));
        ASSERT_TRUE(node);
    }
    node->setStringValue(L"Bottom", L"yes");
    EXPECT_EQ(200000, CountedKey::alive);

    RepositoryKey* copy = root->clone();
    ASSERT_TRUE(copy);
    EXPECT_EQ(400000, CountedKey::alive);
    const RepositoryKey* walk = copy;
    while (!walk->subKeys().empty())
        walk = walk->subKeys().front();
    EXPECT_EQ(L"yes", textValue(walk, L"Bottom"));

    // Merging one deep tree into another combines them level by level.
    TreeGuard target(RepositoryKey::create(L"Top"));
    target->addSubKey(copy->subKeys().front());
    EXPECT_EQ(0u, target->mergeKey(*root.get()));
    EXPECT_EQ(1u, target->subKeys().size());
    RepositoryKey::releaseTree(copy);
    target.reset();
    EXPECT_EQ(200000, CountedKey::alive);
    root.reset();
    EXPECT_EQ(0, CountedKey::alive);
}

TEST(RepositoryKey, CopiesAreDeepAndLeaveLinksBehind)
{
    TreeGuard root(RepositoryKey::create(L"Owner"));
    RepositoryKey* source = root->createSubKey(L"Source");
    source->setStringValue(L"V", L"1");
    source->createSubKey(L"A\\B")->setIntValue(L"N", 2);
    source->attachKey(RepositoryKey::create(L"Attached"));

    RepositoryKey copy(*source);
    EXPECT_EQ(L"Source", copy.getName());
    EXPECT_EQ(nullptr, copy.getParent());
    EXPECT_TRUE(copy.getAttachedKeys().empty());
    RepositoryKey* b = copy.getSubKey(L"A\\B");
    ASSERT_TRUE(b);
    EXPECT_NE(source->getSubKey(L"A\\B"), b);
    EXPECT_EQ(2, intValue(b, L"N"));

    TreeGuard shallow(source->copyKey());
    EXPECT_EQ(L"1", textValue(shallow.get(), L"V"));
    EXPECT_TRUE(shallow->subKeys().empty());

    RepositoryKey::release(source->getAttachedKeys().front());
    for (RepositoryKey* child : copy.getSubKeys())
        RepositoryKey::releaseTree(child);
}

TEST(RepositoryKey, ViewsStampTheirKindAndCopiesKeepTheirClass)
{
    TreeGuard component(new Component(L"C1"));
    EXPECT_EQ(1, intValue(component.get(), L"KeyType"));
    component->setStringValue(L"Guid", L"{G}");
    component->addSubKey(new Solution(L"Inner"));
    component->addSubKey(RepositoryKey::create(L"Plain"));

    TreeGuard copy(component->clone());
    ASSERT_TRUE(dynamic_cast<Component*>(copy.get()));
    EXPECT_EQ(L"{G}", textValue(copy.get(), L"Guid"));
    ASSERT_EQ(2u, copy->subKeys().size());
    EXPECT_TRUE(dynamic_cast<Solution*>(copy->subKeys()[0]));
    EXPECT_EQ(2, intValue(copy->subKeys()[0], L"KeyType"));
    EXPECT_EQ(nullptr, dynamic_cast<Component*>(copy->subKeys()[1]));
    EXPECT_NE(component->subKeys()[0], copy->subKeys()[0]);

    // A view made from another key's copy replaces the copied kind.
    TreeGuard product(new Product(*component.get()));
    EXPECT_EQ(12, intValue(product.get(), L"KeyType"));
    EXPECT_EQ(2u, product->subKeys().size());

    TreeGuard params(new RepositoryInitParams(L"Init"));
    TreeGuard paramsCopy(params->clone());
    EXPECT_EQ(nullptr, dynamic_cast<RepositoryInitParams*>(paramsCopy.get()));
    EXPECT_EQ(7, intValue(paramsCopy.get(), L"KeyType"));
}

TEST(RepositoryKey, EveryViewHasItsKeyType)
{
    TreeGuard root(RepositoryKey::create(L"Views"));
    root->addSubKey(new Component(L"a"));
    root->addSubKey(new Solution(L"b"));
    root->addSubKey(new SolutionOption(L"c"));
    root->addSubKey(new UserInput(L"d"));
    root->addSubKey(new KitoRepository(L"e"));
    root->addSubKey(new RepositoryInitParams(L"f"));
    root->addSubKey(new SystemCheck(L"g"));
    root->addSubKey(new Product(L"h"));
    std::vector<int32_t> kinds;
    for (const RepositoryKey* view : root->subKeys())
        kinds.push_back(intValue(view, L"KeyType"));
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 5, 6, 7, 9, 12}), kinds);

    TreeGuard copy(root->clone());
    EXPECT_TRUE(dynamic_cast<SolutionOption*>(copy->subKeys()[2]));
    EXPECT_TRUE(dynamic_cast<UserInput*>(copy->subKeys()[3]));
    EXPECT_TRUE(dynamic_cast<KitoRepository*>(copy->subKeys()[4]));
    EXPECT_TRUE(dynamic_cast<SystemCheck*>(copy->subKeys()[6]));
    EXPECT_TRUE(dynamic_cast<Product*>(copy->subKeys()[7]));
}
