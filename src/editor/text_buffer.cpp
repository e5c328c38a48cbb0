// text_buffer.cpp - truncate, delete and insert on zero-ended text buffers.
