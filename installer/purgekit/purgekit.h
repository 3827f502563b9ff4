#pragma once

#include <string>

// The command line of the current Purgekit call, which the cleanability check and the cleanup list
// compare with the update-kind words.
extern std::wstring g_commandLine;
