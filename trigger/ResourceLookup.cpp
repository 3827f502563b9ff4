// The two lookups are one routine over a table of ids, type names and the texts that name them.
// Their type comparisons are exact, as the engine's configuration spells the types.

#include "ResourceLookup.h"

#include <cstring>
#include <vector>

#include "TriggerCluster.h"

namespace {

const char* const EnqueueTypes[] = {"ENQUEUE", "AENQUEUE", "JENQUEUE"};
const char* const EnqrepTypes[] = {"ENQREP", "AENQREP", "JENQREP"};

struct LookupTable {
    uint32_t idBase;
    const char* const* types;
    const char* both;
    const char* onlyA;
    const char* onlyJ;
    const char* plain;
    const char* none;
    const char* found;
};

const LookupTable EnqueueLookup = {50100,
                                   EnqueueTypes,
                                   "Both AENQUEUE [%s] and JENQUEUE[%s] of type Tollan found in the group [%s].",
                                   "AENQUEUE Resource [%s] of type Tollan found in the group [%s].",
                                   "JENQUEUE Resource [%s] of type Tollan found in the group [%s].",
                                   "ENQUEUE Resource [%s] of type Tollan found in the group [%s].",
                                   "No [A/J]ENQUEUE Resource of type Tollan found in the group [%s].",
                                   "Found Tarn Resource [%s] for Enqueue Server in the group [%s]."};

const LookupTable EnqrepLookup = {50200,
                                  EnqrepTypes,
                                  "Both AENQREP [%s] and JENQREP[%s] of type Tollan found in the group [%s].",
                                  "AENQREP Resource [%s] of type Tollan found in the group [%s].",
                                  "JENQREP Resource [%s] of type Tollan found in the group [%s].",
                                  "ENQREP Resource [%s] of type Tollan found in the group [%s].",
                                  "No [A/J]ENQREP Resource of type Tollan found in the group [%s].",
                                  "Found Tarn Resource [%s] for Enqrep Server in the group [%s]."};

const TriggerAttrFailures LookupAttrFailures = {"TarnObjGetAttribute API failed with error for the Resource [%s].",
                                                "TarnObjGetStr API failed with error for the Resource [%s].", false};

const char* const InstTypeFormat = "Resource's [%s] InstType is [%s].";

TriggerMessage Message(const LookupTable& table, uint32_t offset, char severity, const char* format)
{
    return {table.idBase + offset, severity, format};
}

// Picks the resource by kind: J before A (both named when both exist), a plain one only without either.
int Decide(const LookupTable& table, const std::string& group, const std::string (&byKind)[3], std::string& resource)
{
    const std::string& plain = byKind[0];
    const std::string& a = byKind[1];
    const std::string& j = byKind[2];
    if (!a.empty() && !j.empty()) {
        TriggerLog(Message(table, 11, 'N', table.both), a, j, group);
        resource = j;
        return TriggerFamilyJ;
    }
    const struct {
        const std::string& name;
        uint32_t offset;
        const char* format;
        int family;
    } single[] = {{a, 12, table.onlyA, TriggerFamilyA},
                  {j, 13, table.onlyJ, TriggerFamilyJ},
                  {plain, 14, table.plain, TriggerFamilyPlain}};
    for (const auto& kind : single) {
        if (!kind.name.empty()) {
            TriggerLog(Message(table, kind.offset, 'N', kind.format), kind.name, group);
            resource = kind.name;
            return kind.family;
        }
    }
    TriggerLog(Message(table, 15, 'N', table.none), group);
    return TriggerFamilyNone;
}

int FindResource(const LookupTable& table, const std::string& group, std::string& resource, bool& found)
{
    found = false;
    TriggerLog(Message(table, 1, 'I', "Getting the resources of type Tollan from the Service Group [%s]."), group);

    std::vector<std::string> names;
    if (!TriggerGetNames(TARN_CNTL_TYPE_IN_GROUP, {TriggerTypeName, group.c_str()},
                         Message(table, 2, 'E', "TarnFillCntlInfo API failed with error for the group [%s]."),
                         Message(table, 3, 'E', "TarnObjGetNames API failed with error for the group [%s]."),
                         group.c_str(), names))
        return TriggerFamilyNone;
    if (names.empty()) {
        TriggerLog(Message(table, 5, 'W', "Objects of type Tollan NOT found in the group [%s]."), group);
        return TriggerFamilyNone;
    }
    TriggerLog(Message(table, 4, 'I', "[%d] Objects of type Tollan found in group [%s]."),
               static_cast<int>(names.size()), group);

    std::string byKind[3];
    for (const std::string& name : names) {
        TriggerLog(Message(table, 6, 'I', "Got Resource[%s] of type Tollan from group [%s]."), name, group);
        std::string instType;
        if (!TriggerReadAttribute(name, "InstType", table.idBase + 7, table.idBase + 8, LookupAttrFailures, instType))
            return TriggerFamilyNone;
        TriggerLog(Message(table, 9, 'N', InstTypeFormat), name, instType);
        bool known = false;
        for (int kind = 0; kind < 3; ++kind) {
            if (instType == table.types[kind]) {
                byKind[kind] = name;
                known = true;
            }
        }
        if (!known)
            TriggerLog(Message(table, 10, 'N', InstTypeFormat), name, instType);
    }

    int family = Decide(table, group, byKind, resource);
    if (family != TriggerFamilyNone) {
        found = true;
        TriggerLog(Message(table, 16, 'I', table.found), resource, group);
    }
    return family;
}

} // namespace

const char* TriggerEnqueueType(int family)
{
    return EnqueueTypes[family - 1];
}

const char* TriggerEnqrepType(int family)
{
    return EnqrepTypes[family - 1];
}

int FindEnqueueResource(const std::string& group, std::string& resource, bool& found)
{
    return FindResource(EnqueueLookup, group, resource, found);
}

int FindEnqrepResource(const std::string& group, std::string& resource, bool& found)
{
    return FindResource(EnqrepLookup, group, resource, found);
}
