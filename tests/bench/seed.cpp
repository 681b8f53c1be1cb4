// Creates, counts and removes the leftovers of the benchmark product "ZqBench" (see
// BenchLayout.h) in the scratch prefix, and writes the cleaning script that names them.
//
//   bench_seed seed WORKDIR      remove any earlier copy, create everything, write WORKDIR\zqclean.ini
//   bench_seed verify clean      exit 0 when no target is left and everything to keep is there
//   bench_seed verify seeded     exit 0 when every target and everything to keep is there
//   bench_seed wipe              remove everything the seeder creates, kept items included
//
// Deterministic: the same names, sizes and contents on every run.
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "foundation/Handles.h"
#include "tests/bench/PlainTree.h"
#include "tests/bench/BenchLayout.h"

using namespace bench;

namespace {

std::wstring Fmt(const wchar_t* format, ...)
{
    wchar_t buffer[1024];
    va_list args;
    va_start(args, format);
    _vsnwprintf(buffer, 1023, format, args);
    va_end(args);
    buffer[1023] = 0;
    return buffer;
}

std::wstring Expand(const wchar_t* text)
{
    wchar_t buffer[1024];
    DWORD length = ExpandEnvironmentStringsW(text, buffer, 1024);
    if (length == 0 || length > 1024)
        return text;
    return buffer;
}

struct Places {
    std::wstring mainRoot, x86Root, dataRoot, exRoot, cfgRoot, system32, infDir;
    std::vector<std::wstring> exFolders;   // exRoot first
    std::vector<std::wstring> plugFolders, plugTwins;
};

Places GetPlaces()
{
    Places p;
    p.mainRoot = Expand(L"%ProgramFiles%\\ZqBench");
    p.x86Root = Expand(L"%ProgramFiles(x86)%\\ZqBench");
    p.dataRoot = Expand(L"%ProgramData%\\ZqBench");
    p.exRoot = L"C:\\ZqBenchEx";
    p.cfgRoot = L"C:\\ZqBenchCfg";
    p.system32 = Expand(L"%SystemRoot%\\system32");
    p.infDir = Expand(L"%SystemRoot%\\inf");
    p.exFolders.push_back(p.exRoot);
    for (int n = 1; n < ExFolders(); ++n)
        p.exFolders.push_back(Fmt(L"C:\\ZqBenchEx%02d", n));
    for (int n = 0; n < PlugFolders(); ++n) {
        p.plugFolders.push_back(Expand(Fmt(L"%%ProgramFiles%%\\ZqBench Plug%02d", n).c_str()));
        p.plugTwins.push_back(Expand(Fmt(L"%%ProgramFiles(x86)%%\\ZqBench Plug%02d", n).c_str()));
    }
    return p;
}

// One file of the search folders (not of the module trees): where it is, whether the script
// removes it, and whether it lies in a plug-in folder, whose tree counts it.
struct LooseFile {
    std::wstring path;
    bool target;
    bool inTree;
};

// Every such file, in a fixed order: the named tools and the extra masks' matches spread over
// the extra and plug-in folders, the masked modules and resources, the system files, the
// configurations, the plug-in files, and the files to keep (near misses of the masks among them).
std::vector<LooseFile> LooseFiles(const Places& p)
{
    std::vector<LooseFile> files;
    std::vector<std::wstring> spread = p.exFolders;
    spread.insert(spread.end(), p.plugFolders.begin(), p.plugFolders.end());
    spread.insert(spread.end(), p.plugTwins.begin(), p.plugTwins.end());
    size_t exCount = p.exFolders.size();
    auto add = [&files](const std::wstring& path, bool target, bool inTree) { files.push_back({path, target, inTree}); };
    for (int n = 1; n <= NamedTools(); ++n) {
        size_t at = static_cast<size_t>(n - 1) % spread.size();
        add(spread[at] + Fmt(L"\\zqbtool%03d.exe", n), true, at >= exCount);
    }
    for (int m = 0; m < ExtraMasks(); ++m) {
        for (int k = 0; k < kExtraMaskMatches; ++k) {
            size_t at = static_cast<size_t>(m * 7 + k) % spread.size();
            add(spread[at] + Fmt(L"\\zqbx%02d_%03d.dat", m, k), true, at >= exCount);
        }
        add(p.exRoot + Fmt(L"\\zqbx%02d-keep.dat", m), false, false);  // no "_"
    }
    for (int n = 1; n <= MaskedModules(); ++n)
        add(p.exRoot + Fmt(L"\\zqbmod%03d.dll", n), true, false);
    for (int n = 1; n <= kMaskedResources; ++n)
        add(p.exRoot + Fmt(L"\\zqbres%02d.dat", n), true, false);
    for (int n = 1; n <= NamedSystem(); ++n)
        add(p.system32 + Fmt(L"\\zqbsys%03d.dll", n), true, false);
    for (int n = 1; n <= NamedConfigs(); ++n)
        add(p.cfgRoot + Fmt(L"\\cfg%03d.ini", n), true, false);
    for (size_t f = 0; f < p.plugFolders.size(); ++f) {
        for (int n = 0; n < kPlugFiles; ++n) {
            add(p.plugFolders[f] + Fmt(L"\\plug%03d.bin", n), true, true);
            add(p.plugTwins[f] + Fmt(L"\\plug%03d.bin", n), true, true);
        }
    }
    for (const std::wstring& folder : p.exFolders)
        for (int n = 1; n <= kKeepFiles; ++n)
            add(folder + Fmt(L"\\keep%03d.txt", n), false, false);
    add(p.exRoot + L"\\zqbmod_keep.txt", false, false);  // not *.dll
    add(p.exRoot + L"\\zqbres100.dat", false, false);    // one digit too many for ??
    add(p.cfgRoot + L"\\keep.txt", false, false);
    return files;
}

const wchar_t* kMainKey = L"SOFTWARE\\ZqBench";
const wchar_t* kWowKey = L"SOFTWARE\\Wow6432Node\\ZqBench";
const wchar_t* kUserKey = L"Software\\ZqBench";
const wchar_t* kSharedKey = L"SOFTWARE\\ZqBenchShared";
const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services";

// A small deterministic mixer for sizes and contents.
unsigned Mix(unsigned x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

int failures = 0;

void Fail(const char* what, const std::wstring& name, DWORD error)
{
    if (failures++ < 20)
        fprintf(stderr, "bench_seed: %s %S failed: %lu\n", what, name.c_str(), error);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        Fail("create file", path, GetLastError());
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), (DWORD)bytes.size(), &written, nullptr) ||
        written != bytes.size()) {
        Fail("write file", path, GetLastError());
        return false;
    }
    return true;
}

// Plausible file contents of a deterministic size between 64 bytes and 2 KB.
std::string FileContent(unsigned seed)
{
    size_t size = 64 + Mix(seed) % 1985;
    std::string text;
    text.reserve(size + 64);
    char line[96];
    for (unsigned n = 0; text.size() < size; ++n) {
        snprintf(line, sizeof line, "ZqBench component data %08x line %u\r\n", Mix(seed + n), n);
        text += line;
    }
    text.resize(size);
    return text;
}

void MakeDir(const std::wstring& path)
{
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        Fail("create folder", path, GetLastError());
}

// Files and folders of a tree, the tree's own folder included; 0 when it does not exist.
long CountTree(const std::wstring& folder)
{
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        return 0;
    long count = 1;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find.Valid())
        return count;
    do {
        if (!wcscmp(data.cFileName, L".") || !wcscmp(data.cFileName, L".."))
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            count += CountTree(folder + L"\\" + data.cFileName);
        else
            ++count;
    } while (FindNextFileW(find.Get(), &data));
    return count;
}

bool FileExists(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A key and everything below it; 0 when it does not exist.
long CountKeys(HKEY root, const std::wstring& path)
{
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return 0;
    long count = 1;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        count += CountKeys(root, path + L"\\" + name);
    }
    return count;
}

bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& value)
{
    RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExW(key.Get(), value.c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool CreateKey(HKEY parent, const std::wstring& name, RegKey& key)
{
    LONG result = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.Put(), nullptr);
    if (result != ERROR_SUCCESS) {
        Fail("create key", name, result);
        return false;
    }
    return true;
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)value.c_str(),
                   (DWORD)((value.size() + 1) * sizeof(wchar_t)));
}

void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
}

// --- names -------------------------------------------------------------------------------

std::wstring DriverName(int n) { return Fmt(L"zqbdrv%02d", kFirstDriver + n); }
std::wstring InfName(int i) { return Fmt(L"oemzqbench%04d", i); }
bool InfSelected(int i) { return i % kInfSelectedEvery == 0; }

const wchar_t* const kExtensions[] = {L"dll", L"dat", L"xml", L"png", L"txt"};

// One line of text with CRLF, formatted into at most 255 bytes.
void AddLine(std::string& text, const char* format, ...) __attribute__((format(ms_printf, 2, 3)));
void AddLine(std::string& text, const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    _vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    line[sizeof line - 1] = 0;
    text += line;
    text += "\r\n";
}

// --- INF text ----------------------------------------------------------------------------

std::string InfText(int i)
{
    bool selected = InfSelected(i);
    int k = i / kInfSelectedEvery;
    char maker[64], service[32], device[64];
    if (selected && k < kInfByDriver) {
        snprintf(maker, sizeof maker, "Acme Hardware %04d", i);
        snprintf(service, sizeof service, "zqbdrv%02d", kFirstDriver + k % kDrivers);
    } else if (selected) {
        snprintf(maker, sizeof maker, "%s", kMakerText);
        snprintf(service, sizeof service, "zqbaux%04d", i);
    } else {
        snprintf(maker, sizeof maker, "Acme Hardware %04d", i);
        snprintf(service, sizeof service, "acmedrv%04d", i);
    }
    snprintf(device, sizeof device, "ROOT\\ACMEDEV%04d", i);

    std::string t;
    auto add = [&t](const char* format, auto... args) { AddLine(t, format, args...); };
    add("; oemzqbench%04d.inf", i);
    add("; Installation file for device %04d", i);
    add("");
    add("[Version]");
    add("Signature=\"$WINDOWS NT$\"");
    add("Class=System");
    add("ClassGuid={4d36e97d-e325-11ce-bfc1-08002be10318}");
    add("Provider=%%MfgName%%");
    add("DriverVer=06/21/2010,2.4.%d.0", i);
    add("CatalogFile=oemzqbench%04d.cat", i);
    add("");
    add("[DestinationDirs]");
    add("DefaultDestDir = 12");
    add("");
    add("[Manufacturer]");
    add("%%MfgName%%=Models,NTamd64");
    add("");
    add("[Models.NTamd64]");
    add("%%DeviceDesc%%=Install, %s", device);
    add("");
    add("[Install.NT]");
    add("CopyFiles=Drivers_Dir");
    add("AddReg=Install.AddReg");
    add("");
    add("[Drivers_Dir]");
    add("%s.sys", service);
    add("");
    add("[Install.NT.Services]");
    add("AddService = %s, 0x00000002, Service_Inst", service);
    add("");
    add("[Service_Inst]");
    add("DisplayName    = %%SvcDesc%%");
    add("ServiceType    = 1");
    add("StartType      = 3");
    add("ErrorControl   = 1");
    add("ServiceBinary  = %%12%%\\%s.sys", service);
    add("");
    add("[Install.AddReg]");
    int parameters = 20 + (int)(Mix((unsigned)i) % 60);
    for (int n = 0; n < parameters; ++n)
        add("HKR,Parameters,\"Setting%02d\",0x00010001,%u", n, Mix((unsigned)(i * 131 + n)) % 1000);
    add("");
    add("[SourceDisksNames]");
    add("1 = %%DiskName%%,,,\"\"");
    add("");
    add("[SourceDisksFiles]");
    add("%s.sys = 1,,", service);
    add("");
    add("[Strings]");
    add("MfgName=\"%s\"", maker);
    add("DeviceDesc=\"Acme Device %04d\"", i);
    add("SvcDesc=\"Acme Service %04d\"", i);
    add("DiskName=\"Acme Installation Disk\"");
    return t;
}

// --- what there is ------------------------------------------------------------------------

struct Tally {
    long keys = 0, values = 0, files = 0, infs = 0;  // targets
    long kept = 0;
    long Targets() const { return keys + values + files + infs; }
};

long TreeMain() { return 1 + kTopFiles + MainModules() * (1 + kPartsPerModule * (1 + kFilesPerPart)); }
constexpr long kTreeX86 = 1 + kX86Parts * (1 + kFilesPerPart);
constexpr long kTreeData = 1 + kDataParts * (1 + kFilesPerPart);

Tally Expected()
{
    Places p = GetPlaces();
    Tally t;
    t.keys = 1 + MainGroups() * (1 + kKeysPerGroup) + 2 + WowKeys() + 2 + UserKeys() +
             kDrivers * 3;
    t.values = kSharedValues;
    t.files = TreeMain() + kTreeX86 + kTreeData + 2 * PlugFolders();
    for (const LooseFile& file : LooseFiles(p)) {
        t.files += file.target ? 1 : 0;
        t.kept += file.target ? 0 : 1;
    }
    t.infs = 2 * (InfFiles() / kInfSelectedEvery);
    t.kept += 2 * (InfFiles() - InfFiles() / kInfSelectedEvery) + 2;
    return t;
}

Tally Count()
{
    Places p = GetPlaces();
    Tally t;
    t.keys += CountKeys(HKEY_LOCAL_MACHINE, kMainKey);
    t.keys += CountKeys(HKEY_LOCAL_MACHINE, kWowKey);
    t.keys += CountKeys(HKEY_CURRENT_USER, kUserKey);
    for (int n = 0; n < kDrivers; ++n)
        t.keys += CountKeys(HKEY_LOCAL_MACHINE, std::wstring(kServicesKey) + L"\\" + DriverName(n));
    for (int n = 0; n < kSharedValues; ++n)
        t.values += ValueExists(HKEY_LOCAL_MACHINE, kSharedKey, Fmt(L"Module%02d", n));

    t.files += CountTree(p.mainRoot) + CountTree(p.x86Root) + CountTree(p.dataRoot);
    for (size_t f = 0; f < p.plugFolders.size(); ++f)
        t.files += CountTree(p.plugFolders[f]) + CountTree(p.plugTwins[f]);
    for (const LooseFile& file : LooseFiles(p)) {
        if (file.inTree)
            continue;  // counted with its tree
        long present = FileExists(file.path);
        t.files += file.target ? present : 0;
        t.kept += file.target ? 0 : present;
    }

    for (int i = 0; i < InfFiles(); ++i) {
        long present = FileExists(p.infDir + L"\\" + InfName(i) + L".inf") +
                       FileExists(p.infDir + L"\\" + InfName(i) + L".pnf");
        if (InfSelected(i))
            t.infs += present;
        else
            t.kept += present;
    }
    t.kept += CountKeys(HKEY_LOCAL_MACHINE, kSharedKey) == 1;
    t.kept += ValueExists(HKEY_LOCAL_MACHINE, kSharedKey, L"KeepMe");
    return t;
}

// --- removal and creation -----------------------------------------------------------------

void Wipe()
{
    Places p = GetPlaces();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMainKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWowKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kUserKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSharedKey);
    for (int n = 0; n < kDrivers; ++n)
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kServicesKey) + L"\\" + DriverName(n)).c_str());
    bench::PlainDeleteTree(p.mainRoot, true);
    bench::PlainDeleteTree(p.x86Root, true);
    bench::PlainDeleteTree(p.dataRoot, true);
    for (size_t f = 0; f < p.plugFolders.size(); ++f) {
        bench::PlainDeleteTree(p.plugFolders[f], true);
        bench::PlainDeleteTree(p.plugTwins[f], true);
    }
    for (const std::wstring& folder : p.exFolders)
        bench::PlainDeleteTree(folder, true);
    bench::PlainDeleteTree(p.cfgRoot, true);
    for (int n = 1; n <= NamedSystem(); ++n)
        DeleteFileW((p.system32 + Fmt(L"\\zqbsys%03d.dll", n)).c_str());
    for (int i = 0; i < InfFiles(); ++i) {
        DeleteFileW((p.infDir + L"\\" + InfName(i) + L".inf").c_str());
        DeleteFileW((p.infDir + L"\\" + InfName(i) + L".pnf").c_str());
    }
}

void SeedKeyTree(HKEY root, const std::wstring& path, int groups, int keysPerGroup,
                 const wchar_t* groupFormat, const wchar_t* keyFormat)
{
    RegKey top;
    if (!CreateKey(root, path, top))
        return;
    SetString(top.Get(), L"InstallDir", L"C:\\Program Files\\ZqBench");
    SetDword(top.Get(), L"Version", 0x00020004);
    for (int g = 0; g < groups; ++g) {
        RegKey group;
        if (!CreateKey(top.Get(), Fmt(groupFormat, g), group))
            continue;
        SetDword(group.Get(), L"Index", (DWORD)g);
        for (int k = 0; k < keysPerGroup; ++k) {
            RegKey key;
            if (!CreateKey(group.Get(), Fmt(keyFormat, k), key))
                continue;
            SetString(key.Get(), L"Name", Fmt(L"ZqBench component %02d.%03d", g, k));
            SetDword(key.Get(), L"Flags", Mix((unsigned)(g * 1000 + k)));
        }
    }
}

void SeedRegistry()
{
    SeedKeyTree(HKEY_LOCAL_MACHINE, kMainKey, MainGroups(), kKeysPerGroup, L"Group%02d", L"Key%03d");
    SeedKeyTree(HKEY_LOCAL_MACHINE, kWowKey, 1, WowKeys(), L"Group%02d", L"Key%03d");
    SeedKeyTree(HKEY_CURRENT_USER, kUserKey, 1, UserKeys(), L"Settings", L"Key%03d");

    RegKey shared;
    if (CreateKey(HKEY_LOCAL_MACHINE, kSharedKey, shared)) {
        for (int n = 0; n < kSharedValues; ++n)
            SetString(shared.Get(), Fmt(L"Module%02d", n).c_str(), Fmt(L"zqbmod%03d.dll", n + 1));
        SetString(shared.Get(), L"KeepMe", L"shared with another product");
    }

    for (int n = 0; n < kDrivers; ++n) {
        RegKey service;
        if (!CreateKey(HKEY_LOCAL_MACHINE, std::wstring(kServicesKey) + L"\\" + DriverName(n), service))
            continue;
        SetDword(service.Get(), L"Type", 1);
        SetDword(service.Get(), L"Start", 3);  // demand start: Wine never loads it
        SetDword(service.Get(), L"ErrorControl", 1);
        SetString(service.Get(), L"ImagePath", L"\\SystemRoot\\System32\\drivers\\" + DriverName(n) + L".sys");
        SetString(service.Get(), L"DisplayName", L"ZqBench filter " + DriverName(n));
        RegKey parameters, enumKey;
        if (CreateKey(service.Get(), L"Parameters", parameters)) {
            SetDword(parameters.Get(), L"BufferSize", 4096);
            SetString(parameters.Get(), L"Mode", L"fast");
        }
        if (CreateKey(service.Get(), L"Enum", enumKey))
            SetDword(enumKey.Get(), L"Count", 0);
    }
}

void SeedFiles()
{
    Places p = GetPlaces();
    unsigned seed = 1;
    MakeDir(p.mainRoot);
    for (int n = 0; n < kTopFiles; ++n)
        WriteBytes(p.mainRoot + Fmt(L"\\zqbench%02d.%s", n, kExtensions[n % 5]), FileContent(seed++));
    for (int m = 0; m < MainModules(); ++m) {
        std::wstring module = p.mainRoot + Fmt(L"\\Module%02d", m);
        MakeDir(module);
        for (int part = 0; part < kPartsPerModule; ++part) {
            std::wstring folder = module + Fmt(L"\\Part%02d", part);
            MakeDir(folder);
            for (int f = 0; f < kFilesPerPart; ++f)
                WriteBytes(folder + Fmt(L"\\file%03d.%s", f, kExtensions[f % 5]), FileContent(seed++));
        }
    }
    const std::wstring* smallTrees[] = {&p.x86Root, &p.dataRoot};
    const int smallParts[] = {kX86Parts, kDataParts};
    for (int t = 0; t < 2; ++t) {
        MakeDir(*smallTrees[t]);
        for (int part = 0; part < smallParts[t]; ++part) {
            std::wstring folder = *smallTrees[t] + Fmt(L"\\Part%02d", part);
            MakeDir(folder);
            for (int f = 0; f < kFilesPerPart; ++f)
                WriteBytes(folder + Fmt(L"\\file%03d.%s", f, kExtensions[f % 5]), FileContent(seed++));
        }
    }

    for (const std::wstring& folder : p.exFolders)
        MakeDir(folder);
    for (size_t f = 0; f < p.plugFolders.size(); ++f) {
        MakeDir(p.plugFolders[f]);
        MakeDir(p.plugTwins[f]);
    }
    MakeDir(p.cfgRoot);
    for (const LooseFile& file : LooseFiles(p))
        WriteBytes(file.path, FileContent(seed++));

    for (int i = 0; i < InfFiles(); ++i) {
        WriteBytes(p.infDir + L"\\" + InfName(i) + L".inf", InfText(i));
        std::string pnf = FileContent(0x50000 + i);
        pnf[0] = 1;  // not text: the compiled companion
        WriteBytes(p.infDir + L"\\" + InfName(i) + L".pnf", pnf);
    }
}

bool WriteScript(const std::wstring& workDir)
{
    std::string s;
    auto add = [&s](const char* format, auto... args) { AddLine(s, format, args...); };
    add("[general]");
    add("excludefolders=1");
    add("[folders]");
    add("%%ProgramFiles%%\\ZqBench");
    add("%%ProgramData%%\\ZqBench");
    for (int n = 0; n < PlugFolders(); ++n)
        add("%%ProgramFiles%%\\ZqBench Plug%02d", n);
    add("[exfolders]");
    add("C:\\ZqBenchEx");
    for (int n = 1; n < ExFolders(); ++n)
        add("C:\\ZqBenchEx%02d", n);
    add("[files]");
    for (int n = 1; n <= NamedTools(); ++n)
        add("zqbtool%03d.exe", n);
    for (int n = 1; n <= NamedSystem(); ++n)
        add("zqbsys%03d.dll", n);
    for (int n = 1; n <= NamedConfigs(); ++n)
        add("C:\\ZqBenchCfg\\cfg%03d.ini", n);
    add("[maskedfiles]");
    add("zqbmod*.dll");
    add("zqbres??.dat");
    for (int m = 0; m < ExtraMasks(); ++m)
        add("zqbx%02d_*.dat", m);
    add("[registry]");
    add("HKEY_LOCAL_MACHINE\\SOFTWARE\\ZqBench");
    add("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\ZqBench");
    add("HKEY_CURRENT_USER\\Software\\ZqBench");
    for (int n = 0; n < kSharedValues; ++n)
        add("HKEY_LOCAL_MACHINE\\SOFTWARE\\ZqBenchShared:Module%02d", n);
    add("[drivers]");
    for (int n = 0; n < kDrivers; ++n)
        add("zqbdrv%02d", kFirstDriver + n);
    add("[infs]");
    add("%s", kMakerText);
    return WriteBytes(workDir + L"\\zqclean.ini", s);
}

int PrintTally(const char* what, const Tally& t, const Tally& expected, bool wantTargets)
{
    printf("%s: targets %ld of %ld (keys %ld, values %ld, files %ld, infs %ld); kept %ld of %ld\n",
           what, t.Targets(), expected.Targets(), t.keys, t.values, t.files, t.infs, t.kept,
           expected.kept);
    bool targetsOk = wantTargets ? t.keys == expected.keys && t.values == expected.values &&
                                       t.files == expected.files && t.infs == expected.infs
                                 : t.Targets() == 0;
    return targetsOk && t.kept == expected.kept ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && !wcscmp(argv[1], L"seed")) {
        std::wstring workDir = argv[2];
        Wipe();
        SeedRegistry();
        SeedFiles();
        if (!WriteScript(workDir))
            return 2;
        int result = PrintTally("seeded", Count(), Expected(), true);
        return failures ? 2 : result;
    }
    if (argc >= 3 && !wcscmp(argv[1], L"verify")) {
        bool wantTargets = !wcscmp(argv[2], L"seeded");
        return PrintTally(wantTargets ? "present" : "left", Count(), Expected(), wantTargets);
    }
    if (argc >= 2 && !wcscmp(argv[1], L"wipe")) {
        Wipe();
        return 0;
    }
    fprintf(stderr, "usage: bench_seed seed WORKDIR | verify clean|seeded | wipe\n");
    return 2;
}
