// The search walks every resource of type Tollan in the cluster for the replication server of this
// enqueue server (same family, same SAPSID, naming this enqueue resource), all compared ignoring case.

#include "EnqueuePlacement.h"

#include <vector>

#include "ResourceLookup.h"

const TriggerMessage TriggerMsgLocalCntlInfoFailed = {50302, 'E',
                                                      "TarnFillCntlInfo API failed with error for the local cluster."};

bool TriggerPlacementRead(const std::string& resource, const char* attribute, uint32_t attrFailId, std::string& value)
{
    static const TriggerAttrFailures failures = {"TarnObjGetAttribute API failed with error for the resource [%s].",
                                                 "TarnObjGetStr API failed with error for the attribute [%s].", true};
    return TriggerReadAttribute(resource, attribute, attrFailId, attrFailId + 1, failures, value);
}

namespace {

const TriggerOnlineMessages FailOverMessages
    = {{50323, 'E', "TarnFillCntlInfo API failed with error."},
       {50324, 'I', "Failing Over the ENQUEUE Server Service Group[%s] onto the Node [%s]."},
       {50325, 'E', "TarnGrpOnline API failed with error."},
       {50326, 'N', "The Group [%s] is failed over to the node [%s] successfully."}};

const TriggerMessage MsgNotReplica = {50330, 'N', "Resource [%s] is of type Tollan but NOT [A/J]ENQREP."};

// What one candidate resource settles: nothing (look at the next), or the end of the whole search.
enum class Candidate { Skip, End };

struct Search {
    const std::string& enqueue;
    const std::string& group;
    int family;
    int result;
    bool replicaOnline;
};

// The first system where the replication server is online receives the group.
Candidate FailOverToReplica(Search& search, const std::string& replica)
{
    std::vector<TriggerSystemState> states;
    if (!TriggerGetStates(TARN_OBJ_RESOURCE, replica, nullptr, TriggerMsgLocalCntlInfoFailed,
                          {50321, 'E', "TarnObjGetState API failed with error for the Resource [%s]."}, states))
        return Candidate::End;
    for (const TriggerSystemState& entry : states) {
        if (entry.state != TARN_STATE_RESOURCE_ONLINE) {
            TriggerLog({50327, 'N', "system [%s] is not right one to online the ENQUEUE Server Group."}, entry.system);
            search.result = TriggerOther;
            continue;
        }
        TriggerLog({50322, 'I', "Found the right node to failover the ENQUEUE Server Service Group."});
        search.replicaOnline = true;
        switch (TriggerBringOnline(search.group, entry.system, FailOverMessages)) {
        case TriggerOnlineAccepted:
            search.result = TriggerOnline;
            break;
        case TriggerOnlineRefused:
            search.result = TriggerNotPlaced;
            break;
        case TriggerOnlineNoCntlInfo:
            break;
        }
        return Candidate::End;
    }
    TriggerLog({50327, 'N', "The corresponding Replication Server is Offline on all the nodes in the cluster."});
    search.result = TriggerOther;
    return Candidate::End;
}

Candidate Examine(Search& search, const std::string& resource)
{
    TriggerLog({50306, 'N', "Got Resource [%s] of type Tollan. Checking for [%s]."}, resource, "InstType");
    std::string instType;
    if (!TriggerPlacementRead(resource, "InstType", 50307, instType))
        return Candidate::End;
    if (!TriggerSameText(instType, TriggerEnqrepType(search.family))) {
        TriggerLog(MsgNotReplica, resource);
        search.result = TriggerOther;
        return Candidate::Skip;
    }
    TriggerLog({50309, 'N', "Resource's [%s] InstType is [%s]."}, resource, instType);

    std::string replicaSid, enqueueSid;
    if (!TriggerPlacementRead(resource, "SAPSID", 50310, replicaSid))
        return Candidate::End;
    TriggerLog({50312, 'I', "Got SAPSID = [%s] for Resource [%s]."}, replicaSid, resource);
    if (!TriggerPlacementRead(search.enqueue, "SAPSID", 50313, enqueueSid))
        return Candidate::End;
    TriggerLog({50315, 'I', "Got SAPSID = [%s] for Resource [%s]."}, enqueueSid, search.enqueue);
    if (!TriggerSameText(replicaSid, enqueueSid)) {
        TriggerLog({50329, 'N', "SAPSID for ENQREP [%s] does NOT match with ENQUEUE [%s]."}, replicaSid, enqueueSid);
        search.result = TriggerOther;
        return Candidate::Skip;
    }
    TriggerLog({50316, 'I', "SAPSID for the ENQUEUE [%s] and ENQREP [%s] matched."}, search.enqueue, resource);

    std::string enqueueName;
    if (!TriggerPlacementRead(resource, "EnqSrvResName", 50317, enqueueName))
        return Candidate::End;
    TriggerLog({50319, 'I', "Got [%s] = [%s] for Resource [%s]."}, "EnqSrvResName", enqueueName, resource);
    if (!TriggerSameText(enqueueName, search.enqueue)) {
        TriggerLog({50328, 'N',
                    "EnqSrvResName attribute value[%s] for ENQREP Resource [%s] does \t\t\t\t\t\t\t\t\tNOT match "
                    "with ENQUEUE Server Resource Name."},
                   enqueueName, resource);
        search.result = TriggerOther;
        return Candidate::Skip;
    }
    TriggerLog({50320, 'I',
                "EnqSrvResName attribute [%s] of ENQREP Server Resource [%s]  \t\t\t\t\t\t\t\t\tmatched with "
                "ENQUEUE Server Resource Name [%s]"},
               enqueueName, resource, search.enqueue);

    return FailOverToReplica(search, resource);
}

// Returns whether the search ran through every resource without an end.
bool SearchCluster(Search& search)
{
    std::vector<std::string> names;
    if (!TriggerGetNames(TARN_CNTL_TYPE, {TriggerTypeName}, TriggerMsgLocalCntlInfoFailed,
                         {50303, 'E', "TarnObjGetNames API failed with error for the local cluster."}, nullptr, names))
        return false;
    if (names.empty()) {
        TriggerLog({50305, 'E', "No objects of type Tollan found in the cluster."});
        return false;
    }
    TriggerLog({50304, 'I', "[%d] Objects of type Tollan found in the cluster."}, static_cast<int>(names.size()));
    for (const std::string& name : names) {
        if (Examine(search, name) == Candidate::End)
            return false;
    }
    return true;
}

} // namespace

int OnlineEnqueueOnCorrespondingEnqrepNode(const std::string& enqueueResource, const std::string& group,
                                           const std::string& system, bool& replicaOnline, int family)
{
    Search search = {enqueueResource, group, family, TriggerOther, false};
    TriggerLog({50301, 'I',
                "OnlineEnqueueOnCorrespondingEnqrepNode called with enq_res_name [%s], \t\t\t\tgroup_name [%s], "
                "sys_name [%s]."},
               enqueueResource, group, system);

    if (SearchCluster(search)) {
        TriggerLog({50330, 'N', "No Corresponding Replication Server found for the Enqueue Server."});
        search.result = TriggerOther;
    }

    replicaOnline = search.replicaOnline;
    if (replicaOnline)
        TriggerLog({50330, 'N',
                    "Corresponding Replication Server found for the Enqueue Server. Exiting with Return code [%d]"},
                   search.result);
    else
        TriggerLog({50337, 'N',
                    "No Corresponding Replication Server found Online for the Enqueue Server.Exiting with Return "
                    "code [%d]"},
                   search.result);
    return search.result;
}
