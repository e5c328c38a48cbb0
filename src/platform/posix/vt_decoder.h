// vt_decoder.h - the key decoder of the terminal back-end: bytes a VT/xterm terminal sends in, console key events out.
//
// The decoder knows no file descriptor and no clock: the back-end feeds it the
// bytes it read and, when no further byte came within the Esc time-out, tells it
// to flush. So the tests drive it with byte strings alone.
//
// Every key becomes a press and a release record carrying the Windows virtual-key
// code, the set-1 scan code of the key on a US keyboard, the character byte in the
// console's code page and the control-key state, as the Windows console reports
// the same key. The cursor-position report the back-end asks for at start-up is
// recognised too and kept apart from the keys.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// How many decoded events the decoder can hold before they are taken.
constexpr uint32_t VT_EVENT_CAPACITY = 512;

// The most events one fed byte can add: a pending key flushed by the byte and the
// byte's own key, each as a press and a release.
constexpr uint32_t VT_EVENTS_PER_BYTE = 4;

// Empties the decoder: no events, no partial sequence, no report expected. With
// utf8 set the terminal speaks UTF-8 and the code page is ISO-8859-1 (typed
// U+00A0..U+00FF become those bytes, other non-ASCII characters are dropped);
// otherwise bytes from 128 up are characters as they stand.
void vt_decoder_reset(bool utf8);

// Decodes size bytes. Feed no more than vt_decoder_room() bytes at a time; events
// beyond the capacity would be dropped.
void vt_decoder_feed(const char* bytes, uint32_t size);

// How many bytes can be fed now without losing an event.
uint32_t vt_decoder_room();

// Whether a lone Esc or an unfinished sequence waits for more bytes.
bool vt_decoder_has_partial();

// The Esc time-out ran out with nothing more: a lone Esc becomes the Esc key, Esc
// with "[" or "O" becomes Alt with that key, anything else unfinished is dropped.
void vt_decoder_flush();

// The number of decoded events not yet taken.
uint32_t vt_decoder_event_count();

// Takes the oldest decoded event; false when there is none.
bool vt_decoder_take(InputEvent* event);

// From now on until one arrives, "ESC [ row ; column R" is a cursor-position
// report rather than F3 with modifiers.
void vt_decoder_expect_cursor_report();

// Takes the cursor-position report (1-based row and column) once one has arrived;
// false while none has.
bool vt_decoder_take_cursor_report(int32_t* row, int32_t* column);
