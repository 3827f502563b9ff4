// Benchmark, not a test: 100,000 name checks through the DNS object against DnsValidateName_W called
// directly (the check runs in every online, offline and monitor call).
// Usage: qlib_dns_name_bench.exe [rounds, default 20]

#include <cstdlib>

#include "BenchCompare.h"
#include "LibDNS.h"

namespace {

constexpr int Checks = 100000;
const wchar_t* const names[] = {L"host1", L"sapdb01", L"test.example"};
const DNS_NAME_FORMAT formats[] = {DnsNameHostnameLabel, DnsNameHostnameLabel, DnsNameDomain};

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 20;
    if (rounds <= 0)
        rounds = 20;
    // Failures of the check are logged by ours: only accepted names, so both sides do the same work.
    int accepted = 0;
    BenchCompare(
        "name check, 100000 names", rounds,
        [&] {
            for (int i = 0; i < Checks; ++i)
                accepted += QLibDNS::IsNameValid(names[i % 3], formats[i % 3]).IsOK();
        },
        [&] {
            for (int i = 0; i < Checks; ++i)
                accepted += DnsValidateName_W(names[i % 3], formats[i % 3]) == 0;
        });
    return accepted > 0 ? 0 : 1;
}
