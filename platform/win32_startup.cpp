// The installer's own start-up in place of the C runtime's: it needs none of
// what that brings (heap set-up, argv, static constructors, exception
// handling), and leaving it out keeps the installer about 10 KiB smaller.
// WinMain gets what the runtime would give it.
#include "platform/win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// The command line less the program name, quoted or not, and the blanks after it.
static char* CommandTail(char* line) {
    if (*line == '"') {
        ++line;
        while (*line && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

extern "C" void WinMainCRTStartup() {
    STARTUPINFOA startup;
    startup.dwFlags = 0;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, CommandTail(GetCommandLineA()), show));
}
