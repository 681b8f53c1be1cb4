// The system's own entries in the keys where products keep theirs: file types, classes and
// protocols the system registers, the system's handlers, its own values and verbs.
#include <wchar.h>

#include <initializer_list>

#include "guard/Guard.h"
#include "guard/KeyRules.h"
#include "guard/PlaceTables.h"
#include "platform/Paths.h"
#include "registry/RegistryKey.h"

namespace {

// File types, classes and protocols the system registers, below HKEY_CLASSES_ROOT.
const wchar_t* const kSystemClasses[] = {
    L"*", L"AllFilesystemObjects", L"Directory", L"Drive", L"Folder", L"Unknown", L"Network", L"NetServer",
    L"NetShare", L"Printers", L"Component Categories", L"MIME", L"Installer", L"SystemFileAssociations",
    L"PROTOCOLS", L"DirectShow", L"Media Type", L"MediaFoundation", L"FileType", L"Local Settings",
    L"CompressedFolder", L"CABFolder", L"InternetShortcut", L"lnkfile", L"piffile", L"exefile", L"dllfile",
    L"sysfile", L"comfile", L"batfile", L"cmdfile", L"regfile", L"inffile", L"inifile", L"txtfile",
    L"htmlfile", L"mhtmlfile", L"JSFile", L"JSEFile", L"VBSFile", L"VBEFile", L"WSFFile", L"WSHFile",
    L"scrfile", L"cplfile", L"MSCFile", L"ocxfile", L"htafile", L"chm.file", L"hlpfile", L"fonfile",
    L"ttffile", L"otffile", L"CATFile", L"certificate_wab_auto_file", L"themefile", L"Msi.Package",
    L"Msi.Patch", L"Msi.Transform", L"Microsoft.PowerShellScript.1", L"http", L"https", L"ftp", L"file",
    L"mailto", L"news", L"nntp", L"snews", L"telnet", L"res", L"about", L"javascript", L"vbscript", L"shell",
    L"ms-settings", L"search-ms", L"callto", L"ldap", L"its", L"mk", L"ms-its", L"Paint.Picture", L".exe",
    L".dll", L".sys", L".com", L".bat", L".cmd", L".lnk", L".pif", L".scr", L".cpl", L".msc", L".msi",
    L".msp", L".mst", L".reg", L".inf", L".ini", L".txt", L".htm", L".html", L".mht", L".url", L".js",
    L".jse", L".vbs", L".vbe", L".wsf", L".wsh", L".ps1", L".ocx", L".drv", L".zip", L".cab", L".xml",
    L".hta", L".chm", L".hlp", L".fon", L".ttf", L".otf", L".cat", L".cer", L".crt", L".theme",
};

// The shell's own verbs.
const wchar_t* const kSystemVerbs[] = {
    L"open", L"openas", L"opennewwindow", L"opennewprocess", L"opennewtab", L"explore", L"find", L"cmd",
    L"powershell", L"runas", L"runasuser", L"print", L"printto", L"edit", L"pintohome", L"properties",
    L"Sharing", L"UpdateEncryptionSettings",
};

// The system's own values in the environment.
const wchar_t* const kSystemEnvironment[] = {
    L"Path", L"PATHEXT", L"ComSpec", L"windir", L"TEMP", L"TMP", L"OS", L"NUMBER_OF_PROCESSORS",
    L"PSModulePath", L"DriverData", L"USERNAME", L"USERPROFILE", L"SystemRoot", L"SystemDrive", L"ProgramData",
    L"ProgramFiles", L"CommonProgramFiles", L"ALLUSERSPROFILE", L"APPDATA", L"LOCALAPPDATA", L"HOMEDRIVE",
    L"HOMEPATH", L"PUBLIC", L"winsysdir", L"FP_NO_HOST_CHECK", L"__PSLockdownPolicy",
};

// The system's own programs started at log-on.
const wchar_t* const kSystemRunValues[] = {
    L"SecurityHealth", L"WindowsDefender", L"Windows Defender", L"WindowsWelcomeCenter", L"Sidebar", L"ctfmon.exe",
};

bool IsClassId(const wchar_t* text)
{
    return text[0] == L'{' && wcslen(text) == 38 && text[37] == L'}';
}

bool NamesProtectedFile(const ProtectedPlaces& places, const wchar_t* command)
{
    zqWString file;
    return command[0] != 0 && CommandFile(command, &file) && IsProtectedFile(places, file.Get());
}

bool ValueNamesProtectedFile(const ProtectedPlaces& places, HKEY root, const wchar_t* key, const wchar_t* value)
{
    zqWString text;
    Result read = ReadStringValue(root, key, value, &text);
    return read.ok ? NamesProtectedFile(places, text.Get()) : CutShort(read);
}

bool IsSystemClassIdText(const ProtectedPlaces& places, const wchar_t* text)
{
    return IsClassId(text) && IsSystemClassId(places, text);
}

bool ValueIsSystemClass(const ProtectedPlaces& places, HKEY root, const wchar_t* key, const wchar_t* value)
{
    zqWString text;
    Result read = ReadStringValue(root, key, value, &text);
    return read.ok ? IsSystemClassIdText(places, text.Get()) : CutShort(read);
}

// A file type or program id is the system's when it is one by name, or when its class or the
// command of its open verb is.
bool IsSystemClassName(const ProtectedPlaces& places, const wchar_t* name, int depth)
{
    if (InNameList(name, kSystemClasses))
        return true;
    zqWString key, text;
    if (name[0] == L'.') {
        // A file type is its program id's.
        Result read = depth == 0 ? ReadStringValue(HKEY_CLASSES_ROOT, name, L"", &text) : FailedBy(ERROR_FILE_NOT_FOUND);
        return read.ok ? text.length > 0 && IsSystemClassName(places, text.Get(), depth + 1) : CutShort(read);
    }
    if (FormatInto(key, L"%s\\CLSID", name) && ValueIsSystemClass(places, HKEY_CLASSES_ROOT, key.Get(), L""))
        return true;
    return FormatInto(key, L"%s\\shell\\open\\command", name) &&
           ValueNamesProtectedFile(places, HKEY_CLASSES_ROOT, key.Get(), L"");
}

// A type library whose file, for any version and language, is a protected file.
bool IsSystemTypeLib(const ProtectedPlaces& places, const wchar_t* keyPath)
{
    RegKey library;
    StringList versions;
    if (!OpenKey(HKEY_CLASSES_ROOT, keyPath, KEY_READ, &library).ok)
        return false;
    if (CutShort(SubkeyNames(library.Get(), &versions)))
        return true;
    for (int v = 0; v < versions.count && v < 64; ++v) {
        const wchar_t* version = versions.At(v)->Get();
        RegKey versionKey;
        StringList languages;
        if (!OpenKey(library.Get(), version, KEY_READ, &versionKey).ok)
            continue;
        if (CutShort(SubkeyNames(versionKey.Get(), &languages)))
            return true;
        for (int l = 0; l < languages.count && l < 64; ++l) {
            zqWString file;
            for (const wchar_t* platform : {L"win32", L"win64"})
                if (!FormatInto(file, L"%s\\%s\\%s\\%s", keyPath, version, languages.At(l)->Get(), platform) ||
                    ValueNamesProtectedFile(places, HKEY_CLASSES_ROOT, file.Get(), L""))
                    return true;
        }
    }
    return false;
}

// An application id whose local service is one of the system's.
bool IsSystemAppId(const ProtectedPlaces& places, const wchar_t* name)
{
    zqWString key, id, service;
    if (!IsClassId(name)) {
        // "explorer.exe" names its id in its "AppID" value.
        if (!FormatInto(key, L"AppID\\%s", name))
            return true;
        Result read = ReadStringValue(HKEY_CLASSES_ROOT, key.Get(), L"AppID", &id);
        if (!read.ok || !IsClassId(id.Get()))
            return CutShort(read);
        name = id.Get();
    }
    if (!FormatInto(key, L"AppID\\%s", name))
        return true;
    Result read = ReadStringValue(HKEY_CLASSES_ROOT, key.Get(), L"LocalService", &service);
    return read.ok ? service.length > 0 && IsSystemService(places, service.Get()) : CutShort(read);
}

}  // namespace

bool IsSystemClassId(const ProtectedPlaces& places, const wchar_t* clsid)
{
    zqWString key;
    for (const wchar_t* server : {L"InprocServer32", L"LocalServer32", L"InprocHandler32"})
        if (FormatInto(key, L"CLSID\\%s\\%s", clsid, server) &&
            ValueNamesProtectedFile(places, HKEY_CLASSES_ROOT, key.Get(), L""))
            return true;
    return false;
}

bool IsSystemChild(const ProtectedPlaces& places, ChildRule rule, const ChildAsked& child)
{
    zqWString key;
    switch (rule) {
    case ChildRule::Products:
        return false;
    case ChildRule::Classes:
        return IsSystemClassName(places, child.childName, 0);
    case ChildRule::ClassIds:
        return IsSystemClassIdText(places, child.childName);
    case ChildRule::Interfaces:
        return FormatInto(key, L"Interface\\%s\\ProxyStubClsid32", child.childName) &&
               ValueIsSystemClass(places, HKEY_CLASSES_ROOT, key.Get(), L"");
    case ChildRule::TypeLibs:
        return FormatInto(key, L"TypeLib\\%s", child.childName) && IsSystemTypeLib(places, key.Get());
    case ChildRule::AppIds:
        return IsSystemAppId(places, child.childName);
    case ChildRule::Handlers:
        // Named by its class, or naming it as its default value.
        return IsSystemClassIdText(places, child.childName) ||
               ValueIsSystemClass(places, child.root, child.childPath, L"");
    case ChildRule::Files:
        return ValueNamesProtectedFile(places, child.root, child.childPath, L"");
    case ChildRule::Verbs:
        return InNameList(child.childName, kSystemVerbs) ||
               (FormatInto(key, L"%s\\command", child.childPath) &&
                ValueNamesProtectedFile(places, child.root, key.Get(), L""));
    case ChildRule::Services:
        return IsSystemService(places, child.childPath);
    case ChildRule::Devices:
        return IsSystemDevice(places, child.childPath, child.childName, child.below);
    case ChildRule::Environment:
        return true;
    }
    return true;
}

bool IsSystemValue(const ProtectedPlaces& places, ChildRule rule, HKEY root, const wchar_t* keyPath,
                   const wchar_t* valueName)
{
    zqWString data;
    switch (rule) {
    case ChildRule::Environment:
        return InNameList(valueName, kSystemEnvironment) || _wcsnicmp(valueName, L"PROCESSOR_", 10) == 0;
    case ChildRule::Files:
        // A program started at log-on, a shared file's count (named by its path), a font.
        return InNameList(valueName, kSystemRunValues) || NamesProtectedFile(places, valueName) ||
               ValueNamesProtectedFile(places, root, keyPath, valueName);
    case ChildRule::Handlers:
        return IsSystemClassIdText(places, valueName) || ValueIsSystemClass(places, root, keyPath, valueName);
    case ChildRule::Verbs:
        return valueName[0] == 0;  // the default verb
    default:
        return false;
    }
}
