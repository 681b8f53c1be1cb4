#include "launcher/Launcher.h"

int ZqcleanMain()
{
    return 0;
}
