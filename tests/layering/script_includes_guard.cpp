#include "guard/Guard.h"  // the script model knows no policy
