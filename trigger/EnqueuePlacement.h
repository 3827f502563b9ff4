#pragma once
// Placing an enqueue group on the system where its replication server runs.

#include <string>

#include "TriggerCluster.h"

// Also the failure of the replication placement's one-system control info.
extern const TriggerMessage TriggerMsgLocalCntlInfoFailed;

// An attribute read of either placement: `attrFailId` when the attribute cannot be read, the next id
// when its text cannot.
bool TriggerPlacementRead(const std::string& resource, const char* attribute, uint32_t attrFailId, std::string& value);

// Returns 0 (failed over), 1 (the engine refused the online) or 99; `replicaOnline` tells whether a
// matching replication server was found online on some system.
int OnlineEnqueueOnCorrespondingEnqrepNode(const std::string& enqueueResource, const std::string& group,
                                           const std::string& system, bool& replicaOnline, int family);
