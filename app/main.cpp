#include "app/flow.h"
#include "install/state.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// The installer runs with administrator rights from a download folder, which
// holds whatever else was downloaded. Windows loads some DLLs by name on
// demand (for themed message boxes, say) and would look in the program's own
// folder first: a planted version.dll or uxtheme.dll would run elevated
// inside us. So before anything can make Windows load a DLL, that is before
// the first window, box or dialog, DLLs may come from the system folder only.
// The function is looked up because older systems lack it; there, at least
// the current folder leaves the search.
static void LoadDllsFromSystemFolderOnly() {
    SetDefaultDllDirectoriesFunction setDefault =
        (SetDefaultDllDirectoriesFunction)(void*)GetProcAddress(GetModuleHandleA("KERNEL32.DLL"),
                                                                "SetDefaultDllDirectories");
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    else
        SetDllDirectoryA("");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show) {
    LoadDllsFromSystemFolderOnly();
    if (previous == NULL) {
        WNDCLASSA windowClass = {};
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = InstallerWndProc;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(101));
        windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
        windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
        windowClass.lpszClassName = "QELMInst";
        RegisterClassA(&windowClass);
    }
    // The installation runs inside CreateWindowExA and uses the instance.
    InstallerInstance = instance;
    HWND window =
        CreateWindowExA(0, "QELMInst", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance, NULL);
    // The creation was refused, so there is no window to show; kept so a
    // window that did survive would behave as any other.
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message;
    BOOL got;
    // -1 is a failure of the queue itself, which would repeat for ever.
    while ((got = GetMessageA(&message, NULL, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return got == 0 ? (int)message.wParam : 1;
}
