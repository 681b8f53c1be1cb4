// Test helper, built as standins\window_probe.exe.
//   window_probe.exe <title>
//       Finds the visible top-level window of that title and prints one line per control:
//       "<class>|<text>|<x> <y>|<position>", x and y the control's centre on the screen, the
//       position that of a progress bar (-1 for other controls). Exit code 1: no such window.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

namespace {

BOOL CALLBACK PrintControl(HWND control, LPARAM)
{
    wchar_t className[64] = {}, text[256] = {};
    GetClassNameW(control, className, 64);
    GetWindowTextW(control, text, 256);
    RECT rect = {};
    GetWindowRect(control, &rect);
    int position = -1;
    if (lstrcmpiW(className, PROGRESS_CLASSW) == 0)
        position = static_cast<int>(SendMessageW(control, PBM_GETPOS, 0, 0));
    wprintf(L"%ls|%ls|%ld %ld|%d\n", className, text, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2,
            position);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    HWND window = argc == 2 ? FindWindowW(nullptr, argv[1]) : nullptr;
    if (window == nullptr || !IsWindowVisible(window))
        return 1;
    EnumChildWindows(window, PrintControl, 0);
    return 0;
}
