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
void scripted_reset(int width = 80, int height = 25, int cursor_x = 0, int cursor_y = 0);

// Whether standard input and standard output are consoles (both are after a reset).
void scripted_set_input_is_console(bool is_console);
void scripted_set_output_is_console(bool is_console);

// Bytes that standard input delivers when it is not a console.
void scripted_set_input_bytes(const std::string& bytes);

// Queues one input event.
void scripted_push_event(const InputEvent& event);

// Queues a press and a release of a key as the console reports it.
void scripted_push_key(uint16_t virtual_key, uint16_t scan_code, uint8_t character,
                       uint32_t control_state = 0);

// Queues a press and a release of each character of text, as typed on a US keyboard.
void scripted_type(const std::string& text);

// Input events not yet read.
size_t scripted_pending_events();

// The screen row y (0-based) as a text of width characters.
std::string scripted_row(int y);

// The cursor cell, 0-based.
int scripted_cursor_x();
int scripted_cursor_y();

// Every byte written to standard output since the reset.
const std::string& scripted_stdout();

// How often platform_pause was called since the reset.
int scripted_pause_count();

// Sets or removes (value nullptr) an environment variable.
void scripted_set_env(const std::string& name, const char* value);

// The files in memory: whether a file exists and what it holds.
bool scripted_file_exists(const std::string& name);
std::string scripted_file_contents(const std::string& name);
void scripted_put_file(const std::string& name, const std::string& contents);

// The command line: a whole text to split (as on Windows), or ready-made arguments
// (as on POSIX) when the text is not set.
void scripted_set_command_line(const std::string& text);
void scripted_set_arguments(const std::vector<std::string>& arguments);

// Operations that can be made to fail.
enum class ScriptedOp { stdout_write, file_create, file_write, file_close, file_delete };

// Makes the nth call (1-based, counted from now) of op fail with the Windows error
// code error; with sticky set, every call from the nth on fails.
void scripted_fail(ScriptedOp op, int nth, uint32_t error, bool sticky = false);

// How often op has been called since the reset.
int scripted_call_count(ScriptedOp op);

// The control handler registered through the seam, or nullptr.
ControlHandler scripted_control_handler();

// The console input mode as last set.
uint32_t scripted_input_mode();

// Status a run ends with when it waits for a key after the input queue ran dry.
constexpr int SCRIPTED_STARVED = 1000;

// Runs body until it returns or the process "ends" through platform_exit. Returns the
// exit status, -1 when body returned, or SCRIPTED_STARVED when it waited for a key
// that will never come.
int scripted_run(void (*body)());
