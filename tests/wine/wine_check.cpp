// The Wine test programs' checks, the portal window finder and scenario
// dispatch.
#include "tests/wine/wine_check.h"

#include "module/resource_ids.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

[[noreturn]] static void Fail() {
  std::fflush(stdout);
  std::exit(1);
}

void Check_True(bool condition, const char *text, const char *file, int line) {
  if (condition)
    return;
  std::printf("%s:%d: check failed: %s\n", file, line, text);
  Fail();
}

void Check_Equal(int64_t expected, int64_t actual, const char *text, const char *file, int line) {
  if (expected == actual)
    return;
  std::printf("%s:%d: %s: expected %lld (0x%llx), actual %lld (0x%llx)\n", file, line, text,
              static_cast<long long>(expected), static_cast<unsigned long long>(expected),
              static_cast<long long>(actual), static_cast<unsigned long long>(actual));
  Fail();
}

void Check_Bytes(const void *expected, const void *actual, int size, const char *text,
                 const char *file, int line) {
  const auto *want = static_cast<const unsigned char *>(expected);
  const auto *have = static_cast<const unsigned char *>(actual);
  for (int i = 0; i < size; ++i) {
    if (want[i] == have[i])
      continue;
    std::printf("%s:%d: %s: byte %d: expected 0x%02x, actual 0x%02x\n", file, line, text, i,
                want[i], have[i]);
    Fail();
  }
}

void Check_Text(const char *expected, const char *actual, const char *text, const char *file,
                int line) {
  if (std::strcmp(expected, actual) == 0)
    return;
  std::printf("%s:%d: %s: expected \"%s\", actual \"%s\"\n", file, line, text, expected, actual);
  Fail();
}

namespace {

HWND Found_Portal_Window = nullptr;
int Portal_Windows_Found = 0;

BOOL CALLBACK Look_For_Portal_Window(HWND window, LPARAM) {
  if (GetDlgItem(window, First_Entry_Button_Id) != nullptr) {
    Found_Portal_Window = window;
    ++Portal_Windows_Found;
  }
  return TRUE;
}

} // namespace

HWND Portal_Window() {
  Found_Portal_Window = nullptr;
  Portal_Windows_Found = 0;
  EnumThreadWindows(GetCurrentThreadId(), Look_For_Portal_Window, 0);
  Check_True(Portal_Windows_Found <= 1, "at most one portal window", __FILE__, __LINE__);
  return Found_Portal_Window;
}

void Skip_Scenario(const char *reason) {
  std::printf("skipped: %s\n", reason);
  std::fflush(stdout);
  std::exit(Skip_Exit_Code);
}

int Run_Scenario(const Scenario *scenarios, int count, int argc, char **argv) {
  for (int i = 0; i < count && argc == 2; ++i) {
    if (std::strcmp(scenarios[i].Name, argv[1]) != 0)
      continue;
    scenarios[i].Run();
    std::printf("%s: passed\n", argv[1]);
    std::fflush(stdout);
    return 0;
  }
  std::printf("usage: %s SCENARIO\n", argc > 0 ? argv[0] : "program");
  for (int i = 0; i < count; ++i)
    std::printf("  %s\n", scenarios[i].Name);
  return 2;
}
