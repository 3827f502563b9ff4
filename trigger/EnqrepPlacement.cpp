// The replication server must not share a system with its enqueue server, nor go back to the system
// on which it has just faulted. All names and values are compared ignoring case.

#include "EnqrepPlacement.h"

#include <vector>

#include "EnqueuePlacement.h"
#include "ResourceLookup.h"
#include "TriggerCluster.h"

namespace {

const TriggerOnlineMessages FailOverMessages
    = {{50425, 'E', "TarnFillCntlInfo API failed with error."},
       {50426, 'I', "Failing Over the [A/J]ENQREP Server Service Group[%s] onto the Node [%s]."},
       {50427, 'E', "TarnGrpOnline API failed with error."},
       {50428, 'I', "The Group [%s] is failed over to the node [%s] successfully."}};

const char* const GotValueFormat = "Got [%s] = [%s] for Resource [%s].";
const char* const SidFormat = "Got SAPSID = [%s] for Resource [%s].";

// Reads an attribute of the enqueue resource that must have the expected value: 50407/50411 when it
// does, `mismatchId` when not.
bool ReadExpected(const std::string& enqueue, const char* attribute, uint32_t attrFailId, uint32_t matchId,
                  uint32_t mismatchId, const char* expected)
{
    std::string value;
    if (!TriggerPlacementRead(enqueue, attribute, attrFailId, value))
        return false;
    bool same = TriggerSameText(value, expected);
    TriggerLog({same ? matchId : mismatchId, same ? 'I' : 'E', GotValueFormat}, attribute, value, enqueue);
    return same;
}

// The enqueue resource named by the replication resource must be of our type, of the same family and
// the same SAP system.
bool CheckEnqueueResource(const std::string& replica, int family, std::string& enqueue)
{
    if (!TriggerPlacementRead(replica, "EnqSrvResName", 50402, enqueue))
        return false;
    TriggerLog({50404, 'I', GotValueFormat}, "EnqSrvResName", enqueue, replica);
    if (!ReadExpected(enqueue, "Type", 50405, 50407, 50432, TriggerTypeName)
        || !ReadExpected(enqueue, "InstType", 50409, 50411, 50431, TriggerEnqueueType(family)))
        return false;

    std::string replicaSid, enqueueSid;
    if (!TriggerPlacementRead(replica, "SAPSID", 50412, replicaSid))
        return false;
    TriggerLog({50414, 'I', SidFormat}, replicaSid, replica);
    if (!TriggerPlacementRead(enqueue, "SAPSID", 50415, enqueueSid))
        return false;
    TriggerLog({50417, 'I', SidFormat}, enqueueSid, enqueue);
    if (!TriggerSameText(replicaSid, enqueueSid)) {
        TriggerLog({50430, 'E', "SAPSID for the ENQREP [%s] and ENQUEUE [%s] didn't matched."}, replica, enqueue);
        return false;
    }
    TriggerLog({50418, 'I', "SAPSID for the ENQREP [%s] and ENQUEUE [%s] matched."}, replica, enqueue);
    return true;
}

// The command-line system wins when it qualifies; otherwise the last other system that qualifies.
bool ChooseTarget(const std::vector<TriggerSystemState>& states, const std::string& system, const char* faultedSystem,
                  std::string& target)
{
    const char* const EnqueueOnline = "system [%s] is not right one to online the [A/J]ENQREP Server "
                                      "Group.\t\t\t\t\t\t\t\t\t\t The Enqueue Server is Online on this node.";
    for (const TriggerSystemState& entry : states) {
        bool enqueueOnline = entry.state == TARN_STATE_RESOURCE_ONLINE;
        if (TriggerSameText(entry.system, system)) {
            if (!enqueueOnline) {
                TriggerLog({50422, 'I', "Found the right node to failover the ENQREP Server Service Group."});
                target = entry.system;
                return true;
            }
            TriggerLog({50421, 'N', EnqueueOnline}, entry.system);
        } else if (faultedSystem && TriggerSameText(entry.system, faultedSystem)) {
            TriggerLog({50423, 'N',
                        "system [%s] is not right one to online the [A/J]ENQREP Server Group.\t\t\t\t\t\t\t\t\t The "
                        "Replication Server is Faulted on this node."},
                       entry.system);
        } else if (enqueueOnline) {
            TriggerLog({50424, 'N', EnqueueOnline}, entry.system);
        } else {
            target = entry.system;
        }
    }
    return !target.empty();
}

// The group must be offline on the target before the engine is asked to bring it online there;
// otherwise `result` tells why not.
bool IsGroupOfflineOn(const std::string& group, const std::string& target, int& result)
{
    std::vector<TriggerSystemState> states;
    result = TriggerOther;
    if (!TriggerGetStates(TARN_OBJ_GROUP, group, target.c_str(), TriggerMsgLocalCntlInfoFailed,
                          {50924, 'E', "TarnObjGetState API failed with error."}, states))
        return false;
    TriggerLog({50900, 'I', "Number of systems [%d] and the system name [%s]."}, static_cast<int>(states.size()),
               states.empty() ? "" : states.front().system.c_str());
    for (const TriggerSystemState& entry : states) {
        if (entry.state == TARN_STATE_GROUP_OFFLINE) {
            TriggerLog({50901, 'I',
                        "The Group [%s] is Offline on the target node [%s]. Going to failover the group ..."},
                       group, entry.system);
            return true;
        }
        TriggerLog({50922, 'E', " The Group [%s] is NOT Offline on the target node [%s]."}, group, entry.system);
    }
    TriggerLog({50923, 'E', " The Group [%s] is NOT Offline on the target node [%s]."}, group, target);
    result = TriggerNotPlaced;
    return false;
}

int Place(const std::string& replica, const std::string& group, const std::string& system, const char* faultedSystem,
          int family)
{
    std::string enqueue;
    if (!CheckEnqueueResource(replica, family, enqueue))
        return TriggerOther;

    TriggerLog({50419, 'N', "Checking the state of the [A/J]ENQUEUE Resource [%s]."}, enqueue);
    std::vector<TriggerSystemState> states;
    if (!TriggerGetStates(TARN_OBJ_RESOURCE, enqueue, nullptr, TriggerMsgLocalCntlInfoFailed,
                          {50420, 'E', "TarnObjGetState API failed with error for the Resource [%s]."}, states))
        return TriggerOther;

    std::string target;
    if (!ChooseTarget(states, system, faultedSystem, target)) {
        TriggerLog({50429, 'C', "No right target system found for ENQREP Server Group to failover."});
        return TriggerNotPlaced;
    }
    TriggerLog({50425, 'I', "Target system [%s]."}, target);

    int result = TriggerOther;
    if (!IsGroupOfflineOn(group, target, result))
        return result;
    return TriggerBringOnline(group, target, FailOverMessages) == TriggerOnlineAccepted ? TriggerOnline : TriggerOther;
}

} // namespace

int OnlineEnqrepOnAppropriateClusNode(const std::string& replicaResource, const std::string& group,
                                      const std::string& system, const char* faultedSystem, int family)
{
    TriggerLog({50401, 'I',
                "OnlineEnqrepOnAppropriateClusNode called with rep_res_name [%s], \t\t\t\t\tgroup_name [%s], "
                "sys_name [%s], fault_system [%s]."},
               replicaResource, group, system, faultedSystem);
    return Place(replicaResource, group, system, faultedSystem, family);
}
