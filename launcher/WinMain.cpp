#include <windows.h>

#include "launcher/Launcher.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return ZqcleanMain();
}
