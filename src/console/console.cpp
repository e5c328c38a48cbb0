// console.cpp - console services over the platform seam: start-up, cursor, screen size, key input.
#include "console/console.h"
