// Host stand-in of the Windows operations the installer uses.
//
// It is a test seam, not a second Windows: files go to a host folder through
// a case-insensitive path mapping, everything else is scripted or recorded in
// the World of host_control.h. Windows, dialogs and the message queue are just
// enough for WinMain, the window procedure and the installation dialog to run
// as they do on Windows: WM_CREATE inside CreateWindowExA, WM_INITDIALOG and
// the posted commands inside DialogBoxParamA.
#include "tests/windows/host_control.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

host::World gWorld;

struct Window {
    WNDPROC wndProc = nullptr;
    DLGPROC dlgProc = nullptr;
    bool ended = false;
};

struct OpenFile {
    int fd;
    std::string path; // Windows form, for the records
};

std::map<std::string, WNDPROC> gClasses;
std::map<HWND, Window> gWindows;
std::map<HFILE, OpenFile> gFiles;
std::deque<MSG> gQueue;
uintptr_t gNextWindow = 0x100;
HFILE gNextFile = 3;

bool SameNoCase(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return s;
}

// Splits "C:\a\b" into {"C", "a", "b"}; relative paths are taken from C:\.
std::vector<std::string> Components(const std::string& windowsPath) {
    std::vector<std::string> parts;
    std::string p = windowsPath;
    if (p.size() >= 2 && p[1] == ':') {
        parts.push_back(std::string(1, (char)toupper((unsigned char)p[0])));
        p = p.substr(2);
    } else {
        parts.push_back("C");
    }
    std::string cur;
    for (char c : p) {
        if (c == '\\' || c == '/') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

// Finds an existing entry of `dir` named `name` without regard to case.
std::string MatchEntry(const std::string& dir, const std::string& name) {
    DIR* d = opendir(dir.c_str());
    if (!d)
        return name;
    std::string found = name;
    while (dirent* e = readdir(d)) {
        if (SameNoCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

std::string WindowsDirectoryPath() {
    return gWorld.windowsDirectory;
}

bool IsReadOnly(const std::string& windowsPath) {
    for (const std::string& p : gWorld.fail.readOnly)
        if (SameNoCase(p, windowsPath))
            return true;
    return false;
}

HFILE Register(int fd, const char* path) {
    HFILE h = gNextFile++;
    gFiles[h] = OpenFile{fd, path};
    gWorld.openHandles++;
    return h;
}

void CopyOut(const std::string& s, LPSTR buffer, DWORD size, DWORD& result) {
    // Windows' convention: the length without the terminator on success, the
    // needed size when the buffer is too small.
    if (s.size() + 1 > size) {
        if (size > 0)
            buffer[0] = 0;
        result = (DWORD)s.size() + 1;
        return;
    }
    memcpy(buffer, s.c_str(), s.size() + 1);
    result = (DWORD)s.size();
}

HWND NewWindow() {
    HWND w = reinterpret_cast<HWND>(gNextWindow++);
    gWindows[w] = Window{};
    return w;
}

BOOL WINAPI HostDiskFreeEx(LPCSTR path, ULARGE_INTEGER* toCaller, ULARGE_INTEGER* total,
                           ULARGE_INTEGER* totalFree) {
    gWorld.calls.push_back("GetDiskFreeSpaceExA");
    gWorld.lastDiskQuery[0] = path;
    if (gWorld.fail.diskFreeEx)
        return FALSE;
    toCaller->QuadPart = gWorld.disk.freeToCaller;
    total->QuadPart = gWorld.disk.total;
    totalFree->QuadPart = gWorld.disk.totalFree;
    return TRUE;
}

const HMODULE kKernel32 = reinterpret_cast<HMODULE>(0x7e000000);

// Every call of the stand-in, in order, so a test can tell what came first.
void Called(const char* name) {
    gWorld.calls.push_back(name);
}

BOOL WINAPI HostSetDefaultDllDirectories(DWORD flags) {
    Called("SetDefaultDllDirectories");
    char text[64];
    snprintf(text, sizeof text, "SetDefaultDllDirectories 0x%x", (unsigned)flags);
    gWorld.dllSearch.push_back(text);
    return TRUE;
}

} // namespace

namespace host {

World& Reset(const std::string& root) {
    for (auto& f : gFiles)
        close(f.second.fd);
    gFiles.clear();
    gClasses.clear();
    gWindows.clear();
    gQueue.clear();
    gWorld = World{};
    gWorld.root = root;
    std::string cmd = "mkdir -p '" + root + "/C'";
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "host: cannot make %s\n", root.c_str());
    return gWorld;
}

World& Current() {
    return gWorld;
}

HINSTANCE Instance() {
    return reinterpret_cast<HINSTANCE>(0x400000);
}

std::string HostPath(const std::string& windowsPath) {
    std::vector<std::string> parts = Components(windowsPath);
    std::string path = gWorld.root;
    for (const std::string& part : parts)
        path += "/" + MatchEntry(path, part);
    return path;
}

void PutFile(const std::string& windowsPath, const std::vector<uint8_t>& bytes) {
    std::vector<std::string> parts = Components(windowsPath);
    std::string path = gWorld.root;
    for (size_t i = 0; i < parts.size(); ++i) {
        path += "/" + MatchEntry(path, parts[i]);
        if (i + 1 < parts.size())
            mkdir(path.c_str(), 0755);
    }
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return;
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool ReadFile(const std::string& windowsPath, std::vector<uint8_t>& bytes) {
    FILE* f = fopen(HostPath(windowsPath).c_str(), "rb");
    if (!f)
        return false;
    bytes.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return true;
}

bool Exists(const std::string& windowsPath) {
    struct stat st;
    return stat(HostPath(windowsPath).c_str(), &st) == 0;
}

} // namespace host

// Files by handle.

HFILE _lopen(LPCSTR path, int) {
    Called(__func__);
    int fd = open(host::HostPath(path).c_str(), O_RDONLY);
    return fd < 0 ? HFILE_ERROR : Register(fd, path);
}

HFILE _lcreat(LPCSTR path, int) {
    Called(__func__);
    if (IsReadOnly(path))
        return HFILE_ERROR;
    int fd = open(host::HostPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd < 0 ? HFILE_ERROR : Register(fd, path);
}

LONG _llseek(HFILE file, LONG offset, int origin) {
    Called(__func__);
    auto it = gFiles.find(file);
    if (it == gFiles.end())
        return -1;
    // The installer's offsets are unsigned 32-bit values passed as LONG.
    off_t target = origin == FILE_BEGIN ? (off_t)(uint32_t)offset : (off_t)offset;
    off_t r = lseek(it->second.fd, target, origin == FILE_BEGIN ? SEEK_SET : SEEK_CUR);
    return (LONG)r;
}

UINT _lread(HFILE file, LPVOID buffer, UINT count) {
    Called(__func__);
    auto it = gFiles.find(file);
    if (it == gFiles.end())
        return (UINT)HFILE_ERROR;
    ssize_t n = read(it->second.fd, buffer, count);
    gWorld.reads.push_back({it->second.path, count, n < 0 ? 0u : (UINT)n});
    return n < 0 ? (UINT)HFILE_ERROR : (UINT)n;
}

UINT _lwrite(HFILE file, LPCCH buffer, UINT count) {
    Called(__func__);
    auto it = gFiles.find(file);
    if (it == gFiles.end())
        return (UINT)HFILE_ERROR;
    UINT allowed = count;
    if (gWorld.fail.writeBudget >= 0 && (int64_t)count > gWorld.fail.writeBudget)
        allowed = (UINT)gWorld.fail.writeBudget;
    ssize_t n = allowed ? write(it->second.fd, buffer, allowed) : 0;
    UINT done = n < 0 ? 0u : (UINT)n;
    if (gWorld.fail.writeBudget >= 0)
        gWorld.fail.writeBudget -= done;
    gWorld.writes.push_back({it->second.path, count, done});
    return n < 0 ? (UINT)HFILE_ERROR : done;
}

HFILE _lclose(HFILE file) {
    Called(__func__);
    auto it = gFiles.find(file);
    if (it == gFiles.end())
        return HFILE_ERROR;
    close(it->second.fd);
    gFiles.erase(it);
    gWorld.openHandles--;
    return 0;
}

BOOL CreateDirectoryA(LPCSTR path, void*) {
    Called(__func__);
    if (mkdir(host::HostPath(path).c_str(), 0755) != 0)
        return FALSE;
    gWorld.createdDirectories.push_back(path);
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path) {
    Called(__func__);
    struct stat st;
    if (stat(host::HostPath(path).c_str(), &st) != 0)
        return INVALID_FILE_ATTRIBUTES;
    DWORD a = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0x80;
    if (IsReadOnly(path))
        a |= FILE_ATTRIBUTE_READONLY;
    return a;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    Called(__func__);
    if (gWorld.fail.moveFile || IsReadOnly(to))
        return FALSE;
    std::string dst = host::HostPath(to);
    struct stat st;
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && stat(dst.c_str(), &st) == 0)
        return FALSE;
    return rename(host::HostPath(from).c_str(), dst.c_str()) == 0;
}

BOOL DeleteFileA(LPCSTR path) {
    Called(__func__);
    if (IsReadOnly(path))
        return FALSE;
    return unlink(host::HostPath(path).c_str()) == 0;
}

// Paths, memory, libraries.

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
    Called(__func__);
    if (gWorld.fail.moduleFileName || gWorld.modulePath.empty())
        return 0;
    // Windows truncates and returns the buffer size when the path is too long.
    const std::string& p = gWorld.modulePath;
    if (p.size() + 1 > size) {
        if (size == 0)
            return 0;
        memcpy(buffer, p.c_str(), size - 1);
        buffer[size - 1] = 0;
        return size;
    }
    memcpy(buffer, p.c_str(), p.size() + 1);
    return (DWORD)p.size();
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    Called(__func__);
    if (gWorld.fail.windowsDirectory)
        return 0;
    DWORD r;
    CopyOut(WindowsDirectoryPath(), buffer, size, r);
    return r;
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    Called(__func__);
    if (gWorld.fail.shortPathName || !host::Exists(longPath))
        return 0;
    DWORD r;
    CopyOut(longPath, shortPath, size, r);
    return r;
}

HLOCAL LocalAlloc(UINT, SIZE_T bytes) {
    Called(__func__);
    if (gWorld.fail.localAlloc)
        return nullptr;
    return malloc(bytes);
}

HLOCAL LocalFree(HLOCAL memory) {
    Called(__func__);
    free(memory);
    return nullptr;
}

HMODULE LoadLibraryA(LPCSTR name) {
    Called(__func__);
    if (gWorld.fail.loadLibrary || Lower(name) != "kernel32.dll")
        return nullptr;
    gWorld.loadLibraryCalls++;
    return kKernel32;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    Called(__func__);
    return name && Lower(name) == "kernel32.dll" ? kKernel32 : nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    Called(__func__);
    if (module != kKernel32)
        return nullptr;
    if (strcmp(name, "GetDiskFreeSpaceExA") == 0 && !gWorld.fail.getProcAddress)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&HostDiskFreeEx));
    if (strcmp(name, "SetDefaultDllDirectories") == 0 && !gWorld.fail.noDefaultDllDirectories)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&HostSetDefaultDllDirectories));
    return nullptr;
}

BOOL SetDllDirectoryA(LPCSTR path) {
    Called(__func__);
    gWorld.dllSearch.push_back(std::string("SetDllDirectoryA \"") + (path ? path : "(null)") +
                               "\"");
    return TRUE;
}

BOOL FreeLibrary(HMODULE module) {
    Called(__func__);
    if (module != kKernel32)
        return FALSE;
    gWorld.freeLibraryCalls++;
    return TRUE;
}

BOOL GetDiskFreeSpaceA(LPCSTR root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* freeClusters, DWORD* totalClusters) {
    Called(__func__);
    gWorld.lastDiskQuery[1] = root;
    if (gWorld.fail.diskFree)
        return FALSE;
    *sectorsPerCluster = gWorld.disk.sectorsPerCluster;
    *bytesPerSector = gWorld.disk.bytesPerSector;
    *freeClusters = gWorld.disk.freeClusters;
    *totalClusters = gWorld.disk.totalClusters;
    return TRUE;
}

// Activation and start of the saver.

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
    Called(__func__);
    gWorld.profileWrites.push_back({section, key, value ? value : "", file});
    return TRUE;
}

BOOL SystemParametersInfoA(UINT action, UINT param, void*, UINT winIni) {
    Called(__func__);
    if (action == SPI_SETSCREENSAVEACTIVE && (winIni & SPIF_UPDATEINIFILE))
        gWorld.screenSaverActive.push_back(param);
    return TRUE;
}

UINT WinExec(LPCSTR commandLine, UINT show) {
    Called(__func__);
    gWorld.winExecs.push_back(std::string(commandLine) + " show=" + std::to_string(show));
    return 33;
}

// Windows, messages and dialogs.

WORD RegisterClassA(const WNDCLASSA* windowClass) {
    Called(__func__);
    gClasses[windowClass->lpszClassName] = windowClass->lpfnWndProc;
    return 1;
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR, DWORD, int, int, int, int, HWND, HMENU,
                     HINSTANCE, LPVOID) {
    Called(__func__);
    auto it = gClasses.find(className);
    if (it == gClasses.end())
        return nullptr;
    HWND w = NewWindow();
    gWindows[w].wndProc = it->second;
    if (it->second(w, WM_CREATE, 0, 0) == -1) {
        // Windows destroys a window whose creation is refused.
        if (gWorld.refusedCreationSendsDestroy)
            it->second(w, WM_DESTROY, 0, 0);
        it->second(w, WM_NCDESTROY, 0, 0);
        gWindows.erase(w);
        return nullptr;
    }
    return w;
}

BOOL ShowWindow(HWND window, int) {
    Called(__func__);
    return gWindows.count(window) ? TRUE : FALSE;
}
BOOL UpdateWindow(HWND window) {
    Called(__func__);
    return gWindows.count(window) ? TRUE : FALSE;
}

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
    Called(__func__);
    if (gWorld.messageQueueFails)
        return -1;
    if (gQueue.empty()) {
        // Nothing would ever arrive: on Windows the loop would wait for ever.
        msg->message = WM_QUIT;
        msg->wParam = host::MessageLoopHangs;
        return 0;
    }
    *msg = gQueue.front();
    gQueue.pop_front();
    return msg->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG*) {
    Called(__func__);
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    Called(__func__);
    auto it = gWindows.find(msg->hwnd);
    if (it == gWindows.end() || !it->second.wndProc)
        return 0;
    return it->second.wndProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
    Called(__func__);
    return 0;
}

void PostQuitMessage(int exitCode) {
    Called(__func__);
    MSG m{};
    m.message = WM_QUIT;
    m.wParam = (WPARAM)exitCode;
    gQueue.push_back(m);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Called(__func__);
    MSG m{};
    m.hwnd = window;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    gQueue.push_back(m);
    return TRUE;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style) {
    Called(__func__);
    int answer = 0;
    size_t used = gWorld.boxes.size();
    if (used < gWorld.answers.size())
        answer = gWorld.answers[used];
    gWorld.boxes.push_back({caption ? caption : "", text ? text : "", style, answer});
    return answer;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
    Called(__func__);
    return (HCURSOR)(uintptr_t)name;
}
HICON LoadIconA(HINSTANCE, LPCSTR name) {
    Called(__func__);
    return (HICON)(uintptr_t)name;
}

HCURSOR SetCursor(HCURSOR cursor) {
    Called(__func__);
    LPCSTR name = (LPCSTR)(uintptr_t)cursor;
    gWorld.cursors.push_back(name == IDC_WAIT ? "wait" : name == IDC_ARROW ? "arrow" : "other");
    return nullptr;
}

HGDIOBJ GetStockObject(int object) {
    Called(__func__);
    return reinterpret_cast<HGDIOBJ>((uintptr_t)object + 1);
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC proc, LPARAM param) {
    Called(__func__);
    if (gWorld.fail.dialog)
        return -1;
    HWND d = NewWindow();
    gWindows[d].dlgProc = proc;
    gWorld.dialogRuns++;
    proc(d, WM_INITDIALOG, 0, param);
    // The dialog's own loop: deliver what was posted to it until it ends.
    // Messages for other windows wait for the outer loop.
    std::deque<MSG> others;
    while (!gWindows[d].ended && !gQueue.empty()) {
        MSG m = gQueue.front();
        gQueue.pop_front();
        if (m.hwnd == d)
            proc(d, m.message, m.wParam, m.lParam);
        else
            others.push_back(m);
    }
    for (auto it = others.rbegin(); it != others.rend(); ++it)
        gQueue.push_front(*it);
    INT_PTR result = gWindows[d].ended ? gWorld.dialogResult : -1;
    gWindows.erase(d);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    Called(__func__);
    auto it = gWindows.find(dialog);
    if (it == gWindows.end())
        return FALSE;
    it->second.ended = true;
    gWorld.dialogResult = (int)result;
    return TRUE;
}

BOOL SetWindowTextA(HWND, LPCSTR text) {
    Called(__func__);
    gWorld.dialogTitle = text;
    return TRUE;
}

BOOL SetDlgItemTextA(HWND, int id, LPCSTR text) {
    Called(__func__);
    if (id == 1001)
        gWorld.dialogLine = text;
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    Called(__func__);
    return reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(dialog) * 0x10000 + (uintptr_t)id);
}

BOOL GetWindowRect(HWND, RECT* rect) {
    Called(__func__);
    *rect = RECT{0, 0, 281, 130};
    return TRUE;
}

int GetSystemMetrics(int index) {
    Called(__func__);
    return index == SM_CXSCREEN ? 1024 : 768;
}

BOOL MoveWindow(HWND, int, int, int, int, BOOL) {
    Called(__func__);
    return TRUE;
}

LONG GetWindowLongA(HWND, int index) {
    Called(__func__);
    if (index == GWL_HINSTANCE)
        return (LONG) reinterpret_cast<uintptr_t>(host::Instance());
    return 0;
}
