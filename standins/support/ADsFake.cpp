#include "ADsFake.h"

#include <winldap.h>

#include <cwchar>

namespace {

// Counts its references twice: its own, and the world's total of references held on fakes.
template <typename Base>
class Counted : public Base {
public:
    explicit Counted(std::shared_ptr<ADsFakeWorld> world) : m_world(std::move(world)) {}
    virtual ~Counted() = default;

    ULONG WINAPI AddRef() override
    {
        ++m_world->m_outstanding;
        return ++m_references;
    }
    ULONG WINAPI Release() override
    {
        --m_world->m_outstanding;
        ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

protected:
    std::shared_ptr<ADsFakeWorld> m_world;
    std::atomic<ULONG> m_references{0};
};

HRESULT Text(const std::wstring& text, BSTR* result)
{
    *result = SysAllocString(text.c_str());
    return S_OK;
}

void ToVariant(const ADsFakeValue& value, VARIANT* result)
{
    VariantInit(result);
    if (const auto* text = std::get_if<std::wstring>(&value)) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(text->c_str());
    } else if (const auto* number = std::get_if<long>(&value)) {
        result->vt = VT_I4;
        result->lVal = *number;
    } else {
        result->vt = VT_BOOL;
        result->boolVal = std::get<bool>(value) ? VARIANT_TRUE : VARIANT_FALSE;
    }
}

// The values of a path's attribute ("LDAP://host/dn") as the server writes them, read on a connection of its own.
std::vector<DWORD> ServerIntegers(const std::wstring& path, const wchar_t* attribute)
{
    std::vector<DWORD> values;
    const std::wstring scheme = L"LDAP://";
    size_t slash = path.find(L'/', scheme.size());
    if (path.compare(0, scheme.size(), scheme) != 0 || slash == std::wstring::npos)
        return values;
    std::wstring host = path.substr(scheme.size(), slash - scheme.size());
    std::wstring dn = path.substr(slash + 1);
    LDAP* ld = ldap_initW(host.data(), LDAP_PORT);
    if (ld == nullptr)
        return values;
    ULONG version = LDAP_VERSION3;
    ldap_set_optionW(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    PWCHAR attributes[] = {const_cast<PWCHAR>(attribute), nullptr};
    LDAPMessage* result = nullptr;
    if (ldap_simple_bind_sW(ld, nullptr, nullptr) == LDAP_SUCCESS
        && ldap_search_sW(ld, dn.data(), LDAP_SCOPE_BASE, const_cast<PWCHAR>(L"(objectClass=*)"), attributes, 0,
                          &result)
            == LDAP_SUCCESS) {
        LDAPMessage* entry = ldap_first_entry(ld, result);
        PWCHAR* texts = entry ? ldap_get_valuesW(ld, entry, attributes[0]) : nullptr;
        for (ULONG index = 0; texts != nullptr && texts[index] != nullptr; ++index)
            values.push_back(wcstoul(texts[index], nullptr, 10));
        if (texts != nullptr)
            ldap_value_freeW(texts);
    }
    if (result != nullptr)
        ldap_msgfree(result);
    ldap_unbind(ld);
    return values;
}

class FakeEntry : public Counted<IADsPropertyEntry> {
public:
    FakeEntry(std::shared_ptr<ADsFakeWorld> world, long type) : Counted(std::move(world)), m_type(type) {}

    HRESULT WINAPI QueryInterface(REFIID iid, void** result) override
    {
        *result = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IADsPropertyEntry)
            return E_NOINTERFACE;
        *result = static_cast<IADsPropertyEntry*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT WINAPI get_ADsType(LONG* type) override
    {
        *type = m_type;
        return S_OK;
    }
    HRESULT WINAPI Clear() override { return E_NOTIMPL; }
    HRESULT WINAPI get_Name(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI put_Name(BSTR) override { return E_NOTIMPL; }
    HRESULT WINAPI put_ADsType(LONG) override { return E_NOTIMPL; }
    HRESULT WINAPI get_ControlCode(LONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI put_ControlCode(LONG) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Values(VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI put_Values(VARIANT) override { return E_NOTIMPL; }

private:
    long m_type;
};

struct FakeBases : IADs, IADsContainer, IADsDeleteOps, IADsPropertyList, IDirectorySearch {};

class FakeObject : public Counted<FakeBases> {
public:
    FakeObject(std::shared_ptr<ADsFakeWorld> world, std::shared_ptr<ADsFakeObject> object, IDirectorySearch* real)
        : Counted(std::move(world)), m_object(std::move(object)), m_real(real)
    {
        if (m_real)
            m_real->AddRef();
    }
    ~FakeObject() override
    {
        if (m_real)
            m_real->Release();
    }

    HRESULT WINAPI QueryInterface(REFIID iid, void** result) override
    {
        *result = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADs)
            *result = static_cast<IADs*>(this);
        else if (iid == IID_IADsPropertyList)
            *result = static_cast<IADsPropertyList*>(this);
        else if (iid == IID_IADsContainer && m_object->container)
            *result = static_cast<IADsContainer*>(this);
        else if (iid == IID_IADsDeleteOps && m_object->container)
            *result = static_cast<IADsDeleteOps*>(this);
        else if (iid == IID_IDirectorySearch && m_real)
            *result = static_cast<IDirectorySearch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    // IADs
    HRESULT WINAPI get_Name(BSTR* result) override { return Text(m_object->name, result); }
    HRESULT WINAPI get_Class(BSTR* result) override { return Text(m_object->objectClass, result); }
    HRESULT WINAPI get_GUID(BSTR* result) override { return Text(m_object->guid, result); }
    HRESULT WINAPI get_ADsPath(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Parent(BSTR* result) override { return Text(m_object->parent, result); }
    HRESULT WINAPI get_Schema(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetInfo() override { return S_OK; }
    HRESULT WINAPI GetInfoEx(VARIANT, LONG) override { return S_OK; }
    HRESULT WINAPI SetInfo() override
    {
        m_world->m_calls.Add(L"SetInfo");
        return S_OK;
    }
    HRESULT WINAPI Get(BSTR name, VARIANT* result) override
    {
        const ADsFakeProperty* property = Find(name);
        if (property == nullptr || property->values.empty())
            return E_ADS_PROPERTY_NOT_FOUND;
        ToVariant(property->values.front(), result);
        return S_OK;
    }
    HRESULT WINAPI Put(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetEx(BSTR name, VARIANT* result) override
    {
        const ADsFakeProperty* property = Find(name);
        if (property == nullptr)
            return E_ADS_PROPERTY_NOT_FOUND;
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(property->values.size()));
        for (LONG index = 0; index < static_cast<LONG>(property->values.size()); ++index) {
            VARIANT value;
            ToVariant(property->values[index], &value);
            SafeArrayPutElement(array, &index, &value);
            VariantClear(&value);
        }
        VariantInit(result);
        result->vt = VT_ARRAY | VT_VARIANT;
        result->parray = array;
        return S_OK;
    }
    HRESULT WINAPI PutEx(LONG control, BSTR name, VARIANT values) override
    {
        ADsFakeProperty written;
        std::wstring line = L"PutEx " + std::to_wstring(control) + L" " + name + L"=";
        LONG lower = 0;
        LONG upper = -1;
        SafeArrayGetLBound(values.parray, 1, &lower);
        SafeArrayGetUBound(values.parray, 1, &upper);
        for (LONG index = lower; index <= upper; ++index) {
            VARIANT value;
            VariantInit(&value);
            SafeArrayGetElement(values.parray, &index, &value);
            written.values.emplace_back(std::wstring(value.bstrVal));
            line += (index > lower ? L";" : L"") + std::wstring(value.bstrVal);
            VariantClear(&value);
        }
        m_object->properties[name] = written;
        m_world->m_calls.Add(line);
        return S_OK;
    }

    // IADsContainer
    HRESULT WINAPI Delete(BSTR objectClass, BSTR name) override
    {
        m_world->m_calls.Add(std::wstring(L"Delete ") + objectClass + L" " + name);
        return S_OK;
    }
    HRESULT WINAPI get_Count(LONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Filter(VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI put_Filter(VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI get_Hints(VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI put_Hints(VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI GetObject(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT WINAPI Create(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT WINAPI CopyHere(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT WINAPI MoveHere(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }

    // IADsDeleteOps
    HRESULT WINAPI DeleteObject(LONG flags) override
    {
        m_world->m_calls.Add(L"DeleteObject " + std::to_wstring(flags));
        return S_OK;
    }

    // IADsPropertyList
    HRESULT WINAPI GetPropertyItem(BSTR name, LONG, VARIANT* result) override
    {
        const ADsFakeProperty* property = Find(name);
        if (property == nullptr)
            return E_ADS_PROPERTY_NOT_FOUND;
        auto* entry = new FakeEntry(m_world, property->adsType);
        VariantInit(result);
        result->vt = VT_DISPATCH;
        return entry->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&result->pdispVal));
    }
    HRESULT WINAPI get_PropertyCount(LONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI Next(VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI Skip(LONG) override { return E_NOTIMPL; }
    HRESULT WINAPI Reset() override { return E_NOTIMPL; }
    HRESULT WINAPI Item(VARIANT, VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI PutPropertyItem(VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI ResetPropertyItem(VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI PurgePropertyList() override { return E_NOTIMPL; }

    // IDirectorySearch: the real object's, with the columns the description retypes.
    HRESULT WINAPI SetSearchPreference(PADS_SEARCHPREF_INFO preferences, DWORD count) override
    {
        return m_real->SetSearchPreference(preferences, count);
    }
    HRESULT WINAPI ExecuteSearch(LPWSTR filter, LPWSTR* names, DWORD count, PADS_SEARCH_HANDLE handle) override
    {
        return m_real->ExecuteSearch(filter, names, count, handle);
    }
    HRESULT WINAPI AbandonSearch(ADS_SEARCH_HANDLE handle) override { return m_real->AbandonSearch(handle); }
    HRESULT WINAPI GetFirstRow(ADS_SEARCH_HANDLE handle) override { return m_real->GetFirstRow(handle); }
    HRESULT WINAPI GetNextRow(ADS_SEARCH_HANDLE handle) override { return m_real->GetNextRow(handle); }
    HRESULT WINAPI GetPreviousRow(ADS_SEARCH_HANDLE handle) override { return m_real->GetPreviousRow(handle); }
    HRESULT WINAPI GetNextColumnName(ADS_SEARCH_HANDLE handle, LPWSTR* name) override
    {
        return m_real->GetNextColumnName(handle, name);
    }
    HRESULT WINAPI GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column) override
    {
        HRESULT hr = m_real->GetColumn(handle, name, column);
        if (hr == S_OK && column->dwADsType == ADSTYPE_INTEGER)
            ExactIntegers(handle, name, column);
        if (hr != S_OK || column->dwNumValues == 0 || column->dwADsType != ADSTYPE_CASE_IGNORE_STRING)
            return hr;
        for (const ADsFakeRetype& retype : m_object->retyped) {
            if (_wcsicmp(retype.column.c_str(), name) == 0
                && _wcsicmp(retype.value.c_str(), column->pADsValues[0].CaseIgnoreString) == 0) {
                m_retyped[column->pADsValues] = column->dwADsType;
                column->dwADsType = retype.type;
            }
        }
        return hr;
    }
    HRESULT WINAPI FreeColumn(PADS_SEARCH_COLUMN column) override
    {
        auto retyped = m_retyped.find(column->pADsValues);
        if (retyped != m_retyped.end()) {
            column->dwADsType = retyped->second;
            m_retyped.erase(retyped);
        }
        return m_real->FreeColumn(column);
    }
    HRESULT WINAPI CloseSearchHandle(ADS_SEARCH_HANDLE handle) override { return m_real->CloseSearchHandle(handle); }

private:
    // Wine decodes an integer column with atol on a value that has no terminator, so the digits of whatever lies
    // after it in memory join the number ("512" read as 512319); the row's text on the server gives it exactly.
    void ExactIntegers(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column)
    {
        ADS_SEARCH_COLUMN path{};
        if (m_real->GetColumn(handle, const_cast<LPWSTR>(L"ADsPath"), &path) != S_OK)
            return;
        std::vector<DWORD> exact = ServerIntegers(path.pADsValues[0].CaseIgnoreString, name);
        m_real->FreeColumn(&path);
        if (exact.size() != column->dwNumValues)
            return;
        for (DWORD index = 0; index < column->dwNumValues; ++index)
            column->pADsValues[index].Integer = exact[index];
    }

    const ADsFakeProperty* Find(const wchar_t* name) const
    {
        for (const auto& [key, property] : m_object->properties)
            if (_wcsicmp(key.c_str(), name) == 0)
                return &property;
        return nullptr;
    }

    std::shared_ptr<ADsFakeObject> m_object;
    IDirectorySearch* m_real;
    std::map<ADSVALUE*, ADSTYPE> m_retyped;
};

} // namespace

void ADsFakeWorld::Describe(const std::wstring& path, ADsFakeObject object)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_objects.emplace_back(path, std::make_shared<ADsFakeObject>(std::move(object)));
}

std::shared_ptr<ADsFakeObject> ADsFakeWorld::Find(const std::wstring& path) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    for (const auto& [known, object] : m_objects)
        if (_wcsicmp(known.c_str(), path.c_str()) == 0)
            return object;
    return nullptr;
}

HRESULT ADsFakeWorld::Create(std::shared_ptr<ADsFakeObject> object, IDirectorySearch* real, REFIID iid, void** result)
{
    // The world outlives every fake: each holds it.
    auto* fake = new FakeObject(shared_from_this(), std::move(object), real);
    fake->AddRef();
    HRESULT hr = fake->QueryInterface(iid, result);
    fake->Release();
    return hr;
}
