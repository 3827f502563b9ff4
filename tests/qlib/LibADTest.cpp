// Directory search and directory objects against the bed's directory server; what Wine's ADSI lacks on a
// bound object is answered by fakes the ADsOpenHook hands out for the paths a test describes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ADsOpenHook.h"
#include "LibADObject.h"
#include "TestBed.h"

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAreArray;

namespace {

const std::wstring Users = L"cn=Users,dc=test,dc=example";
const wchar_t Admin[] = L"cn=admin,dc=test,dc=example";
const wchar_t IidIADs[] = L"{FD8256D0-FD15-11CE-ABC4-02608C9E7553}";
const wchar_t IidSearch[] = L"{109BA8EC-92F0-11D0-A790-00C04FD8D5A8}";
const wchar_t IidContainer[] = L"{001677D0-FD16-11CE-ABC4-02608C9E7553}";

std::wstring OnBed(const std::wstring& dn)
{
    return L"LDAP://127.0.0.1/" + dn;
}

std::wstring UserPath(const std::wstring& name, const std::wstring& container = Users)
{
    return OnBed(L"cn=" + name + L"," + container);
}

ADsFakeObject FakeUser(const std::wstring& name)
{
    ADsFakeObject user;
    user.name = L"CN=" + name;
    user.objectClass = L"user";
    user.parent = L"LDAP://" + Users;
    user.properties[L"cn"] = {ADSTYPE_CASE_IGNORE_STRING, {name}};
    return user;
}

std::wstring Bound(const std::wstring& path, const std::wstring& user, const wchar_t* iid)
{
    return L"path=" + path + L" user=" + user + L" flags=1 iid=" + iid;
}

void ExpectStatus(const QLibStatus& status, int32_t type, uint32_t code)
{
    EXPECT_EQ(type, status.GetType());
    EXPECT_EQ(code, status.GetCode());
}

// Each test runs in the MTA with the hook on this program's imports, and leaves no reference on a fake.
class Directory : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_OUTSIDE_TEST_BED();
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        hook = std::make_unique<ADsOpenHook>(GetModuleHandleW(nullptr));
        ASSERT_TRUE(hook->Active());
    }
    void TearDown() override
    {
        if (hook == nullptr)
            return;
        EXPECT_EQ(0, hook->Outstanding());
        hook.reset();
        CoUninitialize();
    }

    std::unique_ptr<ADsOpenHook> hook;
};

TEST_F(Directory, SearchFindsClassAndNameLiterally)
{
    struct Row {
        const wchar_t* name;
        const wchar_t* objectClass;
        uint32_t namingContext;
        int32_t type;
        uint32_t code;
        size_t found;
    } rows[] = {
        {L"prdadm", L"user", 1, 0, 0, 1},
        {L"NODE2", L"computer", 1, 0, 0, 2},
        {L"Schema", L"container", 2, 0, 0, 1},
        {L"nosuch", L"user", 1, 27, 3, 0},
        {L"prdadm", L"user", 4, 27, 1, 0},
        {L"prdadm", L"user", 0, 27, 1, 0},
        {nullptr, L"user", 1, 27, 1, 0},
        // Wildcards and filter syntax in a name match only that name.
        {L"prd*", L"user", 1, 27, 3, 0},
        {L"*", L"user", 1, 27, 3, 0},
        {L"NODE1)(cn=*", L"computer", 1, 27, 3, 0},
        {L"prdadm", L"*", 1, 27, 3, 0},
    };
    QLibADHelper helper;
    ASSERT_TRUE(helper.Initialize(nullptr, nullptr, nullptr).IsOK());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name ? row.name : L"(null)");
        QLibADsList results;
        ExpectStatus(helper.Search(row.name, row.objectClass, results, row.namingContext, nullptr), row.type, row.code);
        EXPECT_EQ(row.found, results.size());
    }
    EXPECT_EQ(L"path=LDAP://rootDSE user= flags=1 iid=" + std::wstring(IidIADs), hook->Journal().front());
}

TEST_F(Directory, EveryBindGoesToTheGivenServerWithTheCredentials)
{
    QLibADHelper helper;
    ASSERT_TRUE(helper.Initialize(L"127.0.0.1", Admin, TestBedDirectoryPassword).IsOK());
    QLibADsList results;
    ASSERT_TRUE(helper.Search(L"prdadm", L"user", results, 1, nullptr).IsOK());
    ADsFakeObject node;
    node.container = true;
    hook->Fake(OnBed(L"cn=NODE1,cn=Computers,dc=test,dc=example"), node);
    QLibComOwner<IADsContainer> computer;
    ASSERT_TRUE(helper.GetComputerHandle(L"NODE1", computer.put()).IsOK());
    computer.reset();
    EXPECT_THAT(hook->Journal(),
                ElementsAre(Bound(OnBed(L"rootDSE"), Admin, IidIADs),
                            Bound(OnBed(L"dc=test,dc=example"), Admin, IidSearch),
                            Bound(UserPath(L"prdadm"), Admin, IidIADs),
                            Bound(OnBed(L"dc=test,dc=example"), Admin, IidSearch),
                            Bound(OnBed(L"cn=NODE1,cn=Computers,dc=test,dc=example"), Admin, IidContainer)));
}

TEST_F(Directory, ComputerHandleNeedsExactlyOneComputer)
{
    QLibADHelper helper;
    ASSERT_TRUE(helper.Initialize(nullptr, nullptr, nullptr).IsOK());
    const std::pair<const wchar_t*, uint32_t> rows[] = {{L"NODE2", 2}, {L"nosuch", 3}, {L"NODE*", 3}};
    for (const auto& [name, code] : rows) {
        SCOPED_TRACE(name);
        IADsContainer* computer = nullptr;
        ExpectStatus(helper.GetComputerHandle(name, &computer), 27, code);
        EXPECT_EQ(nullptr, computer);
    }
}

TEST_F(Directory, NameListsSkipRowsOfAnotherType)
{
    std::vector<std::wstring> all = {L"prdadm",   L"SAPServicePRD", L"disabled1", L"prdadm2",
                                     L"nonormal", L"twin",          L"twin"};
    std::vector<std::wstring> enabled = {L"prdadm", L"SAPServicePRD", L"prdadm2", L"twin", L"twin"};
    // The lists search through a fake of the domain: Wine's own integer columns depend on what memory holds after
    // each value, so a repeated run could read an enabled account as disabled.
    hook->Fake(OnBed(TestBedDirectorySuffix), ADsFakeObject());
    QLibADHelper helper;
    ASSERT_TRUE(helper.Initialize(nullptr, nullptr, nullptr).IsOK());
    std::vector<std::wstring> names;
    ASSERT_TRUE(helper.GetSystemNames(names).IsOK());
    EXPECT_THAT(names, UnorderedElementsAreArray({L"NODE1", L"NODE2", L"NODE2"}));
    for (bool enabledOnly : {false, true}) {
        names.clear();
        ASSERT_TRUE(helper.GetUserNames(names, enabledOnly).IsOK());
        EXPECT_THAT(names, UnorderedElementsAreArray(enabledOnly ? enabled : all));
    }
    // A row whose account name is not text is left out, not read as text.
    hook->Described(OnBed(TestBedDirectorySuffix))->retyped = {{L"sAMAccountName", L"prdadm2", ADSTYPE_INTEGER}};
    names.clear();
    ASSERT_TRUE(helper.GetUserNames(names, true).IsOK());
    EXPECT_THAT(names, UnorderedElementsAreArray({L"prdadm", L"SAPServicePRD", L"twin", L"twin"}));
}

TEST_F(Directory, FailuresLeaveNoInterfaceBehind)
{
    QLibADHelper helper;
    ASSERT_TRUE(helper.Initialize(nullptr, nullptr, nullptr).IsOK());
    IDirectorySearch* search = nullptr;
    ADS_SEARCH_HANDLE handle = nullptr;
    LPWSTR attribute = const_cast<LPWSTR>(L"cn");
    EXPECT_EQ(QLIB_ERR_COM, helper.GetSearchHandles(&search, &handle, &attribute, 1, L"(cn=", 1, nullptr).GetType());
    EXPECT_EQ(nullptr, search);

    // The second twin cannot be bound: the first, already found, is released with the failure.
    hook->Fake(UserPath(L"twin"), FakeUser(L"twin"));
    ADsFakeObject denied;
    denied.bindResult = E_ACCESSDENIED;
    hook->Fake(UserPath(L"twin", L"cn=Staff,dc=test,dc=example"), denied);
    QLibADsList results;
    ExpectStatus(helper.Search(L"twin", L"user", results, 1, nullptr), QLIB_ERR_COM, E_ACCESSDENIED);
    EXPECT_TRUE(results.empty());

    // A root entry whose naming context is no text.
    ADsFakeObject root;
    root.properties[L"defaultNamingContext"] = {ADSTYPE_INTEGER, {5L}};
    hook->Fake(OnBed(L"rootDSE"), root);
    ExpectStatus(helper.Initialize(nullptr, nullptr, nullptr), QLIB_ERR_COM, DISP_E_TYPEMISMATCH);
    EXPECT_FALSE(helper.IsValid());
}

TEST_F(Directory, InitializeBindsTheOneObjectOfTheName)
{
    hook->Fake(UserPath(L"twin"), FakeUser(L"twin"));
    hook->Fake(UserPath(L"twin", L"cn=Staff,dc=test,dc=example"), FakeUser(L"twin"));
    struct Row {
        const wchar_t* name;
        int32_t type;
        uint32_t code;
    } rows[] = {{L"prdadm", 0, 0}, {L"nosuch", 27, 3}, {L"twin", 27, 2}, {L"prd*", 27, 3}, {nullptr, 27, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name ? row.name : L"(null)");
        QLibADObject object;
        ExpectStatus(object.Initialize(row.name, L"user", 1, nullptr, nullptr, nullptr), row.type, row.code);
        EXPECT_EQ(row.type == 0, object.IsValid());
        EXPECT_EQ(0, hook->Outstanding());
    }
}

TEST_F(Directory, InitializeByClassTakesTheObjectsOwnName)
{
    ADsFakeObject schema;
    schema.name = L"CN=Schema";
    hook->Fake(OnBed(L"cn=Schema,cn=Configuration,dc=test,dc=example"), schema);
    QLibADObject object;
    ASSERT_TRUE(object.Initialize(L"container", 3, nullptr, nullptr, nullptr).IsOK());
    EXPECT_EQ(L"CN=Schema", object.GetName());
    ExpectStatus(object.Initialize(L"container", 2, nullptr, nullptr, nullptr), 27, 2);
    ExpectStatus(object.Initialize(L"container", 0, nullptr, nullptr, nullptr), 27, 1);
}

class DirectoryObject : public Directory {
protected:
    void SetUp() override
    {
        Directory::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ADsFakeObject user = FakeUser(L"prdadm");
        user.guid = L"{0F6A3E58-1B2C-4D5E-8F90-A1B2C3D4E5F6}";
        user.properties[L"description"] = {ADSTYPE_CASE_IGNORE_STRING, {std::wstring(L"a"), std::wstring(L"b")}};
        user.properties[L"userAccountControl"] = {ADSTYPE_INTEGER, {512L}};
        user.properties[L"otherMailbox"] = {ADSTYPE_CASE_IGNORE_STRING, {std::wstring(), std::wstring(L"b")}};
        user.properties[L"flag"] = {ADSTYPE_BOOLEAN, {true}};
        hook->Fake(UserPath(L"prdadm"), user);
        ASSERT_TRUE(object.Initialize(L"prdadm", L"user", 1, L"127.0.0.1", Admin, TestBedDirectoryPassword).IsOK());
    }
    void TearDown() override
    {
        (void)object.Close();
        Directory::TearDown();
    }

    void SetCategory(const std::wstring& category)
    {
        hook->Described(UserPath(L"prdadm"))->properties[L"objectCategory"] = {ADSTYPE_CASE_IGNORE_STRING, {category}};
    }

    QLibADObject object;
};

TEST_F(DirectoryObject, PropertyValuesAsText)
{
    struct Row {
        const wchar_t* property;
        uint32_t chars;
        int32_t type;
        uint32_t code;
        const wchar_t* text;
        uint32_t required;
    } rows[] = {
        {L"description", 4, 0, 0, L"a;b", 0},
        {L"description", 3, 27, 5, L"", 4},
        {L"userAccountControl", 4, 0, 0, L"512", 0},
        {L"otherMailbox", 4, 0, 0, L"b", 0},
        {L"flag", 4, 27, 4, L"", 0},
        {L"info", 4, QLIB_ERR_COM, static_cast<uint32_t>(E_ADS_PROPERTY_NOT_FOUND), L"", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.property);
        wchar_t buffer[8] = {};
        uint32_t required = 0;
        ExpectStatus(object.GetPropertyValue(row.property, buffer, row.chars, &required), row.type, row.code);
        EXPECT_STREQ(row.text, buffer);
        EXPECT_EQ(row.required, required);
    }
}

TEST_F(DirectoryObject, SetPropertyValueWritesStringsOnly)
{
    EXPECT_TRUE(object.SetPropertyValue(L"info", {L"x", L"y"}, ADS_PROPERTY_UPDATE).IsOK());
    ExpectStatus(object.SetPropertyValue(L"userAccountControl", {L"1"}, ADS_PROPERTY_UPDATE), 27, 4);
    ExpectStatus(object.SetPropertyValue(L"info", {}, ADS_PROPERTY_UPDATE), 27, 1);
    EXPECT_THAT(hook->FakeCalls(), ElementsAre(L"PutEx 2 info=x;y", L"SetInfo"));
}

TEST_F(DirectoryObject, CategoryIsTheNameOfACnValue)
{
    const std::wstring longName(QLibADObject::CategoryChars - 1, L'x');
    const std::pair<std::wstring, const wchar_t*> rows[] = {
        {L"CN=Person,CN=Schema,CN=Configuration,DC=test", L"Person"},
        {L"cn=Computer", L"Computer"},
        {L"CN=" + longName, longName.c_str()},
        {L"person", nullptr},
        {L"CN", nullptr},
    };
    for (const auto& [category, expected] : rows) {
        SCOPED_TRACE(category);
        SetCategory(category);
        std::vector<wchar_t> buffer(QLibADObject::CategoryChars, L'-');
        QLibStatus status = object.GetObjectCategory(buffer.data());
        if (expected == nullptr) {
            ExpectStatus(status, 27, 4);
        } else {
            EXPECT_TRUE(status.IsOK());
            EXPECT_STREQ(expected, buffer.data());
        }
    }
}

TEST_F(DirectoryObject, GuidTellsTheSizeItNeeds)
{
    wchar_t buffer[40] = {};
    uint32_t chars = 38;
    ExpectStatus(object.GetGUID(buffer, &chars), 27, 5);
    EXPECT_EQ(39u, chars);
    ASSERT_TRUE(object.GetGUID(buffer, &chars).IsOK());
    EXPECT_STREQ(L"{0F6A3E58-1B2C-4D5E-8F90-A1B2C3D4E5F6}", buffer);
    QLibADObject unbound;
    ExpectStatus(unbound.GetGUID(buffer, &chars), 27, 6);
}

TEST_F(DirectoryObject, DeleteGoesThroughTheParentOnTheServer)
{
    ADsFakeObject users;
    users.container = true;
    hook->Fake(OnBed(Users), users);
    ASSERT_TRUE(object.Delete().IsOK());
    EXPECT_FALSE(object.IsValid());
    EXPECT_EQ(Bound(OnBed(Users), Admin, IidContainer), hook->Journal().back());

    // A container deletes itself with what it holds.
    ASSERT_TRUE(object.Initialize(L"Users", L"container", 1, nullptr, nullptr, nullptr).IsOK());
    ASSERT_TRUE(object.Delete().IsOK());
    EXPECT_THAT(hook->FakeCalls(), ElementsAre(L"Delete user CN=prdadm", L"DeleteObject 0"));
}

TEST_F(DirectoryObject, ChildrenSearchBelowThemselves)
{
    ADsFakeObject users = FakeUser(L"Users");
    users.container = true;
    hook->Fake(OnBed(Users), users);
    for (const wchar_t* name : {L"SAPServicePRD", L"disabled1", L"prdadm2", L"nonormal", L"twin"})
        hook->Fake(UserPath(name), FakeUser(name));
    ASSERT_TRUE(object.Initialize(L"Users", L"container", 1, L"127.0.0.1", Admin, TestBedDirectoryPassword).IsOK());
    std::vector<std::unique_ptr<QLibADObject>> children;
    ASSERT_TRUE(object.GetChildObjects(L"user", children).IsOK());
    std::vector<std::wstring> names;
    for (const auto& child : children)
        names.push_back(child->GetName());
    EXPECT_THAT(names, ElementsAre(L"prdadm", L"SAPServicePRD", L"disabled1", L"prdadm2", L"nonormal", L"twin"));
    std::vector<std::unique_ptr<QLibADObject>> grandchildren;
    ASSERT_TRUE(children[0]->GetChildObjects(L"user", grandchildren).IsOK());
    ASSERT_EQ(1u, grandchildren.size());
    ExpectStatus(children[0]->GetChildObjects(L"computer", grandchildren), 27, 3);
    EXPECT_EQ(1u, grandchildren.size());

    // A child whose name cannot be read ends the list; the results after it are released.
    children.clear();
    grandchildren.clear();
    hook->Described(UserPath(L"SAPServicePRD"))->properties.clear();
    ExpectStatus(object.GetChildObjects(L"user", children), QLIB_ERR_COM, E_ADS_PROPERTY_NOT_FOUND);
    EXPECT_EQ(1u, children.size());
}

} // namespace
