// The installer's entry and its one window, whose creation runs the whole
// installation and is then refused.
#pragma once

#include "platform/win.h"

LRESULT CALLBACK InstallerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The installation from title to the start of the saver; returns when it is
// done or stopped. Runs inside WM_CREATE.
void RunInstallation();

#ifndef _WIN32
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
#endif
