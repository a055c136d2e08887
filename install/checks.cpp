#include "install/checks.h"

#include "install/state.h"
#include "package/locator.h"
#include "text/text.h"

#include <string.h>

static int Exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Windows directory + "\" + name; 0 when it does not fit.
static int InWindowsDirectory(const char* windows, const char* name, char* out) {
    return CopyText(out, PathSize, windows) && AppendBackslash(out, PathSize) &&
           AppendText(out, PathSize, name);
}

int CheckExistingSaver(HINSTANCE instance) {
    char installer[PathSize];
    char windows[PathSize];
    DWORD length = GetModuleFileNameA(instance, installer, sizeof installer);
    if (length == 0 || length >= sizeof installer)
        return 1;
    UINT windowsLength = GetWindowsDirectoryA(windows, sizeof windows);
    if (windowsLength == 0 || windowsLength >= sizeof windows)
        return 1;

    // The saver is installed as SaverFileName, which for a name with several
    // dots (my.saver.exe gives MY.SCR) is not BaseName + ".SCR": both are
    // looked for, so an installed saver is never replaced unasked.
    char baseName[PathSize];
    char candidates[2][PathSize];
    if (!BaseName(installer, baseName, sizeof baseName))
        return 1;
    CopyText(candidates[0], PathSize, baseName);
    int haveFirst = AppendText(candidates[0], PathSize, ".SCR");
    int haveSecond = SaverFileNameOf(installer, candidates[1], PathSize);

    const char* found = NULL;
    char path[PathSize];
    if (haveFirst && InWindowsDirectory(windows, candidates[0], path) && Exists(path))
        found = candidates[0];
    else if (haveSecond && InWindowsDirectory(windows, candidates[1], path) && Exists(path))
        found = candidates[1];
    if (found == NULL)
        return 1;

    char text[MessageSize];
    CopyText(text, sizeof text, "There is already a screen saver by the same name (");
    AppendText(text, sizeof text, found);
    AppendText(text, sizeof text, ") installed on your system.  Would you like to replace it?");
    if (MessageBoxA(NULL, text, "Replace Screen Saver?", MB_YESNO | MB_ICONQUESTION) != IDNO)
        return 1;

    CopyText(text, sizeof text,
             "If you would like to change the name of the .SCR file that would be installed on "
             "your system, simply change the installers file name (");
    AppendText(text, sizeof text, baseName);
    AppendText(text, sizeof text, ".EXE) and run it again.");
    MessageBoxA(NULL, text, "Rename Installer", MB_OK | MB_ICONINFORMATION);
    return 0;
}

int CheckDiskSpace() {
    uint32_t installSize;
    if (!ScanPackageDirectory(&installSize))
        return 1;
    TotalInstallSize += installSize;
    // The warning is composed in the buffer the directory was read into.
    char text[MessageSize];
    UINT length = GetWindowsDirectoryA(text, sizeof text);
    if (length == 0 || length >= sizeof text)
        return 1;
    uint32_t available = GetFreeKilobytes(text);
    uint32_t needed = TotalInstallSize >> 10;
    if (available > needed)
        return 1;

    char number[32];
    CopyText(text, sizeof text, "You will need ");
    AppendText(text, sizeof text, FormatThousands(needed, number));
    AppendText(text, sizeof text,
               " kilobytes free in your Windows directory to install this screen saver.  It "
               "appears that you only have ");
    AppendText(text, sizeof text, FormatThousands(available, number));
    AppendText(text, sizeof text,
               " kilobytes free on this drive.  Would you like to continue the installation?");
    return MessageBoxA(NULL, text, "Disk Full", MB_OKCANCEL | MB_ICONINFORMATION) != IDCANCEL;
}

static uint32_t KilobytesOf(uint64_t bytes) {
    uint64_t kilobytes = bytes >> 10;
    // 4 TiB and more: the low 32 bits would make a big drive look full.
    return kilobytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)kilobytes;
}

typedef BOOL(WINAPI* DiskFreeSpaceExFunction)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                              PULARGE_INTEGER);

uint32_t GetFreeKilobytes(const char* path) {
    // The first 32 characters, cut after their last backslash: C:\WINDOWS
    // gives C:\, D:\OS\WIN gives D:\OS\.
    char query[33];
    size_t length = strlen(path);
    if (length > 32)
        length = 32;
    memcpy(query, path, length);
    query[length] = 0;
    char* slash = strrchr(query, '\\');
    if (slash)
        slash[1] = 0;

    // Looked up at run time: the installer also runs where it is missing.
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (kernel) {
        DiskFreeSpaceExFunction diskFreeEx =
            (DiskFreeSpaceExFunction)(void*)GetProcAddress(kernel, "GetDiskFreeSpaceExA");
        ULARGE_INTEGER toCaller, total, totalFree;
        BOOL ok = diskFreeEx && diskFreeEx(query, &toCaller, &total, &totalFree);
        FreeLibrary(kernel);
        if (ok)
            return KilobytesOf(toCaller.QuadPart);
    }

    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(query, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters))
        return FreeSpaceUnknown;
    return KilobytesOf((uint64_t)freeClusters * sectorsPerCluster * bytesPerSector);
}
