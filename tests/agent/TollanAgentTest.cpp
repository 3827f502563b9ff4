#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TarnApiTest.h"
#include "TarnDescription.h"
#include "TarnTestCluster.h"
#include "TarnTestHost.h"
#include "TollanAgent.h"

namespace {

// The timeouts are the module's for the life of the process: a case that changes them puts them back.
class TimeoutsKept {
public:
    TimeoutsKept()
    {
        for (int i = 0; i < TollanTimeoutCount; ++i)
            m_Seconds[i] = g_TollanTimeouts[i].seconds->load();
    }
    ~TimeoutsKept()
    {
        for (int i = 0; i < TollanTimeoutCount; ++i)
            g_TollanTimeouts[i].seconds->store(m_Seconds[i]);
    }

private:
    uint32_t m_Seconds[TollanTimeoutCount];
};

TEST(ModuleState, WithoutAClusterTheTimeoutsAreTheDefaults)
{
    EXPECT_EQ(600u, g_OnlineTimeout.load());
    EXPECT_EQ(600u, g_OfflineTimeout.load());
    EXPECT_EQ(60u, g_MonitorTimeout.load());
    EXPECT_EQ(120u, g_CleanTimeout.load());
    EXPECT_EQ(nullptr, g_TarnCluster.load());
    const char* names[] = {"OnlineTimeout", "OfflineTimeout", "MonitorTimeout", "CleanTimeout"};
    for (int i = 0; i < TollanTimeoutCount; ++i)
        EXPECT_STREQ(names[i], g_TollanTimeouts[i].name);
}

TEST(ModuleState, ChangeFiredFromAnotherThreadIsWhatTheNextReadSees)
{
    TimeoutsKept kept;
    TarnTestCluster files("system N1\ninclude " + TarnTestFullPath("Tollan.desc") + "\n");
    ASSERT_EQ(0, TarnApiInit(0, 0));
    TarnHandle cluster = TarnClusterOpenLocal(0xFFFFFFFF, 0);
    ASSERT_NE(nullptr, cluster);
    for (const CTollanTimeoutAttr& t : g_TollanTimeouts) {
        *t.registration = TarnObjRegister(cluster, TARN_OBJ_TYPE, "Tollan", t.name, 7, t.callback, nullptr);
        ASSERT_NE(nullptr, *t.registration) << t.name;
    }
    EXPECT_EQ(1, TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", "MonitorTimeout", "30"));
    EXPECT_EQ(30u, g_MonitorTimeout.load());
    EXPECT_EQ(1, TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", "CleanTimeout", "45"));
    EXPECT_EQ(45u, g_CleanTimeout.load());
    EXPECT_EQ(600u, g_OnlineTimeout.load());
    EXPECT_EQ(600u, g_OfflineTimeout.load());

    // A null attribute leaves the value as it was.
    EXPECT_EQ(1, TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", "MonitorTimeout", nullptr));
    EXPECT_EQ(30u, g_MonitorTimeout.load());
    EXPECT_EQ(0, g_TollanTimeouts[2].callback(7, 4, nullptr, nullptr));
    EXPECT_EQ(30u, g_MonitorTimeout.load());

    for (const CTollanTimeoutAttr& t : g_TollanTimeouts)
        EXPECT_EQ(0, TarnObjUnRegister(*t.registration, 0));
    EXPECT_EQ(0, TarnClusterClose(cluster, 0));
    EXPECT_EQ(0, TarnApiExit(0));
    EXPECT_TRUE(files.JournalHas("unreleased 0"));
}

TEST(ModuleState, AttributeWithoutAValueYieldsNoInteger)
{
    int32_t value = 7;
    int32_t number = 42;
    TarnAttrScalar scalar{nullptr, nullptr};
    TarnAttrItem item{1, 0, &scalar};
    TarnAttrItem* items[] = {&item};
    TarnAttr attr{nullptr, 1, 0, items};
    EXPECT_FALSE(TollanGetAttrInteger(nullptr, &value));
    EXPECT_FALSE(TollanGetAttrInteger(&attr, &value));
    scalar.intValue = &number;
    EXPECT_TRUE(TollanGetAttrInteger(&attr, &value));
    EXPECT_EQ(42, value);
    attr.items = nullptr;
    EXPECT_FALSE(TollanGetAttrInteger(&attr, &value));
}

TEST(TypeDeclaration, ArgumentsStandInTheOrderTheAgentReadsThem)
{
    TarnDescription desc;
    std::string error;
    ASSERT_TRUE(desc.Load(TarnTestFullPath("Tollan.desc"), &error)) << error;
    TarnDescObject* type = desc.Find(TARN_DESC_TYPE, "Tollan");
    ASSERT_NE(nullptr, type);
    std::vector<std::string> names;
    for (const TarnDescArg& arg : type->args)
        names.push_back(arg.isList ? arg.name + " list" : arg.name);
    EXPECT_EQ((std::vector<std::string>{"SAPSID", "SecondLevelMonitor", "EPProgramTimeout", "SAPHome", "SAPMonHome",
                                        "SAPHost", "ProcMon list", "SAPServiceUser", "SAPAdminDomain", "SAPAdmin",
                                        "SAPAdminPassword", "ResLogLevel", "InstType", "InstName", "InstProfile",
                                        "EnqSrvResName", "MonitorProgram"}),
              names);
    for (const char* timeout : {"OnlineTimeout", "OfflineTimeout", "MonitorTimeout", "CleanTimeout"})
        EXPECT_NE(nullptr, type->FindAttr(timeout)) << timeout;
}

TEST(TypeDeclaration, SampleClusterGivesArgumentListsInThatOrder)
{
    TarnDescription desc;
    std::string error;
    ASSERT_TRUE(desc.Load(TarnTestFullPath("demo.desc"), &error)) << error;
    auto values = desc.ArgValues("PRD_DVEBMGS00");
    ASSERT_TRUE(values.has_value());
    ASSERT_EQ(19u, values->size());
    EXPECT_EQ("prd", (*values)[0]);
    EXPECT_EQ("C:\\usr\\sap\\", (*values)[3]);
    EXPECT_EQ((std::vector<std::string>{"2", "disp+work.exe", "msg_server.exe", "SAPServicePRD"}),
              std::vector<std::string>(values->begin() + 6, values->begin() + 10));
    EXPECT_EQ("", values->back());
    auto ascs = desc.ArgValues("PRD_ASCS01");
    ASSERT_TRUE(ascs.has_value());
    EXPECT_EQ("0", (*ascs)[6]);
    EXPECT_EQ("", (*ascs)[8]); // SAPAdminDomain not given
}

// The address a loaded module calls for an imported function, from its import table.
const void* ImportedAddress(HMODULE module, const char* dll, const char* function)
{
    auto* base = reinterpret_cast<const uint8_t*>(module);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base
                                                         + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name != 0;
         ++imp) {
        if (_stricmp(reinterpret_cast<const char*>(base + imp->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* bound = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++bound) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<const void*>(bound->u1.Function);
        }
    }
    return nullptr;
}

TEST(AgentModule, LoadsWithItsImportsAndSharesTheFrameworksCRuntime)
{
    HMODULE agent = LoadLibraryW(L"Tollan.dll");
    ASSERT_NE(nullptr, agent) << GetLastError();
    HMODULE framework = GetModuleHandleW(L"tarnagfw.dll");
    ASSERT_NE(nullptr, framework);
    // A cookie value the framework hands out is freed by the agent, and the agent's malloc'd value
    // is freed by the framework: both must call the one C runtime.
    const void* agentFree = ImportedAddress(agent, "msvcrt.dll", "free");
    const void* agentMalloc = ImportedAddress(agent, "msvcrt.dll", "malloc");
    ASSERT_NE(nullptr, agentFree);
    EXPECT_EQ(agentFree, ImportedAddress(framework, "msvcrt.dll", "free"));
    EXPECT_EQ(agentMalloc, ImportedAddress(framework, "msvcrt.dll", "malloc"));
    EXPECT_EQ(reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "free")), agentFree);
    FreeLibrary(agent);
}

} // namespace
