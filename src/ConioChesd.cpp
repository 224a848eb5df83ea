// Placeholder until the editor lands.
#include "ConioChesd.h"
