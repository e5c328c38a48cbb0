// platform_win32.cpp - the platform seam on the Windows console and kernel32.
#include "platform/platform.h"

#include <windows.h>

void platform_start(int, char**) {}

void platform_exit(uint32_t status) { ExitProcess(status); }
