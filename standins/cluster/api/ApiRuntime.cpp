#include "ApiRuntime.h"

#include <cstdlib>

TarnApiRuntime& TarnApi()
{
    static TarnApiRuntime runtime;
    return runtime;
}

void TarnJournal(const std::string& line)
{
    std::string path = TarnDescEnv("TARN_JOURNAL");
    if (path.empty())
        return;
    // Opened per line, so a line written by a process that dies afterwards is still there.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

TarnAttrBlock::TarnAttrBlock(const std::string& ownerName, const TarnDescAttr& desc) : owner(ownerName), name(desc.name)
{
    texts = desc.isList ? desc.items : std::vector<std::string>{desc.value};
    size_t n = texts.size();
    ints.resize(n);
    scalars.resize(n);
    items.resize(n);
    itemPointers.resize(n);
    for (size_t i = 0; i < n; ++i) {
        ints[i] = static_cast<int32_t>(strtol(texts[i].c_str(), nullptr, 10));
        scalars[i] = {&ints[i], texts[i].data()};
        items[i] = {desc.isList ? 2u : 1u, 0, &scalars[i]};
        itemPointers[i] = &items[i];
    }
    attr.name = name.data();
    attr.itemCount = static_cast<uint32_t>(n);
    attr.items = n == 0 ? nullptr : itemPointers.data();
}

TarnNamesBlock::TarnNamesBlock(std::vector<std::string> n) : names(std::move(n))
{
    for (std::string& name : names)
        pointers.push_back(name.data());
    pointers.push_back(nullptr);
    list.names = pointers.data();
    list.count = static_cast<uint32_t>(names.size());
}

TarnStateBlock::TarnStateBlock(const std::string& objectName,
                               const std::vector<std::pair<std::string, uint32_t>>& states, bool empty)
    : name(objectName)
{
    for (const auto& entry : states)
        systems.push_back(entry.first);
    for (size_t i = 0; i < states.size(); ++i)
        entries.push_back({systems[i].data(), states[i].second});
    object = {name.data(), entries.empty() ? nullptr : entries.data(), static_cast<uint32_t>(entries.size())};
    info = {empty ? nullptr : &object, empty ? 0u : 1u};
}

void TarnApiRuntime::HandOut(const void* key, const std::string& what, std::unique_ptr<TarnOwned> object)
{
    m_Live[key] = {what, std::move(object)};
}

bool TarnApiRuntime::Release(const void* key, const char* function)
{
    auto it = m_Live.find(key);
    if (key == nullptr || it == m_Live.end()) {
        TarnJournal(std::string("release ") + function + " unknown");
        return false;
    }
    TarnJournal(std::string("release ") + function + " " + it->second.what);
    m_Live.erase(it);
    return true;
}

std::vector<TarnRegistration*> TarnApiRuntime::Registrations()
{
    std::vector<TarnRegistration*> found;
    for (auto& [key, live] : m_Live)
        if (auto* registration = dynamic_cast<TarnRegistration*>(live.object.get()))
            found.push_back(registration);
    return found;
}

// A failure while an earlier record is still held leaves that record among the unreleased objects.
void TarnApiRuntime::SetError(uint32_t number, uint32_t code, const char* function, const std::string& text)
{
    auto block = std::make_unique<TarnErrorBlock>();
    block->function = function;
    block->text = text;
    block->record = {sizeof(TarnError), number, code, 0, block->function.c_str(), block->text.c_str()};
    m_Errors[GetCurrentThreadId()] = block.get();
    const void* key = &block->record;
    HandOut(key, std::string("error ") + function, std::move(block));
}

TarnError* TarnApiRuntime::LastError()
{
    static TarnError none{sizeof(TarnError), 0, 0, 0, "", ""};
    auto it = m_Errors.find(GetCurrentThreadId());
    return it == m_Errors.end() ? &none : &it->second->record;
}

void TarnApiRuntime::FreeError()
{
    auto it = m_Errors.find(GetCurrentThreadId());
    if (it == m_Errors.end()) {
        TarnJournal("release TarnFreeError none");
        return;
    }
    Release(&it->second->record, "TarnFreeError");
    m_Errors.erase(it);
}

void TarnApiRuntime::Finish()
{
    for (const auto& [key, live] : m_Live)
        TarnJournal("leak " + live.what);
    TarnJournal("unreleased " + std::to_string(m_Live.size()));
    m_Errors.clear();
    m_Live.clear();
    initialised = false;
    cntlCount = 0;
}

TarnApiCall::TarnApiCall(const char* function, std::string object)
    : m_Guard(TarnApi().lock), m_Function(function), m_Object(std::move(object)), m_Number(++TarnApi().callCount)
{
}

TarnApiCall::~TarnApiCall()
{
    if (m_Result == 0 && !m_SuccessLine.empty())
        TarnJournal(m_SuccessLine);
    else
        TarnJournal(std::string("call ") + m_Function + " " + m_Object + m_Args + " = " + std::to_string(m_Result));
}

bool TarnApiCall::Start(bool needsInit)
{
    TarnApiRuntime& api = TarnApi();
    if (needsInit && !api.initialised) {
        Fail(TARN_E_NOT_INITIALIZED, "the cluster API is not initialised");
        return false;
    }
    auto failure = api.description.TakeFailure(m_Function, m_Object);
    if (!failure)
        return true;
    if (failure->code == 0) {
        m_Empty = true;
        return true;
    }
    Fail(failure->code, "injected failure");
    return false;
}

int32_t TarnApiCall::Fail(uint32_t code, const std::string& why)
{
    m_Result = static_cast<int32_t>(code);
    TarnApi().SetError(m_Number, code, m_Function, why);
    TarnJournal(std::string("error ") + m_Function + " " + m_Object + ": " + why);
    return m_Result;
}
