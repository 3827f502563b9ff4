#pragma once
// The agent's small checks and actions on the system: files, directories, profiles, cluster resources,
// services, processes, and the text helpers the attribute code shares. Stateless; answers come back
// through flags that are written only where an operation says so.

#include <cstdint>
#include <string>
#include <vector>

#include "LibStatus.h"

// What the ProcMon list tells of the instance's build.
enum CTollanSAPArch : uint32_t {
    TOLLAN_ARCH_NONE = 0,
    TOLLAN_ARCH_ABAP = 1,
    TOLLAN_ARCH_JAVA = 2,
    TOLLAN_ARCH_ADDIN = 3,
};

// SAP's tools that the agent runs through CreateAndGetExitCode.
enum class CTollanTool { StartSap, StopSap, SapSrvKill, SapInfo, EnsMon };

class CTollanAttrib;

class CTollanUtil {
public:
    // Whether the path is a file the agent can read; fails only when a file that opens cannot tell what it is.
    static QLibStatus DoesExistFile(const std::wstring& path, uint8_t* exists);
    // A network path (leading backslash) is opened as the user; the thread is never left impersonating. An
    // empty password (one that could not be deciphered) is refused without a logon, as a wrong one would be.
    static QLibStatus DoesExistInstProfile(const std::wstring& path, const std::wstring& user,
                                           const std::wstring& domain, const wchar_t* password, uint8_t* exists);
    static QLibStatus DoesExistDir(const std::wstring& path, uint8_t* exists);
    static QLibStatus IsDirectory(const std::wstring& path, uint8_t* isDirectory);
    static QLibStatus IsNull(const std::wstring& text, uint8_t* isNull);
    static QLibStatus DoesExistTarnResource(std::wstring resourceName, uint8_t* exists);
    // An unknown user is a failure (directory, 3) with the flag cleared. timeLeft: the entry point's signed
    // time left in milliseconds; a directory that has not answered by then is a time-out (2, 258), and the
    // lookup still running ends on its own. While MaxOutstandingLookups lookups are still running, the check
    // is a time-out at once and starts none.
    static QLibStatus DoesExistUser(const std::wstring& user, const std::wstring& domain, uint8_t* exists,
                                    int64_t timeLeft);
    // A directory that takes connections and never answers holds each lookup's thread until the connection
    // breaks, for hours when a domain controller is in trouble, and every check against it would leave one
    // more thread in the framework's process, which all the cluster's agents share. A call runs its checks one
    // after another and a directory that answers does so in milliseconds, so the lookups of calls running side
    // by side seldom overlap and 8 leave room for eight at once; a silent directory then holds no more than 8
    // threads, whatever the number of resources and however long it stays silent.
    static constexpr int MaxOutstandingLookups = 8;
    static QLibStatus IsValidHostName(const std::wstring& name, uint8_t* valid);
    static QLibStatus IsValidDomainName(const std::wstring& name, uint8_t* valid);
    static QLibStatus IsServiceRunning(const std::wstring& service, uint32_t* running);
    static QLibStatus GetProcessUserName(uint32_t pid, wchar_t** domain, wchar_t** user);
    static QLibStatus KillProcess(uint32_t pid);
    // timeLeft: the operation's signed time left in milliseconds; none left starts or stops nothing.
    static QLibStatus StartService(const std::wstring& service, int64_t timeLeft);
    static QLibStatus StopService(const std::wstring& service, int64_t timeLeft);

    static uint32_t FindSAPArch(const std::vector<std::wstring>& procMon);
    // The path in front of the separator before marker (upper case); "" when the marker is absent.
    static std::wstring GetPathBefore(const std::wstring& path, const std::wstring& marker);
    static void GetOSVersion(uint32_t* major, uint32_t* minor);
    static std::wstring ToUpper(const std::wstring& text);
    // InstType (stored upper-case) of an enqueue server, and of a replication server.
    static bool IsEnqueueType(const std::wstring& instType);
    static bool IsReplicationType(const std::wstring& instType);
    // A malloc'd upper-case copy the caller frees with free; null when out of memory.
    static wchar_t* DupUpper(const wchar_t* text);
    // The text in the active code page: false when a character has no form there.
    static bool ToAnsi(const std::wstring& text, std::string* ansi);

    // Running SAP's programs as the administrator. timeLeft: the operation's signed time left in milliseconds;
    // with none left nothing is started and the answer is a time-out (type 7, code 258). An empty password
    // (one that could not be deciphered) is refused without a logon, as a wrong one would be.
    static QLibStatus CreateAndGetExitCode(const std::wstring& commandLine, const std::wstring& directory,
                                           const std::wstring& user, const std::wstring& domain,
                                           const wchar_t* password, std::wstring* output, uint32_t* exitCode,
                                           int64_t timeLeft);
    // The output buffer is VirtualAlloc'd (the caller frees it with VirtualFree) and null when nothing was written.
    static QLibStatus CreateAsUserAndGetOutput(const wchar_t* domain, const wchar_t* user, const wchar_t* password,
                                               const wchar_t* commandLine, const wchar_t* directory, wchar_t** output,
                                               uint32_t* outputSize, uint32_t* exitCode, uint32_t creationFlags,
                                               int64_t timeLeft);

    // One piece of a command line: literal text, then a value that must stay one token.
    struct CommandPart {
        const wchar_t* text;
        std::wstring value;
    };
    // directory + "\" + file, then the parts. A path or value with a blank or tab is quoted; false (nothing
    // built) for an empty directory or a value holding a quote or a control character.
    static bool BuildCommandLine(const std::wstring& directory, const wchar_t* file,
                                 const std::vector<CommandPart>& parts, std::wstring* program,
                                 std::wstring* commandLine);
    // SAP's tool for the instance: its path (for the existence check), its working directory (its own folder)
    // and its command line. False when there is none to run: the caller reports the tool as missing.
    static bool GetToolCommand(CTollanTool tool, const CTollanAttrib& attrib, std::wstring* program,
                               std::wstring* directory, std::wstring* commandLine);
};
