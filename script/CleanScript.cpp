#include "script/CleanScript.h"

zqCleanScript::~zqCleanScript()
{
    Clear();
}

void zqCleanScript::Clear()
{
    folders.RemoveAll();
    maskedFiles.RemoveAll();
    files.RemoveAll();
    devices.RemoveAll();
    drivers.RemoveAll();
    infs.RemoveAll();
    registry.RemoveAll();
    exFolders.RemoveAll();
    searchDirs.RemoveAll();
    deviceKeys.RemoveAll();
    drvPackages.RemoveAll();
    dotNet.RemoveAll();
#ifdef _WIN64
    wowTwins.RemoveAll();
#endif
}

void zqCleanScript::Read(FILE* stream)
{
    (void)stream;  // the reader lands with the script reader change
}
