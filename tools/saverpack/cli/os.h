// What the authoring tool needs from the operating system beyond the
// standard library: its arguments as UTF-8, whether stderr is a terminal,
// which file a path leads to, and running another program (osslsigncode)
// with its output captured.
// os_posix.cpp serves Linux, os_win32.cpp Windows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace toolos {

// The command line as UTF-8 strings, whatever the system's code page, so a
// title or a file name means the same on both systems.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Sets the console up for UTF-8 output where that is needed.
void PrepareConsole();

bool StderrIsTerminal();

int ProcessId();

// What tells one file from another whatever path leads to it: another
// spelling, "..", a link. Equal only for the very same file.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t file = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && file == other.file;
    }
};

// The identity of the file `path` leads to; false when there is none to
// be had (no such file, or it cannot be opened).
bool IdentityOf(const std::filesystem::path& path, FileIdentity& identity);

struct ProgramRun {
    bool started = false; // false: not found on the PATH, or it could not start
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

// Runs `program`, found on the PATH (with ".exe" on Windows), with
// `arguments`, no input, and its output captured; waits for it to end.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments);

} // namespace toolos
