// What the authoring tool needs from the operating system beyond the
// standard library: its arguments as UTF-8, whether stderr is a terminal,
// and running another program (osslsigncode) with its output captured.
// platform/tool_posix.cpp serves Linux, platform/tool_win32.cpp Windows.
#pragma once

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

struct ProgramRun {
    bool started = false; // false: not found on the PATH, or it could not start
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

// Runs `program`, found on the PATH (with ".exe" on Windows), with
// `arguments`, no input, and its output captured; waits for it to end.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments);

} // namespace toolos
