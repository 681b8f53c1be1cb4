#include "platform/Paths.h"  // strings and lists know no file system
