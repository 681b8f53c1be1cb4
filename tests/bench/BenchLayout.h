// The leftovers of the benchmark product "ZqBench": one fixed, deterministic layout shared by
// the seeder (which creates it and writes the matching cleaning script) and its verifier.
#pragma once

#include <stdlib.h>

namespace bench {

// Registry trees removed by [registry] key entries: groups x keys, two values per key.
constexpr int kMainGroups = 20;        // HKLM\SOFTWARE\ZqBench\GroupNN\KeyNNN
constexpr int kKeysPerGroup = 1000;
constexpr int kWowKeys = 1000;         // HKLM\SOFTWARE\Wow6432Node\ZqBench\Group00\KeyNNN
constexpr int kUserKeys = 1000;        // HKCU\Software\ZqBench\Settings\KeyNNN
constexpr int kSharedValues = 10;      // HKLM\SOFTWARE\ZqBenchShared:ModuleNN (the key stays)

// Driver services zqbdrv10 .. zqbdrv59, each with a Parameters and an Enum subkey.
constexpr int kFirstDriver = 10;
constexpr int kDrivers = 50;

// Folder trees removed by [folders]: modules x parts x files.
constexpr int kMainModules = 13;       // %ProgramFiles%\ZqBench\ModuleNN\PartNN\fileNNN.*
constexpr int kPartsPerModule = 10;
constexpr int kFilesPerPart = 100;
constexpr int kTopFiles = 20;          // directly in %ProgramFiles%\ZqBench
constexpr int kX86Parts = 5;           // %ProgramFiles(x86)%\ZqBench\PartNN (the 32-bit twin)
constexpr int kDataParts = 3;          // %ProgramData%\ZqBench\PartNN

// The search folders of [files] and [maskedfiles], about ten for each unit of scale: the three
// above, the extra folders C:\ZqBenchEx and C:\ZqBenchExNN ([exfolders], searched, kept), and
// the plug-in folders %ProgramFiles%\ZqBench PlugNN ([folders]) with their 32-bit twins.
constexpr int kExFoldersPerScale = 4;  // plus one
constexpr int kPlugFoldersPerScale = 3;  // less two
constexpr int kPlugFiles = 30;         // plugNNN.bin in each plug-in folder and twin

// The files named one by one ([files]), spread over the product's search folders.
constexpr int kNamedTools = 100;       // zqbtoolNNN.exe   (bare name: the extra and plug-in folders)
constexpr int kNamedSystem = 50;       // zqbsysNNN.dll    (bare name: system32)
constexpr int kNamedConfigs = 50;      // C:\ZqBenchCfg\cfgNNN.ini (full path)

// Masks ([maskedfiles]) among many files to keep.
constexpr int kMaskedModules = 150;    // zqbmodNNN.dll    (zqbmod*.dll, in C:\ZqBenchEx)
constexpr int kMaskedResources = 50;   // zqbresNN.dat     (zqbres??.dat, in C:\ZqBenchEx)
constexpr int kExtraMasksPerScale = 3;  // less one: zqbxNN_*.dat, spread over the search folders
constexpr int kExtraMaskMatches = 20;
constexpr int kKeepFiles = 100;        // keepNNN.txt in every extra folder, never matched

// INF files oemzqbenchNNNN.inf in %SystemRoot%\inf, each with a .pnf; every tenth is the
// product's: the first 150 of those name a driver service, the other 50 the maker text.
constexpr int kInfFiles = 2000;
constexpr int kInfSelectedEvery = 10;
constexpr int kInfByDriver = 150;

constexpr const char* kMakerText = "ZqBench Devices Inc.";

// ZQBENCH_SCALE=N (default 1): the product at N times its size. The registry groups and keys,
// the modules, the INF files, the search folders, the named files, the masks with their matches
// and the files to keep all grow with it.
inline int Scale()
{
    const char* value = getenv("ZQBENCH_SCALE");
    int scale = value != nullptr ? atoi(value) : 1;
    return scale > 0 ? scale : 1;
}
inline int MainGroups() { return kMainGroups * Scale(); }
inline int WowKeys() { return kWowKeys * Scale(); }
inline int UserKeys() { return kUserKeys * Scale(); }
inline int MainModules() { return kMainModules * Scale(); }
inline int InfFiles() { return kInfFiles * Scale(); }
inline int ExFolders() { return kExFoldersPerScale * Scale() + 1; }
inline int PlugFolders() { return kPlugFoldersPerScale * Scale() - 2; }
inline int NamedTools() { return kNamedTools * Scale(); }
inline int NamedSystem() { return kNamedSystem * Scale(); }
inline int NamedConfigs() { return kNamedConfigs * Scale(); }
inline int MaskedModules() { return kMaskedModules * Scale(); }
inline int ExtraMasks() { return kExtraMasksPerScale * Scale() - 1; }

}  // namespace bench
