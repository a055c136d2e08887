// Stands in for a screen saver in test packages: it only reports that it was
// started, and how, by appending "<command line>\t<own path>" to
// C:\probe-started.txt. Appending keeps every start visible when a test
// starts it more than once.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self)
        lstrcpyA(self, "?");
    const char* cmdline = GetCommandLineA();

    HANDLE f = CreateFileA("C:\\probe-started.txt", FILE_APPEND_DATA, FILE_SHARE_READ, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written;
    WriteFile(f, cmdline, lstrlenA(cmdline), &written, NULL);
    WriteFile(f, "\t", 1, &written, NULL);
    WriteFile(f, self, lstrlenA(self), &written, NULL);
    WriteFile(f, "\r\n", 2, &written, NULL);
    CloseHandle(f);
    return 0;
}
