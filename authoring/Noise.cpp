#include "authoring/Noise.h"

#include <wchar.h>

#include "authoring/Listing.h"

namespace {

// A "*" stands for any one key name.
const struct {
    const wchar_t* key;
    const char* why;
} kNoiseKeys[] = {
    {L"SOFTWARE\\Microsoft\\Cryptography\\RNG", "a random seed the system renews"},
    {L"SOFTWARE\\Microsoft\\Tracing", "tracing settings the system makes for every program that dials"},
    {L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Prefetcher", "the prefetcher's bookkeeping"},
    {L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkList", "the networks the system has seen"},
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reliability", "the reliability monitor's bookkeeping"},
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Cached", "the shell's cache"},
    {L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting", "error reporting's bookkeeping"},
    {L"SOFTWARE\\Microsoft\\Windows Search", "the search index's bookkeeping"},
    {L"SOFTWARE\\Microsoft\\SystemCertificates\\AuthRoot", "root certificates the system updates"},
    {L"SOFTWARE\\Classes\\Local Settings", "the shell's cache"},
    {L"SYSTEM\\CurrentControlSet\\Services\\bam", "the activity the system records per program"},
    {L"SYSTEM\\CurrentControlSet\\Services\\dam", "the activity the system records per program"},
    {L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces", "the network's state"},
    {L"SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters\\Interfaces", "the network's state"},
    {L"SYSTEM\\CurrentControlSet\\Services\\Dhcp", "the network's state"},
    {L"SYSTEM\\CurrentControlSet\\Services\\NlaSvc\\Parameters\\Internet", "the network's state"},
    {L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Epoch", "the firewall's counter"},
    {L"SYSTEM\\CurrentControlSet\\Services\\*\\Enum", "the devices a service drives now"},
    {L"SYSTEM\\CurrentControlSet\\Services\\zqcleansrvc", "this program's own service"},
    {L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\LEGACY_ZQCLEANSRVC", "this program's own service"},
};

const wchar_t* const kLogEndings[] = {L".log", L".etl", L".evtx"};

inline wchar_t Folded(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether path is the rule's key or lies below it.
bool Matches(const wchar_t* rule, const wchar_t* path)
{
    while (*rule != 0) {
        if (*rule == L'*') {
            ++rule;
            while (*path != 0 && *path != L'\\')
                ++path;
        } else if (Folded(*rule++) != Folded(*path++)) {
            return false;
        }
    }
    return *path == 0 || *path == L'\\';
}

}  // namespace

const char* KeyNoise(const wchar_t* path)
{
    for (const auto& rule : kNoiseKeys)
        if (Matches(rule.key, path))
            return rule.why;
    return nullptr;
}

const char* FileNoise(const wchar_t* path)
{
    size_t length = wcslen(path);
    for (const wchar_t* ending : kLogEndings) {
        size_t endingLength = wcslen(ending);
        if (length > endingLength && SameText(path + length - endingLength, ending))
            return "a log";
    }
    return nullptr;
}
