// editor.h - the line editor: edits one line in place on the console, from the
// cell where the cursor stands, until Enter or Ctrl+C.
#pragma once

#include <cstdint>

// Size of every text buffer the editor works on: up to 2048 characters and the zero byte.
constexpr int32_t TEXT_BUFFER_SIZE = 2049;

// Edits the zero-ended text in buffer (TEXT_BUFFER_SIZE bytes) with at most capacity
// characters. Returns true for Enter (buffer holds the edited text) and false for
// Ctrl+C (buffer is empty). Returns with the cursor at the start of the next line.
bool edit_line(char* buffer, int32_t capacity, bool mask_input, bool upper_case,
               bool numeric_only, bool overtype_start, bool cursor_at_start);
