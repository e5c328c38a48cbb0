// failure.cpp - the failure report that ends the process after an input/output failure.
#include "console/output.h"
#include "platform/platform.h"

#include <cstdio>

// Writes "Runtime error N at 0x........" and the active calls, then ends the process.
// (First version: the place only; the call lines follow with the main program.)
void report_io_failure(uint16_t number) {
    char line[64];
    uint32_t place = platform_image_offset(__builtin_return_address(0));
    int n = std::snprintf(line, sizeof line, "Runtime error %u at 0x%08X\r\n  0x%08X\r\n\r\n",
                          static_cast<unsigned>(number), place, place);
    write_stdout(line, static_cast<uint32_t>(n));
    platform_exit(number % 256u);
}
