// The preonline trigger: the engine runs it with the system, the group, the reason for onlining and
// optionally the faulted system; it places the group itself and reports through its exit code.

#include <cstring>
#include <string>

#include "EnqrepPlacement.h"
#include "EnqueuePlacement.h"
#include "ResourceLookup.h"
#include "TriggerCluster.h"

namespace {

const TriggerOnlineMessages RequestedSystemMessages
    = {{50010, 'E', "Failed to fill the control information."},
       {50011, 'N', "Onlining the Service Group [%s] on the node [%s]."},
       {50012, 'E', "Failed to Online the group [%s] on system [%s]."},
       {50013, 'N', "Succesfully Onlined the group [%s] on system [%s]."}};

int PlaceEnqueueGroup(const std::string& resource, const std::string& group, const std::string& system, int family)
{
    bool replicaOnline = false;
    int exitCode = OnlineEnqueueOnCorrespondingEnqrepNode(resource, group, system, replicaOnline, family);
    TriggerLog({50009, 'I', "OnlineEnqueueOnCorrespondingEnqrepNode returned with exit code [%d]."}, exitCode);
    if (replicaOnline) {
        TriggerLog(
            {50014, 'N',
             "Corresponding Enqueue Replication Server found Online and Enqueue Server is Failed over Successfully."});
        return exitCode;
    }
    // Without a replication server online anywhere the group goes where the engine wanted it.
    TriggerLog({50009, 'C', "Corresponding Enqueue Replication Server either NOT Configured or NOT Online."});
    return TriggerBringOnline(group, system, RequestedSystemMessages) == TriggerOnlineAccepted ? TriggerOnline
                                                                                               : TriggerOther;
}

int PlaceGroup(const std::string& system, const std::string& group, const char* reason, const char* faultedSystem)
{
    TriggerLog({50001, 'I', "Cluster is opened with TarnClusterOpenLocal Successfully for operation."});
    TriggerLog({50004, 'N', "tollanpreonline trigger is called with whyonlining[%s] for the group[%s]."}, reason,
               group);
    TriggerLog({50005, 'N',
                "Checking for the Resource of type Tollan with \t\t\t\t InstType = [A/J]ENQUEUE in the "
                "group [%s]."},
               group);

    std::string resource;
    bool found = false;
    int family = FindEnqueueResource(group, resource, found);
    if (found)
        return PlaceEnqueueGroup(resource, group, system, family);

    TriggerLog({50015, 'N',
                "Checking for the Resource of type Tollan with \t\t\t\t\t\tInstType = [A/J]ENQREP in the "
                "group [%s]."},
               group);
    family = FindEnqrepResource(group, resource, found);
    if (found)
        return OnlineEnqrepOnAppropriateClusNode(resource, group, system, faultedSystem, family);
    TriggerLog({50016, 'N',
                "No Resource existed of type Tollan with \t\t\t\t\t\t InstType = [A/J]ENQREP in the group "
                "[%s]. Exiting the trigger ... "},
               group);
    return TriggerOther;
}

// Nothing leaves the trigger as an exception: the C runtime would end it with 3, which the engine reads
// as no decision at all. An allocation failure is one more outcome that is not a placement: 99.
int PlaceGroupOrFail(const char* system, const char* group, const char* reason, const char* faultedSystem)
{
    try {
        return PlaceGroup(system, group, reason, faultedSystem);
    } catch (...) {
        return TriggerOther;
    }
}

} // namespace

int main(int argc, char** argv)
{
    // The engine always passes system, group and reason; anything less is not a trigger call.
    if (argc < 4)
        return TriggerOther;
    // A manual online is the administrator's own placement.
    if (std::strcmp(argv[3], "MANUAL") == 0)
        return TriggerOther;
    TriggerClusterSession cluster;
    if (!cluster.IsOpen())
        return TriggerOther;

    int exitCode = PlaceGroupOrFail(argv[1], argv[2], argv[3], argc > 4 ? argv[4] : nullptr);

    TriggerLog({50017, 'N', "Closing the Cluster with TarnClusterClose"});
    return exitCode;
}
