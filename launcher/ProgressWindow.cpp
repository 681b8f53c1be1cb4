#include "launcher/ProgressWindow.h"

#include <windows.h>
#include <commctrl.h>
#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include <utility>

#include "foundation/zqString.h"
#include "phases/PhaseDriver.h"
#include "platform/Process.h"

namespace {

const wchar_t kWindowClass[] = L"ZqcleanProgress";
const wchar_t kTitle[] = L"ZU Rovid Cleaning";
const DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
const DWORD kExStyle = WS_EX_CONTROLPARENT;
// The manifest resource that names the common controls 6 (progress-window.manifest).
const int kControlsManifest = 3;

// The bar spans the whole run: an equal stretch for every phase, filled as the phase gets
// through its items.
const int kStepsPerPhase = 100;

// The layout at 96 DPI, in pixels, scaled to the window's DPI.
const int kClientWidth = 360, kMargin = 11, kGap = 7, kTextHeight = 13, kBarHeight = 15;
const int kButtonWidth = 75, kButtonHeight = 23, kButtonPadding = 8;

// Calls of newer Windows versions are looked up: the program imports nothing newer than XP.
typedef UINT(WINAPI* GetDpiForWindowFn)(HWND);
typedef BOOL(WINAPI* SystemParametersInfoForDpiFn)(UINT, UINT, PVOID, UINT, UINT);
typedef BOOL(WINAPI* AdjustWindowRectExForDpiFn)(LPRECT, DWORD, BOOL, DWORD, UINT);
typedef BOOL(WINAPI* InitCommonControlsExFn)(const INITCOMMONCONTROLSEX*);

template <typename Fn>
Fn NewerUserCall(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int Scale(const ProgressWindow& progress, int pixels)
{
    return MulDiv(pixels, static_cast<int>(progress.dpi), 96);
}

UINT SystemDpi()
{
    ScreenDc screen(GetDC(nullptr));
    int dpi = screen.Valid() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The system's message font, at the window's DPI.
GdiObject MessageFont(UINT dpi)
{
    NONCLIENTMETRICSW metrics = {};
    SystemParametersInfoForDpiFn forDpi = NewerUserCall<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
    metrics.cbSize = sizeof metrics;
    if (forDpi == nullptr || !forDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, dpi)) {
        // Without the field Vista added, which Windows XP refuses; at the system's DPI.
        metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
            return GdiObject();
        metrics.lfMessageFont.lfHeight =
            MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
    }
    return GdiObject(CreateFontIndirectW(&metrics.lfMessageFont));
}

int LineHeight(HGDIOBJ font)
{
    ScreenDc screen(GetDC(nullptr));
    if (!screen.Valid() || font == nullptr)
        return 0;
    TEXTMETRICW metrics = {};
    HGDIOBJ previous = SelectObject(screen.Get(), font);
    bool measured = GetTextMetricsW(screen.Get(), &metrics) != 0;
    SelectObject(screen.Get(), previous);
    return measured ? metrics.tmHeight : 0;
}

// Sets the font for the window's DPI and places the controls; returns the window's outer size.
SIZE LayOut(ProgressWindow* progress)
{
    GdiObject font = MessageFont(progress->dpi);
    if (font.Valid()) {
        SendMessageW(progress->phaseText, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
        SendMessageW(progress->cancel, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
        progress->font = std::move(font);  // the controls no longer use the old one
    }
    int line = LineHeight(progress->font.Get());
    if (line < Scale(*progress, kTextHeight))
        line = Scale(*progress, kTextHeight);
    int margin = Scale(*progress, kMargin), width = Scale(*progress, kClientWidth);
    int buttonWidth = Scale(*progress, kButtonWidth), buttonHeight = Scale(*progress, kButtonHeight);
    if (buttonHeight < line + Scale(*progress, kButtonPadding))
        buttonHeight = line + Scale(*progress, kButtonPadding);

    int y = margin;
    MoveWindow(progress->phaseText, margin, y, width - 2 * margin, line, TRUE);
    y += line + Scale(*progress, kGap);
    MoveWindow(progress->bar, margin, y, width - 2 * margin, Scale(*progress, kBarHeight), TRUE);
    y += Scale(*progress, kBarHeight) + margin;
    MoveWindow(progress->cancel, width - margin - buttonWidth, y, buttonWidth, buttonHeight, TRUE);

    RECT frame = {0, 0, width, y + buttonHeight + margin};
    AdjustWindowRectExForDpiFn adjust = NewerUserCall<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    if (adjust == nullptr || !adjust(&frame, kStyle, FALSE, kExStyle, progress->dpi))
        AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    SIZE size = {frame.right - frame.left, frame.bottom - frame.top};
    return size;
}

void AskCancel(ProgressWindow* progress)
{
    if (progress->cancelAsked)
        return;
    progress->cancelAsked = true;
    SetWindowTextW(progress->phaseText, L"Stopping...");
    EnableWindow(progress->cancel, FALSE);
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ProgressWindow* progress = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (progress == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_COMMAND:
        // The button, and Esc through the dialog keys.
        if (LOWORD(wParam) == IDCANCEL)
            AskCancel(progress);
        return 0;
    case WM_CLOSE:
        // The close box and Alt+F4: the window goes when the run has ended.
        AskCancel(progress);
        return 0;
    case WM_SETFOCUS:
        SetFocus(progress->cancel);
        return 0;
    case WM_DPICHANGED: {
        // Moved to a monitor of another DPI: the suggested place, our own size for that DPI.
        progress->dpi = HIWORD(wParam);
        SIZE size = LayOut(progress);
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, size.cx, size.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The phase's words: "Delete .NET dlls from GAC".
void PhaseTitle(int phase, zqWString* title)
{
    if (phase < 1 || phase > kPhaseCount || !title->Assign(kPhases[phase - 1].texts.title))
        title->Assign(L"Starting...");
}

// Activates the common controls 6 for this thread and loads them: only an interactive launch pays
// for them. Without the activation (an old system) the system's own controls serve as well.
bool LoadCommonControls(ProgressWindow* progress)
{
    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = GetModuleHandleW(nullptr);
    request.lpResourceName = MAKEINTRESOURCEW(kControlsManifest);
    progress->context.Reset(CreateActCtxW(&request));
    if (progress->context.Valid() && !ActivateActCtx(progress->context.Get(), &progress->contextCookie))
        progress->context.Close();
    progress->controls.Reset(LoadTrustedLibrary(L"comctl32.dll", false));
    InitCommonControlsExFn initialize = progress->controls.Valid()
        ? reinterpret_cast<InitCommonControlsExFn>(
              reinterpret_cast<void*>(GetProcAddress(progress->controls.Get(), "InitCommonControlsEx")))
        : nullptr;
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    return initialize != nullptr && initialize(&classes);
}

HWND Control(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id)
{
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

bool OpenProgressWindow(ProgressWindow* progress)
{
    if (!LoadCommonControls(progress)) {
        CloseProgressWindow(progress);
        return false;
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ProgressWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);  // shared: never destroyed
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        CloseProgressWindow(progress);
        return false;
    }
    progress->window.Reset(CreateWindowExW(kExStyle, kWindowClass, kTitle, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                           0, 0, nullptr, nullptr, instance, nullptr));
    if (!progress->window.Valid()) {
        CloseProgressWindow(progress);
        return false;
    }
    HWND window = progress->window.Get();
    progress->phaseText = Control(window, L"STATIC", L"Starting...", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 0);
    progress->bar = Control(window, PROGRESS_CLASSW, L"", 0, 0);
    progress->cancel = Control(window, L"BUTTON", L"Cancel", WS_TABSTOP | BS_DEFPUSHBUTTON, IDCANCEL);
    if (progress->phaseText == nullptr || progress->bar == nullptr || progress->cancel == nullptr) {
        CloseProgressWindow(progress);
        return false;
    }
    SendMessageW(progress->bar, PBM_SETRANGE32, 0, kPhaseCount * kStepsPerPhase);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(progress));

    GetDpiForWindowFn windowDpi = NewerUserCall<GetDpiForWindowFn>("GetDpiForWindow");
    progress->dpi = windowDpi != nullptr ? windowDpi(window) : 0;
    if (progress->dpi == 0)
        progress->dpi = SystemDpi();
    SIZE size = LayOut(progress);
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - size.cx) / 2,
                 area.top + (area.bottom - area.top - size.cy) / 2, size.cx, size.cy, SWP_NOZORDER);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(progress->cancel);
    UpdateWindow(window);
    return true;
}

void ShowRunProgress(ProgressWindow* progress, const RunProgress& run)
{
    if (!progress->window.Valid() || run.phase < 0 || run.phase > kPhaseCount)
        return;
    int position = 0;
    if (run.phase > 0) {
        int done = run.done < 0 ? 0 : (run.done > run.items ? run.items : run.done);
        position = (run.phase - 1) * kStepsPerPhase + (run.items > 0 ? MulDiv(done, kStepsPerPhase, run.items) : 0);
    }
    // Never back: a read between the service's stores may see a new phase with the old count.
    if (position > static_cast<int>(SendMessageW(progress->bar, PBM_GETPOS, 0, 0)))
        SendMessageW(progress->bar, PBM_SETPOS, position, 0);
    if (run.phase != progress->shownPhase && !progress->cancelAsked) {
        progress->shownPhase = run.phase;
        zqWString title;
        PhaseTitle(run.phase, &title);
        SetWindowTextW(progress->phaseText, title.Get());
    }
}

void HandleWindowMessages(ProgressWindow* progress, DWORD waitMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // The dialog keys: Tab, Space and Enter on the button, Esc as Cancel.
            if (progress->window.Valid() && IsDialogMessageW(progress->window.Get(), &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= waitMs)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs - waited, QS_ALLINPUT);
    }
}

bool TakeCancel(ProgressWindow* progress)
{
    if (!progress->cancelAsked || progress->cancelTaken)
        return false;
    progress->cancelTaken = true;
    return true;
}

void CloseProgressWindow(ProgressWindow* progress)
{
    progress->window.Close();
    progress->phaseText = progress->bar = progress->cancel = nullptr;
    progress->controls.Close();
    if (progress->context.Valid())
        DeactivateActCtx(0, progress->contextCookie);
    progress->context.Close();
}
