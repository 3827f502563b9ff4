// testchild: a small program for tests that spawn processes.
//
// Usage: testchild.exe [option value]...   (options run in the order given)
//   --out TEXT      write TEXT and a line end to standard output
//   --err TEXT      write TEXT and a line end to standard error
//   --sleep MS      sleep MS milliseconds
//   --signal NAME   set the named event NAME (created when missing): tells the parent "running now"
//   --wait NAME     wait until the named event NAME is set (created when missing)
//   --spawn ARGS    start another testchild.exe with the command-line arguments ARGS (one value), not waited for
//   --heir ARGS     as --spawn, but the new child inherits this one's standard handles (and so its pipes)
//   --bytes N       write N bytes (a, b, ..., z, a, ...) to standard output in one write
//   --env NAME      write the value of the environment variable NAME; exit code 203 when it is not set
//   --echo-input -  copy standard input to standard output until the input ends
//   --close-output - close standard output and standard error
//   --tag TEXT      no effect: gives the command line something distinctive
//   --exit CODE     exit code when all options have run (decimal; default 0; 259 is allowed)
// An unknown option or a missing value ends the program with exit code 87.

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr int BadArguments = 87;

void WriteLine(DWORD which, const wchar_t* text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string line(bytes > 0 ? bytes - 1 : 0, '\0');
    if (!line.empty())
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &line[0], bytes, nullptr, nullptr);
    line += "\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(which), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

HANDLE NamedEvent(const wchar_t* name)
{
    return CreateEventW(nullptr, TRUE, FALSE, name);
}

void WriteBytes(DWORD which, const std::string& bytes)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string Pattern(unsigned long count)
{
    std::string bytes(count, '\0');
    for (unsigned long i = 0; i < count; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

void EchoInput()
{
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        WriteBytes(STD_OUTPUT_HANDLE, std::string(buffer, got));
}

bool Spawn(const wchar_t* arguments, bool heir)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (heir) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(self, &commandLine[0], nullptr, nullptr, heir, 0, nullptr, nullptr, &startup, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr)
        return BadArguments;
    int exitCode = 0;
    for (int i = 1; i < count; i += 2) {
        const wchar_t* option = args[i];
        if (i + 1 >= count)
            return BadArguments;
        const wchar_t* value = args[i + 1];
        if (wcscmp(option, L"--out") == 0) {
            WriteLine(STD_OUTPUT_HANDLE, value);
        } else if (wcscmp(option, L"--err") == 0) {
            WriteLine(STD_ERROR_HANDLE, value);
        } else if (wcscmp(option, L"--sleep") == 0) {
            Sleep(wcstoul(value, nullptr, 10));
        } else if (wcscmp(option, L"--signal") == 0) {
            HANDLE event = NamedEvent(value);
            if (event == nullptr || !SetEvent(event))
                return BadArguments;
        } else if (wcscmp(option, L"--wait") == 0) {
            HANDLE event = NamedEvent(value);
            if (event == nullptr || WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0)
                return BadArguments;
        } else if (wcscmp(option, L"--spawn") == 0 || wcscmp(option, L"--heir") == 0) {
            if (!Spawn(value, wcscmp(option, L"--heir") == 0))
                return BadArguments;
        } else if (wcscmp(option, L"--bytes") == 0) {
            WriteBytes(STD_OUTPUT_HANDLE, Pattern(wcstoul(value, nullptr, 10)));
        } else if (wcscmp(option, L"--env") == 0) {
            const wchar_t* text = _wgetenv(value);
            if (text == nullptr)
                return ERROR_ENVVAR_NOT_FOUND;
            WriteLine(STD_OUTPUT_HANDLE, text);
        } else if (wcscmp(option, L"--echo-input") == 0) {
            EchoInput();
        } else if (wcscmp(option, L"--close-output") == 0) {
            CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
            CloseHandle(GetStdHandle(STD_ERROR_HANDLE));
        } else if (wcscmp(option, L"--exit") == 0) {
            exitCode = static_cast<int>(wcstoul(value, nullptr, 10));
        } else if (wcscmp(option, L"--tag") != 0) {
            return BadArguments;
        }
    }
    LocalFree(args);
    return exitCode;
}
