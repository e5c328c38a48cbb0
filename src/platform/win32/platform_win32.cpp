// platform_win32.cpp - the platform seam on the Windows console and kernel32; nothing else lives here.
//
// platform.h is included before <windows.h> on purpose: platform.h declares the
// control-key state bits (RIGHT_ALT_PRESSED ... ENHANCED_KEY) as enumerators, and
// <wincon.h> declares the same names as macros. Read in this order, the enumerators
// are declared first and the macros, which carry the very same values, only take
// effect in the code below. The checks after the includes make sure that the
// records and constants of the seam keep the values the Windows console uses, so
// that event fields and mode bits pass through unchanged.
#include "platform/platform.h"

// The seam's own values, taken before <windows.h> turns the same names into macros.
namespace {
constexpr uint32_t seam_control_bits[] = {
    RIGHT_ALT_PRESSED, LEFT_ALT_PRESSED, RIGHT_CTRL_PRESSED, LEFT_CTRL_PRESSED, SHIFT_PRESSED,
    NUMLOCK_ON,        SCROLLLOCK_ON,    CAPSLOCK_ON,        ENHANCED_KEY,
};
}  // namespace

// Only the core of <windows.h>, and no min/max macros (libstdc++ may have asked for that already).
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

static_assert(seam_control_bits[0] == RIGHT_ALT_PRESSED && seam_control_bits[1] == LEFT_ALT_PRESSED &&
                  seam_control_bits[2] == RIGHT_CTRL_PRESSED && seam_control_bits[3] == LEFT_CTRL_PRESSED &&
                  seam_control_bits[4] == SHIFT_PRESSED && seam_control_bits[5] == NUMLOCK_ON &&
                  seam_control_bits[6] == SCROLLLOCK_ON && seam_control_bits[7] == CAPSLOCK_ON &&
                  seam_control_bits[8] == ENHANCED_KEY,
              "control-key state bits must match the console's");
static_assert(EVENT_KEY == KEY_EVENT && EVENT_MOUSE == MOUSE_EVENT &&
                  EVENT_BUFFER_SIZE == WINDOW_BUFFER_SIZE_EVENT && EVENT_MENU == MENU_EVENT &&
                  EVENT_FOCUS == FOCUS_EVENT,
              "event kinds must match the console's");
static_assert(CONTROL_C_EVENT == CTRL_C_EVENT && CONTROL_BREAK_EVENT == CTRL_BREAK_EVENT &&
                  CONTROL_CLOSE_EVENT == CTRL_CLOSE_EVENT && CONTROL_LOGOFF_EVENT == CTRL_LOGOFF_EVENT &&
                  CONTROL_SHUTDOWN_EVENT == CTRL_SHUTDOWN_EVENT,
              "control events must match the console's");
static_assert(VK_CODE_BACK == VK_BACK && VK_CODE_TAB == VK_TAB && VK_CODE_RETURN == VK_RETURN &&
                  VK_CODE_SHIFT == VK_SHIFT && VK_CODE_CONTROL == VK_CONTROL && VK_CODE_MENU == VK_MENU &&
                  VK_CODE_PAUSE == VK_PAUSE && VK_CODE_CAPITAL == VK_CAPITAL &&
                  VK_CODE_ESCAPE == VK_ESCAPE && VK_CODE_NUMPAD0 == VK_NUMPAD0 &&
                  VK_CODE_NUMPAD9 == VK_NUMPAD9 && VK_CODE_NUMLOCK == VK_NUMLOCK && VK_CODE_SCROLL == VK_SCROLL,
              "virtual-key codes must match the system's");
static_assert(INPUT_MODE_PROCESSED == ENABLE_PROCESSED_INPUT, "input mode bit must match the console's");
static_assert(sizeof(FileHandle) == sizeof(HANDLE), "a file handle must hold a system handle");

// Standard input and output, bound at the start of the process and again when the console is opened.
static HANDLE input_handle = nullptr;
static HANDLE output_handle = nullptr;

// The handler the core registered for console control events; written once,
// before the system is told about the trampoline below.
static ControlHandler control_handler = nullptr;

// Asks the system for the standard input and output handles.
static void bind_standard_handles() {
    input_handle = GetStdHandle(STD_INPUT_HANDLE);
    output_handle = GetStdHandle(STD_OUTPUT_HANDLE);
}

// ---------------------------------------------------------------------------
// Start and end of the process

// Binds standard output (and input) so that writes work from the first statement
// on. The arguments are not used: the core splits GetCommandLineA itself.
void platform_start(int, char**) { bind_standard_handles(); }

// Ends the process with the status; nothing is flushed, closed or put back.
void platform_exit(uint32_t status) {
    ExitProcess(status);
    __builtin_unreachable();
}

// ---------------------------------------------------------------------------
// Console

// Binds the standard handles; standard input is a console when its mode can be read.
bool platform_console_open() {
    bind_standard_handles();
    DWORD mode = 0;
    return GetConsoleMode(input_handle, &mode) != 0;
}

// Standard output is a console when its screen buffer can be queried.
bool platform_output_is_console() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    return GetConsoleScreenBufferInfo(output_handle, &info) != 0;
}

// The system calls this on a thread of its own for each control event; it passes
// the event to the core's handler and touches nothing else.
static BOOL WINAPI control_trampoline(DWORD event_type) {
    ControlHandler handler = control_handler;
    return handler != nullptr && handler(event_type) ? TRUE : FALSE;
}

// Stores the core's handler and adds the trampoline to the process's control handlers.
void platform_set_control_handler(ControlHandler handler) {
    control_handler = handler;
    SetConsoleCtrlHandler(control_trampoline, TRUE);
}

// The console input mode of standard input; 0 when it cannot be read.
uint32_t platform_get_input_mode() {
    DWORD mode = 0;
    GetConsoleMode(input_handle, &mode);
    return mode;
}

// Sets the console input mode of standard input.
void platform_set_input_mode(uint32_t mode) { SetConsoleMode(input_handle, mode); }

// The screen buffer's size and the cursor cell from the output console; all zero
// and false when standard output is no console.
bool platform_screen_info(ScreenInfo* info) {
    CONSOLE_SCREEN_BUFFER_INFO buffer_info;
    if (GetConsoleScreenBufferInfo(output_handle, &buffer_info) == 0) {
        *info = ScreenInfo{};
        return false;
    }
    info->width = buffer_info.dwSize.X;
    info->height = buffer_info.dwSize.Y;
    info->cursor_x = buffer_info.dwCursorPosition.X;
    info->cursor_y = buffer_info.dwCursorPosition.Y;
    return true;
}

// Places the cursor on a 0-based cell of the output console's screen buffer.
void platform_set_cursor(int16_t x, int16_t y) {
    COORD cell;
    cell.X = x;
    cell.Y = y;
    SetConsoleCursorPosition(output_handle, cell);
}

// The number of unread console input events; 0 when the count fails (no console).
uint32_t platform_input_event_count() {
    DWORD count = 0;
    if (GetNumberOfConsoleInputEvents(input_handle, &count) == 0) {
        return 0;
    }
    return count;
}

// Reads exactly one console input event and copies the fields the core uses.
// Events of other kinds carry an all-zero key record.
bool platform_read_input_event(InputEvent* event) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (ReadConsoleInputA(input_handle, &record, 1, &read) == 0 || read != 1) {
        return false;
    }
    *event = InputEvent{};
    event->event_type = record.EventType;
    if (record.EventType == KEY_EVENT) {
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        event->key.key_down = key.bKeyDown != 0;
        event->key.repeat_count = key.wRepeatCount;
        event->key.virtual_key = key.wVirtualKeyCode;
        event->key.scan_code = key.wVirtualScanCode;
        event->key.character = static_cast<uint8_t>(key.uChar.AsciiChar);
        event->key.control_state = key.dwControlKeyState;
    }
    return true;
}

// The pause between polls of the console input: 1 ms, whether or not a key is
// waiting. Key input on the Windows console is polled, never waited for.
void platform_pause(bool) { Sleep(1); }

// Reads standard input that is a pipe or a file. The writer closing a pipe
// (ERROR_BROKEN_PIPE) is the end of the input like the end of a file.
int32_t platform_read_input_bytes(char* buffer, uint32_t size) {
    constexpr uint32_t largest_read = 0x7FFFFFFF;
    DWORD read = 0;
    if (ReadFile(input_handle, buffer, size < largest_read ? size : largest_read, &read, nullptr) == 0) {
        DWORD error = GetLastError();
        return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<int32_t>(read);
}

// ---------------------------------------------------------------------------
// Standard output

// One WriteFile call; a failed or short write is a failure.
bool platform_write_stdout(const char* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(output_handle, data, size, &written, nullptr) != 0 && written == size;
}

bool platform_stdout_is_char_device() { return GetFileType(output_handle) == FILE_TYPE_CHAR; }

// ---------------------------------------------------------------------------
// Environment

// GetEnvironmentVariableA as it stands: 0 for a missing or empty variable, the
// characters stored when the value fits, else the size needed with the zero.
uint32_t platform_get_env(const char* name, char* buffer, uint32_t size) {
    return GetEnvironmentVariableA(name, buffer, size);
}

// ---------------------------------------------------------------------------
// Files

// The system handle behind a file handle of the seam.
static HANDLE system_handle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// Creates or empties name for writing, shared with no one until it is closed.
FileHandle platform_file_create(const char* name, uint32_t* error) {
    HANDLE handle =
        CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    return reinterpret_cast<FileHandle>(handle);
}

bool platform_file_is_char_device(FileHandle handle) {
    return GetFileType(system_handle(handle)) == FILE_TYPE_CHAR;
}

// One WriteFile call; a failed or short write is a failure.
bool platform_file_write(FileHandle handle, const char* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(system_handle(handle), data, size, &written, nullptr) != 0 && written == size;
}

void platform_file_close(FileHandle handle) { CloseHandle(system_handle(handle)); }

// Deletes name; on failure the system's error code goes to *error.
bool platform_file_delete(const char* name, uint32_t* error) {
    if (DeleteFileA(name) == 0) {
        *error = GetLastError();
        return false;
    }
    return true;
}

bool platform_uses_backslash_paths() { return true; }

// ---------------------------------------------------------------------------
// Command line

// The whole command line; the core splits it itself.
const char* platform_command_line() { return GetCommandLineA(); }

// The arguments are never handed over ready-made here: the command line is split by the core.
int32_t platform_argument_count() { return 0; }
const char* platform_argument(int32_t) { return ""; }

// The program file's full path. Older systems leave a cut path without its zero,
// so the zero is always put in here.
void platform_module_path(char* buffer, uint32_t size) {
    if (size == 0) {
        return;
    }
    DWORD length = GetModuleFileNameA(nullptr, buffer, size);
    buffer[length < size ? length : size - 1] = '\0';
}

// ---------------------------------------------------------------------------
// Diagnostics

// Whether address lies inside the program's own image, whose extent the PE header
// in memory gives.
static bool in_program_image(const void* address) {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos_header = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt_headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos_header->e_lfanew);
    uintptr_t offset = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(base);
    return offset < nt_headers->OptionalHeader.SizeOfImage;
}

// Return addresses of the active calls from the system's unwinder, skipping this
// procedure's own frame besides the frames the caller asked to skip. The trace
// ends at the first return address outside the program's image: that is the
// system's thread start, which called the program's entry. Its frames cannot be
// named from the program's map, and Wine's unwinder hands out meaningless
// addresses (some of them inside the image) once it has left the program.
int32_t platform_stack_trace(void** frames, int32_t max, int32_t skip) {
    if (max <= 0) {
        return 0;
    }
    DWORD frames_to_skip = skip > 0 ? static_cast<DWORD>(skip) + 1 : 1;
    int32_t captured = RtlCaptureStackBackTrace(frames_to_skip, static_cast<DWORD>(max), frames, nullptr);
    int32_t kept = 0;
    while (kept < captured && in_program_image(frames[kept])) {
        ++kept;
    }
    return kept;
}

// The distance of address from the program image's base, which is what the map
// file and addr2line (given the image base) count from; cut to 32 bits.
uint32_t platform_image_offset(const void* address) {
    uintptr_t base = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address) - base);
}
