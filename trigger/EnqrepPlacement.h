#pragma once
// Placing a replication group on a system where its enqueue server does not run.

#include <string>

// `faultedSystem` may be null. Returns 0 (failed over), 1 (no target, or the group not offline there) or 99.
int OnlineEnqrepOnAppropriateClusNode(const std::string& replicaResource, const std::string& group,
                                      const std::string& system, const char* faultedSystem, int family);
