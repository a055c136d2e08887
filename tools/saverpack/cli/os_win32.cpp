#include "tools/saverpack/cli/os.h"

#include <windows.h>

#include <io.h>
#include <process.h>
#include <stdio.h>

namespace toolos {
namespace {

std::string ToUtf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size_t(size) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(size > 0 ? size_t(size) - 1 : 0);
    return out;
}

std::wstring ToWide(const std::string& text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size > 0 ? size_t(size) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], size);
    out.resize(size > 0 ? size_t(size) - 1 : 0);
    return out;
}

// One argument as the C runtime's parser reads it back: quoted when it holds
// blanks or quotes, backslashes doubled only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

} // namespace

std::vector<std::string> Utf8Arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide && i < count; ++i)
        arguments.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

int ProcessId() {
    return int(GetCurrentProcessId());
}

bool IdentityOf(const std::filesystem::path& path, FileIdentity& identity) {
    // No access asked for, and every sharing mode allowed: an input that
    // another program holds open still tells who it is. Backup semantics
    // let a folder open too.
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    BOOL known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known)
        return false;
    identity.volume = information.dwVolumeSerialNumber;
    identity.file = uint64_t(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return true;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    ProgramRun run;
    wchar_t path[MAX_PATH];
    std::wstring name = ToWide(program);
    if (SearchPathW(nullptr, name.c_str(), L".exe", MAX_PATH, path, nullptr) == 0)
        return run;
    std::wstring line;
    AppendQuoted(line, path);
    for (const std::string& a : arguments) {
        line += L' ';
        AppendQuoted(line, ToWide(a));
    }

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(path, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return run;
    }
    char block[4096];
    DWORD got;
    while (ReadFile(readEnd, block, sizeof block, &got, nullptr) && got > 0)
        run.output.append(block, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    run.started = true;
    run.exitCode = int(code);
    return run;
}

} // namespace toolos
