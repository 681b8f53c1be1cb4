// The one way a text of unknown length is had from the system: ask with room for a usual text,
// and ask again with the room the answer names until the text fits. A text is never used cut.
#pragma once

#include <windows.h>

#include "foundation/Result.h"
#include "foundation/zqString.h"

// One answer of a call that fills a buffer of room units (terminator included): the length of
// the text when it fit (less than room), otherwise the room it needs; or the error that
// stopped it.
struct Filled {
    DWORD units;
    DWORD error;
};

// The answer of the many calls that return the length written, or the room needed when it did
// not fit, and 0 on failure (SearchPathW, GetFullPathNameW, GetEnvironmentVariableW, ...): to
// be given the call's own return value, so that its last error is read right after it. A 0
// without an error is an empty text.
inline Filled LengthOrRoom(DWORD answer)
{
    return answer != 0 ? Filled{answer, ERROR_SUCCESS} : Filled{0, GetLastError()};
}

// Calls fill(buffer, room) into text with room units, then with the room it asks for (at least
// twice as much), until what it writes fits; gives up after a few rounds, as a text that grows
// every time it is asked for is none to rely on.
template <typename Fill>
Result FillToFit(zqWString* text, Fill fill, DWORD room = MAX_PATH)
{
    for (int round = 0; round < 8; ++round) {
        if (room < 2)
            room = 2;
        if (!text->Reserve(static_cast<int>(room - 1)))
            return NoMemory();
        text->length = 0;
        text->buffer[0] = 0;
        Filled got = fill(text->buffer, room);
        if (got.error != ERROR_SUCCESS) {
            text->Reserve(0);
            return FailedBy(got.error);
        }
        if (got.units < room) {
            text->length = static_cast<int>(got.units);
            text->buffer[got.units] = 0;
            return Succeeded();
        }
        room = got.units > room ? got.units : room * 2;
    }
    text->Reserve(0);
    return FailedBy(ERROR_INSUFFICIENT_BUFFER);
}
