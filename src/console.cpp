// Placeholder until the terminal layer lands.
#include "console.h"
