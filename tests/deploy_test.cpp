// What a deployment tool reads after a launch: the exit code, and the report's exit_code and
// reboot_required. Every case runs under the standard codes ("exitcodes=standard") and, unchanged,
// under the classic ones.
#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/Support.h"

namespace {

const std::wstring kWork = L"C:\\zqtest\\codes";
const std::wstring kStore = L"C:\\windows\\system32\\DriverStore\\FileRepository";
const bool kDrivers = sizeof(void*) == 8;  // the 32-bit build leaves driver packages to the 64-bit one
const wchar_t* const kReports[] = {L"C:\\zqclean.json", L"C:\\zqclean.preview.json", L"C:\\zqclean.restore.json"};

enum class During { Nothing, HoldFile, HoldBlock, StopRun, BackupFirst, DriverLibrary, LongPath, NoCopy };

struct CodeCase {
    const char* what;
    const wchar_t* arguments;
    std::string script;  // sections after [general]
    During during;
    DWORD standard, classic;
    bool rebootRequired;
    int report;      // index into kReports; -1: none is written
    int errorPlace;  // the report's error (0: none)
};

// A stop request while the run's first assembly is being removed (the tool waits for a release).
DWORD LaunchAndStop(const wchar_t* arguments, const std::wstring& dir)
{
    KernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"Global\\zqcodes_ready"));
    KernelHandle release(CreateEventW(nullptr, TRUE, FALSE, L"Global\\zqcodes_release"));
    KernelHandle launcher = Start(Program(), arguments, dir);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 60000));
    {
        // Closed at once: a deleted service stays registered while a handle to it is open.
        ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ServiceHandle service(OpenServiceW(manager.Get(), L"zqcleansrvc", SERVICE_ALL_ACCESS));
        SERVICE_STATUS status = {};
        EXPECT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    }
    SetEvent(release.Get());
    return Finish(launcher);
}

}  // namespace

TEST(DeploymentCodes, ExitCodesAndTheReportUnderBothConventions)
{
    SetEnvironmentVariableW(L"DISPLAY", nullptr);  // the interactive launch's box returns at once
    const std::string w = Narrow(kWork);
    const CodeCase cases[] = {
        {"a clean run", L"-s", "[files]\n" + w + "\\free.txt\n", During::Nothing, 0, ~0u, false, 0, 0},
        {"a file in use", L"-s", "[files]\n" + w + "\\held.txt\n", During::HoldFile, 3010, ~0u, true, 0, 0},
        {"a file in use and a refused item", L"-s", "[files]\n" + w + "\\held.txt\n[folders]\n%SystemRoot%\n",
         During::HoldFile, 1603, ~0u, true, 0, 0},
        {"a driver package that takes a restart", L"-s", "[drvpackages]\nzqreboot\n", During::DriverLibrary,
         kDrivers ? 3010u : 0u, ~0u, kDrivers, 0, 0},
        {"a status block held by another process", L"-s", "[files]\n" + w + "\\free.txt\n", During::HoldBlock, 1618,
         0, false, -1, 0},
        {"a stop request", L"-s", "[.NET]\nzq.Slow\nzq.NeverReached\n", During::StopRun, 1602, ~0u, false, 0, 0},
        {"an interactive launch from a folder it removes", L"", "[folders]\n" + w + "\n", During::Nothing, 1, 1,
         false, 0, 0},
        {"a preview of a clean machine", L"-preview", "[files]\n" + w + "\\absent.txt\n", During::Nothing, 0, ~0u,
         false, 1, 0},
        {"a preview of a dirty machine", L"-preview", "[files]\n" + w + "\\held.txt\n", During::HoldFile, 1, ~0u,
         false, 1, 0},
        {"a restore", L"-restore", "[general]\nbackup=" + w + "\\saved\n[files]\n" + w + "\\free.txt\n",
         During::BackupFirst, 0, ~0u, false, 2, 0},
        {"a script path too long", L"-s", "[files]\n" + w + "\\free.txt\n", During::LongPath, 1619, 0, false, 0, 730},
        {"no prepared copy", L"-s", "[files]\n" + w + "\\free.txt\n", During::NoCopy, 1619, 0, false, 0, 735},
        {"removing the service", L"-u", "", During::Nothing, 0, 1, false, -1, 0},
        {"a snapshot, which leaves no report", L"-snapshot", "", During::Nothing, 0, ~0u, false, -1, 0},
    };
    for (const CodeCase& c : cases) {
        for (bool standard : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (standard ? ", standard codes" : ", classic codes"));
            std::wstring dir = MakeScratchDir(L"codes");
            if (c.during == During::LongPath)  // 255 characters with "\zqclean.ini": no room for ".srvc"
                CreateDirectoryW((dir += L"\\" + std::wstring(243 - kWork.size() - 1, L'p')).c_str(), nullptr);
            if (c.during == During::NoCopy)
                CreateDirectoryW((dir + L"\\zqclean.ini.srvc").c_str(), nullptr);
            if (c.during == During::StopRun) {
                ASSERT_TRUE(CopyStandIn(L"gacutil.exe", dir + L"\\gacutil.exe"));
                WriteFileBytes(dir + L"\\gacutil.exitcode", "0 Global\\zqcodes_ready Global\\zqcodes_release\n");
            }
            if (c.during == During::DriverLibrary) {
                ASSERT_TRUE(CopyFileW((StandinPath(L"difx") + L"\\DIFxAPI.dll").c_str(), (dir + L"\\DIFxAPI.dll").c_str(), FALSE));
                for (const wchar_t* folder : {L"\\..", L"", L"\\zqreboot.inf_amd64_1"})  // the store's folders first
                    CreateDirectoryW((kStore + folder).c_str(), nullptr);
            }
            WriteFileBytes(dir + L"\\free.txt", "x");
            WriteFileBytes(dir + L"\\held.txt", "x");
            WriteFileBytes(dir + L"\\zqclean.ini", (standard ? "[general]\nexitcodes=Standard\n" : "") + c.script);
            for (const wchar_t* report : kReports)
                DeleteFileW(report);

            DWORD code;
            {
                FileHandle held(c.during != During::HoldFile ? INVALID_HANDLE_VALUE
                                : CreateFileW((dir + L"\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
                KernelHandle planted(c.during != During::HoldBlock ? nullptr
                                     : CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1044, L"Global\\DIRezizUro"));
                // Wine's stub library, or the working directory's stand-in.
                ScopedDllOverride difx(L"difxapi", c.during == During::DriverLibrary ? L"native" : L"builtin");
                if (c.during == During::BackupFirst) {
                    EXPECT_NE(Launch(L"-s", dir), 0xdeadbeef);
                    DeleteFileW(kReports[0]);
                }
                code = c.during == During::StopRun ? LaunchAndStop(c.arguments, dir) : Launch(c.arguments, dir);
            }
            EXPECT_EQ(code, standard ? c.standard : c.classic);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(PathExists(kReports[i]), i == c.report) << Narrow(kReports[i]);
            if (c.report >= 0 && PathExists(kReports[c.report])) {
                nlohmann::json report = nlohmann::json::parse(ReadFileBytes(kReports[c.report]), nullptr, false);
                nlohmann::json& counts = report["counts"];
                EXPECT_EQ(report["exit_code"], static_cast<int>(code));
                EXPECT_EQ(report["reboot_required"], c.rebootRequired);
                EXPECT_EQ(report["error"], c.errorPlace != 0 ? nlohmann::json(c.errorPlace) : nlohmann::json());
                // A run that failed lists why: its failed or refused items. (A stop may end the
                // tool in hand, which then fails too.)
                if (c.during != During::StopRun) {
                    EXPECT_EQ(counts["failed"].is_number() && counts["refused"].is_number() &&
                                  counts["failed"].get<int>() + counts["refused"].get<int>() > 0,
                              c.standard == 1603 && c.errorPlace == 0);
                }
            }
            if (c.during == During::HoldBlock) {
                EXPECT_TRUE(PathExists(dir + L"\\free.txt"));  // nothing done
            }
            DropPendingRenames(L"\\zqtest\\codes\\");
            RemoveTree(kStore + L"\\zqreboot.inf_amd64_1");
        }
    }
    RemoveTree(kWork);
}
