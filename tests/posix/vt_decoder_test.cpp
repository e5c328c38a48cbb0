// Tests of the terminal key decoder: the key events it makes of terminal bytes, and
// the key bytes read_key hands out for them through the console services.
#include "console/console.h"
#include "platform/posix/vt_decoder.h"
#include "platform/scripted/scripted_console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every event the decoder has made so far.
std::vector<InputEvent> take_all() {
    std::vector<InputEvent> all;
    InputEvent event{};
    while (vt_decoder_take(&event)) {
        all.push_back(event);
    }
    return all;
}

// The events made of bytes, fed in the pieces given; with flush set the Esc
// time-out then runs out.
std::vector<InputEvent> decode(const std::vector<std::string>& pieces, bool flush = true, bool utf8 = true) {
    vt_decoder_reset(utf8);
    for (const std::string& piece : pieces) {
        vt_decoder_feed(piece.data(), static_cast<uint32_t>(piece.size()));
    }
    if (flush) {
        vt_decoder_flush();
    }
    return take_all();
}

// The key bytes read_key hands out, on the scripted console, for the events the
// decoder makes of the pieces: the whole way from the terminal's bytes to the editor's keys.
std::vector<int> key_bytes(const std::vector<std::string>& pieces, bool utf8 = true) {
    scripted_reset();
    console_init();
    for (const InputEvent& event : decode(pieces, true, utf8)) {
        scripted_push_event(event);
    }
    std::vector<int> bytes;
    while (key_available()) {
        bytes.push_back(read_key());
    }
    return bytes;
}

std::string hex(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        char part[8];
        std::snprintf(part, sizeof part, c >= 0x21 && c < 0x7F ? "%c" : "<%02X>", c);
        text += part;
    }
    return text;
}

// ---------------------------------------------------------------------------
// Key events

struct EventCase {
    std::string bytes;
    uint16_t virtual_key;
    uint16_t scan_code;
    uint8_t character;
    uint32_t control_state;
};

TEST(VtDecoderEvents, EachKeyIsOnePressAndOneReleaseAsTheConsoleReportsIt) {
    const EventCase cases[] = {
        {"a", 'A', 30, 'a', 0},
        {"A", 'A', 30, 'A', SHIFT_PRESSED},
        {"1", '1', 2, '1', 0},
        {"!", '1', 2, '!', SHIFT_PRESSED},
        {" ", 0x20, 57, ' ', 0},
        {"/", 0xBF, 53, '/', 0},
        {"~", 0xC0, 41, '~', SHIFT_PRESSED},
        {"\r", VK_CODE_RETURN, 28, 13, 0},
        {"\x7f", VK_CODE_BACK, 14, 8, 0},
        {"\x08", VK_CODE_BACK, 14, 8, 0},
        {"\t", VK_CODE_TAB, 15, 9, 0},
        {"\x1b", VK_CODE_ESCAPE, 1, 27, 0},
        {"\x01", 'A', 30, 1, LEFT_CTRL_PRESSED},
        {"\x03", 'C', 46, 3, LEFT_CTRL_PRESSED},
        {"\x1a", 'Z', 44, 26, LEFT_CTRL_PRESSED},
        {"\x1c", 0xDC, 43, 28, LEFT_CTRL_PRESSED},
        {"\x1b[A", 0x26, 72, 0, ENHANCED_KEY},
        {"\x1bOD", 0x25, 75, 0, ENHANCED_KEY},
        {"\x1b[1;5D", 0x25, 75, 0, LEFT_CTRL_PRESSED | ENHANCED_KEY},
        {"\x1b[1;8A", 0x26, 72, 0, SHIFT_PRESSED | LEFT_ALT_PRESSED | LEFT_CTRL_PRESSED | ENHANCED_KEY},
        {"\x1b[3;2~", 0x2E, 83, 0, SHIFT_PRESSED | ENHANCED_KEY},
        {"\x1bOP", 0x70, 59, 0, 0},
        {"\x1b[24;2~", 0x7B, 88, 0, SHIFT_PRESSED},
        {"\x1bx", 'X', 45, 'x', LEFT_ALT_PRESSED},
        {"\x1b\r", VK_CODE_RETURN, 28, 13, LEFT_ALT_PRESSED},
        {"\xc3\xa9", 0, 0, 0xE9, 0},
    };
    for (const EventCase& c : cases) {
        SCOPED_TRACE(hex(c.bytes));
        std::vector<InputEvent> events = decode({c.bytes});
        ASSERT_EQ(events.size(), 2u);
        for (const InputEvent& event : events) {
            EXPECT_EQ(event.event_type, EVENT_KEY);
            EXPECT_EQ(event.key.virtual_key, c.virtual_key);
            EXPECT_EQ(event.key.scan_code, c.scan_code);
            EXPECT_EQ(event.key.character, c.character);
            EXPECT_EQ(event.key.control_state, c.control_state);
        }
        EXPECT_TRUE(events[0].key.key_down);
        EXPECT_FALSE(events[1].key.key_down);
    }
}

TEST(VtDecoderEvents, AnEscapeWaitsForTheTimeOutOrTheRestOfItsSequence) {
    vt_decoder_reset(true);
    vt_decoder_feed("\x1b", 1);
    EXPECT_TRUE(vt_decoder_has_partial());
    EXPECT_EQ(vt_decoder_event_count(), 0u);
    vt_decoder_feed("[", 1);
    EXPECT_TRUE(vt_decoder_has_partial());
    vt_decoder_feed("A", 1);
    EXPECT_FALSE(vt_decoder_has_partial());
    EXPECT_EQ(vt_decoder_event_count(), 2u);
}

TEST(VtDecoderEvents, TheCursorReportIsKeptApartFromKeysAroundIt) {
    vt_decoder_reset(true);
    vt_decoder_expect_cursor_report();
    const std::string bytes = "a\x1b[12;40Rb";
    vt_decoder_feed(bytes.data(), static_cast<uint32_t>(bytes.size()));
    int32_t row = 0;
    int32_t column = 0;
    ASSERT_TRUE(vt_decoder_take_cursor_report(&row, &column));
    EXPECT_EQ(row, 12);
    EXPECT_EQ(column, 40);
    EXPECT_FALSE(vt_decoder_take_cursor_report(&row, &column));
    std::vector<InputEvent> events = take_all();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].key.character, 'a');
    EXPECT_EQ(events[2].key.character, 'b');
}

TEST(VtDecoderEvents, RoomNeverLetsTheQueueOverflow) {
    vt_decoder_reset(true);
    std::string flood(VT_EVENT_CAPACITY * 2, 'x');
    uint32_t fed = 0;
    while (vt_decoder_room() > 0 && fed < flood.size()) {
        uint32_t piece = vt_decoder_room();
        vt_decoder_feed(flood.data() + fed, piece);
        fed += piece;
    }
    EXPECT_EQ(vt_decoder_event_count(), fed * 2);
    EXPECT_LE(vt_decoder_event_count(), VT_EVENT_CAPACITY);
}

// ---------------------------------------------------------------------------
// Key bytes, the whole way through the console services

struct KeyCase {
    std::string bytes;
    std::vector<int> keys;
};

void expect_keys(const std::vector<KeyCase>& cases, bool utf8 = true) {
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(hex(c.bytes));
        EXPECT_EQ(key_bytes({c.bytes}, utf8), c.keys);
    }
}

TEST(VtDecoderKeys, CharactersAndControlKeys) {
    expect_keys({
        {"a", {97}},
        {"Z", {90}},
        {"~", {126}},
        {" ", {32}},
        {"\r", {13}},
        {"\x7f", {8}},
        {"\x08", {8}},
        {"\t", {9}},
        {"\x1b", {27}},
        {"\x03", {3}},
        {"\x15", {21}},
        {"\x1a", {26}},
        {"\x1c", {28}},
    });
    EXPECT_EQ(key_bytes({std::string(1, '\0')}), (std::vector<int>{0, 3}));  // Ctrl+@
}

TEST(VtDecoderKeys, CursorAndEditingKeysInEveryCommonEncoding) {
    expect_keys({
        {"\x1b[A", {0, 72}},   {"\x1bOA", {0, 72}},   {"\x1b[B", {0, 80}},   {"\x1bOB", {0, 80}},
        {"\x1b[C", {0, 77}},   {"\x1bOC", {0, 77}},   {"\x1b[D", {0, 75}},   {"\x1bOD", {0, 75}},
        {"\x1b[H", {0, 71}},   {"\x1bOH", {0, 71}},   {"\x1b[1~", {0, 71}},  {"\x1b[7~", {0, 71}},
        {"\x1b[F", {0, 79}},   {"\x1bOF", {0, 79}},   {"\x1b[4~", {0, 79}},  {"\x1b[8~", {0, 79}},
        {"\x1b[2~", {0, 82}},  {"\x1b[3~", {0, 83}},  {"\x1b[5~", {0, 73}},  {"\x1b[6~", {0, 81}},
        {"\x1b[E", {0, 76}},   {"\x1b[G", {0, 76}},   {"\x1b[Z", {9}},
    });
}

TEST(VtDecoderKeys, FunctionKeysInEveryCommonEncoding) {
    expect_keys({
        {"\x1bOP", {0, 59}},   {"\x1bOQ", {0, 60}},   {"\x1bOR", {0, 61}},   {"\x1bOS", {0, 62}},
        {"\x1b[11~", {0, 59}}, {"\x1b[12~", {0, 60}}, {"\x1b[13~", {0, 61}}, {"\x1b[14~", {0, 62}},
        {"\x1b[[A", {0, 59}},  {"\x1b[[E", {0, 63}},  {"\x1b[15~", {0, 63}}, {"\x1b[17~", {0, 64}},
        {"\x1b[18~", {0, 65}}, {"\x1b[19~", {0, 66}}, {"\x1b[20~", {0, 67}}, {"\x1b[21~", {0, 68}},
        {"\x1b[23~", {0, 133}}, {"\x1b[24~", {0, 134}},
    });
}

TEST(VtDecoderKeys, XtermModifiersOnFunctionKeys) {
    // m = 1 + Shift 1 + Alt 2 + Ctrl 4.
    expect_keys({
        {"\x1b[1;2P", {0, 84}},  {"\x1b[1;5P", {0, 94}},  {"\x1b[1;3P", {0, 104}}, {"\x1b[1;7P", {0, 104}},
        {"\x1b[1;6P", {0, 94}},  {"\x1b[1;2R", {0, 86}},  {"\x1bO2P", {0, 84}},    {"\x1bO5S", {0, 97}},
        {"\x1b[15;2~", {0, 88}}, {"\x1b[15;5~", {0, 98}}, {"\x1b[15;3~", {0, 108}},
        {"\x1b[21;2~", {0, 93}}, {"\x1b[21;5~", {0, 103}}, {"\x1b[21;3~", {0, 113}},
        {"\x1b[23;2~", {0, 135}}, {"\x1b[23;5~", {0, 137}}, {"\x1b[23;3~", {0, 139}},
        {"\x1b[24;2~", {0, 136}}, {"\x1b[24;5~", {0, 138}}, {"\x1b[24;3~", {0, 140}},
    });
}

TEST(VtDecoderKeys, XtermModifiersOnCursorAndEditingKeys) {
    expect_keys({
        // Ctrl: the editor's word moves and deletions.
        {"\x1b[1;5D", {0, 115}}, {"\x1b[1;5C", {0, 116}}, {"\x1b[1;5H", {0, 119}}, {"\x1b[1;5F", {0, 117}},
        {"\x1b[1;5A", {0, 141}}, {"\x1b[1;5B", {0, 145}}, {"\x1b[5;5~", {0, 132}}, {"\x1b[6;5~", {0, 118}},
        {"\x1b[2;5~", {0, 146}}, {"\x1b[3;5~", {0, 147}}, {"\x1b[1;5E", {0, 143}}, {"\x1b[1;6D", {0, 115}},
        // Shift: the same codes as alone.
        {"\x1b[1;2D", {0, 75}},  {"\x1b[1;2H", {0, 71}},  {"\x1b[1;2F", {0, 79}},  {"\x1b[3;2~", {0, 83}},
        {"\x1b[2;2~", {0, 82}},
        // Alt.
        {"\x1b[1;3H", {0, 151}}, {"\x1b[1;3A", {0, 152}}, {"\x1b[5;3~", {0, 153}}, {"\x1b[1;3D", {0, 155}},
        {"\x1b[1;3C", {0, 157}}, {"\x1b[1;3F", {0, 159}}, {"\x1b[1;3B", {0, 160}}, {"\x1b[6;3~", {0, 161}},
        {"\x1b[2;3~", {0, 162}}, {"\x1b[3;3~", {0, 163}}, {"\x1b[1;9D", {0, 155}},
        // Alt as a leading ESC, as older terminals send it.
        {"\x1b\x1b[D", {0, 155}}, {"\x1b\x1bOP", {0, 104}},
        // rxvt: $ Shift, ^ Ctrl, @ Ctrl+Shift; a..d Shift, SS3 a..d Ctrl with the arrows.
        {"\x1b[3$", {0, 83}},    {"\x1b[2^", {0, 146}},   {"\x1b[7^", {0, 119}},   {"\x1b[8@", {0, 117}},
        {"\x1b[d", {0, 75}},     {"\x1bOd", {0, 115}},    {"\x1bOc", {0, 116}},
    });
}

TEST(VtDecoderKeys, AltAsAnEscapePrefix) {
    expect_keys({
        {"\x1bx", {0, 45}},
        {"\x1b" "a", {0, 30}},
        {"\x1b" "1", {0, 120}},
        {"\x1b=", {0, 131}},
        {"\x1b-", {0, 130}},
        {"\x1b/", {0, 164}},
        {"\x1b\r", {0, 166}},
        {"\x1b\x7f", {0, 14}},
        {"\x1b\t", {0, 15}},
        {"\x1b\x01", {0, 30}},  // Ctrl+Alt+A types no character
        // With Shift the console reports Shift besides Alt, and the character is typed.
        {"\x1b" "A", {65}},
        {"\x1b!", {33}},
        // Alt with a character outside ASCII: the character.
        {"\x1b\xc3\xa9", {233}},
    });
}

TEST(VtDecoderKeys, CharacterKeysWithModifiersInCsiForm) {
    expect_keys({
        {"\x1b[97;5u", {1}},         // Ctrl+A
        {"\x1b[97;3u", {0, 30}},     // Alt+A
        {"\x1b[13;3u", {0, 166}},    // Alt+Enter
        {"\x1b[27;5;13~", {10}},     // Ctrl+Enter
        {"\x1b[27;2;65~", {65}},     // Shift+A
        {"\x1b[127;5u", {127}},      // Ctrl+Backspace
        {"\x1b[233u", {233}},        // é
    });
}

TEST(VtDecoderKeys, KeypadInApplicationMode) {
    expect_keys({{"\x1bOM", {13}}, {"\x1bOp", {48}}, {"\x1bOy", {57}}, {"\x1bOk", {43}}, {"\x1bOm", {45}},
                 {"\x1bOj", {42}}, {"\x1bOo", {47}}, {"\x1bOn", {46}}});
}

TEST(VtDecoderKeys, Latin1InAUtf8Locale) {
    expect_keys({
        {"\xc3\xa9", {233}},
        {"\xc2\xa0", {160}},
        {"\xc3\xbf", {255}},
        {"caf\xc3\xa9!", {99, 97, 102, 233, 33}},
        {"\xe2\x82\xac", {}},      // the euro sign lies outside the code page
        {"\xc2\x80", {}},          // so do the C1 controls
        {"\xf0\x9f\x98\x80x", {120}},
        {"\xe0\x83\xa9", {}},      // a longer encoding than needed is refused
        {"\xc3x", {120}},          // a cut character is dropped, the byte after it stays
        {"\xa9\xff", {}},          // stray continuation and impossible bytes
    });
}

TEST(VtDecoderKeys, BytesPassThroughInOtherLocales) {
    expect_keys({{"\xe9", {233}}, {"\x80\xff", {128, 255}}, {"\xc3\xa9", {195, 169}}}, false);
}

TEST(VtDecoderKeys, UnknownAndMalformedSequencesAreSwallowedWhole) {
    expect_keys({
        {"\x1b[?1;2c", {}},            // a device-attributes answer
        {"\x1b[<0;10;5M", {}},         // an SGR mouse report
        {"\x1b[99~", {}},
        {"\x1b[1;5X", {}},
        {"\x1b[200~x\x1b[201~", {120}},  // bracketed paste marks
        {"\x1b[12;40R", {}},           // a cursor report nobody asked for
        {"\x1b[I\x1b[O", {}},          // focus in and out
        {"\x1b[1 q", {}},              // an intermediate byte
        {"\x1b[" + std::string(200, '1') + "A", {}},
        {"\x1b[1;5", {}},              // cut off by the time-out
        {"\x1bO1;", {}},
        {"\x1b[1;2\x03" "b", {3, 98}},   // a control byte cuts a sequence off and counts
        {"\x1b[1\x1b[A", {0, 72}},       // so does a new ESC
        {"\x1b[1;\xc3\xa9", {233}},
    });
}

TEST(VtDecoderKeys, SequencesSplitAcrossReads) {
    EXPECT_EQ(key_bytes({"\x1b", "[A"}), (std::vector<int>{0, 72}));
    EXPECT_EQ(key_bytes({"\x1b[1;", "5D"}), (std::vector<int>{0, 115}));
    EXPECT_EQ(key_bytes({"\x1b[2", "4;", "3~"}), (std::vector<int>{0, 140}));
    EXPECT_EQ(key_bytes({"\x1b", "x"}), (std::vector<int>{0, 45}));
    EXPECT_EQ(key_bytes({"\xc3", "\xa9"}), (std::vector<int>{233}));
    EXPECT_EQ(key_bytes({"a", "b\x1b", "O", "Pc"}), (std::vector<int>{97, 98, 0, 59, 99}));
}

TEST(VtDecoderKeys, TheEscTimeOutEndsWhatItInterrupts) {
    // ESC alone, then the rest after the time-out: Esc and two characters.
    vt_decoder_reset(true);
    scripted_reset();
    console_init();
    vt_decoder_feed("\x1b", 1);
    vt_decoder_flush();
    vt_decoder_feed("[A", 2);
    InputEvent event{};
    while (vt_decoder_take(&event)) {
        scripted_push_event(event);
    }
    std::vector<int> bytes;
    while (key_available()) {
        bytes.push_back(read_key());
    }
    EXPECT_EQ(bytes, (std::vector<int>{27, 91, 65}));

    // ESC [ and ESC O alone are what Alt+[ and Alt+O send.
    EXPECT_EQ(key_bytes({"\x1b["}), (std::vector<int>{0, 26}));
    EXPECT_EQ(key_bytes({"\x1bO"}), (std::vector<int>{79}));
    // ESC ESC: two presses of Esc; before a character, Esc and Alt with it.
    EXPECT_EQ(key_bytes({"\x1b\x1b"}), (std::vector<int>{27, 27}));
    EXPECT_EQ(key_bytes({"\x1b\x1bx"}), (std::vector<int>{27, 0, 45}));
    // A partial UTF-8 character is dropped.
    EXPECT_EQ(key_bytes({"\xe2\x82"}), (std::vector<int>{}));
}

TEST(VtDecoderKeys, SeveralKeysInOneRead) {
    EXPECT_EQ(key_bytes({"ab\x1b[Ac\x1b[1;5D\r"}), (std::vector<int>{97, 98, 0, 72, 99, 0, 115, 13}));
}

}  // namespace
