// The demo host's log: timed lines on stdout and in the main window's list,
// wrapped to its width there, and the one-line failures that end the demo.
#pragma once

#include <windows.h>

#include <string>

// Log lines carry the milliseconds since this tick, taken at the start.
extern DWORD Start_Tick;

// A bad capture or module exits as the other tools' bad input does; the
// demo failing to run here exits 1; a wrong command line (or an unwritable
// standard output) exits 2.
constexpr int Input_Error_Status = 2;
constexpr int Failure_Status = 1;
constexpr int Usage_Status = 2;

// One line: on stdout and, once the list is there, in the window.
void Log(const char *format, ...);

// "pictolandrum-demo: REASON" on stderr, then exit with `status`.
[[noreturn]] void Fail(const std::string &reason, int status = Input_Error_Status);

// The main window's list takes the log from now on, in a fixed font.
void Show_Log_In(HWND list);
// Measures how many characters a line of the list holds, after it has been
// laid out anew.
void Fit_Log_To_List();
