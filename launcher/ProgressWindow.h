// The window an interactive launch shows while its service works: the run's phase in words, a
// progress bar over the whole run and a Cancel button. Plain standard controls, laid out for the
// window's DPI in the system's message font; Esc, Alt+F4 and the close box are Cancel too.
#pragma once

#include <windows.h>

#include "foundation/Handles.h"
#include "shared/StatusBlock.h"

struct ProgressWindow {
    // Today's common controls, active on this thread while the window lives; declared first so
    // that they go after the window.
    ActivationContext context;
    ULONG_PTR contextCookie = 0;
    LoadedModule controls;
    WindowHandle window;
    HWND phaseText = nullptr;  // the children go with the window
    HWND bar = nullptr;
    HWND cancel = nullptr;
    GdiObject font;
    UINT dpi = 96;
    int shownPhase = -1;
    bool cancelAsked = false;  // Cancel was pressed; read with TakeCancel
    bool cancelTaken = false;
};

// Shows the window. False (no window) when there is no desktop to show it on, e.g. no display:
// the launch then goes on without one. The record must stay where it is while the window lives.
bool OpenProgressWindow(ProgressWindow* progress);
// Shows where the run is, as the service publishes it.
void ShowRunProgress(ProgressWindow* progress, const RunProgress& run);
// Handles the window's messages for waitMs milliseconds.
void HandleWindowMessages(ProgressWindow* progress, DWORD waitMs);
// True once, after Cancel was pressed.
bool TakeCancel(ProgressWindow* progress);
void CloseProgressWindow(ProgressWindow* progress);
