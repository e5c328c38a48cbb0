// text_buffer.cpp - truncate, delete and insert on zero-ended text buffers.
#include "editor/text_buffer.h"

#include <cstring>

// Cuts the text by placing its ending zero at index n, but only when the text
// reaches that far, so that a zero is never written past the text's own end.
void text_truncate(char* buf, int32_t n) {
    if (n < 0) {
        n = 0;
    }
    if (std::strlen(buf) >= static_cast<size_t>(n)) {
        buf[n] = '\0';
    }
}

// Closes the gap left by the removed characters by moving the rest of the text,
// with its ending zero, down to start. The comparison against the remaining length
// avoids adding start and count, which could overflow for a huge count.
void text_delete(char* buf, int32_t start, int32_t count) {
    int32_t length = static_cast<int32_t>(std::strlen(buf));
    if (start < 0 || start >= length || count <= 0) {
        return;
    }
    if (count > length - start) {
        buf[start] = '\0';
        return;
    }
    std::memmove(buf + start, buf + start + count,
                 static_cast<size_t>(length - start - count) + 1);
}

// Opens a gap of length(src) at pos by moving the tail of dst, with its ending
// zero, upwards, then copies src into the gap.
void text_insert(const char* src, char* dst, int32_t pos) {
    size_t inserted = std::strlen(src);
    if (inserted == 0) {
        return;
    }
    size_t length = std::strlen(dst);
    size_t at = pos < 0 ? 0 : static_cast<size_t>(pos);
    if (at > length) {
        at = length;
    }
    std::memmove(dst + at + inserted, dst + at, length - at + 1);
    std::memcpy(dst + at, src, inserted);
}
