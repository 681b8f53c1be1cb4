#include "backup/Backup.h"  // the guard judges; it saves nothing
