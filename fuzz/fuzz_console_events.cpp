// fuzz_console_events.cpp - fuzz target: console services fed arbitrary input event
// records (or an arbitrary input stream) through the scripted console, read with
// key_available and read_key in an arbitrary order.
//
// What must hold: the key bytes come as characters or as 0 followed by a code, so a
// 0 is always followed by a code that is already waiting (key_available answers true
// and read_key hands it out without waiting); no more key bytes come out than the
// records can give; nothing crashes or reads out of bounds.
//
// Input: byte 0 holds flags (bit 0: standard input is a stream rather than console
// events). Then, for events, byte 1 is the number of records n, followed by n records
// of 8 bytes (see make_event); every byte after them picks, bit by bit, whether the
// next call is key_available (1) or read_key (0). For a stream, bytes 1 and 2 give
// the number of stream bytes and the size of each read, then the stream, then the
// call bits.
#include "console/console.h"
#include "platform/scripted/scripted_console.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr size_t RECORD_SIZE = 8;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_console_events: %s\n", what);
    std::abort();
}

// The kinds of event a record can carry; the last choice takes the raw byte.
const uint16_t EVENT_TYPES[] = {EVENT_KEY, EVENT_KEY, EVENT_KEY, EVENT_MOUSE,
                                EVENT_BUFFER_SIZE, EVENT_MENU, EVENT_FOCUS};

// Virtual keys worth hitting often: the modifiers and locks, the keypad digits,
// cursor keys, Enter, Backspace, Esc.
const uint16_t INTERESTING_KEYS[] = {VK_CODE_SHIFT, VK_CODE_CONTROL, VK_CODE_MENU,
                                     VK_CODE_CAPITAL, VK_CODE_NUMLOCK, VK_CODE_SCROLL,
                                     VK_CODE_NUMPAD0, 0x61, 0x65, VK_CODE_NUMPAD9,
                                     0x24, 0x25, 0x2E, VK_CODE_RETURN, VK_CODE_BACK,
                                     VK_CODE_ESCAPE, VK_CODE_PAUSE, VK_CODE_TAB};

// One record of 8 bytes: kind, flags (bit 0 key down, bit 1 arrives late, bit 2 an
// interesting virtual key, bit 3 a scan code above 255), virtual key, scan code,
// character, control state (3 bytes, so bits above ENHANCED_KEY occur too).
InputEvent make_event(const uint8_t* r, bool* late) {
    InputEvent event{};
    uint8_t kind = r[0];
    size_t choices = sizeof EVENT_TYPES / sizeof EVENT_TYPES[0];
    event.event_type = kind % (choices + 1) == choices ? kind : EVENT_TYPES[kind % (choices + 1)];
    event.key.key_down = (r[1] & 1) != 0;
    *late = (r[1] & 2) != 0;
    size_t keys = sizeof INTERESTING_KEYS / sizeof INTERESTING_KEYS[0];
    event.key.virtual_key = (r[1] & 4) != 0 ? INTERESTING_KEYS[r[2] % keys] : r[2];
    event.key.scan_code = static_cast<uint16_t>(r[3] | ((r[1] & 8) != 0 ? r[4] << 8 : 0));
    event.key.character = r[5];
    event.key.control_state = static_cast<uint32_t>(r[6] | (r[7] << 8) | ((r[4] & 0x0F) << 16));
    event.key.repeat_count = 1;
    return event;
}

// The run's plan, for the body that scripted_run calls.
const uint8_t* call_bits = nullptr;
size_t call_bit_count = 0;
size_t most_key_bytes = 0;

// What the body saw, for the checks after the run.
size_t key_bytes = 0;
bool code_owed = false;  // the last byte read was a 0 whose code must follow

void read_loop() {
    console_init();
    // Bounded: every key byte uses up a record (or two bytes of a stream), and once the
    // input is used up the next read_key ends the run.
    for (size_t call = 0;; ++call) {
        bool ask = call < call_bit_count && ((call_bits[call / 8] >> (call % 8)) & 1) != 0;
        if (ask) {
            bool available = key_available();
            if (code_owed && !available) {
                fail("key_available answers false while the code of an extended key is owed");
            }
            continue;
        }
        uint8_t key = read_key();
        ++key_bytes;
        if (key_bytes > most_key_bytes) {
            fail("more key bytes than the input can give");
        }
        code_owed = !code_owed && key == 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    scripted_reset();
    const bool stream = (data[0] & 1) != 0;
    size_t used = 1;
    if (stream) {
        if (size < 3) {
            return 0;
        }
        size_t length = data[1] + (static_cast<size_t>(data[0] >> 1) << 8);
        uint32_t chunk = data[2] % 70;
        used = 3;
        if (length > size - used) {
            length = size - used;
        }
        scripted_set_input_is_console(false);
        scripted_set_input_bytes(std::string(reinterpret_cast<const char*>(data) + used, length));
        scripted_set_input_chunk(chunk);
        used += length;
        // Each stream byte gives at most one key byte, and the end of the stream gives
        // Ctrl+C on every read: the loop is bounded by the calls instead.
        most_key_bytes = length + 64;
    } else {
        size_t records = data[1];
        used = 2;
        if (records > (size - used) / RECORD_SIZE) {
            records = (size - used) / RECORD_SIZE;
        }
        for (size_t i = 0; i < records; ++i) {
            bool late = false;
            InputEvent event = make_event(data + used, &late);
            if (late) {
                scripted_push_late_event(event);
            } else {
                scripted_push_event(event);
            }
            used += RECORD_SIZE;
        }
        // A record gives at most one key, of at most two bytes.
        most_key_bytes = 2 * records;
    }
    call_bits = data + used;
    call_bit_count = (size - used) * 8;
    key_bytes = 0;
    code_owed = false;

    if (stream) {
        // A stream never runs dry: after its end every read gives Ctrl+C. Read a
        // bounded number of bytes, through the same loop, by ending it ourselves.
        most_key_bytes = SIZE_MAX;
        // The stream's end is reached after at most length reads; 64 more show that
        // the end keeps giving Ctrl+C.
        size_t reads = scripted_pending_input_bytes() + 64;
        console_init();
        for (size_t i = 0; i < reads; ++i) {
            if (i < call_bit_count && ((call_bits[i / 8] >> (i % 8)) & 1) != 0) {
                if (key_available()) {
                    fail("key_available answers true for an input stream");
                }
            }
            read_key();
        }
        if (scripted_pending_input_bytes() != 0) {
            fail("the stream was not read to its end");
        }
        if (read_key() != 3 || read_key() != 3) {
            fail("the end of the stream does not give Ctrl+C");
        }
        return 0;
    }

    int status = scripted_run(read_loop);
    if (status != SCRIPTED_STARVED) {
        fail("the read loop ended otherwise than by waiting for a key");
    }
    if (code_owed) {
        fail("read_key waited for a key after a 0: the extended code was lost");
    }
    return 0;
}
