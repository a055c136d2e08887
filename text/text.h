// Bounded text and the names the installer derives from its own file name,
// shared by the installer and the authoring tool, which must name every
// file as the installer will.
//
// Every text is 8-bit and NUL-terminated in a fixed buffer. The append
// functions never write past `size` bytes and report whether everything
// fitted: a message may be shown cut, a path that was cut is never used.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum { PathSize = 260, TitleBufferSize = 33, CaptionSize = 256, MessageSize = 512 };

// Copies or appends `src`, as much as fits; 1 when all of it fitted, else 0.
int CopyText(char* dst, unsigned size, const char* src);
int AppendText(char* dst, unsigned size, const char* src);

// Copies the texts given, up to a NULL, one after another, as much as
// fits; `size` must be at least 1.
void JoinText(char* dst, unsigned size, ...);

// Appends "\" unless `dst` already ends with one; 0 when it does not fit.
int AppendBackslash(char* dst, unsigned size);

// Changes ASCII a to z only, so letters of the ANSI code page stay as they are.
void UppercaseAscii(char* text);

// Removes trailing blanks (0x20) only; a tab or any other character stops it.
void TrimTrailingBlanks(char* text);

// Decimal digits of the unsigned value with ',' between groups of three.
// `buffer` must hold at least 14 characters and the terminator.
char* FormatThousands(uint32_t value, char* buffer);

// The file name of `fullPath` without its directory and without everything
// from its last '.' on, in its own letter case (MySaver for C:\Dl\MySaver.exe).
int BaseName(const char* fullPath, char* out, unsigned size);

// The file name cut before its first '.', then ".SCR", in capitals
// (MY.SCR for my.saver.exe).
int SaverFileNameOf(const char* fullPath, char* out, unsigned size);

// The folders below the Windows directory that every saver's data folder
// goes in, each followed by a backslash.
static const char DataParentFolders[] = "TORVANIX\\MOREVANE\\";

// The directory of the data files: the Windows directory, a backslash if it
// has none, DataParentFolders and `baseName`. 0 when it does not fit.
int DataDirectoryOf(const char* windowsDirectory, const char* baseName, char* out, unsigned size);

// Appends the name entry `index` (1 on) installs under in the data
// directory: `baseName`.DAT for entry 1; for the others FILE, the number
// index + firstFileNumber - 2 in at least four digits, and `extension`. 0
// when it does not fit; `path` then holds as much of it as fitted.
int AppendDataFileName(char* path, unsigned size, uint32_t index, const char* baseName,
                       uint16_t firstFileNumber, const char* extension);

// What the user is told, each into a buffer of `size` bytes, cut when it
// does not fit. The caption of every box: the title and " Screen Saver
// Installation".
static inline void ComposeCaption(char* caption, unsigned size, const char* title) {
    JoinText(caption, size, title, " Screen Saver Installation", NULL);
}

// The question before anything is installed; `windowsDirectory` as it is to
// be shown.
void ComposeConfirmation(char* text, unsigned size, const char* saverFileName, const char* title,
                         const char* windowsDirectory, uint32_t totalInstallSize);

// The message once all is installed, naming the data directory below
// `windowsDirectory` that `installerPath`'s base name gives.
void ComposeCompletion(char* text, unsigned size, const char* windowsDirectory,
                       const char* installerPath);
