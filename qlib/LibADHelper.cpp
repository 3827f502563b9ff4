#include "LibADHelper.h"

#include <cwchar>
#include <string_view>

#include "LibAssert.h"

namespace {

constexpr wchar_t Scheme[] = L"LDAP://";
constexpr size_t SchemeChars = sizeof Scheme / sizeof Scheme[0] - 1;
constexpr DWORD PageSize = 500;
constexpr DWORD AccountDisabled = 0x2;
constexpr DWORD NormalAccount = 0x200;

// One fetched column; freeing needs the interface that fetched it, which must outlive the owner.
struct SearchColumn {
    IDirectorySearch* search = nullptr;
    ADS_SEARCH_COLUMN column{};
};
struct FreeSearchColumn {
    static bool IsValid(const SearchColumn& fetched) { return fetched.search != nullptr; }
    static void Close(SearchColumn fetched) { fetched.search->FreeColumn(&fetched.column); }
};
using ColumnOwner = QLibUnique<SearchColumn, FreeSearchColumn>;

QLibStatus FetchColumn(ColumnOwner& owner, IDirectorySearch* search, ADS_SEARCH_HANDLE handle, const wchar_t* name)
{
    SearchColumn fetched{search, {}};
    QLibStatus status = QLibADHelper::GetColumn(search, handle, name, &fetched.column);
    if (status.IsOK())
        owner.reset(fetched);
    return status;
}

// The column's first value, when the column has the type the caller reads and a value at all.
const ADSVALUE* FirstValue(const ColumnOwner& owner, ADSTYPE type)
{
    const ADS_SEARCH_COLUMN column = owner.get().column;
    if (column.dwADsType != type || column.dwNumValues == 0 || column.pADsValues == nullptr)
        return nullptr;
    return column.pADsValues;
}

// A failed read (already traced) or a value of another type gives null: the row is skipped.
const ADSVALUE* ReadValue(ColumnOwner& owner, IDirectorySearch* search, ADS_SEARCH_HANDLE handle, const wchar_t* name,
                          ADSTYPE type)
{
    return FetchColumn(owner, search, handle, name).IsOK() ? FirstValue(owner, type) : nullptr;
}

bool NoMoreRows(const QLibStatus& status)
{
    return status.Is(QLIB_ERR_DIRECTORY, QLIB_AD_NOT_FOUND);
}

// Calls visit() per row until one fails or the rows end: success, or 27, 3 when there was no row at all.
template <typename Visit>
QLibStatus ForEachRow(IDirectorySearch* search, ADS_SEARCH_HANDLE handle, Visit visit)
{
    QLibStatus status = QLibADHelper::GetNextRow(search, handle);
    if (status.IsFailed())
        return status;
    while (status.IsOK()) {
        status = visit();
        if (status.IsFailed())
            return status;
        status = QLibADHelper::GetNextRow(search, handle);
    }
    return NoMoreRows(status) ? QLibOk() : status;
}

// RFC 4515: a value in a filter matches only itself. wcschr also finds the terminator, so NUL is escaped too.
std::wstring FilterValue(std::wstring_view value)
{
    std::wstring escaped;
    for (wchar_t c : value) {
        if (wcschr(L"\\*()", c) == nullptr) {
            escaped += c;
            continue;
        }
        wchar_t hex[4] = {};
        swprintf(hex, 4, L"\\%02x", static_cast<unsigned>(c));
        escaped += hex;
    }
    return escaped;
}

ADS_SEARCHPREF_INFO Preference(ADS_SEARCHPREF_ENUM preference, ADSTYPE type, DWORD value)
{
    ADS_SEARCHPREF_INFO info{};
    info.dwSearchPref = preference;
    info.vValue.dwType = type;
    if (type == ADSTYPE_BOOLEAN)
        info.vValue.Boolean = value;
    else
        info.vValue.Integer = value;
    return info;
}

} // namespace

QLibStatus QLibComFailure(const char* file, uint32_t line, const char* function, const wchar_t* call, HRESULT hr)
{
    g_QLibLogQueue.Log(file, line, function, L"%s returned 0x%.08X", call, static_cast<unsigned>(hr));
    return QLibFailure(QLIB_ERR_COM, static_cast<uint32_t>(hr));
}

QLibStatus QLibMakeBstr(const char* function, const wchar_t* text, QLibBstrOwner& owner)
{
    owner.reset(SysAllocString(text));
    return owner ? QLibOk() : QLIB_AD_FAILURE(function, QLIB_AD_OUT_OF_MEMORY, L"Out of memory.");
}

QLibADHelper::~QLibADHelper()
{
    (void)Close();
}

bool QLibADHelper::IsValid() const
{
    return m_bInitialized != 0;
}

QLibStatus QLibADHelper::Close()
{
    SecureZeroMemory(m_Password.data(), m_Password.size() * sizeof(wchar_t));
    for (std::wstring* text : {&m_Server, &m_User, &m_Password, &m_DefaultNamingContext, &m_ConfigurationNamingContext,
                               &m_SchemaNamingContext})
        text->clear();
    m_bInitialized = 0;
    return QLibOk();
}

QLibStatus QLibADHelper::Initialize(const wchar_t* server, const wchar_t* user, const wchar_t* password)
{
    (void)Close();
    m_Server = server ? server : L"";
    m_User = user ? user : L"";
    m_Password = password ? password : L"";
    QLibComOwner<IADs> root;
    HRESULT hr = Bind(PathOf(L"rootDSE").c_str(), IID_IADs, reinterpret_cast<void**>(root.put()));
    QLibStatus status = FAILED(hr) ? QLIB_COM_FAILURE("QLibADHelper::Initialize", L"ADsOpenObject", hr)
                                   : ReadRootEntry(root.get());
    if (status.IsFailed()) {
        (void)Close();
        return status;
    }
    m_bInitialized = 1;
    return status;
}

QLibStatus QLibADHelper::ReadRootEntry(IADs* root)
{
    const std::pair<const wchar_t*, std::wstring*> entries[] = {
        {L"defaultNamingContext", &m_DefaultNamingContext},
        {L"configurationNamingContext", &m_ConfigurationNamingContext},
        {L"schemaNamingContext", &m_SchemaNamingContext},
    };
    for (const auto& [name, field] : entries) {
        QLibBstrOwner property;
        QLibStatus status = QLibMakeBstr("QLibADHelper::Initialize", name, property);
        if (status.IsFailed())
            return status;
        QLibVariantOwner value;
        HRESULT hr = root->Get(property.get(), value.put());
        // One text is what a naming context is; anything else would be read as one.
        if (SUCCEEDED(hr) && value.get().vt != VT_BSTR)
            hr = DISP_E_TYPEMISMATCH;
        if (FAILED(hr))
            return QLIB_COM_FAILURE("QLibADHelper::Initialize", L"pRootDSE->Get", hr);
        *field = value.get().bstrVal ? value.get().bstrVal : L"";
    }
    return QLibOk();
}

void QLibADHelper::InitializeFrom(const QLibADHelper& other)
{
    (void)Close();
    m_Server = other.m_Server;
    m_User = other.m_User;
    m_Password = other.m_Password;
    m_DefaultNamingContext = other.m_DefaultNamingContext;
    m_ConfigurationNamingContext = other.m_ConfigurationNamingContext;
    m_SchemaNamingContext = other.m_SchemaNamingContext;
    m_bInitialized = other.m_bInitialized;
}

HRESULT QLibADHelper::Bind(const wchar_t* path, REFIID iid, void** object) const
{
    return ADsOpenObject(path, m_User.empty() ? nullptr : m_User.c_str(),
                         m_Password.empty() ? nullptr : m_Password.c_str(), ADS_SECURE_AUTHENTICATION, iid, object);
}

std::wstring QLibADHelper::PathOf(const std::wstring& distinguishedName) const
{
    return Scheme + (m_Server.empty() ? std::wstring() : m_Server + L"/") + distinguishedName;
}

std::wstring QLibADHelper::PathOnServer(const wchar_t* path) const
{
    std::wstring given = path;
    if (m_Server.empty() || given.size() < SchemeChars || _wcsnicmp(given.c_str(), Scheme, SchemeChars) != 0)
        return given;
    std::wstring rest = given.substr(SchemeChars);
    // A server comes before the first slash; a distinguished name has a "=" in its first part.
    size_t slash = rest.find(L'/');
    if (slash != std::wstring::npos && rest.substr(0, slash).find(L'=') == std::wstring::npos)
        rest.erase(0, slash + 1);
    return PathOf(rest);
}

std::wstring QLibADHelper::ClassFilter(const wchar_t* objectClass, const wchar_t* name)
{
    return L"(&(objectClass=" + FilterValue(objectClass) + L") (cn=" + (name ? FilterValue(name) : L"*") + L"))";
}

QLibStatus QLibADHelper::OpenSearch(const char* function, uint32_t namingContext, IADs* source,
                                    QLibComOwner<IDirectorySearch>& search) const
{
    if (source != nullptr) {
        HRESULT hr = source->QueryInterface(IID_IDirectorySearch, reinterpret_cast<void**>(search.put()));
        if (FAILED(hr))
            return QLIB_COM_FAILURE(function, L"pSource->QueryInterface for IID_IDirectorySearch", hr);
        return QLibOk();
    }
    const std::wstring* contexts[] = {&m_DefaultNamingContext, &m_ConfigurationNamingContext, &m_SchemaNamingContext};
    if (namingContext < 1 || namingContext > 3)
        return QLIB_AD_FAILURE(function, QLIB_AD_INVALID_PARAMETERS, L"Invalid naming context specified.");
    HRESULT hr = Bind(PathOf(*contexts[namingContext - 1]).c_str(), IID_IDirectorySearch,
                      reinterpret_cast<void**>(search.put()));
    if (FAILED(hr))
        return QLIB_COM_FAILURE(function, L"ADsOpenObject", hr);
    return QLibOk();
}

QLibStatus QLibADHelper::ExecuteSearch(const char* function, QLibComOwner<IDirectorySearch>& search,
                                       QLibSearchHandleOwner& open, LPWSTR* attributes, uint32_t attributeCount,
                                       const wchar_t* filter, uint32_t namingContext, IADs* source, bool uncached) const
{
    QLibStatus status = OpenSearch(function, namingContext, source, search);
    if (status.IsFailed())
        return status;
    ADS_SEARCHPREF_INFO preferences[] = {
        Preference(ADS_SEARCHPREF_SEARCH_SCOPE, ADSTYPE_INTEGER, ADS_SCOPE_SUBTREE),
        Preference(ADS_SEARCHPREF_PAGESIZE, ADSTYPE_INTEGER, PageSize),
        Preference(ADS_SEARCHPREF_CACHE_RESULTS, ADSTYPE_BOOLEAN, FALSE),
    };
    HRESULT hr = search.get()->SetSearchPreference(preferences, uncached ? 3 : 2);
    if (FAILED(hr))
        return QLIB_COM_FAILURE(function, L"pIDirSearch->SetSearchPreference", hr);
    QLibSearchHandle opened{search.get(), nullptr};
    hr = search.get()->ExecuteSearch(const_cast<LPWSTR>(filter), attributes, attributeCount, &opened.handle);
    if (FAILED(hr))
        return QLIB_COM_FAILURE(function, L"pIDirSearch->ExecuteSearch", hr);
    open.reset(opened);
    return QLibOk();
}

QLibStatus QLibADHelper::Search(const wchar_t* name, const wchar_t* objectClass, QLibADsList& results,
                                uint32_t namingContext, IADs* source)
{
    if (name == nullptr || objectClass == nullptr || (namingContext == 0 && source == nullptr))
        return QLIB_AD_FAILURE("QLibADHelper::Search", QLIB_AD_INVALID_PARAMETERS, L"Invalid parameters.");
    return Search(ClassFilter(objectClass, name).c_str(), results, namingContext, source);
}

QLibStatus QLibADHelper::Search(const wchar_t* filter, QLibADsList& results, uint32_t namingContext, IADs* source)
{
    if (filter == nullptr || (namingContext == 0 && source == nullptr))
        return QLIB_AD_FAILURE("QLibADHelper::Search", QLIB_AD_INVALID_PARAMETERS, L"Invalid parameters.");
    QLIB_ASSERT(IsValid());
    LPWSTR attribute = const_cast<LPWSTR>(L"ADsPath");
    QLibComOwner<IDirectorySearch> search;
    QLibSearchHandleOwner open;
    QLibStatus status = ExecuteSearch("QLibADHelper::Search", search, open, &attribute, 1, filter, namingContext,
                                      source, false);
    if (status.IsFailed())
        return status;
    // The caller gets the objects only when the whole search succeeds; on failure they are released here.
    QLibADsList found;
    ADS_SEARCH_HANDLE handle = open.get().handle;
    status = ForEachRow(search.get(), handle, [&] {
        ColumnOwner column;
        QLibStatus read = FetchColumn(column, search.get(), handle, attribute);
        if (read.IsFailed())
            return read;
        const ADSVALUE* path = FirstValue(column, ADSTYPE_CASE_IGNORE_STRING);
        if (path == nullptr)
            return QLibOk();
        QLibComOwner<IADs> object;
        HRESULT hr = Bind(path->CaseIgnoreString, IID_IADs, reinterpret_cast<void**>(object.put()));
        if (FAILED(hr))
            return QLIB_COM_FAILURE("QLibADHelper::Search", L"ADsOpenObject", hr);
        found.push_back(std::move(object));
        return QLibOk();
    });
    if (status.IsFailed())
        return status;
    for (QLibComOwner<IADs>& object : found)
        results.push_back(std::move(object));
    return status;
}

template <typename Visit>
QLibStatus QLibADHelper::WalkNames(const char* function, LPWSTR* attributes, uint32_t attributeCount,
                                   const wchar_t* filter, Visit visit)
{
    QLIB_ASSERT(IsValid());
    QLibComOwner<IDirectorySearch> search;
    QLibSearchHandleOwner open;
    QLibStatus status = ExecuteSearch(function, search, open, attributes, attributeCount, filter, 1, nullptr, true);
    if (status.IsFailed())
        return status;
    ADS_SEARCH_HANDLE handle = open.get().handle;
    status = ForEachRow(search.get(), handle, [&] {
        visit(search.get(), handle);
        return QLibOk();
    });
    return NoMoreRows(status) ? QLibOk() : status;
}

QLibStatus QLibADHelper::GetSystemNames(std::vector<std::wstring>& names)
{
    LPWSTR attribute = const_cast<LPWSTR>(L"name");
    return WalkNames("QLibADHelper::GetSystemNames", &attribute, 1, L"(&(objectClass=computer)(cn=*))",
                     [&](IDirectorySearch* search, ADS_SEARCH_HANDLE handle) {
                         ColumnOwner column;
                         if (const ADSVALUE* name = ReadValue(column, search, handle, attribute,
                                                              ADSTYPE_CASE_IGNORE_STRING))
                             names.emplace_back(name->CaseIgnoreString);
                     });
}

QLibStatus QLibADHelper::GetUserNames(std::vector<std::wstring>& names, bool enabledOnly)
{
    LPWSTR attributes[] = {const_cast<LPWSTR>(L"userAccountControl"), const_cast<LPWSTR>(L"sAMAccountName")};
    return WalkNames("QLibADHelper::GetUserNames", attributes, 2, L"(&(objectClass=user)(objectCategory=person))",
                     [&](IDirectorySearch* search, ADS_SEARCH_HANDLE handle) {
                         if (enabledOnly) {
                             ColumnOwner column;
                             const ADSVALUE* control = ReadValue(column, search, handle, attributes[0],
                                                                 ADSTYPE_INTEGER);
                             if (control == nullptr || (control->Integer & AccountDisabled) != 0
                                 || (control->Integer & NormalAccount) == 0)
                                 return;
                         }
                         ColumnOwner column;
                         if (const ADSVALUE* name = ReadValue(column, search, handle, attributes[1],
                                                              ADSTYPE_CASE_IGNORE_STRING))
                             names.emplace_back(name->CaseIgnoreString);
                     });
}

QLibStatus QLibADHelper::GetSearchHandles(IDirectorySearch** search, ADS_SEARCH_HANDLE* handle, LPWSTR* attributes,
                                          uint32_t attributeCount, const wchar_t* filter, uint32_t namingContext,
                                          IADs* source)
{
    if (search != nullptr)
        *search = nullptr;
    if (search == nullptr || handle == nullptr || filter == nullptr || (namingContext == 0 && source == nullptr))
        return QLIB_AD_FAILURE("QLibADHelper::GetSearchHandles", QLIB_AD_INVALID_PARAMETERS, L"Invalid parameters.");
    QLIB_ASSERT(IsValid());
    QLibComOwner<IDirectorySearch> opened;
    QLibSearchHandleOwner open;
    QLibStatus status = ExecuteSearch("QLibADHelper::GetSearchHandles", opened, open, attributes, attributeCount,
                                      filter, namingContext, source, true);
    if (status.IsFailed())
        return status;
    *handle = open.release().handle;
    *search = opened.release();
    return status;
}

QLibStatus QLibADHelper::GetNextRow(IDirectorySearch* search, ADS_SEARCH_HANDLE handle)
{
    HRESULT hr = search->GetNextRow(handle);
    if (hr == S_ADS_NOMORE_ROWS)
        return QLibFailure(QLIB_ERR_DIRECTORY, QLIB_AD_NOT_FOUND);
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADHelper::GetNextRow", L"pIDirSearch->GetNextRow", hr);
    return QLibOk();
}

QLibStatus QLibADHelper::GetColumn(IDirectorySearch* search, ADS_SEARCH_HANDLE handle, const wchar_t* name,
                                   ADS_SEARCH_COLUMN* column)
{
    HRESULT hr = search->GetColumn(handle, const_cast<LPWSTR>(name), column);
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADHelper::GetColumn", L"pIDirSearch->GetColumn", hr);
    return QLibOk();
}

QLibStatus QLibADHelper::FreeColumn(IDirectorySearch* search, ADS_SEARCH_COLUMN* column)
{
    search->FreeColumn(column);
    return QLibOk();
}

QLibStatus QLibADHelper::CloseSearchHandle(IDirectorySearch* search, ADS_SEARCH_HANDLE handle)
{
    QLibSearchHandleOwner closing(QLibSearchHandle{search, handle});
    return QLibOk();
}

QLibStatus QLibADHelper::ReleaseDirectorySearch(IDirectorySearch** search)
{
    QLibComOwner<IDirectorySearch> releasing(*search);
    *search = nullptr;
    return QLibOk();
}

QLibStatus QLibADHelper::GetComputerHandle(const std::wstring& computerName, IADsContainer** container)
{
    if (container == nullptr)
        return QLIB_AD_FAILURE("QLibADHelper::GetComputerHandle", QLIB_AD_INVALID_PARAMETERS, L"Invalid parameters.");
    *container = nullptr;
    QLIB_ASSERT(IsValid());
    std::wstring filter = L"(&(objectClass=computer)(objectCategory=computer)(cn=" + FilterValue(computerName) + L"))";
    LPWSTR attribute = const_cast<LPWSTR>(L"distinguishedName");
    QLibComOwner<IDirectorySearch> search;
    QLibSearchHandleOwner open;
    QLibStatus status = ExecuteSearch("QLibADHelper::GetComputerHandle", search, open, &attribute, 1, filter.c_str(), 1,
                                      nullptr, true);
    if (status.IsFailed())
        return status;
    std::wstring found;
    bool seen = false;
    status = ForEachRow(search.get(), open.get().handle, [&] {
        if (seen)
            return QLIB_AD_FAILURE("QLibADHelper::GetComputerHandle", QLIB_AD_AMBIGUOUS,
                                   L"More than one computer found.");
        seen = true;
        ColumnOwner column;
        QLibStatus read = FetchColumn(column, search.get(), open.get().handle, attribute);
        if (read.IsFailed())
            return read;
        const ADSVALUE* name = FirstValue(column, ADSTYPE_DN_STRING);
        if (name == nullptr || name->DNString == nullptr)
            return QLIB_AD_FAILURE("QLibADHelper::GetComputerHandle", QLIB_AD_COLUMN_TYPE,
                                   L"Column has an unexpected type.");
        found = name->DNString;
        return QLibOk();
    });
    if (status.IsFailed())
        return status;
    HRESULT hr = Bind(PathOf(found).c_str(), IID_IADsContainer, reinterpret_cast<void**>(container));
    if (FAILED(hr)) {
        *container = nullptr;
        return QLIB_COM_FAILURE("QLibADHelper::GetComputerHandle", L"ADsOpenObject", hr);
    }
    return status;
}
