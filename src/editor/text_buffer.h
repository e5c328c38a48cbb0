// text_buffer.h - truncate, delete and insert on zero-ended text buffers (0-based indexes).
#pragma once

#include <cstdint>

// Cuts buf to its first n characters when it holds at least n; a shorter text stays
// as it is. n <= 0 gives the empty text.
void text_truncate(char* buf, int32_t n);

// Removes count characters from index start on. A start at or beyond the end changes
// nothing; a count reaching past the end cuts the text at start; count <= 0 changes nothing.
void text_delete(char* buf, int32_t start, int32_t count);

// Inserts the characters of src into dst before index pos; a pos beyond the end
// appends, a negative pos inserts at the front. dst must have room for
// length(dst) + length(src) + 1 bytes, and src must not lie inside dst.
void text_insert(const char* src, char* dst, int32_t pos);
