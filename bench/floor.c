/* floor.c - the least a line-input program can do, as the benchmark's lower bound.
 *
 * Prints the prompt and the value of NAME in one write, lets the terminal's own
 * line discipline echo and collect one line (no editing of the value, no cursor
 * control), and writes "SET NAME=" + value + line + CR LF to the file named by
 * its one argument. Built statically so that no dynamic loader runs before main.
 */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char text[8192];

/* Appends size bytes of data to text at *used, as far as they fit. */
static void append(size_t* used, const char* data, size_t size) {
    if (size > sizeof text - *used) size = sizeof text - *used;
    memcpy(text + *used, data, size);
    *used += size;
}

int main(int argc, char** argv) {
    if (argc < 2) return 3;
    const char* value = getenv("NAME");
    if (value == NULL) value = "";

    /* The prompt and the value in one write, as an editor's first paint would be. */
    size_t used = 0;
    append(&used, "Name: ", 6);
    append(&used, value, strlen(value));
    if (write(1, text, used) != (ssize_t)used) return 101;

    /* The result line: the value, then whatever the user typed up to Enter. */
    used = 0;
    append(&used, "SET NAME=", 9);
    append(&used, value, strlen(value));
    for (;;) {
        char key[256];
        ssize_t got = read(0, key, sizeof key);
        if (got <= 0) return 1;
        char* end = memchr(key, '\n', (size_t)got);
        append(&used, key, end ? (size_t)(end - key) : (size_t)got);
        if (end) break;
    }
    append(&used, "\r\n", 2);

    int file = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0) return 3;
    if (write(file, text, used) != (ssize_t)used) return 101;
    close(file);
    return 0;
}
