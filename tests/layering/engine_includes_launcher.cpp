#include "launcher/ServiceHost.h"  // the engine may not know who runs it
