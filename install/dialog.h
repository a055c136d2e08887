// The installation dialog (resource 103): it names and centres itself, posts
// itself IDOK, and on that command writes every package entry to its place
// and makes the new saver the active one.
#pragma once

#include "platform/win.h"

INT_PTR CALLBACK InstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
