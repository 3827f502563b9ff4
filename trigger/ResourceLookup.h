#pragma once
// Finding the group's enqueue or replication server resource of type Tollan.

#include <string>

// Family numbers tie an enqueue type to the replication type of the same family.
const int TriggerFamilyNone = 0;
const int TriggerFamilyPlain = 1;
const int TriggerFamilyA = 2;
const int TriggerFamilyJ = 3;

// The enqueue and replication type of a family (1 to 3).
const char* TriggerEnqueueType(int family);
const char* TriggerEnqrepType(int family);

// Each returns the family number, 0 when the group holds no such resource.
int FindEnqueueResource(const std::string& group, std::string& resource, bool& found);
int FindEnqrepResource(const std::string& group, std::string& resource, bool& found);
