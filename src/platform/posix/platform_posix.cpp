// platform_posix.cpp - the platform seam on a POSIX terminal (termios, VT escape sequences).
#include "platform/platform.h"

#include <unistd.h>

#include <cstdlib>

void platform_start(int, char**) {}

void platform_exit(uint32_t status) { _exit(static_cast<int>(status & 0xFF)); }
