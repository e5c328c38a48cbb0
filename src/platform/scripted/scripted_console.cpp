// scripted_console.cpp - the in-memory platform back-end for tests: screen grid, cursor, event queue, files, failures.
#include "platform/scripted/scripted_console.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

namespace {

// Windows error codes the back-end reports on its own account.
constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND_CODE = 3;
constexpr uint32_t ERROR_SHARING_VIOLATION_CODE = 32;

// A planned failure of one operation.
struct FailurePlan {
    bool armed;
    int fail_at;  // the call number (since the reset) that fails first
    uint32_t error;
    bool sticky;
};

// A file in memory and whether a handle holds it open.
struct MemoryFile {
    std::string contents;
    bool open;
    bool char_device;
};

constexpr int OP_COUNT = 6;

// The console.
int grid_width = 80;
int grid_height = 25;
std::string grid;  // grid_width * grid_height cells, row by row
int cursor_x = 0;
int cursor_y = 0;
bool input_console = true;
bool output_console = true;
bool stdout_char_device = true;
uint32_t input_mode = 0x1F7;
ControlHandler control_handler = nullptr;

// Input.
std::deque<InputEvent> events;
std::deque<InputEvent> late_events;
std::string input_bytes;
size_t input_position = 0;
uint32_t input_chunk = 0;
std::string input_log;
int pause_calls = 0;
int waiting_pause_calls = 0;

// Output, environment, files, command line.
std::string stdout_record;
std::map<std::string, std::string> environment;  // keyed by the upper-cased name
std::map<std::string, MemoryFile> files;
std::map<FileHandle, std::string> open_handles;
FileHandle next_handle = 0x100;
bool command_line_set = false;
std::string command_line_text;
std::vector<std::string> arguments{"kestin"};
std::string module_path = "C:\\KESTIN\\KESTIN.EXE";
bool backslash_paths = true;
int stack_depth = 3;

// Failures.
int call_counts[OP_COUNT];
FailurePlan plans[OP_COUNT];

// The run in progress.
std::jmp_buf* active_run = nullptr;
int exit_status = 0;

// Ends the run in progress with status; outside a run there is nothing to return to.
[[noreturn]] void end_run(int status) {
    if (active_run == nullptr) {
        std::fprintf(stderr, "scripted console: process ended with %d outside scripted_run\n", status);
        std::abort();
    }
    exit_status = status;
    std::longjmp(*active_run, 1);
}

// Counts a call of op and answers whether it is planned to fail; error receives the code.
bool call_fails(ScriptedOp op, uint32_t* error) {
    int index = static_cast<int>(op);
    int number = ++call_counts[index];
    FailurePlan& plan = plans[index];
    if (!plan.armed) {
        return false;
    }
    bool fails = plan.sticky ? number >= plan.fail_at : number == plan.fail_at;
    if (!fails) {
        return false;
    }
    if (!plan.sticky) {
        plan.armed = false;
    }
    if (error != nullptr) {
        *error = plan.error;
    }
    return true;
}

std::string upper_name(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

// Moves the whole grid up one row: the top row is lost and the bottom row is blank.
void scroll_up() {
    grid.erase(0, static_cast<size_t>(grid_width));
    grid.append(static_cast<size_t>(grid_width), ' ');
}

// Moves the cursor to column 0 of the next row, scrolling when it is on the last row.
void next_row() {
    cursor_x = 0;
    if (cursor_y + 1 < grid_height) {
        ++cursor_y;
    } else {
        scroll_up();
    }
}

// Puts one written byte on the screen as the Windows console does with processed
// output and wrap at the end of the line.
void put_byte(char byte) {
    switch (byte) {
    case '\r':
        cursor_x = 0;
        return;
    case '\n':
        next_row();
        return;
    case '\b':
        if (cursor_x > 0) {
            --cursor_x;
        }
        return;
    case '\a':
        return;
    default:
        grid[static_cast<size_t>(cursor_y * grid_width + cursor_x)] = byte;
        if (++cursor_x == grid_width) {
            next_row();
        }
    }
}

InputEvent key_event(bool down, uint16_t virtual_key, uint16_t scan_code, uint8_t character,
                     uint32_t control_state) {
    InputEvent event{};
    event.event_type = EVENT_KEY;
    event.key.key_down = down;
    event.key.repeat_count = 1;
    event.key.virtual_key = virtual_key;
    event.key.scan_code = scan_code;
    event.key.character = character;
    event.key.control_state = control_state;
    return event;
}

// A key as a US keyboard reports it.
struct UsKey {
    uint16_t virtual_key;
    uint16_t scan_code;
    bool shift;
};

// Finds the key that types c on a US keyboard; false when no key does.
bool us_key_for(char c, UsKey* key) {
    static const char* const plain_row = "1234567890-=";
    static const char* const shifted_row = "!@#$%^&*()_+";
    static const uint16_t row_keys[12] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36,
                                          0x37, 0x38, 0x39, 0x30, 0xBD, 0xBB};
    // Letters in alphabetical order: their scan codes.
    static const uint8_t letter_scans[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                             49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
    struct Symbol {
        char plain;
        char shifted;
        uint16_t virtual_key;
        uint16_t scan_code;
    };
    static const Symbol symbols[] = {
        {'`', '~', 0xC0, 41}, {'[', '{', 0xDB, 26}, {']', '}', 0xDD, 27}, {'\\', '|', 0xDC, 43},
        {';', ':', 0xBA, 39}, {'\'', '"', 0xDE, 40}, {',', '<', 0xBC, 51}, {'.', '>', 0xBE, 52},
        {'/', '?', 0xBF, 53}, {' ', ' ', 0x20, 57},
    };
    if (c >= 'a' && c <= 'z') {
        *key = {static_cast<uint16_t>(c - 'a' + 'A'), letter_scans[c - 'a'], false};
        return true;
    }
    if (c >= 'A' && c <= 'Z') {
        *key = {static_cast<uint16_t>(c), letter_scans[c - 'A'], true};
        return true;
    }
    for (int i = 0; i < 12; ++i) {
        if (c == plain_row[i] || c == shifted_row[i]) {
            *key = {row_keys[i], static_cast<uint16_t>(i + 2), c == shifted_row[i]};
            return true;
        }
    }
    for (const Symbol& symbol : symbols) {
        if (c == symbol.plain || c == symbol.shifted) {
            *key = {symbol.virtual_key, symbol.scan_code, c != symbol.plain};
            return true;
        }
    }
    return false;
}

// Queues a press and release of a modifier-wrapped key: modifier down, key down, key up, modifier up.
void push_with_modifier(uint16_t modifier_key, uint16_t modifier_scan, uint32_t modifier_state,
                        uint16_t virtual_key, uint16_t scan_code, uint8_t character) {
    events.push_back(key_event(true, modifier_key, modifier_scan, 0, modifier_state));
    events.push_back(key_event(true, virtual_key, scan_code, character, modifier_state));
    events.push_back(key_event(false, virtual_key, scan_code, character, modifier_state));
    events.push_back(key_event(false, modifier_key, modifier_scan, 0, 0));
}

}  // namespace

// ---------------------------------------------------------------------------
// Test interface

void scripted_reset(int width, int height, int x, int y) {
    grid_width = width;
    grid_height = height;
    grid.assign(static_cast<size_t>(width * height), ' ');
    cursor_x = x;
    cursor_y = y;
    input_console = true;
    output_console = true;
    stdout_char_device = true;
    input_mode = 0x1F7;
    control_handler = nullptr;
    events.clear();
    late_events.clear();
    input_bytes.clear();
    input_position = 0;
    input_chunk = 0;
    input_log.clear();
    pause_calls = 0;
    waiting_pause_calls = 0;
    stdout_record.clear();
    environment.clear();
    files.clear();
    open_handles.clear();
    next_handle = 0x100;
    command_line_set = false;
    command_line_text.clear();
    arguments = {"kestin"};
    module_path = "C:\\KESTIN\\KESTIN.EXE";
    backslash_paths = true;
    stack_depth = 3;
    for (int i = 0; i < OP_COUNT; ++i) {
        call_counts[i] = 0;
        plans[i] = FailurePlan{false, 0, 0, false};
    }
}

void scripted_set_input_is_console(bool is_console) { input_console = is_console; }

void scripted_set_output_is_console(bool is_console) {
    output_console = is_console;
    stdout_char_device = is_console;
}

void scripted_set_stdout_is_char_device(bool is_char_device) { stdout_char_device = is_char_device; }

void scripted_set_input_bytes(const std::string& bytes) {
    input_bytes = bytes;
    input_position = 0;
}

void scripted_set_input_chunk(uint32_t max_bytes) { input_chunk = max_bytes; }

size_t scripted_pending_input_bytes() { return input_bytes.size() - input_position; }

void scripted_push_event(const InputEvent& event) { events.push_back(event); }

void scripted_push_late_event(const InputEvent& event) { late_events.push_back(event); }

void scripted_push_key(uint16_t virtual_key, uint16_t scan_code, uint8_t character,
                       uint32_t control_state) {
    events.push_back(key_event(true, virtual_key, scan_code, character, control_state));
    events.push_back(key_event(false, virtual_key, scan_code, character, control_state));
}

void scripted_push_named_key(ScriptedKey key, uint32_t control_state) {
    struct Named {
        uint16_t virtual_key;
        uint16_t scan_code;
        uint8_t character;
        bool enhanced;
    };
    static const Named named[] = {
        {0x24, 71, 0, true},  {0x23, 79, 0, true},  {0x25, 75, 0, true},  {0x27, 77, 0, true},
        {0x26, 72, 0, true},  {0x28, 80, 0, true},  {0x21, 73, 0, true},  {0x22, 81, 0, true},
        {0x2D, 82, 0, true},  {0x2E, 83, 0, true},  {0x70, 59, 0, false}, {0x71, 60, 0, false},
        {0x72, 61, 0, false}, {0x73, 62, 0, false}, {0x74, 63, 0, false}, {0x75, 64, 0, false},
        {0x76, 65, 0, false}, {0x77, 66, 0, false}, {0x78, 67, 0, false}, {0x79, 68, 0, false},
        {0x7A, 87, 0, false}, {0x7B, 88, 0, false}, {0x0D, 28, 13, false}, {0x08, 14, 8, false},
        {0x1B, 1, 27, false}, {0x09, 15, 9, false},
    };
    const Named& k = named[static_cast<int>(key)];
    scripted_push_key(k.virtual_key, k.scan_code, k.character,
                      control_state | (k.enhanced ? ENHANCED_KEY : 0u));
}

void scripted_type(const std::string& text) {
    for (char c : text) {
        uint8_t byte = static_cast<uint8_t>(c);
        UsKey key{};
        if (c == '\r' || c == '\n') {
            scripted_push_key(0x0D, 28, 13);
        } else if (c == '\b') {
            scripted_push_key(0x08, 14, 8);
        } else if (c == '\t') {
            scripted_push_key(0x09, 15, 9);
        } else if (c == 27) {
            scripted_push_key(0x1B, 1, 27);
        } else if (byte >= 1 && byte <= 26) {
            UsKey letter{};
            us_key_for(static_cast<char>('a' + byte - 1), &letter);
            push_with_modifier(VK_CODE_CONTROL, 29, LEFT_CTRL_PRESSED, letter.virtual_key,
                               letter.scan_code, byte);
        } else if (us_key_for(c, &key)) {
            if (key.shift) {
                push_with_modifier(VK_CODE_SHIFT, 42, SHIFT_PRESSED, key.virtual_key, key.scan_code,
                                   byte);
            } else {
                scripted_push_key(key.virtual_key, key.scan_code, byte);
            }
        } else {
            scripted_push_key(0, 0, byte);
        }
    }
}

size_t scripted_pending_events() { return events.size() + late_events.size(); }

std::string scripted_row(int y) {
    if (y < 0 || y >= grid_height) {
        return std::string();
    }
    return grid.substr(static_cast<size_t>(y * grid_width), static_cast<size_t>(grid_width));
}

std::string scripted_screen() {
    std::string screen;
    for (int y = 0; y < grid_height; ++y) {
        screen += scripted_row(y);
        screen += '\n';
    }
    return screen;
}

int scripted_cursor_x() { return cursor_x; }
int scripted_cursor_y() { return cursor_y; }

const std::string& scripted_stdout() { return stdout_record; }

int scripted_pause_count() { return pause_calls; }
int scripted_waiting_pause_count() { return waiting_pause_calls; }

const std::string& scripted_input_log() { return input_log; }

void scripted_set_env(const std::string& name, const char* value) {
    if (value == nullptr) {
        environment.erase(upper_name(name));
    } else {
        environment[upper_name(name)] = value;
    }
}

bool scripted_file_exists(const std::string& name) { return files.count(name) != 0; }

std::string scripted_file_contents(const std::string& name) {
    auto found = files.find(name);
    return found == files.end() ? std::string() : found->second.contents;
}

void scripted_put_file(const std::string& name, const std::string& contents) {
    MemoryFile& file = files[name];
    file.contents = contents;
}

void scripted_set_char_device(const std::string& name) { files[name].char_device = true; }

bool scripted_file_is_open(const std::string& name) {
    auto found = files.find(name);
    return found != files.end() && found->second.open;
}

void scripted_set_command_line(const std::string& text) {
    command_line_set = true;
    command_line_text = text;
}

void scripted_set_arguments(const std::vector<std::string>& list) {
    command_line_set = false;
    arguments = list;
}

void scripted_set_module_path(const std::string& path) { module_path = path; }

void scripted_set_backslash_paths(bool backslash) { backslash_paths = backslash; }

void scripted_fail(ScriptedOp op, int nth, uint32_t error, bool sticky) {
    int index = static_cast<int>(op);
    plans[index] = FailurePlan{true, call_counts[index] + nth, error, sticky};
}

int scripted_call_count(ScriptedOp op) { return call_counts[static_cast<int>(op)]; }

ControlHandler scripted_control_handler() { return control_handler; }

uint32_t scripted_input_mode() { return input_mode; }

void scripted_set_input_mode(uint32_t mode) { input_mode = mode; }

void scripted_set_stack_depth(int depth) { stack_depth = depth; }

int scripted_run(void (*body)()) {
    std::jmp_buf run;
    std::jmp_buf* outer = active_run;
    active_run = &run;
    if (setjmp(run) != 0) {
        active_run = outer;
        return exit_status;
    }
    body();
    active_run = outer;
    return -1;
}

// ---------------------------------------------------------------------------
// The platform seam

void platform_start(int, char**) {}

void platform_exit(uint32_t status) { end_run(static_cast<int>(status)); }

bool platform_console_open() { return input_console; }

bool platform_output_is_console() { return output_console; }

void platform_set_control_handler(ControlHandler handler) { control_handler = handler; }

uint32_t platform_get_input_mode() { return input_mode; }

void platform_set_input_mode(uint32_t mode) { input_mode = mode; }

bool platform_screen_info(ScreenInfo* info) {
    if (!output_console) {
        return false;
    }
    info->width = static_cast<int16_t>(grid_width);
    info->height = static_cast<int16_t>(grid_height);
    info->cursor_x = static_cast<int16_t>(cursor_x);
    info->cursor_y = static_cast<int16_t>(cursor_y);
    return true;
}

void platform_set_cursor(int16_t x, int16_t y) {
    if (!output_console || x < 0 || y < 0 || x >= grid_width || y >= grid_height) {
        return;
    }
    cursor_x = x;
    cursor_y = y;
}

// The count of waiting events; events queued as late arrive right after it is taken.
uint32_t platform_input_event_count() {
    input_log += 'n';
    if (!input_console) {
        return 0;
    }
    uint32_t count = static_cast<uint32_t>(events.size());
    while (!late_events.empty()) {
        events.push_back(late_events.front());
        late_events.pop_front();
    }
    return count;
}

bool platform_read_input_event(InputEvent* event) {
    input_log += 'r';
    if (!input_console || events.empty()) {
        return false;
    }
    *event = events.front();
    events.pop_front();
    return true;
}

// Counts the pause; a pause that may wait while no input will ever come ends the run.
void platform_pause(bool may_wait) {
    input_log += may_wait ? 'P' : 'p';
    ++pause_calls;
    if (!may_wait) {
        return;
    }
    ++waiting_pause_calls;
    bool exhausted = input_console ? events.empty() && late_events.empty()
                                   : input_position >= input_bytes.size();
    if (exhausted) {
        end_run(SCRIPTED_STARVED);
    }
}

int32_t platform_read_input_bytes(char* buffer, uint32_t size) {
    input_log += 'b';
    if (call_fails(ScriptedOp::input_read, nullptr)) {
        return -1;
    }
    size_t left = input_bytes.size() - input_position;
    size_t count = size < left ? size : left;
    if (input_chunk != 0 && count > input_chunk) {
        count = input_chunk;
    }
    std::memcpy(buffer, input_bytes.data() + input_position, count);
    input_position += count;
    return static_cast<int32_t>(count);
}

bool platform_write_stdout(const char* data, uint32_t size) {
    if (call_fails(ScriptedOp::stdout_write, nullptr)) {
        return false;
    }
    stdout_record.append(data, size);
    if (output_console) {
        for (uint32_t i = 0; i < size; ++i) {
            put_byte(data[i]);
        }
    }
    return true;
}

bool platform_stdout_is_char_device() { return stdout_char_device; }

// As GetEnvironmentVariableA: 0 for a missing or empty variable, the length when the
// value fits with its zero, otherwise the size needed. A buffer too small is filled
// with '#' so that a caller that uses it anyway shows up.
uint32_t platform_get_env(const char* name, char* buffer, uint32_t size) {
    auto found = environment.find(upper_name(name));
    if (found == environment.end() || found->second.empty()) {
        return 0;
    }
    const std::string& value = found->second;
    uint32_t length = static_cast<uint32_t>(value.size());
    if (buffer != nullptr && length < size) {
        std::memcpy(buffer, value.c_str(), length + 1);
        return length;
    }
    if (buffer != nullptr && size > 0) {
        std::memset(buffer, '#', size - 1);
        buffer[size - 1] = '\0';
    }
    return length + 1;
}

// Creates or empties a file in memory. An empty name fails as the path not found,
// and a file held open fails as a sharing violation, as on Windows.
FileHandle platform_file_create(const char* name, uint32_t* error) {
    uint32_t code = 0;
    if (call_fails(ScriptedOp::file_create, &code)) {
        *error = code;
        return 0;
    }
    if (name[0] == '\0') {
        *error = ERROR_PATH_NOT_FOUND_CODE;
        return 0;
    }
    MemoryFile& file = files[name];
    if (file.open && !file.char_device) {
        *error = ERROR_SHARING_VIOLATION_CODE;
        return 0;
    }
    if (!file.char_device) {
        file.contents.clear();
    }
    file.open = true;
    FileHandle handle = next_handle++;
    open_handles[handle] = name;
    return handle;
}

bool platform_file_is_char_device(FileHandle handle) {
    auto found = open_handles.find(handle);
    return found != open_handles.end() && files[found->second].char_device;
}

bool platform_file_write(FileHandle handle, const char* data, uint32_t size) {
    if (call_fails(ScriptedOp::file_write, nullptr)) {
        return false;
    }
    auto found = open_handles.find(handle);
    if (found == open_handles.end()) {
        return false;
    }
    files[found->second].contents.append(data, size);
    return true;
}

void platform_file_close(FileHandle handle) {
    if (call_fails(ScriptedOp::file_close, nullptr)) {
        return;
    }
    auto found = open_handles.find(handle);
    if (found == open_handles.end()) {
        return;
    }
    auto file = files.find(found->second);
    if (file != files.end()) {
        file->second.open = false;
    }
    open_handles.erase(found);
}

// Deletes a file in memory; a missing file fails as not found, and a file held
// open fails as a sharing violation, as on Windows.
bool platform_file_delete(const char* name, uint32_t* error) {
    uint32_t code = 0;
    if (call_fails(ScriptedOp::file_delete, &code)) {
        *error = code;
        return false;
    }
    auto found = files.find(name);
    if (found == files.end()) {
        *error = ERROR_FILE_NOT_FOUND_CODE;
        return false;
    }
    if (found->second.open) {
        *error = ERROR_SHARING_VIOLATION_CODE;
        return false;
    }
    files.erase(found);
    return true;
}

bool platform_uses_backslash_paths() { return backslash_paths; }

const char* platform_command_line() { return command_line_set ? command_line_text.c_str() : nullptr; }

int32_t platform_argument_count() { return static_cast<int32_t>(arguments.size()); }

const char* platform_argument(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(arguments.size())) {
        return nullptr;
    }
    return arguments[static_cast<size_t>(index)].c_str();
}

void platform_module_path(char* buffer, uint32_t size) {
    if (size == 0) {
        return;
    }
    size_t count = module_path.size() < size - 1 ? module_path.size() : size - 1;
    std::memcpy(buffer, module_path.data(), count);
    buffer[count] = '\0';
}

int32_t platform_stack_trace(void** frames, int32_t max, int32_t skip) {
    int32_t stored = 0;
    for (int32_t frame = skip; frame < stack_depth && stored < max; ++frame) {
        frames[stored++] = reinterpret_cast<void*>(SCRIPTED_IMAGE_BASE + 0x1100 + 0x100 * static_cast<uintptr_t>(frame));
    }
    return stored;
}

uint32_t platform_image_offset(const void* address) {
    uintptr_t value = reinterpret_cast<uintptr_t>(address);
    if (value >= SCRIPTED_IMAGE_BASE && value < SCRIPTED_IMAGE_BASE + 0x100000) {
        return static_cast<uint32_t>(value - SCRIPTED_IMAGE_BASE);
    }
    return SCRIPTED_CODE_OFFSET;
}
