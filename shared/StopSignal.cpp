#include "shared/StopSignal.h"

namespace {

std::atomic<HANDLE> stopEvent{nullptr};

}  // namespace

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

void StoreServiceState(unsigned long state)
{
    ServiceCurrentState().store(state);
    HANDLE event = StopEvent();
    if (event != nullptr && StopRequested())
        SetEvent(event);
    else if (event != nullptr)
        ResetEvent(event);
}

HANDLE StopEvent()
{
    // Made once by whichever thread comes first; the other's is closed again.
    HANDLE event = stopEvent.load();
    if (event != nullptr)
        return event;
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (made != nullptr && !stopEvent.compare_exchange_strong(event, made)) {
        CloseHandle(made);
        return event;
    }
    return made;
}
