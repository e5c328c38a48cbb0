// batch_file.h - the output batch file: created before editing, written as one line
// through a 256-byte buffer, then closed, or deleted when nothing is to be set.
#pragma once

// Creates the file named by settings.output_file (emptying an existing one) and
// opens it for writing; false when it cannot be created.
bool open_batch_file();

// Writes the statement "SET name=value" and CR LF to the open file.
void write_batch_line(const char* name, const char* value);

// Hands the buffer's rest to the system and closes the file.
void close_batch_file();

// Deletes the file by the name it was opened with.
void delete_batch_file();
