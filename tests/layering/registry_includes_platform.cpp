#include "platform/Paths.h"  // the registry primitives know no file system
