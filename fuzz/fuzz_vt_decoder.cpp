// fuzz_vt_decoder.cpp - fuzz target: the terminal key decoder fed arbitrary bytes in
// arbitrary pieces, with the Esc time-out running out at arbitrary points.
//
// What must hold: every key comes as a press followed by a release with the same
// fields; a press carries a key code or a character; in a UTF-8 locale no character
// byte is a C1 control (0x80..0x9F); the queue never holds more than its capacity;
// after a flush nothing waits half-decoded; nothing crashes or reads out of bounds.
//
// Input: byte 0 holds flags (bit 0: UTF-8 locale, bit 1: a cursor report is
// expected). Then chunks: a length byte n (low 6 bits the piece's size, bit 6: the
// time-out runs out after it, bit 7: events are taken after it), then up to n bytes.
#include "platform/posix/vt_decoder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_vt_decoder: %s\n", what);
    std::abort();
}

bool utf8 = false;

// Takes every decoded event and checks the pairs.
void take_and_check() {
    if (vt_decoder_event_count() > VT_EVENT_CAPACITY) {
        fail("more events than the queue holds");
    }
    if (vt_decoder_event_count() % 2 != 0) {
        fail("a press without its release");
    }
    InputEvent press{};
    InputEvent release{};
    while (vt_decoder_take(&press)) {
        if (!vt_decoder_take(&release)) {
            fail("a press without its release");
        }
        if (press.event_type != EVENT_KEY || release.event_type != EVENT_KEY) {
            fail("not a key event");
        }
        if (!press.key.key_down || release.key.key_down) {
            fail("press and release out of order");
        }
        if (press.key.virtual_key != release.key.virtual_key || press.key.scan_code != release.key.scan_code ||
            press.key.character != release.key.character ||
            press.key.control_state != release.key.control_state) {
            fail("release differs from its press");
        }
        if (press.key.virtual_key == 0 && press.key.character == 0) {
            fail("a key with neither code nor character");
        }
        if (utf8 && press.key.character >= 0x80 && press.key.character < 0xA0) {
            fail("a C1 control as a character");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    utf8 = (data[0] & 1) != 0;
    vt_decoder_reset(utf8);
    if ((data[0] & 2) != 0) {
        vt_decoder_expect_cursor_report();
    }
    size_t position = 1;
    while (position < size) {
        uint8_t control = data[position++];
        size_t piece = control & 0x3F;
        if (piece > size - position) {
            piece = size - position;
        }
        // The back-end feeds no more than there is room for; so does the target.
        while (piece > 0) {
            uint32_t room = vt_decoder_room();
            if (room == 0) {
                take_and_check();
                room = vt_decoder_room();
            }
            uint32_t now = piece < room ? static_cast<uint32_t>(piece) : room;
            vt_decoder_feed(reinterpret_cast<const char*>(data + position), now);
            position += now;
            piece -= now;
        }
        if ((control & 0x40) != 0) {
            vt_decoder_flush();
            if (vt_decoder_has_partial()) {
                fail("something waits after the time-out");
            }
        }
        if ((control & 0x80) != 0) {
            take_and_check();
        }
    }
    vt_decoder_flush();
    take_and_check();
    int32_t row = 0;
    int32_t column = 0;
    if (vt_decoder_take_cursor_report(&row, &column) && (row < 1 || column < 1)) {
        fail("a cursor report outside the screen");
    }
    return 0;
}
