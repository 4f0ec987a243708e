// The position file's reader and writer.
//
// Each line is read on its own. Its terminator is the first ';' in it, or
// without one the first '\n'; a line with neither has no terminator. A line
// holding "WINDOWX=" before its terminator sets Window_X from the characters
// between the two, spaces dropped; otherwise the same with "WINDOWY=". A line
// that yields neither ends the reading, so the file is taken up to the first
// line we do not understand.
//
// Choices where the format leaves room:
// - A value of more than 63 characters (spaces dropped) is cut to its first
//   63; the rest of it is ignored.
// - A number beyond the range of a 32-bit int is clamped to that range, so
//   "WINDOWX=99999999999;" gives the largest position, never a wrapped one.
#include "core/settings.h"

#include "core/plugin_state.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char Key_X[] = "WINDOWX=";
constexpr char Key_Y[] = "WINDOWY=";
constexpr int Key_Length = sizeof Key_X - 1;
constexpr int Settings_Number_Size = 12; // "-2147483648" and a NUL
static_assert(sizeof Key_X == sizeof Key_Y, "keys of one length");

// The line's terminator: first ';', else first '\n', else null.
const char *Find_Terminator(const char *line) {
  const char *terminator = std::strchr(line, ';');
  return terminator != nullptr ? terminator : std::strchr(line, '\n');
}

// Like atoi (leading blanks, a sign, digits), but out-of-range numbers give
// the nearest 32-bit value instead of undefined behaviour.
int32_t Value_To_Int(const char *value) {
  const long number = std::strtol(value, nullptr, 10);
  if (number > INT32_MAX)
    return INT32_MAX;
  if (number < INT32_MIN)
    return INT32_MIN;
  return static_cast<int32_t>(number);
}

// The characters in [from, to) without their spaces, cut to 63, as a number.
int32_t Read_Value(const char *from, const char *to) {
  char value[Settings_Value_Size];
  int length = 0;
  for (const char *at = from; at < to && length < Settings_Value_Size - 1; ++at)
    if (*at != ' ')
      value[length++] = *at;
  value[length] = '\0';
  return Value_To_Int(value);
}

// Reads the value into *value if the line holds `key` before its
// terminator; 1 if it does.
int Read_Key(const char *line, const char *terminator, const char *key, int32_t *value) {
  const char *found = std::strstr(line, key);
  if (found == nullptr || terminator == nullptr || terminator <= found)
    return 0;
  *value = Read_Value(found + Key_Length, terminator);
  return 1;
}

// "KEY<value>;\n". The number is formatted here rather than by fprintf, so
// the module uses the C runtime's plain stream routines only.
void Write_Setting(FILE *file, const char *key, int32_t value) {
  char digits[Settings_Number_Size];
  char *at = digits + sizeof digits;
  *--at = '\0';
  // The magnitude in 32 unsigned bits, which hold INT32_MIN's too; 64-bit
  // division would pull the runtime's division routines into the module.
  uint32_t rest = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    *--at = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (value < 0)
    *--at = '-';
  std::fputs(key, file);
  std::fputs(at, file);
  std::fputs(";\n", file);
}

// The file at `path` opened in text mode with `mode`; null for no path.
FILE *Open_Settings(const char *path, const char *mode) {
  return path != nullptr && path[0] != '\0' ? std::fopen(path, mode) : nullptr;
}

} // namespace

int Read_Settings_Line(const char *line) {
  const char *terminator = Find_Terminator(line);
  int32_t value = 0;
  if (Read_Key(line, terminator, Key_X, &value)) {
    Window_X = value;
    return 1;
  }
  if (!Read_Key(line, terminator, Key_Y, &value))
    return 0;
  Window_Y = value;
  return 1;
}

void Read_Settings_File(FILE *file) {
  char line[Settings_Line_Size];
  while (std::fgets(line, sizeof line, file) != nullptr)
    if (!Read_Settings_Line(line))
      return;
}

void Read_Settings(const char *path) {
  FILE *file = Open_Settings(path, "r");
  if (file == nullptr)
    return;
  Read_Settings_File(file);
  std::fclose(file);
}

void Write_Settings(const char *path) {
  FILE *file = Open_Settings(path, "w");
  if (file == nullptr)
    return;
  Write_Setting(file, Key_X, Window_X);
  Write_Setting(file, Key_Y, Window_Y);
  std::fclose(file);
}
