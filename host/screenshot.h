// A screenshot of part of the screen, written as a 24-bit BMP file (the demo
// wrapper turns it into a PNG).
#pragma once

#include <windows.h>

// Copies `area` (screen coordinates) from the screen into `path`; false if
// the copy or the write failed.
bool Write_Screenshot(const RECT &area, const char *path);
