// Checks for the test programs that run under Wine (gtest is not built for
// MinGW). A failed check prints file:line with the expected and the actual
// value and ends the program with a non-zero code; a scenario that cannot
// run yet ends it with Skip_Exit_Code.
#pragma once

#include <cstdint>

constexpr int Skip_Exit_Code = 77;

void Check_True(bool condition, const char *text, const char *file, int line);
void Check_Equal(int64_t expected, int64_t actual, const char *text, const char *file, int line);
void Check_Bytes(const void *expected, const void *actual, int size, const char *text,
                 const char *file, int line);
[[noreturn]] void Skip_Scenario(const char *reason);

#define CHECK(condition) Check_True((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(expected, actual)                                                                 \
  Check_Equal(static_cast<int64_t>(expected), static_cast<int64_t>(actual), #actual, __FILE__,     \
              __LINE__)
#define CHECK_BYTES(expected, actual, size)                                                        \
  Check_Bytes((expected), (actual), static_cast<int>(size), #actual, __FILE__, __LINE__)

// A scenario by name, and the table main() dispatches on.
struct Scenario {
  const char *Name;
  void (*Run)();
};
int Run_Scenario(const Scenario *scenarios, int count, int argc, char **argv);
