// Checks for the test programs that run under Wine (gtest is not built for
// MinGW). A failed check prints file:line with the expected and the actual
// value and ends the program with a non-zero code; a scenario that cannot
// run yet ends it with Skip_Exit_Code.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int Skip_Exit_Code = 77;

void Check_True(bool condition, const char *text, const char *file, int line);
void Check_Equal(int64_t expected, int64_t actual, const char *text, const char *file, int line);
void Check_Bytes(const void *expected, const void *actual, int size, const char *text,
                 const char *file, int line);
void Check_Text(const char *expected, const char *actual, const char *text, const char *file,
                int line);
[[noreturn]] void Skip_Scenario(const char *reason);

#define CHECK(condition) Check_True((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(expected, actual)                                                                 \
  Check_Equal(static_cast<int64_t>(expected), static_cast<int64_t>(actual), #actual, __FILE__,     \
              __LINE__)
#define CHECK_BYTES(expected, actual, size)                                                        \
  Check_Bytes((expected), (actual), static_cast<int>(size), #actual, __FILE__, __LINE__)
// Two NUL-terminated texts, equal character for character.
#define CHECK_TEXT(expected, actual) Check_Text((expected), (actual), #actual, __FILE__, __LINE__)

// The portal window among this thread's top-level windows (the one holding
// the first entry button), or null; a second such window fails the check.
HWND Portal_Window();

// A scenario by name, and the dispatch on the one argument that names it
// (exit code 0 when it passed; 2 and the list of names for a wrong usage).
struct Scenario {
  const char *Name;
  void (*Run)();
};
int Run_Scenario(const Scenario *scenarios, int count, int argc, char **argv);

// main() of a scenario program, over the {"name", function} pairs given.
#define SCENARIO_MAIN(...)                                                                         \
  int main(int argc, char **argv) {                                                                \
    static const Scenario scenarios[] = {__VA_ARGS__};                                             \
    return Run_Scenario(scenarios, sizeof scenarios / sizeof scenarios[0], argc, argv);            \
  }
