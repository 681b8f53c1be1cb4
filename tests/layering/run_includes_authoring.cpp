#include "authoring/Authoring.h"  // the run knows nothing of writing a script
