// platform.h - the one seam between Kestin's portable core and the operating system.
//
// Everything the core needs from the system goes through the procedures declared
// here, typed with Kestin's own records. Each back-end (win32/, posix/, and the
// scripted in-memory console used by the tests) defines every procedure in this
// file and nothing else is allowed to touch the system. Errors are translated
// inside the back-end, once, into the Windows error codes that the program's
// failure numbers are built from.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Console input events

// Kinds of console input event, with the values the Windows console uses.
enum : uint16_t {
    EVENT_KEY = 0x0001,
    EVENT_MOUSE = 0x0002,
    EVENT_BUFFER_SIZE = 0x0004,
    EVENT_MENU = 0x0008,
    EVENT_FOCUS = 0x0010,
};

// Bits of a key event's control-key state, with the values the Windows console uses.
enum : uint32_t {
    RIGHT_ALT_PRESSED = 0x0001,
    LEFT_ALT_PRESSED = 0x0002,
    RIGHT_CTRL_PRESSED = 0x0004,
    LEFT_CTRL_PRESSED = 0x0008,
    SHIFT_PRESSED = 0x0010,
    NUMLOCK_ON = 0x0020,
    SCROLLLOCK_ON = 0x0040,
    CAPSLOCK_ON = 0x0080,
    ENHANCED_KEY = 0x0100,
};

// Virtual-key codes the core looks at, with the values Windows uses.
enum : uint16_t {
    VK_CODE_BACK = 0x08,
    VK_CODE_TAB = 0x09,
    VK_CODE_RETURN = 0x0D,
    VK_CODE_SHIFT = 0x10,
    VK_CODE_CONTROL = 0x11,
    VK_CODE_MENU = 0x12,
    VK_CODE_PAUSE = 0x13,
    VK_CODE_CAPITAL = 0x14,
    VK_CODE_ESCAPE = 0x1B,
    VK_CODE_NUMPAD0 = 0x60,
    VK_CODE_NUMPAD9 = 0x69,
    VK_CODE_NUMLOCK = 0x90,
    VK_CODE_SCROLL = 0x91,
};

// One key press or release as the console reports it.
struct KeyEvent {
    bool key_down;           // true for a press, false for a release
    uint16_t repeat_count;   // how often the key repeated (not looked at by the core)
    uint16_t virtual_key;    // Windows virtual-key code
    uint16_t scan_code;      // PC scan code, set 1
    uint8_t character;       // the character byte in the console's code page, 0 when none
    uint32_t control_state;  // the control-key state bits above
};

// One console input event: a key event or another kind, which carries nothing the core uses.
struct InputEvent {
    uint16_t event_type;  // one of EVENT_KEY ... EVENT_FOCUS
    KeyEvent key;         // valid when event_type is EVENT_KEY
};

// The console screen buffer's size and the cursor cell, 0-based as the console counts them.
struct ScreenInfo {
    int16_t width;     // columns of the screen buffer
    int16_t height;    // rows of the screen buffer
    int16_t cursor_x;  // 0-based column of the cursor
    int16_t cursor_y;  // 0-based row of the cursor
};

// Console control events, with the values Windows uses.
enum : uint32_t {
    CONTROL_C_EVENT = 0,
    CONTROL_BREAK_EVENT = 1,
    CONTROL_CLOSE_EVENT = 2,
    CONTROL_LOGOFF_EVENT = 5,
    CONTROL_SHUTDOWN_EVENT = 6,
};

// The console input mode bit that turns Ctrl+C into a control event instead of a key.
constexpr uint32_t INPUT_MODE_PROCESSED = 0x0001;

// A control handler: answers true when it handled the event, false to pass it on.
using ControlHandler = bool (*)(uint32_t event_type);

// ---------------------------------------------------------------------------
// Start and end of the process

// Records the arguments the C runtime received. Called first thing in main; the
// back-ends that split the command line themselves ignore them.
void platform_start(int argc, char** argv);

// Ends the process at once with the status; nothing is flushed or closed.
[[noreturn]] void platform_exit(uint32_t status);

// ---------------------------------------------------------------------------
// Console

// Binds the standard input and output handles; true when standard input is a
// console (a terminal) that delivers key events.
bool platform_console_open();

// Whether standard output is a console (a terminal) whose cursor can be queried and placed.
bool platform_output_is_console();

// Registers a handler the system calls for console control events.
void platform_set_control_handler(ControlHandler handler);

// Reads and sets the console input mode (INPUT_MODE_PROCESSED and the system's other bits).
uint32_t platform_get_input_mode();
void platform_set_input_mode(uint32_t mode);

// Fills info with the screen buffer's size and cursor cell; false when there is no console.
bool platform_screen_info(ScreenInfo* info);

// Places the cursor on a 0-based cell of the screen buffer.
void platform_set_cursor(int16_t x, int16_t y);

// The number of input events waiting; never waits. 0 on failure.
uint32_t platform_input_event_count();

// Removes the oldest input event into event; false when none could be read.
bool platform_read_input_event(InputEvent* event);

// The short pause before each poll of the input. may_wait is false while a key
// is already waiting in the console services: the pause must then be brief.
// When may_wait is true a back-end may instead wait until input arrives, so
// that a program waiting for a key uses no CPU.
void platform_pause(bool may_wait);

// Reads up to size bytes of standard input when it is not a console. Returns the
// number of bytes read, 0 at the end of the input, -1 on an error.
int32_t platform_read_input_bytes(char* buffer, uint32_t size);

// ---------------------------------------------------------------------------
// Standard output

// Writes size bytes to standard output in one call; true when the system took all of them.
bool platform_write_stdout(const char* data, uint32_t size);

// Whether standard output is a character device (a console, a terminal or a device file).
bool platform_stdout_is_char_device();

// ---------------------------------------------------------------------------
// Environment

// Copies the value of the variable name into buffer (size bytes, zero-ended) as
// GetEnvironmentVariableA does: 0 when the variable is missing or empty; the
// number of characters stored when the value fits; otherwise the size needed,
// the ending zero included, with the buffer's content undefined.
uint32_t platform_get_env(const char* name, char* buffer, uint32_t size);

// ---------------------------------------------------------------------------
// Files

// An open file; 0 is no file.
using FileHandle = uintptr_t;

// Creates name for writing, emptying an existing file, held without sharing.
// Returns 0 on failure and stores the system's error code in *error.
FileHandle platform_file_create(const char* name, uint32_t* error);

// Whether handle denotes a character device rather than a disk file.
bool platform_file_is_char_device(FileHandle handle);

// Writes size bytes in one call; true when all were taken.
bool platform_file_write(FileHandle handle, const char* data, uint32_t size);

// Closes the handle. Its result is not looked at.
void platform_file_close(FileHandle handle);

// Deletes the file; false on failure with the system's error code in *error.
bool platform_file_delete(const char* name, uint32_t* error);

// Whether output file names turn "/" into "\" (true where "\" is the separator).
bool platform_uses_backslash_paths();

// ---------------------------------------------------------------------------
// Command line

// The whole process command line as one text to be split, or nullptr where the
// arguments arrive already split (then platform_argument_count/platform_argument).
const char* platform_command_line();
int32_t platform_argument_count();
const char* platform_argument(int32_t index);

// The full path of the program's file, zero-ended, cut to size - 1 characters.
void platform_module_path(char* buffer, uint32_t size);

// ---------------------------------------------------------------------------
// Diagnostics

// Stores up to max return addresses of the active calls, innermost first,
// skipping the given number of frames; returns how many were stored.
int32_t platform_stack_trace(void** frames, int32_t max, int32_t skip);

// An address as an offset into the program's image, so that addr2line can name the place.
uint32_t platform_image_offset(const void* address);
