// Script and records of the host stand-in of Windows, for native tests.
//
// Windows paths ("C:\windows\MYSAVER.SCR") are mapped onto a host folder:
// drive C: is <root>/C, and each component is matched without regard to case,
// as Windows does, so a test can look for a file under the name the installer
// gave it. Everything here is reset by host::Reset.
#pragma once

#include "tests/windows/host_windows.h"

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct MessageBoxRecord {
    std::string caption;
    std::string text;
    UINT style;
    int answer;
};

// One call of _lread or _lwrite: the Windows path of the file and the count
// asked for; for reads also the count delivered.
struct IoRecord {
    std::string path;
    UINT asked;
    UINT done;
};

// Each switch makes the named query fail as Windows reports failure.
struct Failures {
    bool moduleFileName = false;
    bool windowsDirectory = false;
    bool shortPathName = false;
    bool loadLibrary = false;
    bool getProcAddress = false;          // GetDiskFreeSpaceExA missing from KERNEL32
    bool noDefaultDllDirectories = false; // a system older than that function
    bool diskFreeEx = false;              // present, but the call fails
    bool diskFree = false;
    bool localAlloc = false;
    bool moveFile = false;
    bool dialog = false; // DialogBoxParamA cannot make the dialog
    // Bytes that may still be written in all before writes come up short
    // (a full disk); negative means no limit.
    int64_t writeBudget = -1;
    // Paths (Windows form, compared without case) that cannot be created.
    std::vector<std::string> readOnly;
};

struct DiskSpace {
    uint64_t freeToCaller = 100ull << 30;
    uint64_t total = 200ull << 30;
    uint64_t totalFree = 100ull << 30;
    DWORD sectorsPerCluster = 8;
    DWORD bytesPerSector = 512;
    DWORD freeClusters = 1000000;
    DWORD totalClusters = 2000000;
};

struct ProfileWrite {
    std::string section, key, value, file;
};

struct World {
    std::string root;       // host folder holding drive C:
    std::string modulePath; // the installer's own path, Windows form
    std::string windowsDirectory = "C:\\windows";
    std::vector<int> answers; // message box answers, in order; 0 when used up
    Failures fail;
    DiskSpace disk;
    std::string lastDiskQuery[2]; // paths given to [0] ...ExA and [1] GetDiskFreeSpaceA
    std::vector<MessageBoxRecord> boxes;
    std::vector<IoRecord> reads;
    std::vector<IoRecord> writes;
    std::vector<std::string> createdDirectories; // CreateDirectoryA calls that made one
    std::vector<ProfileWrite> profileWrites;
    std::vector<std::string> winExecs;   // command lines, with " show=N"
    std::vector<UINT> screenSaverActive; // SPI_SETSCREENSAVEACTIVE values with SPIF_UPDATEINIFILE
    std::vector<std::string> cursors;    // "wait" or "arrow", in the order set
    std::vector<std::string> dllSearch;  // how the DLL search was set up, in order
    std::vector<std::string> calls;      // every stand-in call by name, in order
    int loadLibraryCalls = 0;
    int freeLibraryCalls = 0;
    int openHandles = 0;     // files open now
    std::string dialogTitle; // set by SetWindowTextA in the dialog
    std::string dialogLine;  // control 1001
    int dialogResult = 0;    // EndDialog's result
    int dialogRuns = 0;
    // Windows sends WM_DESTROY and WM_NCDESTROY to a window whose creation
    // was refused; Wine only WM_NCDESTROY.
    bool refusedCreationSendsDestroy = true;
    // GetMessageA answers -1, as when the queue itself fails.
    bool messageQueueFails = false;
};

// Starts a new world over an empty host folder `root` (created if missing).
World& Reset(const std::string& root);
World& Current();

// The host path for a Windows path, through the case-insensitive mapping.
std::string HostPath(const std::string& windowsPath);

// Writes `bytes` to the Windows path, making its directories.
void PutFile(const std::string& windowsPath, const std::vector<uint8_t>& bytes);
bool ReadFile(const std::string& windowsPath, std::vector<uint8_t>& bytes);
bool Exists(const std::string& windowsPath);

// The exit code GetMessageA gives when the loop would wait for ever.
enum { MessageLoopHangs = 0xDEAD };

// The instance handle WinMain receives on the host.
HINSTANCE Instance();

} // namespace host
