// The position file: the window's place, kept from one run to the next in
// "Pictolandrum.INI" beside the module. Two lines, "WINDOWX=%d;" and
// "WINDOWY=%d;". Platform-free: only the C runtime's file and string
// routines, so the reader is tested and fuzzed natively.
#pragma once

#include <cstdio>

constexpr int Settings_Line_Size = 256; // fgets buffer: at most 255 characters a line
constexpr int Settings_Value_Size = 64; // a value: at most 63 characters and a NUL

// Reads Window_X and Window_Y from the file; a missing or unreadable file,
// or no path (null or empty), leaves them as they are.
void Read_Settings(const char *path);

// Reads from an open file (text mode) until a line that yields neither key
// or the end of the file. Does not close the file.
void Read_Settings_File(FILE *file);

// Takes one line (a NUL-terminated piece of at most 255 characters) and
// returns 1 if it set Window_X or Window_Y, 0 if it yields neither.
int Read_Settings_Line(const char *line);

// Replaces the file with the two lines; does nothing if it can't be opened
// or there is no path.
void Write_Settings(const char *path);
