#include "install/state.h"

#include <string.h>

HINSTANCE InstallerInstance;
char SaverTitle[TitleBufferSize];
uint32_t TotalInstallSize;
char SaverFileName[PathSize];
InstallFailure InstallResult;
char FailedPath[PathSize];

void ResetProgramState() {
    InstallerInstance = NULL;
    memset(SaverTitle, 0, sizeof SaverTitle);
    TotalInstallSize = 0;
    memset(SaverFileName, 0, sizeof SaverFileName);
    InstallResult = InstallOk;
    memset(FailedPath, 0, sizeof FailedPath);
}
