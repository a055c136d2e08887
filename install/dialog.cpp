#include "install/dialog.h"

#include "decoder/streams.h"
#include "install/state.h"
#include "package/format.h"
#include "package/locator.h"
#include "text/text.h"

#include <string.h>

enum { CopyBlockSize = 2048, SaverLineId = 1001 };

// Each file is written under this name in its target directory and moved
// over the target only when whole, so a failed installation never leaves a
// half-written file, nor destroys a saver that was already installed. No
// package file can have this name: they are *.SCR, *.DAT and FILE*.
static const char TemporaryName[] = "~QELMNEW.TMP";

// One installation's working state.
struct Extraction {
    HINSTANCE instance; // the dialog's, for the installer's own path
    HFILE package;
    uint16_t firstFileNumber;
    char* block; // the one copy buffer of stored entries
    char saverPath[PathSize];
    // The new saver waits here until every other file is in place: moved
    // over an installed saver only when the whole installation succeeded.
    char saverTemporary[PathSize];
};

static void Fail(InstallFailure kind, const char* path) {
    if (InstallResult != InstallOk)
        return;
    InstallResult = kind;
    CopyText(FailedPath, sizeof FailedPath, path);
}

static void OnInitDialog(HWND dialog) {
    char text[CaptionSize];
    ComposeCaption(text, sizeof text, SaverTitle);
    SetWindowTextA(dialog, text);
    JoinText(text, sizeof text, SaverTitle, " Screen Saver", NULL);
    SetDlgItemTextA(dialog, SaverLineId, text);

    RECT rect;
    GetWindowRect(dialog, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    MoveWindow(dialog, GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2,
               GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2, width, height, FALSE);

    // The work starts from the dialog's own loop, once the dialog shows.
    PostMessageA(dialog, WM_COMMAND, IDOK, (LPARAM)GetDlgItem(dialog, IDOK));
}

static int GetWindowsDirectoryChecked(char* buffer) {
    UINT length = GetWindowsDirectoryA(buffer, PathSize);
    return length != 0 && length < PathSize;
}

// Makes TORVANIX, MOREVANE and the saver's own directory below the Windows
// directory, one level at a time. Failures, an existing directory among
// them, are left for the file's creation to show.
static void MakeDataDirectories(char* dataDirectory, size_t windowsLength) {
    for (size_t i = windowsLength; dataDirectory[i]; ++i) {
        if (dataDirectory[i] == '\\') {
            dataDirectory[i] = 0;
            CreateDirectoryA(dataDirectory, NULL);
            dataDirectory[i] = '\\';
        }
    }
    CreateDirectoryA(dataDirectory, NULL);
}

// The target of entry `index`: the saver itself, then BaseName.DAT, then
// FILEnnnn plus the entry's extension in the data directory. 0 when a part
// of it cannot be had or the path would not fit; `target` then holds as much
// of it as was built, for the message.
static int BuildTargetPath(const Extraction& x, uint32_t index, const PackageEntry& entry,
                           char* target) {
    if (index == 0)
        return CopyText(target, PathSize, x.saverPath);

    char windows[PathSize];
    char installer[PathSize];
    char baseName[PathSize];
    CopyText(target, PathSize, SaverFileName);
    if (!GetWindowsDirectoryChecked(windows))
        return 0;
    DWORD length = GetModuleFileNameA(x.instance, installer, sizeof installer);
    if (length == 0 || length >= sizeof installer || !BaseName(installer, baseName, PathSize))
        return 0;
    size_t windowsLength = strlen(windows);
    if (!DataDirectoryOf(windows, baseName, target, PathSize))
        return 0;
    MakeDataDirectories(target, windowsLength);
    if (!AppendText(target, PathSize, "\\"))
        return 0;
    char extension[ExtensionSize + 1];
    memcpy(extension, entry.Extension, ExtensionSize);
    extension[ExtensionSize] = 0;
    return AppendDataFileName(target, PathSize, index, baseName, x.firstFileNumber, extension);
}

// The temporary file beside `target`.
static int BuildTemporaryPath(const char* target, char* temporary) {
    CopyText(temporary, PathSize, target);
    char* slash = strrchr(temporary, '\\');
    if (slash)
        slash[1] = 0;
    else
        temporary[0] = 0;
    return AppendText(temporary, PathSize, TemporaryName);
}

// Whether the installer file holds all of an entry's stored bytes: a
// download cut short must not install a cut file.
static int PackageHolds(HFILE package, const PackageEntry& entry) {
    uint32_t last = entry.FileOffset + entry.StoredSize - 1;
    if (last < entry.FileOffset)
        return 0;
    char byte;
    return _llseek(package, (LONG)last, FILE_BEGIN) != -1 && ReadExactly(package, &byte, 1);
}

// Copies a stored entry's bytes into `temporary`.
static void CopyStoredEntry(Extraction& x, const PackageEntry& entry, const char* temporary,
                            const char* target) {
    if (x.block == NULL) {
        Fail(InstallWriteFailed, target);
        return;
    }
    HFILE output = _lcreat(temporary, 0);
    if (output == HFILE_ERROR) {
        Fail(InstallWriteFailed, target);
        return;
    }
    _llseek(x.package, (LONG)entry.FileOffset, FILE_BEGIN);
    uint32_t remaining = entry.StoredSize;
    while (remaining > 0) {
        UINT want = remaining < (uint32_t)CopyBlockSize ? remaining : (uint32_t)CopyBlockSize;
        UINT got = _lread(x.package, x.block, want);
        if (got == 0 || got > want) {
            Fail(InstallPackageUnreadable, target);
            break;
        }
        if (_lwrite(output, x.block, got) != got) {
            Fail(InstallWriteFailed, target);
            break;
        }
        remaining -= got;
    }
    _lclose(output);
}

// The decoder opens its own stream on the installer file: the package
// handle is closed meanwhile, so the file is never open twice.
static void DecompressToFile(Extraction& x, const PackageEntry& entry, const char* temporary,
                             const char* target) {
    _lclose(x.package);
    int decoded = DecompressEntry(InstallerInstance, entry.FileOffset, entry.OriginalSize,
                                  entry.StoredSize, temporary);
    x.package = LocatePackage();
    if (x.package == HFILE_ERROR)
        Fail(InstallPackageUnreadable, target);
    else if (!decoded)
        Fail(InstallWriteFailed, target);
}

static void InstallEntry(Extraction& x, uint32_t index, const PackageEntry& entry) {
    char target[PathSize];
    char temporary[PathSize];
    if (!BuildTargetPath(x, index, entry, target) || !BuildTemporaryPath(target, temporary)) {
        Fail(InstallWriteFailed, target);
        return;
    }
    if (!PackageHolds(x.package, entry)) {
        Fail(InstallPackageUnreadable, target);
        return;
    }
    // Windows refuses to replace a read-only file; so do we, whoever runs us.
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        Fail(InstallWriteFailed, target);
        return;
    }

    if (entry.OriginalSize != 0)
        DecompressToFile(x, entry, temporary, target);
    else
        CopyStoredEntry(x, entry, temporary, target);

    if (InstallResult != InstallOk) {
        DeleteFileA(temporary);
        return;
    }
    if (index == 0)
        CopyText(x.saverTemporary, PathSize, temporary);
    else if (!MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING)) {
        Fail(InstallWriteFailed, target);
        DeleteFileA(temporary);
    }
}

static void CommitSaver(Extraction& x) {
    if (x.saverTemporary[0] == 0)
        return;
    if (InstallResult == InstallOk &&
        !MoveFileExA(x.saverTemporary, x.saverPath, MOVEFILE_REPLACE_EXISTING))
        Fail(InstallWriteFailed, x.saverPath);
    if (InstallResult != InstallOk)
        DeleteFileA(x.saverTemporary);
}

static void ExtractPackage(Extraction& x) {
    unsigned char record[PackageEntrySize];
    unsigned char number[2];
    x.package = LocatePackage();
    if (x.package == HFILE_ERROR || _llseek(x.package, TitleSize, FILE_CURRENT) == -1 ||
        !ReadExactly(x.package, number, 2) || !ReadExactly(x.package, record, PackageEntrySize)) {
        Fail(InstallPackageUnreadable, x.saverPath);
        if (x.package != HFILE_ERROR)
            _lclose(x.package);
        return;
    }
    x.firstFileNumber = ReadLe16(number);
    x.block = (char*)LocalAlloc(LMEM_FIXED, CopyBlockSize);

    for (uint32_t index = 0;; ++index) {
        PackageEntry entry = ParsePackageEntry(record);
        if (entry.StoredSize == 0)
            break;
        LONG next = _llseek(x.package, 0, FILE_CURRENT);
        InstallEntry(x, index, entry);
        if (InstallResult != InstallOk)
            break;
        // A directory cut short is a package cut short.
        if (_llseek(x.package, next, FILE_BEGIN) == -1 ||
            !ReadExactly(x.package, record, PackageEntrySize)) {
            Fail(InstallPackageUnreadable, x.saverPath);
            break;
        }
    }

    if (x.block)
        LocalFree(x.block);
    if (x.package != HFILE_ERROR)
        _lclose(x.package);
    CommitSaver(x);
}

// Makes the new saver the active one: its short path as SCRNSAVE.EXE in
// [boot] of system.ini, then the screen-saver-active flag. Only a saver
// that is really there is activated.
static void ActivateSaver() {
    char path[PathSize];
    char shortPath[PathSize];
    if (!GetWindowsDirectoryChecked(path) || !AppendBackslash(path, PathSize) ||
        !AppendText(path, PathSize, SaverFileName))
        return;
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath)
        return;
    WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", shortPath, "system.ini");
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, NULL, SPIF_UPDATEINIFILE);
}

static void Install(HWND dialog) {
    // The copying runs inside this one message, so the dialog would get
    // its paint messages only once it had nothing more to say: paint it,
    // controls and all, before the work starts.
    UpdateWindow(dialog);
    Extraction x;
    memset(&x, 0, sizeof x);
    x.instance = (HINSTANCE)(intptr_t)GetWindowLongA(dialog, GWL_HINSTANCE);
    x.package = HFILE_ERROR;
    // The saver's whole path in capitals: C:\WINDOWS\MYSAVER.SCR.
    if (!GetWindowsDirectoryChecked(x.saverPath) || !AppendBackslash(x.saverPath, PathSize) ||
        !AppendText(x.saverPath, PathSize, SaverFileName)) {
        Fail(InstallWriteFailed, SaverFileName);
        return;
    }
    UppercaseAscii(x.saverPath);
    ExtractPackage(x);
    if (InstallResult == InstallOk)
        ActivateSaver();
}

INT_PTR CALLBACK InstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        // Only the bare commands, notification code 0: both run the installation.
        if (wParam != IDOK && wParam != IDCANCEL)
            return FALSE;
        Install(dialog);
        EndDialog(dialog, (INT_PTR)wParam);
        return TRUE;
    default:
        return FALSE;
    }
}
