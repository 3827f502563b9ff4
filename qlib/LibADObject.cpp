#include "LibADObject.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "LibAssert.h"

namespace {

constexpr uint32_t NameChars = 260;
constexpr uint32_t CategoryValueChars = 4096;
constexpr wchar_t CategoryPrefix[] = L"CN=";
constexpr size_t CategoryPrefixChars = 3;

QLibStatus InvalidParameters(const char* function)
{
    return QLIB_AD_FAILURE(function, QLIB_AD_INVALID_PARAMETERS, L"Invalid parameters.");
}

QLibStatus NotInitialized(const char* function)
{
    return QLIB_AD_FAILURE(function, QLIB_AD_NOT_INITIALIZED, L"Object is not initialized.");
}

// The form that also names the error type, for the calls of GetGUID and Delete.
QLibStatus CallFailure(const char* function, const wchar_t* call, HRESULT hr)
{
    QLibStatus status = QLibFailure(QLIB_ERR_COM, static_cast<uint32_t>(hr));
    QLIB_TRACE_FAILED(function, call, status);
    return status;
}

} // namespace

QLibADObject::~QLibADObject()
{
    (void)Close();
}

bool QLibADObject::IsValid() const
{
    return m_bInitialized != 0;
}

QLibStatus QLibADObject::Close()
{
    (void)m_ADHelper.Close();
    m_bInitialized = 0;
    m_Name.clear();
    m_ObjectClass.clear();
    m_NamingContext = DefaultNamingContext;
    m_pIADs.reset();
    return QLibOk();
}

QLibStatus QLibADObject::Initialize(const wchar_t* name, const wchar_t* objectClass, uint32_t namingContext,
                                    const wchar_t* server, const wchar_t* user, const wchar_t* password)
{
    (void)Close();
    if (name == nullptr || objectClass == nullptr)
        return InvalidParameters("QLibADObject::Initialize");
    QLibStatus status = m_ADHelper.Initialize(server, user, password);
    if (status.IsFailed())
        return status;
    m_Name = name;
    m_ObjectClass = objectClass;
    m_NamingContext = namingContext;
    QLibADsList results;
    status = m_ADHelper.Search(name, objectClass, results, namingContext, nullptr);
    if (status.IsOK())
        status = Bind(std::move(results));
    if (status.IsFailed()) {
        (void)Close();
        return status;
    }
    m_bInitialized = 1;
    return status;
}

QLibStatus QLibADObject::Initialize(const wchar_t* objectClass, uint32_t namingContext, const wchar_t* server,
                                    const wchar_t* user, const wchar_t* password)
{
    (void)Close();
    if (objectClass == nullptr || namingContext == 0)
        return InvalidParameters("QLibADObject::Initialize");
    QLibStatus status = m_ADHelper.Initialize(server, user, password);
    if (status.IsFailed())
        return status;
    m_ObjectClass = objectClass;
    m_NamingContext = namingContext;
    QLibADsList results;
    status = m_ADHelper.Search(QLibADHelper::ClassFilter(objectClass, nullptr).c_str(), results, namingContext,
                               nullptr);
    if (status.IsOK())
        status = Bind(std::move(results));
    if (status.IsOK())
        status = ReadName(m_Name);
    if (status.IsFailed()) {
        (void)Close();
        return status;
    }
    m_bInitialized = 1;
    return status;
}

// Keeps the one result; any others are released with the list.
QLibStatus QLibADObject::Bind(QLibADsList results)
{
    if (results.empty())
        return QLIB_AD_FAILURE("QLibADObject::Initialize", QLIB_AD_NOT_FOUND, L"No object found.");
    if (results.size() > 1)
        return QLIB_AD_FAILURE("QLibADObject::Initialize", QLIB_AD_AMBIGUOUS, L"More than one object found.");
    m_pIADs = std::move(results.front());
    return QLibOk();
}

QLibStatus QLibADObject::ReadName(std::wstring& name)
{
    QLibBstrOwner text;
    HRESULT hr = m_pIADs.get()->get_Name(text.put());
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::Initialize", L"m_pIADs->get_Name", hr);
    name = text.get() ? text.get() : L"";
    return QLibOk();
}

QLibStatus QLibADObject::GetPropertyValue(const wchar_t* property, wchar_t* buffer, uint32_t bufferChars,
                                          uint32_t* required)
{
    if (property == nullptr || buffer == nullptr || required == nullptr)
        return InvalidParameters("QLibADObject::GetPropertyValue");
    QLIB_ASSERT(IsValid());
    LPWSTR name = const_cast<LPWSTR>(property);
    QLibVariantOwner names;
    HRESULT hr = ADsBuildVarArrayStr(&name, 1, names.put());
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValue", L"ADsBuildVarArrayStr", hr);
    hr = m_pIADs.get()->GetInfoEx(names.get(), 0);
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValue", L"m_pIADs->GetInfoEx", hr);
    QLibBstrOwner propertyName;
    QLibStatus status = QLibMakeBstr("QLibADObject::GetPropertyValue", property, propertyName);
    if (status.IsFailed())
        return status;
    QLibVariantOwner values;
    hr = m_pIADs.get()->GetEx(propertyName.get(), values.put());
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValue", L"m_pIADs->GetEx", hr);
    if (values.get().vt != (VT_ARRAY | VT_VARIANT))
        return QLIB_AD_FAILURE("QLibADObject::GetPropertyValue", QLIB_AD_NOT_A_STRING,
                               L"Property value is not a string.");
    SAFEARRAY* array = values.get().parray;
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(hr = SafeArrayGetLBound(array, 1, &lower)))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValue", L"SafeArrayGetLBound", hr);
    if (FAILED(hr = SafeArrayGetUBound(array, 1, &upper)))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValue", L"SafeArrayGetUBound", hr);
    std::wstring text;
    for (LONG index = lower; index <= upper; ++index) {
        QLibVariantOwner element;
        if (FAILED(hr = SafeArrayGetElement(array, &index, element.put())))
            return QLIB_COM_FAILURE("QLibADObject::GetPropertyValue", L"SafeArrayGetElement", hr);
        if (!text.empty())
            text += L';';
        if (element.get().vt == VT_BSTR && element.get().bstrVal != nullptr)
            text += element.get().bstrVal;
        else if (element.get().vt == VT_I4)
            text += std::to_wstring(element.get().lVal);
        else if (element.get().vt != VT_BSTR)
            return QLIB_AD_FAILURE("QLibADObject::GetPropertyValue", QLIB_AD_NOT_A_STRING,
                                   L"Property value is not a string.");
    }
    if (text.size() >= bufferChars) {
        *required = static_cast<uint32_t>(text.size() + 1);
        return QLIB_AD_FAILURE("QLibADObject::GetPropertyValue", QLIB_AD_BUFFER_TOO_SMALL, L"Insufficient buffer.");
    }
    wmemcpy(buffer, text.c_str(), text.size() + 1);
    return QLibOk();
}

QLibStatus QLibADObject::GetPropertyValueType(const wchar_t* property, uint32_t* type)
{
    if (property == nullptr || type == nullptr)
        return InvalidParameters("QLibADObject::GetPropertyValueType");
    QLIB_ASSERT(IsValid());
    HRESULT hr = m_pIADs.get()->GetInfo();
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValueType", L"m_pIADs->GetInfo", hr);
    QLibComOwner<IADsPropertyList> list;
    hr = m_pIADs.get()->QueryInterface(IID_IADsPropertyList, reinterpret_cast<void**>(list.put()));
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValueType",
                                L"m_pIADs->QueryInterface for IID_IADsPropertyList", hr);
    QLibBstrOwner propertyName;
    QLibStatus status = QLibMakeBstr("QLibADObject::GetPropertyValueType", property, propertyName);
    if (status.IsFailed())
        return status;
    QLibVariantOwner item;
    hr = list.get()->GetPropertyItem(propertyName.get(), ADSTYPE_UNKNOWN, item.put());
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValueType", L"propertyList->GetPropertyItem", hr);
    QLibComOwner<IADsPropertyEntry> entry;
    hr = item.get().vt == VT_DISPATCH && item.get().pdispVal != nullptr
        ? item.get().pdispVal->QueryInterface(IID_IADsPropertyEntry, reinterpret_cast<void**>(entry.put()))
        : E_NOINTERFACE;
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValueType", L"var->QueryInterface for IID_IADsPropertyEntry",
                                hr);
    long adsType = 0;
    hr = entry.get()->get_ADsType(&adsType);
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::GetPropertyValueType", L"propertyEntry->get_ADsType", hr);
    *type = static_cast<uint32_t>(adsType);
    return QLibOk();
}

QLibStatus QLibADObject::SetPropertyValue(const wchar_t* property, std::vector<std::wstring> values, uint32_t control)
{
    if (property == nullptr || values.empty())
        return InvalidParameters("QLibADObject::SetPropertyValue");
    QLIB_ASSERT(IsValid());
    uint32_t type = 0;
    QLibStatus status = GetPropertyValueType(property, &type);
    // A property not set yet has no type to check.
    bool notSet = status.Is(QLIB_ERR_COM, static_cast<uint32_t>(E_ADS_PROPERTY_NOT_FOUND));
    if (status.IsFailed() && !notSet)
        return status;
    if (!notSet && type != ADSTYPE_DN_STRING && type != ADSTYPE_CASE_IGNORE_STRING)
        return QLIB_AD_FAILURE("QLibADObject::SetPropertyValue", QLIB_AD_NOT_A_STRING,
                               L"Property value is not string.");
    std::vector<LPWSTR> texts;
    for (std::wstring& value : values)
        texts.push_back(value.data());
    QLibVariantOwner array;
    HRESULT hr = ADsBuildVarArrayStr(texts.data(), static_cast<DWORD>(texts.size()), array.put());
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::SetPropertyValue", L"ADsBuildVarArrayStr", hr);
    QLibBstrOwner propertyName;
    status = QLibMakeBstr("QLibADObject::SetPropertyValue", property, propertyName);
    if (status.IsFailed())
        return status;
    hr = m_pIADs.get()->PutEx(static_cast<long>(control), propertyName.get(), array.get());
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::SetPropertyValue", L"m_pIADs->PutEx", hr);
    hr = m_pIADs.get()->SetInfo();
    if (FAILED(hr))
        return QLIB_COM_FAILURE("QLibADObject::SetPropertyValue", L"m_pIADs->SetInfo", hr);
    return QLibOk();
}

QLibStatus QLibADObject::GetChildObjects(const wchar_t* childClass,
                                         std::vector<std::unique_ptr<QLibADObject>>& children)
{
    if (childClass == nullptr)
        return InvalidParameters("QLibADObject::GetChildObjects");
    QLIB_ASSERT(IsValid());
    QLibADsList results;
    QLibStatus status = m_ADHelper.Search(QLibADHelper::ClassFilter(childClass, nullptr).c_str(), results, 0,
                                          m_pIADs.get());
    if (status.IsFailed())
        return status;
    return BuildADObjectList(children, std::move(results), childClass);
}

// Children appended before a failure stay; the rest of the results are released with the list.
QLibStatus QLibADObject::BuildADObjectList(std::vector<std::unique_ptr<QLibADObject>>& children, QLibADsList results,
                                           const wchar_t* childClass)
{
    try {
        for (QLibComOwner<IADs>& result : results) {
            auto child = std::make_unique<QLibADObject>();
            child->m_pIADs = std::move(result);
            child->m_ObjectClass = childClass;
            child->m_NamingContext = m_NamingContext;
            child->m_bInitialized = 1;
            // Searches below the child need this object's server, credentials and naming contexts.
            child->m_ADHelper.InitializeFrom(m_ADHelper);
            std::wstring name(NameChars, L'\0');
            uint32_t required = 0;
            QLibStatus status = child->GetPropertyValue(L"cn", name.data(), NameChars, &required);
            if (status.Is(QLIB_ERR_DIRECTORY, QLIB_AD_BUFFER_TOO_SMALL)) {
                name.assign(required, L'\0');
                status = child->GetPropertyValue(L"cn", name.data(), required, &required);
            }
            if (status.IsFailed()) {
                QLIB_TRACE_FAILED("QLibADObject::_BuildADObjectList", L"pTempADObj->GetPropertyValue", status);
                return status;
            }
            child->m_Name = name.c_str();
            children.push_back(std::move(child));
        }
    } catch (const std::bad_alloc&) {
        return QLIB_AD_FAILURE("QLibADObject::_BuildADObjectList", QLIB_AD_OUT_OF_MEMORY, L"Out of memory.");
    }
    return QLibOk();
}

QLibStatus QLibADObject::GetIADs(IADs** object)
{
    if (object == nullptr)
        return InvalidParameters("QLibADObject::GetIADs");
    if (!IsValid())
        return NotInitialized("QLibADObject::GetIADs");
    *object = m_pIADs.get();
    return QLibOk();
}

QLibStatus QLibADObject::GetObjectCategory(wchar_t* buffer)
{
    if (buffer == nullptr)
        return InvalidParameters("QLibADObject::GetObjectCategory");
    if (!IsValid())
        return NotInitialized("QLibADObject::GetObjectCategory");
    std::wstring value(CategoryValueChars, L'\0');
    uint32_t required = 0;
    QLibStatus status = GetPropertyValue(L"objectCategory", value.data(), CategoryValueChars, &required);
    if (status.IsFailed())
        return status;
    value.resize(wcslen(value.c_str()));
    if (_wcsnicmp(value.c_str(), CategoryPrefix, CategoryPrefixChars) != 0)
        return QLIB_AD_FAILURE("QLibADObject::GetObjectCategory", QLIB_AD_NOT_A_STRING,
                               L"Object category is not a CN= name.");
    std::wstring name = value.substr(CategoryPrefixChars, value.find(L',') - CategoryPrefixChars);
    name.resize(std::min(name.size(), CategoryChars - 1));
    wmemcpy(buffer, name.c_str(), name.size() + 1);
    return QLibOk();
}

QLibStatus QLibADObject::GetGUID(wchar_t* buffer, uint32_t* chars)
{
    if (buffer == nullptr || chars == nullptr)
        return InvalidParameters("QLibADObject::GetGUID");
    if (!IsValid())
        return NotInitialized("QLibADObject::GetGUID");
    QLibBstrOwner guid;
    HRESULT hr = m_pIADs.get()->get_GUID(guid.put());
    if (FAILED(hr))
        return CallFailure("QLibADObject::GetGUID", L"m_pIADs->get_GUID", hr);
    const wchar_t* text = guid.get() ? guid.get() : L"";
    uint32_t needed = static_cast<uint32_t>(wcslen(text) + 1);
    bool fits = *chars >= needed;
    *chars = needed;
    if (!fits)
        return QLIB_AD_FAILURE("QLibADObject::GetGUID", QLIB_AD_BUFFER_TOO_SMALL, L"Insufficient buffer.");
    wmemcpy(buffer, text, needed);
    return QLibOk();
}

const std::wstring& QLibADObject::GetName() const
{
    return m_Name;
}

QLibStatus QLibADObject::Delete()
{
    if (!IsValid())
        return NotInitialized("QLibADObject::Delete");
    QLibComOwner<IADsContainer> container;
    HRESULT hr = m_pIADs.get()->QueryInterface(IID_IADsContainer, reinterpret_cast<void**>(container.put()));
    QLibStatus status = QLibOk();
    if (SUCCEEDED(hr)) {
        QLibComOwner<IADsDeleteOps> operations;
        hr = container.get()->QueryInterface(IID_IADsDeleteOps, reinterpret_cast<void**>(operations.put()));
        if (FAILED(hr))
            return CallFailure("QLibADObject::Delete", L"pIADsContainer->QueryInterface for IID_IADsDeleteOps", hr);
        hr = operations.get()->DeleteObject(0);
        if (FAILED(hr))
            return CallFailure("QLibADObject::Delete", L"pIADsDeleteOps->Delete", hr);
    } else {
        status = DeleteLeaf();
    }
    if (status.IsOK())
        (void)Close();
    return status;
}

// A leaf goes through its parent, opened on the same server with the same credentials.
QLibStatus QLibADObject::DeleteLeaf()
{
    QLibBstrOwner parent;
    QLibBstrOwner objectClass;
    QLibBstrOwner name;
    HRESULT hr = m_pIADs.get()->get_Parent(parent.put());
    if (FAILED(hr))
        return CallFailure("QLibADObject::Delete", L"m_pIADs->get_Parent", hr);
    if (FAILED(hr = m_pIADs.get()->get_Class(objectClass.put())))
        return CallFailure("QLibADObject::Delete", L"m_pIADs->get_Class", hr);
    if (FAILED(hr = m_pIADs.get()->get_Name(name.put())))
        return CallFailure("QLibADObject::Delete", L"m_pIADs->get_Name", hr);
    QLibComOwner<IADsContainer> container;
    std::wstring path = m_ADHelper.PathOnServer(parent.get() ? parent.get() : L"");
    hr = m_ADHelper.Bind(path.c_str(), IID_IADsContainer, reinterpret_cast<void**>(container.put()));
    if (FAILED(hr))
        return CallFailure("QLibADObject::Delete", L"ADsOpenObject", hr);
    if (FAILED(hr = container.get()->Delete(objectClass.get(), name.get())))
        return CallFailure("QLibADObject::Delete", L"pIADsContainer->Delete", hr);
    return QLibOk();
}
