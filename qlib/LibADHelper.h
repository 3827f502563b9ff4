#pragma once
// Directory search over LDAP through ADSI: the naming contexts the root entry announces, the server and
// credentials every bind uses, subtree searches, name lists and raw search handles.

#include <windows.h>
#include <ole2.h>

#include <activeds.h>

#include <cstdint>
#include <string>
#include <vector>

#include "LibLogger.h"
#include "LibOwners.h"
#include "LibWin32Object.h"

// Search results: one reference each, owned by the list.
using QLibADsList = std::vector<QLibComOwner<IADs>>;

// An open search: closing needs the interface that opened it, which must outlive the owner.
struct QLibSearchHandle {
    IDirectorySearch* search = nullptr;
    ADS_SEARCH_HANDLE handle = nullptr;
};
struct QLibCloseSearchHandle {
    static bool IsValid(const QLibSearchHandle& open) { return open.handle != nullptr; }
    static void Close(const QLibSearchHandle& open) { open.search->CloseSearchHandle(open.handle); }
};
using QLibSearchHandleOwner = QLibUnique<QLibSearchHandle, QLibCloseSearchHandle>;

// A failed COM call, traced as "<call> returned 0x<hr>": a type 4 failure carrying the HRESULT.
QLibStatus QLibComFailure(const char* file, uint32_t line, const char* function, const wchar_t* call, HRESULT hr);
#define QLIB_COM_FAILURE(function, call, hr) QLibComFailure(__FILE_NAME__, __LINE__, function, call, hr)

// A name handed to ADSI as a true BSTR, whose length a server may read; 27, 8 when it cannot be made.
QLibStatus QLibMakeBstr(const char* function, const wchar_t* text, QLibBstrOwner& owner);

// A directory failure (type 27) with its trace line.
#define QLIB_AD_FAILURE(function, code, message)                                                                       \
    (QLIB_TRACE(function, L"%s", message), QLibFailure(QLIB_ERR_DIRECTORY, code))

// Type 27 codes.
enum QLibADError : uint32_t {
    QLIB_AD_COLUMN_TYPE = 0,
    QLIB_AD_INVALID_PARAMETERS = 1,
    QLIB_AD_AMBIGUOUS = 2,
    QLIB_AD_NOT_FOUND = 3,
    QLIB_AD_NOT_A_STRING = 4,
    QLIB_AD_BUFFER_TOO_SMALL = 5,
    QLIB_AD_NOT_INITIALIZED = 6,
    QLIB_AD_OUT_OF_MEMORY = 8,
};

class QLibADHelper : public QLibObject {
public:
    QLibADHelper() = default;
    ~QLibADHelper() override;

    QLibADHelper(const QLibADHelper&) = delete;
    QLibADHelper& operator=(const QLibADHelper&) = delete;

    bool IsValid() const override;
    // Wipes the password.
    QLibStatus Close() override;
    // Reads the naming contexts from the root entry of the server (null: the default one).
    virtual QLibStatus Initialize(const wchar_t* server, const wchar_t* user, const wchar_t* password);
    // Takes over another helper's server, credentials and naming contexts, so that an object found through
    // one can search below itself.
    void InitializeFrom(const QLibADHelper& other);

    // Objects of the class whose cn is the name, taken literally (no wildcard).
    QLibStatus Search(const wchar_t* name, const wchar_t* objectClass, QLibADsList& results, uint32_t namingContext,
                      IADs* source);
    // A complete LDAP filter, used as it stands: the caller escapes any value in it.
    QLibStatus Search(const wchar_t* filter, QLibADsList& results, uint32_t namingContext, IADs* source);
    // "(&(objectClass=<class>) (cn=<name>))" with both values escaped; a null name matches every cn.
    static std::wstring ClassFilter(const wchar_t* objectClass, const wchar_t* name);

    QLibStatus GetSystemNames(std::vector<std::wstring>& names);
    // Account names of persons; enabledOnly keeps enabled normal accounts only.
    QLibStatus GetUserNames(std::vector<std::wstring>& names, bool enabledOnly);
    // On failure the interface is released and *search is null.
    QLibStatus GetSearchHandles(IDirectorySearch** search, ADS_SEARCH_HANDLE* handle, LPWSTR* attributes,
                                uint32_t attributeCount, const wchar_t* filter, uint32_t namingContext, IADs* source);
    static QLibStatus GetNextRow(IDirectorySearch* search, ADS_SEARCH_HANDLE handle);
    static QLibStatus GetColumn(IDirectorySearch* search, ADS_SEARCH_HANDLE handle, const wchar_t* name,
                                ADS_SEARCH_COLUMN* column);
    static QLibStatus FreeColumn(IDirectorySearch* search, ADS_SEARCH_COLUMN* column);
    static QLibStatus CloseSearchHandle(IDirectorySearch* search, ADS_SEARCH_HANDLE handle);
    static QLibStatus ReleaseDirectorySearch(IDirectorySearch** search);
    QLibStatus GetComputerHandle(const std::wstring& computerName, IADsContainer** container);

    // Binds a path with the stored credentials.
    HRESULT Bind(const wchar_t* path, REFIID iid, void** object) const;
    // The path of a distinguished name, or of another path's object, on the stored server.
    std::wstring PathOf(const std::wstring& distinguishedName) const;
    std::wstring PathOnServer(const wchar_t* path) const;

private:
    QLibStatus ReadRootEntry(IADs* root);
    QLibStatus OpenSearch(const char* function, uint32_t namingContext, IADs* source,
                          QLibComOwner<IDirectorySearch>& search) const;
    // Opens the search, sets the preferences (uncached: results are not kept for a second walk) and runs it.
    QLibStatus ExecuteSearch(const char* function, QLibComOwner<IDirectorySearch>& search, QLibSearchHandleOwner& open,
                             LPWSTR* attributes, uint32_t attributeCount, const wchar_t* filter, uint32_t namingContext,
                             IADs* source, bool uncached) const;
    // Walks a list search over its rows; no row at all is not a failure here.
    template <typename Visit>
    QLibStatus WalkNames(const char* function, LPWSTR* attributes, uint32_t attributeCount, const wchar_t* filter,
                         Visit visit);

    std::wstring m_Server;
    std::wstring m_User;
    std::wstring m_Password;
    uint32_t m_bInitialized = 0;
    std::wstring m_DefaultNamingContext;
    std::wstring m_ConfigurationNamingContext;
    std::wstring m_SchemaNamingContext;
};
