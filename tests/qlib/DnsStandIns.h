#pragma once
// For the whole test program, GetProcAddress answers the three DNS functions that abort under Wine with
// stand-ins: the update test answers from the zone of the bed's server in use, the reverse name and the built
// record are made as Windows makes them. Resolved functions stay for the process, so the stand-ins are in place
// before any test runs.

#include "ProcAddressHook.h"
#include "TestDnsServer.h"

ProcAddressHook& DnsApiStandIns();
// The server whose zones the update test reads; none: every name is free.
void UseDnsServer(const TestDnsServer* server);
