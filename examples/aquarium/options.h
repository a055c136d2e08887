// What the aquarium saver makes of its command line and its own file name.
//
// Plain functions over 8-bit text, with no Windows calls, so that they build
// and are tested on any host; saver.cpp feeds them GetCommandLineA, the
// module's path and the Windows directory.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The ways Windows starts a screen saver.
enum SaverMode {
    ModeSettings,   // "/c", "/c:HWND" or no argument at all: the settings dialog
    ModeFullScreen, // "/s": the animation over the whole screen
    ModePreview,    // "/p HWND": the animation inside the given window
    ModeUnknown,    // anything else, "/a" (password) included: nothing to do
};

struct SaverCommand {
    SaverMode mode;
    // The window of "/c:HWND" (the dialog's owner) or "/p HWND" (the
    // preview's parent); 0 when none was given.
    uintptr_t window;
};

// The command tail: what follows the program name, quoted or not, and the
// blanks after it. The installer starts the saver both by its bare name and
// by its quoted full path, and the Display control panel by its short path.
const char* SkipProgramName(const char* commandLine);

// Reads the first argument of a command tail. The letter may follow '/' or
// '-' in either case; a window number follows ':' or blanks.
SaverCommand ParseSaverCommand(const char* tail);

// The file name of `modulePath` without its directory and without
// everything from its last '.' on (AQUARIUM for C:\WINDOWS\AQUARIUM.SCR).
// 0 when it does not fit in `size`.
int SaverBaseName(const char* modulePath, char* out, size_t size);

// Where the installer put the saver's data files: below the Windows
// directory, in TORVANIX\MOREVANE\<base name>, the sprite sheet as
// <base name>.DAT and the background as FILE0001.BMP, the first file after it.
struct SaverData {
    char spriteSheet[260];
    char background[260];
    int haveSpriteSheet;
    int haveBackground;
};

// Fills `data` for the saver at `modulePath`; `exists` says whether a file
// is there. A path that does not fit counts as missing. Returns 1 when both
// files are there.
int FindSaverData(const char* windowsDirectory, const char* modulePath,
                  int (*exists)(const char* path), SaverData* data);

// The settings, as the dialog shows them and the registry keeps them.
enum { MinFish = 1, MaxFish = 20, DefaultFish = 8 };
enum SaverSpeed { SpeedSlow, SpeedNormal, SpeedFast, SpeedCount };

struct SaverSettings {
    unsigned fish;
    unsigned speed; // a SaverSpeed
};

// Values read from the registry or typed by the user, brought into range.
SaverSettings ClampSettings(unsigned fish, unsigned speed);

extern const char* const SpeedNames[SpeedCount];
// How much faster than normal everything moves at each speed.
extern const float SpeedFactors[SpeedCount];
