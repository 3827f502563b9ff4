#pragma once
// Fixed cleanups of what earlier installer releases left behind. Only CleanupKito40 has a caller.

// Product codes of the 4.0 installer's two uninstall entries.
inline constexpr const wchar_t* kito40ProductCodes[] = {
    L"{9EC8D04F-5F47-4CA2-92BD-FC3A08E81485}",
    L"{A027C9E4-A26A-4B0B-9217-409A1F9DF274}",
};

void CleanupKito40();
void CleanupKito42();
void CleanupKito41();
void CleanupKito41LP();
void CleanupKito42NETAPP();
