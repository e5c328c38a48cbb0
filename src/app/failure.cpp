// failure.cpp - failure numbers from system error codes, and the failure report that
// ends the process after an input/output failure.
#include "app/failure.h"

#include "console/output.h"
#include "platform/platform.h"

#include <cstdio>

uint16_t failure_number(uint32_t error) {
    uint16_t number = 0;
    if (error >= 19 && error <= 31) {
        number = static_cast<uint16_t>(error + 131);
    } else if (error == 32) {
        number = 5;  // a sharing violation counts as access denied
    } else {
        number = static_cast<uint16_t>(error & 0xFFFF);
    }
    return number != 0 ? number : FAILURE_UNKNOWN;
}

// The most call lines of the report: few on a screen, many into a file or pipe.
constexpr int32_t MAX_CALL_LINES_ON_DEVICE = 9;
constexpr int32_t MAX_CALL_LINES = 257;

// Writes "Runtime error N at 0x........", the place again, one line per active call
// (innermost first) and an empty line, then ends the process. Addresses are offsets
// into the program's image as 8 capital hex digits, so that addr2line on the
// unstripped build names each place. The report is reached through check_output, so
// the place where the failure was found is the call of check_output in the frame
// just outside it: the output statement that checked. The exit status is number modulo 256, but never 0:
// a failure must not read as success to the calling batch file.
void report_io_failure(uint16_t number) {
    void* checker = __builtin_return_address(0);
    void* frames[MAX_CALL_LINES + 16];
    int32_t count = platform_stack_trace(frames, MAX_CALL_LINES + 16, 0);
    // Where the trace does not show check_output, the place is check_output itself
    // and every frame of the trace is a call line.
    const void* place_address = checker;
    int32_t first = 0;
    for (int32_t i = 0; i + 1 < count; ++i) {
        if (frames[i] == checker) {
            place_address = frames[i + 1];
            first = i + 2;
            break;
        }
    }
    // A return address points after its call; one byte back lies inside the call, so
    // that the place names the statement that checked rather than the one after it.
    uint32_t place = platform_image_offset(static_cast<const char*>(place_address) - 1);

    char line[64];
    int length = std::snprintf(line, sizeof line, "Runtime error %u at 0x%08X\r\n",
                               static_cast<unsigned>(number), place);
    write_stdout(line, static_cast<uint32_t>(length));
    length = std::snprintf(line, sizeof line, "  0x%08X\r\n", place);
    write_stdout(line, static_cast<uint32_t>(length));
    int32_t limit = platform_stdout_is_char_device() ? MAX_CALL_LINES_ON_DEVICE : MAX_CALL_LINES;
    for (int32_t i = first; i < count && i - first < limit; ++i) {
        length = std::snprintf(line, sizeof line, "  0x%08X\r\n", platform_image_offset(frames[i]));
        write_stdout(line, static_cast<uint32_t>(length));
    }
    write_stdout("\r\n", 2);
    uint32_t status = number % 256u;
    platform_exit(status != 0 ? status : FAILURE_UNKNOWN);
}
