// Aquarium: a sample screen saver to install with saverpack. Fish swim and
// bubbles rise over a background picture, all drawn from the files the
// installer puts below the Windows directory; without them plain shapes
// stand in, so a saver copied on its own still works.
//
//   AQUARIUM.SCR /s          the animation over the whole screen
//   AQUARIUM.SCR /p HWND     the animation inside the control panel's preview
//   AQUARIUM.SCR /c[:HWND]   the settings dialog, as with no argument at all
#include <windows.h>

#include <stdlib.h>

#include "examples/aquarium/options.h"
#include "examples/aquarium/resource.h"
#include "examples/aquarium/tank.h"

namespace {

const char WindowClass[] = "AquariumSaverWindow";
const char FullScreenTitle[] = "Aquarium";
const char SettingsKey[] = "Software\\Aquarium Screen Saver";
const UINT FrameTimer = 1;
const UINT FrameMs = 33;
// Mouse movement of more than this many pixels ends the saver; less is a
// table that shook.
const int MouseSlack = 8;

HINSTANCE Instance;

// The installed pictures, loaded once; either may be missing.
struct Art {
    HBITMAP spriteSheet; // 32 bits, premultiplied alpha, SheetWidth x SheetHeight
    HBITMAP background;
};
Art TheArt;

// One animated window: the tank, the scenery drawn once at the window's
// size and the frame being composed.
struct View {
    int fullScreen;
    int width, height;
    HDC scenery;
    HBITMAP sceneryBitmap;
    HDC frame;
    HBITMAP frameBitmap;
    HDC sheet;
    Tank tank;
    DWORD lastTick;
    POINT firstMouse;
    int mouseSeen;
};

int FileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The Display control panel starts the saver by its short name, but the
// data directory carries the long one.
void GetOwnLongPath(char* path, DWORD size) {
    char shortPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, shortPath, sizeof shortPath);
    if (n == 0 || n >= sizeof shortPath) {
        path[0] = 0;
        return;
    }
    n = GetLongPathNameA(shortPath, path, size);
    if (n == 0 || n >= size)
        lstrcpynA(path, shortPath, (int)size);
}

HBITMAP LoadBitmapFile(const char* path) {
    return (HBITMAP)LoadImageA(NULL, path, IMAGE_BITMAP, 0, 0,
                               LR_LOADFROMFILE | LR_CREATEDIBSECTION);
}

// A sprite sheet of another shape or depth would be cut wrongly: plain
// shapes are better than torn fish.
int IsSpriteSheet(HBITMAP bitmap) {
    DIBSECTION dib;
    if (GetObjectA(bitmap, sizeof dib, &dib) != sizeof dib)
        return 0;
    return dib.dsBm.bmBitsPixel == 32 && dib.dsBm.bmWidth == SheetWidth &&
           dib.dsBm.bmHeight == SheetHeight;
}

SaverData FindData() {
    char windows[MAX_PATH];
    char self[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows)
        windows[0] = 0;
    GetOwnLongPath(self, sizeof self);
    SaverData data;
    FindSaverData(windows, self, FileExists, &data);
    return data;
}

void LoadArt() {
    SaverData data = FindData();
    if (data.haveSpriteSheet) {
        TheArt.spriteSheet = LoadBitmapFile(data.spriteSheet);
        if (TheArt.spriteSheet && !IsSpriteSheet(TheArt.spriteSheet)) {
            DeleteObject(TheArt.spriteSheet);
            TheArt.spriteSheet = NULL;
        }
    }
    if (data.haveBackground)
        TheArt.background = LoadBitmapFile(data.background);
}

DWORD ReadDword(HKEY key, const char* name, DWORD fallback) {
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExA(key, name, NULL, &type, (BYTE*)&value, &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return fallback;
    return value;
}

SaverSettings LoadSettings() {
    DWORD fish = DefaultFish, speed = SpeedNormal;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        fish = ReadDword(key, "Fish", fish);
        speed = ReadDword(key, "Speed", speed);
        RegCloseKey(key);
    }
    return ClampSettings(fish, speed);
}

void SaveSettings(const SaverSettings& settings) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    DWORD fish = settings.fish, speed = settings.speed;
    RegSetValueExA(key, "Fish", 0, REG_DWORD, (const BYTE*)&fish, sizeof fish);
    RegSetValueExA(key, "Speed", 0, REG_DWORD, (const BYTE*)&speed, sizeof speed);
    RegCloseKey(key);
}

// --- Drawing -------------------------------------------------------------

HBITMAP CreateCanvas(HDC reference, int width, int height) {
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits;
    return CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, NULL, 0);
}

void FillRectColor(HDC dc, int left, int top, int right, int bottom, COLORREF color) {
    RECT r = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

// Water darkening with depth over a band of sand: the scenery when the
// background picture is missing.
void DrawPlainScenery(HDC dc, int width, int height) {
    const int bands = 32;
    const int sand = height * 88 / 100;
    for (int i = 0; i < bands; ++i) {
        int top = sand * i / bands, bottom = sand * (i + 1) / bands;
        FillRectColor(dc, 0, top, width, bottom,
                      RGB(20, 110 - 70 * i / bands, 170 - 90 * i / bands));
    }
    FillRectColor(dc, 0, sand, width, height, RGB(194, 170, 120));
}

void DrawScenery(View* view) {
    if (!TheArt.background) {
        DrawPlainScenery(view->scenery, view->width, view->height);
        return;
    }
    BITMAP bm;
    GetObjectA(TheArt.background, sizeof bm, &bm);
    HDC source = CreateCompatibleDC(view->scenery);
    HGDIOBJ old = SelectObject(source, TheArt.background);
    SetStretchBltMode(view->scenery, HALFTONE);
    SetBrushOrgEx(view->scenery, 0, 0, NULL);
    StretchBlt(view->scenery, 0, 0, view->width, view->height, source, 0, 0, bm.bmWidth,
               bm.bmHeight, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}

const COLORREF PlainFishColors[FishKinds] = {RGB(255, 140, 20), RGB(60, 140, 255),
                                             RGB(250, 220, 40), RGB(230, 60, 70)};

void DrawPlainFish(HDC dc, const Fish& fish, int w, int h, int kind) {
    const int x = (int)fish.x, y = (int)fish.y;
    HBRUSH brush = CreateSolidBrush(PlainFishColors[kind]);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    const int tail = w / 4;
    const int bodyLeft = fish.facingLeft ? x : x + tail;
    Ellipse(dc, bodyLeft, y + h / 6, bodyLeft + w - tail, y + h - h / 6);
    POINT fin[3];
    const int tailX = fish.facingLeft ? x + w : x;
    const int joinX = fish.facingLeft ? x + w - tail - 2 : x + tail + 2;
    fin[0] = {tailX, y + h / 6};
    fin[1] = {joinX, y + h / 2};
    fin[2] = {tailX, y + h - h / 6};
    Polygon(dc, fin, 3);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(brush);
}

void DrawPlainBubble(HDC dc, int cx, int cy, int diameter) {
    HPEN pen = CreatePen(PS_SOLID, diameter > 12 ? 2 : 1, RGB(220, 240, 255));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Ellipse(dc, cx - diameter / 2, cy - diameter / 2, cx + diameter / 2, cy + diameter / 2);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

void DrawSprite(View* view, int x, int y, int w, int h, int cellX, int cellY, int cellW,
                int cellH) {
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(view->frame, x, y, w, h, view->sheet, cellX, cellY, cellW, cellH, blend);
}

void DrawFish(View* view, const Fish& fish) {
    const Tank& tank = view->tank;
    const int w = (int)(FishCellWidth * tank.scale), h = (int)(FishCellHeight * tank.scale);
    if (!view->sheet) {
        DrawPlainFish(view->frame, fish, w, h, fish.kind);
        return;
    }
    const int column = fish.facingLeft * FishFrames + FishFrame(fish);
    DrawSprite(view, (int)fish.x, (int)fish.y, w, h, column * FishCellWidth,
               fish.kind * FishCellHeight, FishCellWidth, FishCellHeight);
}

void DrawBubble(View* view, const Bubble& b) {
    const float scale = view->tank.scale;
    if (!view->sheet) {
        DrawPlainBubble(view->frame, (int)b.x, (int)b.y,
                        (int)(BubbleDiameters[b.size] * scale) + 1);
        return;
    }
    const int size = (int)(BubbleCell * scale) + 1;
    DrawSprite(view, (int)b.x - size / 2, (int)b.y - size / 2, size, size, b.size * BubbleCell,
               BubbleRowTop, BubbleCell, BubbleCell);
}

void ComposeFrame(View* view) {
    BitBlt(view->frame, 0, 0, view->width, view->height, view->scenery, 0, 0, SRCCOPY);
    for (const Bubble& b : view->tank.bubbles)
        if (b.alive)
            DrawBubble(view, b);
    for (unsigned i = 0; i < view->tank.fishCount; ++i)
        DrawFish(view, view->tank.fish[i]);
}

int OpenView(View* view, HWND window) {
    RECT client;
    GetClientRect(window, &client);
    view->width = client.right > 0 ? client.right : 1;
    view->height = client.bottom > 0 ? client.bottom : 1;
    HDC dc = GetDC(window);
    view->scenery = CreateCompatibleDC(dc);
    view->frame = CreateCompatibleDC(dc);
    view->sceneryBitmap = CreateCanvas(dc, view->width, view->height);
    view->frameBitmap = CreateCanvas(dc, view->width, view->height);
    if (TheArt.spriteSheet) {
        view->sheet = CreateCompatibleDC(dc);
        SelectObject(view->sheet, TheArt.spriteSheet);
    }
    ReleaseDC(window, dc);
    if (!view->scenery || !view->frame || !view->sceneryBitmap || !view->frameBitmap)
        return 0;
    SelectObject(view->scenery, view->sceneryBitmap);
    SelectObject(view->frame, view->frameBitmap);
    DrawScenery(view);
    InitTank(&view->tank, LoadSettings(), view->width, view->height, GetTickCount());
    // Let the first bubbles be on their way already.
    for (int i = 0; i < 60; ++i)
        StepTank(&view->tank, 0.1f);
    view->lastTick = GetTickCount();
    ComposeFrame(view);
    return 1;
}

void CloseView(View* view) {
    if (view->sheet)
        DeleteDC(view->sheet);
    if (view->frame)
        DeleteDC(view->frame);
    if (view->scenery)
        DeleteDC(view->scenery);
    if (view->frameBitmap)
        DeleteObject(view->frameBitmap);
    if (view->sceneryBitmap)
        DeleteObject(view->sceneryBitmap);
    ZeroMemory(view, sizeof *view);
}

void ShowFrame(View* view, HDC dc) {
    BitBlt(dc, 0, 0, view->width, view->height, view->frame, 0, 0, SRCCOPY);
}

void NextFrame(View* view, HWND window) {
    DWORD now = GetTickCount();
    StepTank(&view->tank, (now - view->lastTick) / 1000.0f);
    view->lastTick = now;
    ComposeFrame(view);
    HDC dc = GetDC(window);
    ShowFrame(view, dc);
    ReleaseDC(window, dc);
}

// Full screen, any sign of the user ends the saver.
int IsUserStirring(View* view, UINT message, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        return 1;
    case WM_MOUSEMOVE: {
        // The first report only says where the pointer rests.
        POINT at = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        if (!view->mouseSeen) {
            view->firstMouse = at;
            view->mouseSeen = 1;
            return 0;
        }
        return abs(at.x - view->firstMouse.x) > MouseSlack ||
               abs(at.y - view->firstMouse.y) > MouseSlack;
    }
    default:
        return 0;
    }
}

// One view per process: the full-screen window or the preview.
View TheView;

LRESULT CALLBACK SaverWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    View* view = &TheView;
    if (view->fullScreen && IsUserStirring(view, message, lParam)) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    switch (message) {
    case WM_CREATE:
        view->fullScreen = (((CREATESTRUCTA*)lParam)->style & WS_CHILD) == 0;
        if (!OpenView(view, window))
            return -1;
        SetTimer(window, FrameTimer, FrameMs, NULL);
        return 0;
    case WM_TIMER:
        NextFrame(view, window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        ShowFrame(view, dc);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_SETCURSOR:
        if (view->fullScreen) {
            SetCursor(NULL);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        KillTimer(window, FrameTimer);
        CloseView(view);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int RegisterSaverClass() {
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = SaverWndProc;
    wc.hInstance = Instance;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.lpszClassName = WindowClass;
    return RegisterClassA(&wc) != 0;
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

int RunFullScreen() {
    // Windows may start the saver again while it runs; one is enough.
    if (FindWindowA(WindowClass, FullScreenTitle))
        return 0;
    LoadArt();
    if (!RegisterSaverClass())
        return 1;
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (w <= 0 || h <= 0) {
        w = GetSystemMetrics(SM_CXSCREEN);
        h = GetSystemMetrics(SM_CYSCREEN);
    }
    HWND window = CreateWindowExA(WS_EX_TOPMOST, WindowClass, FullScreenTitle,
                                  WS_POPUP | WS_VISIBLE, x, y, w, h, NULL, NULL, Instance, NULL);
    if (!window)
        return 1;
    return RunMessageLoop();
}

// The preview lives as a child of the control panel's little screen and
// ends when that goes away.
int RunPreview(HWND parent) {
    if (!IsWindow(parent))
        return 0;
    LoadArt();
    if (!RegisterSaverClass())
        return 1;
    RECT r;
    GetClientRect(parent, &r);
    HWND window = CreateWindowExA(0, WindowClass, "", WS_CHILD | WS_VISIBLE, 0, 0, r.right,
                                  r.bottom, parent, NULL, Instance, NULL);
    if (!window)
        return 1;
    return RunMessageLoop();
}

// --- Settings ------------------------------------------------------------

void FillSettingsDialog(HWND dialog) {
    SaverSettings settings = LoadSettings();
    SetDlgItemInt(dialog, IDC_FISH, settings.fish, FALSE);
    SendDlgItemMessageA(dialog, IDC_FISH, EM_LIMITTEXT, 2, 0);
    for (const char* name : SpeedNames)
        SendDlgItemMessageA(dialog, IDC_SPEED, CB_ADDSTRING, 0, (LPARAM)name);
    SendDlgItemMessageA(dialog, IDC_SPEED, CB_SETCURSEL, settings.speed, 0);
    // Says, without alarm, whether the pictures were found.
    SaverData data = FindData();
    SetDlgItemTextA(dialog, IDC_PICTURES,
                    data.haveSpriteSheet && data.haveBackground
                        ? "Fish and bubbles are drawn from the installed pictures."
                        : "The installed pictures were not found: plain shapes are drawn.");
}

void KeepSettingsDialog(HWND dialog) {
    BOOL read = FALSE;
    UINT fish = GetDlgItemInt(dialog, IDC_FISH, &read, FALSE);
    LRESULT speed = SendDlgItemMessageA(dialog, IDC_SPEED, CB_GETCURSEL, 0, 0);
    SaveSettings(ClampSettings(read ? fish : (unsigned)DefaultFish,
                               speed == CB_ERR ? (unsigned)SpeedNormal : (unsigned)speed));
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        FillSettingsDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            KeepSettingsDialog(dialog);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

int RunSettings(HWND owner) {
    if (owner && !IsWindow(owner))
        owner = NULL;
    DialogBoxParamA(Instance, MAKEINTRESOURCEA(IDD_SETTINGS), owner, SettingsDialogProc, 0);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    Instance = instance;
    SaverCommand command = ParseSaverCommand(SkipProgramName(GetCommandLineA()));
    switch (command.mode) {
    case ModeFullScreen:
        return RunFullScreen();
    case ModePreview:
        return RunPreview((HWND)command.window);
    case ModeSettings:
        return RunSettings((HWND)command.window);
    case ModeUnknown:
        break;
    }
    return 0;
}
