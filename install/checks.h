// The checks made before the user is asked to confirm. Each returns nonzero
// to go on and 0 to stop; only the user's answer ever stops, a failed query
// of the system lets the installation go on without a word.
#pragma once

#include "platform/win.h"

#include <stdint.h>

// Asks before an installed saver of the same name is replaced.
int CheckExistingSaver(HINSTANCE instance);

// Scans the package for TotalInstallSize (exactly once per process: the sum
// is never reset) and warns when the Windows drive looks too small.
int CheckDiskSpace();

enum : uint32_t { FreeSpaceUnknown = 0xFFFFFFFFu };

// Kilobytes free on the volume of `path`, saturated at 0xFFFFFFFF, which
// also stands for "unknown" and so always passes the space check.
uint32_t GetFreeKilobytes(const char* path);
