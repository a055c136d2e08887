#include "app/flow.h"

#include "install/checks.h"
#include "install/dialog.h"
#include "install/state.h"
#include "package/locator.h"
#include "text/text.h"

#include <string.h>

// The Windows directory, or "" when it cannot be had or does not fit.
static void GetWindowsDirectoryOrEmpty(char* buffer) {
    UINT length = GetWindowsDirectoryA(buffer, PathSize);
    if (length == 0 || length >= PathSize)
        buffer[0] = 0;
}

static void GetInstallerPathOrEmpty(char* buffer) {
    DWORD length = GetModuleFileNameA(InstallerInstance, buffer, PathSize);
    if (length == 0 || length >= PathSize)
        buffer[0] = 0;
}

// The user's answer, or 0 when the box could not be shown at all.
static int Confirm(const char* caption) {
    char windows[PathSize];
    char text[MessageSize];
    GetWindowsDirectoryOrEmpty(windows);
    UppercaseAscii(windows);
    ComposeConfirmation(text, sizeof text, SaverFileName, SaverTitle, windows, TotalInstallSize);
    int answer = MessageBoxA(NULL, text, caption, MB_OKCANCEL | MB_ICONINFORMATION);
    return answer == IDOK || answer == IDCANCEL ? answer : 0;
}

static void ReportFailure(const char* caption) {
    char text[MessageSize];
    CopyText(text, sizeof text, "Installation failed!\r\n\r\n");
    if (InstallResult == InstallPackageUnreadable) {
        AppendText(text, sizeof text,
                   "The installer could not read the screen saver stored inside it.  If it was "
                   "downloaded, the download may be incomplete: please obtain a new copy.");
    } else {
        AppendText(text, sizeof text, "The file ");
        AppendText(text, sizeof text, FailedPath);
        AppendText(text, sizeof text,
                   " could not be written.  Check that the disk has room and that you may write "
                   "to the Windows directory.");
    }
    MessageBoxA(NULL, text, caption, MB_OK | MB_ICONSTOP);
}

static void ReportCompletion(const char* caption) {
    char windows[PathSize];
    char installer[PathSize];
    GetWindowsDirectoryOrEmpty(windows);
    GetInstallerPathOrEmpty(installer);
    char text[MessageSize];
    ComposeCompletion(text, sizeof text, windows, installer);
    MessageBoxA(NULL, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

// By its full path: a bare name is looked for in the installer's own folder
// first, and a namesake there, downloaded beside the installer, would start
// instead of the saver just installed. No arguments, so it opens its settings.
static void StartInstalledSaver() {
    char windows[PathSize];
    char command[PathSize + 2];
    GetWindowsDirectoryOrEmpty(windows);
    if (windows[0] == 0)
        return;
    if (CopyText(command, sizeof command, "\"") && AppendText(command, sizeof command, windows) &&
        AppendBackslash(command, sizeof command) &&
        AppendText(command, sizeof command, SaverFileName) &&
        AppendText(command, sizeof command, "\""))
        WinExec(command, SW_SHOW);
}

void RunInstallation() {
    ReadSaverTitle(SaverTitle);
    TrimTrailingBlanks(SaverTitle);
    char caption[CaptionSize];
    ComposeCaption(caption, sizeof caption, SaverTitle);

    // Before anything is asked: a damaged copy would install damaged files.
    if (!CheckOwnChecksum()) {
        InstallResult = InstallerDamaged;
        MessageBoxA(NULL, "This installer is damaged. Download it again.", caption,
                    MB_OK | MB_ICONSTOP);
        return;
    }
    if (!CheckExistingSaver(InstallerInstance))
        return;
    if (!CheckDiskSpace())
        return;

    char installer[PathSize];
    GetInstallerPathOrEmpty(installer);
    if (!SaverFileNameOf(installer, SaverFileName, sizeof SaverFileName))
        SaverFileName[0] = 0;

    // Only a yes installs; a box that could not be shown is no answer, and
    // the exit code must not read as the user's Cancel.
    int answer = Confirm(caption);
    if (answer != IDOK) {
        if (answer == 0)
            InstallResult = InstallNotAsked;
        return;
    }

    SetCursor(LoadCursorA(NULL, IDC_WAIT));
    INT_PTR result =
        DialogBoxParamA(InstallerInstance, MAKEINTRESOURCEA(103), NULL, InstallDialogProc, 0);
    SetCursor(LoadCursorA(NULL, IDC_ARROW));

    // A dialog that could not be made installed nothing; completion would be a lie.
    if (result != IDOK && result != IDCANCEL && InstallResult == InstallOk) {
        InstallResult = InstallWriteFailed;
        CopyText(FailedPath, sizeof FailedPath, SaverFileName);
    }
    if (InstallResult != InstallOk) {
        ReportFailure(caption);
        return;
    }
    ReportCompletion(caption);
    StartInstalledSaver();
}

LRESULT CALLBACK InstallerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        RunInstallation();
        return -1; // refuse the window: the process ends with the flow
    case WM_DESTROY:
    // Windows sends both when it destroys a window whose creation was
    // refused; Wine sends only WM_NCDESTROY. A second quit message is harmless.
    case WM_NCDESTROY:
        PostQuitMessage(InstallResult == InstallOk ? 0 : 1);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
