// Tests of the extended key translation and the Alt+keypad composition.
#include "console/keys.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

namespace {

using CodeMap = std::map<int, int>;

// Adds scan codes first..last mapped to code, code + 1, ... to map.
void add_range(CodeMap& map, int first, int last, int code) {
    for (int scan = first; scan <= last; ++scan) {
        map[scan] = code + (scan - first);
    }
}

CodeMap alt_table() {
    CodeMap map;
    add_range(map, 2, 13, 120);
    map[28] = 166;
    map[53] = 164;
    add_range(map, 59, 68, 104);
    const int keypad[][2] = {{71, 151}, {72, 152}, {73, 153}, {75, 155}, {77, 157},
                             {79, 159}, {80, 160}, {81, 161}, {82, 162}, {83, 163}};
    for (const auto& pair : keypad) {
        map[pair[0]] = pair[1];
    }
    map[87] = 139;
    map[88] = 140;
    return map;
}

CodeMap ctrl_table() {
    CodeMap map;
    map[15] = 148;
    map[53] = 149;
    map[55] = 150;
    add_range(map, 59, 68, 94);
    const int keypad[][2] = {{71, 119}, {72, 141}, {73, 132}, {74, 142}, {75, 115},
                             {76, 143}, {77, 116}, {79, 117}, {80, 145}, {81, 118},
                             {82, 146}, {83, 147}};
    for (const auto& pair : keypad) {
        map[pair[0]] = pair[1];
    }
    map[87] = 137;
    map[88] = 138;
    return map;
}

CodeMap shift_table() {
    CodeMap map;
    add_range(map, 59, 68, 84);
    map[87] = 135;
    map[88] = 136;
    return map;
}

CodeMap plain_table() {
    CodeMap map;
    map[87] = 133;
    map[88] = 134;
    return map;
}

void reset_composition() {
    alt_code_active = false;
    alt_code_value = 0;
}

// Every scan code 0..255 under every control state that selects one table: the
// listed codes where the table lists the scan code, the scan code itself elsewhere.
TEST(RemapScanCode, EveryScanCodeUnderEveryModifierCombination) {
    const uint8_t locks[] = {0x00, NUMLOCK_ON, SCROLLLOCK_ON, CAPSLOCK_ON,
                             NUMLOCK_ON | SCROLLLOCK_ON | CAPSLOCK_ON};
    struct Table {
        const char* name;
        CodeMap codes;
        std::vector<uint8_t> states;
    };
    const Table tables[] = {
        {"Alt", alt_table(),
         {RIGHT_ALT_PRESSED, LEFT_ALT_PRESSED, RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED,
          LEFT_ALT_PRESSED | LEFT_CTRL_PRESSED, RIGHT_ALT_PRESSED | RIGHT_CTRL_PRESSED,
          LEFT_ALT_PRESSED | SHIFT_PRESSED,
          RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED | SHIFT_PRESSED}},
        {"Ctrl", ctrl_table(),
         {RIGHT_CTRL_PRESSED, LEFT_CTRL_PRESSED, RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED,
          LEFT_CTRL_PRESSED | SHIFT_PRESSED, RIGHT_CTRL_PRESSED | SHIFT_PRESSED}},
        {"Shift", shift_table(), {SHIFT_PRESSED}},
        {"none", plain_table(), {0}},
    };
    for (const Table& table : tables) {
        for (uint8_t state : table.states) {
            for (uint8_t lock : locks) {
                uint8_t control = static_cast<uint8_t>(state | lock);
                for (int scan = 0; scan < 256; ++scan) {
                    auto listed = table.codes.find(scan);
                    int expected = listed == table.codes.end() ? scan : listed->second;
                    ASSERT_EQ(remap_scan_code(static_cast<uint8_t>(scan), control, 0), expected)
                        << table.name << " table, control state 0x" << std::hex << int(control)
                        << std::dec << ", scan code " << scan;
                }
            }
        }
    }
    EXPECT_FALSE(alt_code_active);
}

TEST(RemapScanCode, CtrlKeypadTableInIndexOrder) {
    const uint8_t expected[13] = {119, 141, 132, 142, 115, 143, 116, 78, 117, 145, 118, 146, 147};
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(ctrl_keypad_codes[i], expected[i]) << "index " << i;
    }
}

// The named cases a user meets: function keys in all four tables and the precedence.
TEST(RemapScanCode, FunctionKeysAndPrecedence) {
    struct Case {
        uint8_t scan;
        uint8_t state;
        uint8_t code;
    };
    const Case cases[] = {
        {59, 0, 59},   {59, SHIFT_PRESSED, 84},   {59, LEFT_CTRL_PRESSED, 94},  {59, LEFT_ALT_PRESSED, 104},
        {68, 0, 68},   {68, SHIFT_PRESSED, 93},   {68, RIGHT_CTRL_PRESSED, 103}, {68, RIGHT_ALT_PRESSED, 113},
        {87, 0, 133},  {87, SHIFT_PRESSED, 135},  {87, LEFT_CTRL_PRESSED, 137}, {87, LEFT_ALT_PRESSED, 139},
        {88, 0, 134},  {88, SHIFT_PRESSED, 136},  {88, LEFT_CTRL_PRESSED, 138}, {88, LEFT_ALT_PRESSED, 140},
        {59, LEFT_ALT_PRESSED | LEFT_CTRL_PRESSED, 104},   // Alt wins over Ctrl
        {59, LEFT_CTRL_PRESSED | SHIFT_PRESSED, 94},       // Ctrl wins over Shift
        {78, LEFT_CTRL_PRESSED, 78},                       // Ctrl with keypad +
        {74, LEFT_ALT_PRESSED, 74}, {76, LEFT_ALT_PRESSED, 76}, {78, LEFT_ALT_PRESSED, 78},
        {75, LEFT_CTRL_PRESSED, 115}, {77, LEFT_CTRL_PRESSED, 116},
        {79, LEFT_CTRL_PRESSED, 117}, {71, LEFT_CTRL_PRESSED, 119},
        {71, SHIFT_PRESSED, 71}, {83, SHIFT_PRESSED, 83},  // Shift leaves the cursor keys alone
        {30, LEFT_ALT_PRESSED, 30},                         // Alt+A gives the letter's scan code
        {28, LEFT_ALT_PRESSED, 166},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(remap_scan_code(c.scan, c.state, 0), c.code)
            << "scan " << int(c.scan) << " state 0x" << std::hex << int(c.state);
    }
}

// One step of a composition: a keypad digit pressed with Alt, or another key pressed
// with Alt (its code is checked), or the release of Alt (its handed-out code is checked).
struct Step {
    enum { digit, key, release } kind;
    int value;     // the digit, or the key's scan code
    int expected;  // the code remap_scan_code or take_alt_code returns
};

void run_steps(const std::vector<Step>& steps) {
    reset_composition();
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(i);
        switch (step.kind) {
        case Step::digit: {
            // Keypad digits 0..9 have the scan codes of Ins, End, Down, PgDn, Left, 5,
            // Right, Home, Up, PgUp; with Alt they give those keys' Alt codes.
            const uint8_t digit_scans[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
            uint8_t code = remap_scan_code(digit_scans[step.value], LEFT_ALT_PRESSED | NUMLOCK_ON,
                                           static_cast<uint16_t>(VK_CODE_NUMPAD0 + step.value));
            EXPECT_EQ(code, step.expected);
            break;
        }
        case Step::key:
            EXPECT_EQ(remap_scan_code(static_cast<uint8_t>(step.value), LEFT_ALT_PRESSED, 0x70),
                      step.expected);
            break;
        case Step::release:
            EXPECT_EQ(take_alt_code(), step.expected);
            break;
        }
    }
}

TEST(AltComposition, DigitsComposeACodeHandedOutAtTheRelease) {
    run_steps({{Step::digit, 6, 157}, {Step::digit, 5, 76}, {Step::release, 0, 65}});
    EXPECT_FALSE(alt_code_active);
    EXPECT_EQ(alt_code_value, 0);
}

TEST(AltComposition, ArithmeticWrapsModulo256) {
    run_steps({{Step::digit, 3, 161}, {Step::digit, 0, 162}, {Step::digit, 0, 162},
               {Step::release, 0, 44}});
}

TEST(AltComposition, AValueOfZeroStaysActiveAndContinues) {
    run_steps({{Step::digit, 2, 160}, {Step::digit, 5, 76}, {Step::digit, 6, 157},
               {Step::release, 0, 0}});
    EXPECT_TRUE(alt_code_active);
    EXPECT_EQ(alt_code_value, 0);
    // The next composition starts from 0 and hands out its code.
    Step more[] = {{Step::digit, 6, 157}, {Step::digit, 6, 157}};
    for (const Step& step : more) {
        EXPECT_EQ(remap_scan_code(77, LEFT_ALT_PRESSED, static_cast<uint16_t>(VK_CODE_NUMPAD0 + step.value)),
                  step.expected);
    }
    EXPECT_EQ(take_alt_code(), 66);
}

TEST(AltComposition, OtherKeysWithAltDoNotDisturbIt) {
    run_steps({{Step::digit, 6, 157}, {Step::key, 59, 104}, {Step::digit, 5, 76},
               {Step::release, 0, 65}});
}

TEST(AltComposition, ReleaseWithoutDigitsGivesNothing) {
    run_steps({{Step::release, 0, 0}});
    EXPECT_FALSE(alt_code_active);
}

TEST(AltComposition, OnlyKeypadDigitsWithAltJoin) {
    reset_composition();
    // Ctrl or no modifier with a keypad digit: no composition.
    remap_scan_code(77, LEFT_CTRL_PRESSED, VK_CODE_NUMPAD0 + 6);
    remap_scan_code(77, 0, VK_CODE_NUMPAD0 + 6);
    // Alt with the keypad's 6 while Num Lock is off arrives as Right (0x27).
    EXPECT_EQ(remap_scan_code(77, LEFT_ALT_PRESSED, 0x27), 157);
    // The virtual key is compared as a whole: a high byte makes it no digit.
    remap_scan_code(77, LEFT_ALT_PRESSED, 0x0166);
    remap_scan_code(77, LEFT_ALT_PRESSED, VK_CODE_NUMPAD9 + 1);
    remap_scan_code(77, LEFT_ALT_PRESSED, VK_CODE_NUMPAD0 - 1);
    EXPECT_FALSE(alt_code_active);
    EXPECT_EQ(take_alt_code(), 0);
    // The right Alt key composes as well; 0 and 9 are the ends of the digit range.
    remap_scan_code(73, RIGHT_ALT_PRESSED, VK_CODE_NUMPAD9);
    remap_scan_code(82, RIGHT_ALT_PRESSED, VK_CODE_NUMPAD0);
    EXPECT_EQ(take_alt_code(), 90);
}

}  // namespace
