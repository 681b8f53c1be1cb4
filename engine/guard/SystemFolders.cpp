// The folders the system ships: below the Windows folder, the system folders and Program Files,
// and wherever the system's protected-file check names a file. A product's own folder there
// (system32\<Vendor>) is none of them.
#include <wchar.h>
#include <wctype.h>

#include <initializer_list>

#include "guard/PlaceTables.h"
#include "platform/ExpandPath.h"
#include "platform/SystemPaths.h"

namespace {

// Below the Windows folder: each with its whole tree.
const wchar_t* const kWindowsTrees[] = {
    L"addins", L"appcompat", L"apppatch", L"AppReadiness", L"assembly", L"bcastdvr", L"Boot", L"Branding",
    L"CbsTemp", L"command", L"Containers", L"Cursors", L"debug", L"diagnostics", L"DigitalLocker",
    L"Driver Cache", L"ehome", L"Globalization", L"Help", L"IME", L"ImmersiveControlPanel", L"InputMethod",
    L"L2Schemas", L"LiveKernelReports", L"Logs", L"Media", L"Microsoft.NET", L"Migration", L"Minidump",
    L"ModemLogs", L"mui", L"Offline Web Pages", L"Panther", L"PCHEALTH", L"Performance", L"PLA",
    L"PolicyDefinitions", L"Prefetch", L"Provisioning", L"Registration", L"RemotePackages", L"repair",
    L"rescache", L"Resources", L"SchCache", L"schemas", L"security", L"ServiceProfiles", L"ServiceState",
    L"servicing", L"Setup", L"ShellComponents", L"ShellExperiences", L"SKB", L"SoftwareDistribution",
    L"Speech", L"Speech_OneCore", L"System", L"SystemApps", L"SystemResources", L"SystemTemp", L"TAPI",
    L"Tasks", L"ToastData", L"tracing", L"twain_32", L"twain_64", L"Vss", L"WaaS", L"Web", L"WinSxS",
    L"WindowsUpdate",
};

// Below system32 and SysWOW64 (and so below Sysnative): each with its whole tree.
const wchar_t* const kSystemTrees[] = {
    L"AdvancedInstallers", L"AppLocker", L"appraiser", L"Boot", L"catroot", L"catroot2", L"CodeIntegrity",
    L"com", L"config", L"Configuration", L"DiagSvcs", L"dllcache", L"downlevel", L"DriverState",
    L"DriverStore", L"drivers\\etc", L"drivers\\UMDF", L"drivers\\DriverData", L"dsc", L"gecko",
    L"GroupPolicy", L"GroupPolicyUsers", L"ias", L"icsxml", L"IME", L"inetsrv", L"InputMethod", L"LogFiles",
    L"lxss", L"Microsoft", L"migration", L"MsDtc", L"mui", L"NDF", L"networklist", L"oobe",
    L"Printing_Admin_Scripts", L"ras", L"Recovery", L"restore", L"setup", L"ShellExperiences", L"SMI",
    L"Speech", L"Speech_OneCore", L"spool", L"spp", L"sru", L"Sysprep", L"Tasks", L"wbem", L"WDI",
    L"wfp", L"WindowsPowerShell", L"winevt", L"WinMetadata",
};

// Below both Program Files folders: each with its whole tree.
const wchar_t* const kProgramTrees[] = {
    L"Internet Explorer", L"Windows Defender", L"Windows Defender Advanced Threat Protection",
    L"Windows Mail", L"Windows Media Player", L"Windows NT", L"Windows Photo Viewer",
    L"Windows Portable Devices", L"Windows Security", L"Windows Sidebar", L"Windows Journal", L"WindowsApps",
    L"ModifiableWindowsApps", L"WindowsPowerShell", L"Uninstall Information", L"Common Files\\microsoft shared",
    L"Common Files\\System", L"Common Files\\Services", L"Common Files\\SpeechEngines",
};

// Folders the system keeps for itself but where products leave folders of their own:
// protected as themselves only.
const wchar_t* const kWindowsFolders[] = {
    L"", L"System32", L"System32\\drivers", L"SysWOW64", L"SysWOW64\\drivers", L"Sysnative", L"inf", L"Fonts",
    L"Temp", L"Installer", L"Downloaded Program Files", L"ShellNew",
};

void AddBelow(ProtectedPlaces* places, const wchar_t* folder, const wchar_t* const* names, size_t count, bool trees)
{
    zqWString path;
    for (size_t i = 0; i < count; ++i) {
        if (!FormatInto(path, names[i][0] != 0 ? L"%s\\%s" : L"%s", folder, names[i]))
            continue;
        if (trees)
            AddTree(places, path.Get());
        else
            AddFolder(places, path.Get());
    }
}

// "en-US", "de-DE", "zh-Hans", "sr-Latn-RS": a language's resources.
bool IsLanguageName(const wchar_t* name)
{
    size_t letters = 0;
    while (iswalpha(name[letters]))
        ++letters;
    if (letters < 2 || letters > 3 || name[letters] != L'-')
        return false;
    for (const wchar_t* c = name + letters; *c != 0; ++c)
        if (!iswalnum(*c) && *c != L'-')
            return false;
    return wcslen(name + letters) >= 3;
}

typedef struct {
    WCHAR FileName[MAX_PATH];  // the system's own record: its names fit MAX_PATH
    DWORD FileNumber;
} ProtectedFileData;
typedef BOOL(WINAPI* SfcGetNextProtectedFileFn)(HANDLE rpc, ProtectedFileData* data);

// Every folder that holds a file the system's protected-file check names; a long list is
// walked once, and each folder taken once however many files it holds.
void AddProtectedFileFolders(ProtectedPlaces* places)
{
    if (!places->sfc.Valid())
        return;
    SfcGetNextProtectedFileFn next = reinterpret_cast<SfcGetNextProtectedFileFn>(
        reinterpret_cast<void*>(GetProcAddress(places->sfc.Get(), "SfcGetNextProtectedFile")));
    if (next == nullptr)
        return;
    ProtectedFileData data = {};
    zqWString last, folder, expanded;
    for (int i = 0; i < 1000000 && next(nullptr, &data); ++i) {
        data.FileName[MAX_PATH - 1] = 0;
        Result named = ExpandText(data.FileName, &expanded);
        if (CutShort(named))
            places->untold = true;
        const wchar_t* cut = named.ok ? wcsrchr(expanded.Get(), L'\\') : nullptr;
        if (cut == nullptr || !FormatInto(folder, L"%.*s", static_cast<int>(cut - expanded.Get()), expanded.Get()) ||
            _wcsicmp(folder.Get(), last.Get()) == 0)
            continue;
        AddFolder(places, folder.Get());
        last.Assign(folder.Get());
    }
}

}  // namespace

void AddSystemFolders(ProtectedPlaces* places, const wchar_t* windows)
{
    const size_t windowsCount = sizeof kWindowsTrees / sizeof kWindowsTrees[0];
    const size_t systemCount = sizeof kSystemTrees / sizeof kSystemTrees[0];
    const size_t programCount = sizeof kProgramTrees / sizeof kProgramTrees[0];
    if (windows[0] != 0) {
        AddBelow(places, windows, kWindowsFolders, sizeof kWindowsFolders / sizeof kWindowsFolders[0], false);
        AddBelow(places, windows, kWindowsTrees, windowsCount, true);
        AddSubfolders(places, windows, true, IsLanguageName);
        zqWString system;
        for (const wchar_t* below : {L"System32", L"SysWOW64", L"System32\\drivers", L"SysWOW64\\drivers"}) {
            if (!FormatInto(system, L"%s\\%s", windows, below))
                continue;
            if (wcschr(below, L'\\') == nullptr)
                AddBelow(places, system.Get(), kSystemTrees, systemCount, true);
            AddSubfolders(places, system.Get(), true, IsLanguageName);
        }
    }
    static const wchar_t* const programFolders[] = {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"};
    zqWString folder;
    for (const wchar_t* variable : programFolders) {
        Result named = EnvironmentValue(variable, &folder);
        if (named.ok && folder.length > 0)
            AddBelow(places, folder.Get(), kProgramTrees, programCount, true);
        else if (CutShort(named))
            places->untold = true;
    }
    AddProtectedFileFolders(places);
}
