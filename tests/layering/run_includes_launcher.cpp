#include "launcher/ServiceHost.h"  // the run may not know who runs it
