#include "registry/RegistryPrimitives.h"  // the script model knows no registry
