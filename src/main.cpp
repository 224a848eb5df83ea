// Placeholder entry point until the program shell lands.
#include "main.h"

int main() { return 0; }
