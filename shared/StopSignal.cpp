#include "shared/StopSignal.h"

#include <windows.h>

std::atomic<unsigned long>& ServiceCurrentState()
{
    static std::atomic<unsigned long> state{0};
    return state;
}

bool StopRequested()
{
    unsigned long state = ServiceCurrentState().load();
    return state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED;
}
