// Program-wide state of one installation: each item is set once, in the
// order of the flow, and lives until the process ends.
#pragma once

#include "platform/win.h"
#include "text/text.h"

#include <stdint.h>

// Why an installation failed; the flow tells the user and exits with 1.
enum InstallFailure {
    InstallOk = 0,
    InstallWriteFailed,       // a target could not be made whole; FailedPath names it
    InstallPackageUnreadable, // the package inside the installer is missing or cut short
    InstallerDamaged,         // its checksum no longer fits: it was changed after it was made
    InstallNotAsked,          // the confirmation could not be shown, so nobody said yes
};

extern HINSTANCE InstallerInstance;
extern char SaverTitle[TitleBufferSize];
extern uint32_t TotalInstallSize;
extern char SaverFileName[PathSize];
extern InstallFailure InstallResult;
extern char FailedPath[PathSize];

// Back to the state of a fresh process; the native tests run many
// installations in one process.
void ResetProgramState();
