#include "foundation/Handles.h"

#include <io.h>

void CrtFindHandleTraits::CloseIt(intptr_t h)
{
    _findclose(h);
}
