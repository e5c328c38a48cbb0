// scripted_console.h - the in-memory back-end of the platform seam that the unit
// tests run the core on: a screen grid with a cursor that writes land in (wrapping
// and scrolling as the Windows console does), a queue of input events, a record of
// what was written, an environment, files in memory, and failures on demand.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

// Puts the back-end into a fresh state: a console of width x height cells, all
// blank, the cursor on the 0-based cell (x, y), no events, no environment, no
// files, nothing written, no failures planned. Standard input and output are consoles.
// The input mode reads 0x1F7 (the Windows default) until the core sets it.
void scripted_reset(int width = 80, int height = 25, int cursor_x = 0, int cursor_y = 0);

// Whether standard input and standard output are consoles (both are after a reset).
// Setting output's answer also sets whether standard output is a character device.
void scripted_set_input_is_console(bool is_console);
void scripted_set_output_is_console(bool is_console);

// Whether standard output is a character device (a console, or e.g. NUL); defaults
// to whether it is a console.
void scripted_set_stdout_is_char_device(bool is_char_device);

// Bytes that standard input delivers when it is not a console.
void scripted_set_input_bytes(const std::string& bytes);

// The most bytes one read of standard input delivers (0: as many as asked for), so
// that tests can split the input across reads.
void scripted_set_input_chunk(uint32_t max_bytes);

// Input bytes not yet read.
size_t scripted_pending_input_bytes();

// Queues one input event.
void scripted_push_event(const InputEvent& event);

// Queues an event that arrives only after the next count of waiting events has
// been taken, so it is not part of that count.
void scripted_push_late_event(const InputEvent& event);

// Queues a press and a release of a key as the console reports it.
void scripted_push_key(uint16_t virtual_key, uint16_t scan_code, uint8_t character,
                       uint32_t control_state = 0);

// Keys without a character, for scripted_push_named_key.
enum class ScriptedKey {
    home, end, left, right, up, down, page_up, page_down, insert, del,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12,
    enter, backspace, escape, tab,
};

// Queues a press and a release of a named key with the given control-key state, as
// the console reports it: cursor-block keys carry ENHANCED_KEY and no character;
// Enter, Backspace, Esc and Tab carry their characters (13, 8, 27, 9).
void scripted_push_named_key(ScriptedKey key, uint32_t control_state = 0);

// Queues a press and a release of each character of text, as typed on a US keyboard:
// shifted characters come between a press and a release of Shift, and control
// characters 1..26 (but Backspace 8, Tab 9, Enter 13) as Ctrl with a letter between
// a press and a release of Ctrl. LF types Enter like CR. Bytes from 128 on come as
// presses with that character and no virtual key.
void scripted_type(const std::string& text);

// Input events not yet read.
size_t scripted_pending_events();

// The screen row y (0-based) as a text of width characters.
std::string scripted_row(int y);

// The whole screen, its rows ended with '\n' (for failure messages).
std::string scripted_screen();

// The cursor cell, 0-based.
int scripted_cursor_x();
int scripted_cursor_y();

// Every byte written to standard output since the reset.
const std::string& scripted_stdout();

// How often platform_pause was called since the reset, and how often of these with
// may_wait set.
int scripted_pause_count();
int scripted_waiting_pause_count();

// The calls of the console input procedures in order since the reset, one letter
// each: 'p' platform_pause(false), 'P' platform_pause(true), 'n' the event count,
// 'r' an event read, 'b' a read of input bytes.
const std::string& scripted_input_log();

// Sets or removes (value nullptr) an environment variable. Names are matched
// without regard to case, as Windows does.
void scripted_set_env(const std::string& name, const char* value);

// The files in memory: whether a file exists and what it holds.
bool scripted_file_exists(const std::string& name);
std::string scripted_file_contents(const std::string& name);
void scripted_put_file(const std::string& name, const std::string& contents);

// Marks a name as a character device (such as NUL or CON): creating it succeeds
// and gives a handle for which platform_file_is_char_device answers true.
void scripted_set_char_device(const std::string& name);

// Whether a file created through the seam is still open (created and not closed).
bool scripted_file_is_open(const std::string& name);

// The command line: a whole text to split (as on Windows), or ready-made arguments
// (as on POSIX) when the text is not set. Setting the arguments unsets the text.
// After a reset the text is unset and the arguments are {"kestin"}.
void scripted_set_command_line(const std::string& text);
void scripted_set_arguments(const std::vector<std::string>& arguments);

// The program's path as platform_module_path reports it (after a reset "C:\KESTIN\KESTIN.EXE").
void scripted_set_module_path(const std::string& path);

// Whether output file names turn "/" into "\" (true after a reset, as on Windows).
void scripted_set_backslash_paths(bool backslash);

// Operations that can be made to fail. A failing input_read returns -1.
enum class ScriptedOp { stdout_write, file_create, file_write, file_close, file_delete, input_read };

// Makes the nth call (1-based, counted from now) of op fail with the Windows error
// code error; with sticky set, every call from the nth on fails.
void scripted_fail(ScriptedOp op, int nth, uint32_t error, bool sticky = false);

// How often op has been called since the reset.
int scripted_call_count(ScriptedOp op);

// The control handler registered through the seam, or nullptr.
ControlHandler scripted_control_handler();

// The console input mode as last set (or as the reset left it).
uint32_t scripted_input_mode();

// Sets the input mode the console reports before the core sets one.
void scripted_set_input_mode(uint32_t mode);

// The fake call stack: platform_stack_trace reports depth frames (3 after a reset)
// at SCRIPTED_IMAGE_BASE + 0x1100, + 0x1200, ... innermost first, and
// platform_image_offset maps an address inside the fake image to address minus
// SCRIPTED_IMAGE_BASE and any other address to SCRIPTED_CODE_OFFSET.
constexpr uintptr_t SCRIPTED_IMAGE_BASE = 0x00400000;
constexpr uint32_t SCRIPTED_CODE_OFFSET = 0x00001234;
void scripted_set_stack_depth(int depth);

// Status a run ends with when it waits for a key after the input queue ran dry.
constexpr int SCRIPTED_STARVED = 1000;

// Runs body until it returns or the process "ends" through platform_exit. Returns the
// exit status, -1 when body returned, or SCRIPTED_STARVED when it waited for a key
// that will never come.
int scripted_run(void (*body)());
