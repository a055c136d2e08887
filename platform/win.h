// The Windows operations the installer uses, under their Windows names.
//
// Built with mingw this is <windows.h> itself. On the host it is the
// native tests' stand-in (tests/windows/), which maps a virtual Windows
// directory onto a temporary folder, answers message boxes from a script and
// records what the installer asked of the system, so app/, package/,
// install/ and decoder/ build and run unchanged in native tests. The host
// build puts the stand-in's folder on the include path: nothing here reaches
// up into the tests. Only this directory includes <windows.h>.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "host_windows.h"
#endif
