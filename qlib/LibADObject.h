#pragma once
// One directory object, found by a search of its class and name: its properties, children, identity and
// removal. Searches, server and credentials are those of the embedded helper.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "LibADHelper.h"

class QLibADObject : public QLibObject {
public:
    // Naming contexts a search starts from.
    static constexpr uint32_t DefaultNamingContext = 1;
    static constexpr uint32_t ConfigurationNamingContext = 2;
    static constexpr uint32_t SchemaNamingContext = 3;
    // The category's name with its terminator at most.
    static constexpr size_t CategoryChars = 4093;

    QLibADObject() = default;
    ~QLibADObject() override;

    QLibADObject(const QLibADObject&) = delete;
    QLibADObject& operator=(const QLibADObject&) = delete;

    bool IsValid() const override;
    QLibStatus Close() override;
    // The one object of the class (any name); its name is read from it.
    virtual QLibStatus Initialize(const wchar_t* objectClass, uint32_t namingContext, const wchar_t* server,
                                  const wchar_t* user, const wchar_t* password);
    // The one object of the class whose cn is the name: 27, 3 when there is none, 27, 2 when there are more.
    virtual QLibStatus Initialize(const wchar_t* name, const wchar_t* objectClass, uint32_t namingContext,
                                  const wchar_t* server, const wchar_t* user, const wchar_t* password);
    // The values as one text, separated by ";"; 27, 5 with *required set when the buffer is too small.
    virtual QLibStatus GetPropertyValue(const wchar_t* property, wchar_t* buffer, uint32_t bufferChars,
                                        uint32_t* required);
    virtual QLibStatus GetPropertyValueType(const wchar_t* property, uint32_t* type);
    // Writes string values; control is the ADS_PROPERTY_* operation.
    virtual QLibStatus SetPropertyValue(const wchar_t* property, std::vector<std::wstring> values, uint32_t control);
    // Appends the objects of the class below this one (a subtree search, this object included when it matches).
    virtual QLibStatus GetChildObjects(const wchar_t* childClass, std::vector<std::unique_ptr<QLibADObject>>& children);
    // The bound interface, without a reference of its own.
    virtual QLibStatus GetIADs(IADs** object);
    // The name in the category's distinguished name "CN=<name>,...", into CategoryChars characters.
    virtual QLibStatus GetObjectCategory(wchar_t* buffer);
    virtual QLibStatus GetGUID(wchar_t* buffer, uint32_t* chars);
    virtual const std::wstring& GetName() const;
    // Removes the object (a container with everything below it) and closes this object.
    virtual QLibStatus Delete();

private:
    QLibStatus Bind(QLibADsList results);
    QLibStatus BuildADObjectList(std::vector<std::unique_ptr<QLibADObject>>& children, QLibADsList results,
                                 const wchar_t* childClass);
    QLibStatus ReadName(std::wstring& name);
    QLibStatus DeleteLeaf();

    std::wstring m_Name;
    std::wstring m_ObjectClass;
    uint32_t m_NamingContext = DefaultNamingContext;
    QLibComOwner<IADs> m_pIADs;
    uint32_t m_bInitialized = 0;
    QLibADHelper m_ADHelper;
};
