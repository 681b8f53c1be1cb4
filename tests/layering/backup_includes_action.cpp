#include "action/ActionPoint.h"  // the backup saves; it does not decide what goes
