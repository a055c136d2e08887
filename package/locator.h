// Finding the package inside the installer's own file, by plain reads of the
// file on disk: the directory starts at the data of the first resource of the
// first type in .rsrc, which the build makes LASTRES.
#pragma once

#include "platform/win.h"

#include <stdint.h>

// A new handle on the installer's file, positioned at the PackageHeader, or
// HFILE_ERROR. The caller closes it with _lclose.
HFILE LocatePackage();

// 0 when the installer's file holds a non-zero PE checksum that its bytes
// no longer give: it was changed after it was made, by a damaged or cut-short
// download. A zero checksum, or a file that cannot be read, passes.
int CheckOwnChecksum();

// Reads exactly `count` bytes; 0 when the file ends or fails first.
int ReadExactly(HFILE file, void* buffer, unsigned count);

// Copies the 32-byte title field into `buffer` (zero-filled, at least 33
// bytes); leaves it untouched when the package cannot be located.
void ReadSaverTitle(char* buffer);

// Sums each entry's installed size into `installSize`: the original size of
// a compressed entry, the stored size of a stored one, modulo 2^32. 0 when
// the package cannot be located.
int ScanPackageDirectory(uint32_t* installSize);
