// console_screen.cpp - test-only Windows program that writes what the console window shows to a file.
//
//   console_screen.exe dump FILE            writes the screen once and ends
//   console_screen.exe watch FILE STOPFILE  writes the screen each time it changes, until STOPFILE exists
//
// It reads the screen buffer of the console it runs in (CONOUT$), so it sees what
// another program in the same console wrote. The file holds a line "size W H", a
// line "cursor X Y" (0-based cell) and then the buffer's rows from the top, each
// without its trailing blanks, down to the last row that holds text or the cursor.
// The watch mode replaces the file in one rename, so a reader never sees half of it.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The longest time the watch mode keeps going when no stop file appears.
constexpr DWORD WATCH_LIMIT_MS = 180000;

// How many rows below the cursor are read: enough for a line that wraps over several rows.
constexpr int ROWS_BELOW_CURSOR = 40;

// The screen as text in the file's format; empty when the console cannot be read.
std::string read_screen(HANDLE console) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) {
        return std::string();
    }
    const int width = info.dwSize.X;
    const int height = info.dwSize.Y;
    // Rows far below the cursor hold nothing of interest, and each row read is a call to the console.
    const int rows_wanted = info.dwCursorPosition.Y + 1 + ROWS_BELOW_CURSOR;
    const int row_limit = height < rows_wanted ? height : rows_wanted;
    std::vector<std::string> rows(static_cast<size_t>(row_limit > 0 ? row_limit : 0));
    int last_row = info.dwCursorPosition.Y;
    std::string cells(static_cast<size_t>(width), ' ');
    for (int y = 0; y < row_limit; ++y) {
        DWORD read = 0;
        COORD start = {0, static_cast<SHORT>(y)};
        if (!ReadConsoleOutputCharacterA(console, &cells[0], static_cast<DWORD>(width), start, &read)) {
            read = 0;
        }
        std::string row(cells.data(), read);
        size_t end = row.find_last_not_of(" \0", std::string::npos, 2);
        row.resize(end == std::string::npos ? 0 : end + 1);
        if (!row.empty() && y > last_row) {
            last_row = y;
        }
        rows[static_cast<size_t>(y)] = row;
    }
    char header[96];
    std::snprintf(header, sizeof header, "size %d %d\r\ncursor %d %d\r\n", width, height,
                  info.dwCursorPosition.X, info.dwCursorPosition.Y);
    std::string text = header;
    for (int y = 0; y <= last_row && y < row_limit; ++y) {
        text += rows[static_cast<size_t>(y)];
        text += "\r\n";
    }
    return text;
}

// Writes text to name, replacing the file in one step through a temporary file.
bool write_file(const char* name, const std::string& text) {
    std::string temporary = std::string(name) + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size() && MoveFileExA(temporary.c_str(), name, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (std::strcmp(argv[1], "dump") != 0 && std::strcmp(argv[1], "watch") != 0) ||
        (std::strcmp(argv[1], "watch") == 0 && argc < 4)) {
        std::fprintf(stderr, "usage: console_screen dump FILE | watch FILE STOPFILE\n");
        return 2;
    }
    HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "console_screen: no console\n");
        return 1;
    }
    if (std::strcmp(argv[1], "dump") == 0) {
        return write_file(argv[2], read_screen(console)) ? 0 : 1;
    }
    std::string shown;
    DWORD started = GetTickCount();
    while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES && GetTickCount() - started < WATCH_LIMIT_MS) {
        std::string screen = read_screen(console);
        if (screen != shown && write_file(argv[2], screen)) {
            shown = screen;
        }
        Sleep(5);
    }
    return 0;
}
