#include "registry/RegistryPrimitives.h"  // the file primitives know no registry
