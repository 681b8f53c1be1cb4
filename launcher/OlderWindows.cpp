// The thread library that the compiler's runtime links in imports GetTickCount64, which Windows
// XP does not have: a program importing it would not even start there. This object (linked
// whole into the program, before that library) fills the import's slot with a function that
// calls the system's own where it exists.
#include <windows.h>

namespace {

ULONGLONG WINAPI TickCount64()
{
    typedef ULONGLONG(WINAPI * TickCount64Fn)();
    TickCount64Fn own = reinterpret_cast<TickCount64Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount64")));
    return own != nullptr ? own() : GetTickCount();
}

}  // namespace

#ifdef _WIN64
extern "C" ULONGLONG(WINAPI* tickCount64Slot)() __asm__("__imp_GetTickCount64");
#else
extern "C" ULONGLONG(WINAPI* tickCount64Slot)() __asm__("__imp__GetTickCount64@0");
#endif
ULONGLONG(WINAPI* tickCount64Slot)() = TickCount64;
