// console.h - console services: start-up, the cursor cell, the screen size, and
// key input as a stream of key bytes (a character, or 0 followed by an extended code).
#pragma once

#include <cstdint>

// Prepares the console once at start-up: handles, the control handler, Ctrl+C as
// the key 3, and the screen size.
void console_init();

// The screen buffer's size in cells, as read by console_init.
int32_t screen_width();
int32_t screen_height();

// The cursor's current cell, 1-based.
int32_t cursor_column();
int32_t cursor_row();

// Puts the cursor on a 1-based cell; does nothing outside the start-up screen size.
void move_cursor_to(int32_t column, int32_t row);

// Whether a key byte is waiting; never waits.
bool key_available();

// Waits for the next key byte and hands it out.
uint8_t read_key();

// Answers console control events: Ctrl+Break is handled, every other event is passed on.
bool console_ctrl_handler(uint32_t event_type);

// Tells the console services what was written to standard output, so that the
// cursor can be tracked where standard output is not a console.
void console_note_output(const char* data, uint32_t size);
