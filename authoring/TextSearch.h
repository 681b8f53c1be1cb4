// Which texts hold which of a set of needles, as the run's search finds them (exact bytes):
// one pass over the texts per distinct needle length, with a rolling hash. The texts are the
// INF files, the needles the [drivers] names and the [infs] texts a draft considers.
#pragma once

#include <stddef.h>

struct Needle {
    const char* text;
    size_t length;
};
struct Haystack {
    const char* text;
    size_t length;
};

// Calls found(context, needle, text) once for each needle and each text that holds it. False
// when no memory.
typedef void (*NeedleFound)(void* context, size_t needle, size_t text);
bool FindNeedles(const Needle* needles, size_t needleCount, const Haystack* texts, size_t textCount, NeedleFound found,
                 void* context);
