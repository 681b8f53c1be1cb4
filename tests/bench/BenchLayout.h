// The leftovers of the benchmark product "ZqBench": one fixed, deterministic layout shared by
// the seeder (which creates it and writes the matching cleaning script) and its verifier.
#pragma once

#include <stdlib.h>

namespace bench {

// Registry trees removed by [registry] key entries: groups x keys, two values per key.
constexpr int kMainGroups = 18;        // HKLM\SOFTWARE\ZqBench\GroupNN\KeyNNN
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

// The extra folder C:\ZqBenchEx: masked files, individually named files, files to keep.
constexpr int kMaskedModules = 150;    // zqbmodNNN.dll    ([maskedfiles] zqbmod*.dll)
constexpr int kMaskedResources = 50;   // zqbresNN.dat     ([maskedfiles] zqbres??.dat)
constexpr int kNamedTools = 100;       // zqbtoolNNN.exe   ([files], bare name, in C:\ZqBenchEx)
constexpr int kNamedSystem = 50;       // zqbsysNN.dll     ([files], bare name, in system32)
constexpr int kNamedConfigs = 50;      // C:\ZqBenchCfg\cfgNN.ini ([files], full path)
constexpr int kKeepFiles = 100;        // C:\ZqBenchEx\keepNNN.txt, never matched

// INF files oemzqbenchNNNN.inf in %SystemRoot%\inf, each with a .pnf; every tenth is the
// product's: the first 150 of those name a driver service, the other 50 the maker text.
constexpr int kInfFiles = 2000;
constexpr int kInfSelectedEvery = 10;
constexpr int kInfByDriver = 150;

constexpr const char* kMakerText = "ZqBench Devices Inc.";

// ZQBENCH_SCALE=N (default 1) multiplies the registry groups, the modules and the INF files:
// the product at N times its size.
inline int Scale()
{
    const char* value = getenv("ZQBENCH_SCALE");
    int scale = value != nullptr ? atoi(value) : 1;
    return scale > 0 ? scale : 1;
}
inline int MainGroups() { return kMainGroups * Scale(); }
inline int MainModules() { return kMainModules * Scale(); }
inline int InfFiles() { return kInfFiles * Scale(); }

}  // namespace bench
