// The [general] key "exitcodes=<value>": which exit codes a launch ends with. The reader of the
// prepared copy and the launcher, which must know before there is a copy, take it alike.
#pragma once

#include "foundation/zqString.h"
#include "script/LineRules.h"
#include "shared/ExitCodes.h"

// True when the [general] line is the key; *convention is what its value asks for, and *known
// is false for a value that asks for nothing known.
bool ReadExitCodesKey(const zqWString& line, ExitConvention* convention, bool* known);

// What the whole script asks for (its last exitcodes line wins). The text is read from where it
// stands and left there again, for the preparation to read.
ExitConvention ScriptExitConvention(ScriptText* script);
