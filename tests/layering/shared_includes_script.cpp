#include "script/CleanScript.h"  // the run log and the status block know no script
