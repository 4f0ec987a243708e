// The position file's reader and writer, natively: the line rules of the
// reader (spaces, terminators, key order, the line that ends the reading),
// over-long values, clamped numbers, and what the writer puts out; and
// where the session keeps the file for module paths of every length.
#include "core/decoder_setup.h"
#include "core/plugin_session.h"
#include "core/plugin_state.h"
#include "core/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// Reads `text` as a position file, starting from the default position.
void Read_Text(const std::string &text) {
  Window_X = Default_Window_X;
  Window_Y = Default_Window_Y;
  FILE *file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs(text.c_str(), file);
  std::rewind(file);
  Read_Settings_File(file);
  std::fclose(file);
}

void Expect_Position(int32_t x, int32_t y) {
  EXPECT_EQ(x, Window_X.load());
  EXPECT_EQ(y, Window_Y.load());
}

std::string File_Text(const std::string &path) {
  std::string text;
  FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return "<missing>";
  for (int c; (c = std::fgetc(file)) != EOF;)
    text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

std::string Temporary_Path() {
  return ::testing::TempDir() + "settings_test_" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".INI";
}

TEST(SettingsReader, ReadsBothKeysInEitherOrderAndDropsSpaces) {
  Read_Text("WINDOWX=17;\nWINDOWY=-5;\n");
  Expect_Position(17, -5);
  Read_Text("WINDOWY=1;\nWINDOWX=2;\n");
  Expect_Position(2, 1);
  Read_Text("WINDOWX= 1 2 ;\n");
  Expect_Position(12, Default_Window_Y);
  Read_Text("  junk WINDOWX=7; more\n"); // the key anywhere in the line
  Expect_Position(7, Default_Window_Y);
}

TEST(SettingsReader, TerminatorIsTheFirstSemicolonElseTheNewline) {
  Read_Text(";WINDOWX=5;\nWINDOWY=7;\n"); // ';' before the key: nothing, reading ends
  Expect_Position(Default_Window_X, Default_Window_Y);
  Read_Text("WINDOWY=7;WINDOWX=5;\n"); // X stands behind the terminator
  Expect_Position(Default_Window_X, 7);
  Read_Text("WINDOWX=5 WINDOWY=7;\n"); // Y inside X's value: only X, from its digits
  Expect_Position(5, Default_Window_Y);
  Read_Text("WINDOWX=5\nWINDOWY=6\n"); // no ';': the newline ends the value
  Expect_Position(5, 6);
  Read_Text("WINDOWX=;\n");
  Expect_Position(0, Default_Window_Y);
}

TEST(SettingsReader, LineYieldingNeitherKeyEndsTheReading) {
  Read_Text("\nWINDOWX=1;\n");
  Expect_Position(Default_Window_X, Default_Window_Y);
  Read_Text("WINDOWX=1;\n\nWINDOWY=2;\n");
  Expect_Position(1, Default_Window_Y);
  Read_Text("windowy=2;\nWINDOWY=3;\n"); // keys keep their case
  Expect_Position(Default_Window_X, Default_Window_Y);
  Read_Text("WINDOWX=1;\nWINDOWY=2"); // an unterminated last line is not used
  Expect_Position(1, Default_Window_Y);
}

TEST(SettingsReader, LongLinesAndValues) {
  // More than 63 characters after the spaces are dropped: the first 63 count.
  Read_Text("WINDOWX=" + std::string(70, '0') + "42;\n");
  Expect_Position(0, Default_Window_Y);
  Read_Text("WINDOWX=4" + std::string(100, ' ') + "2;\n");
  Expect_Position(42, Default_Window_Y);
  // A line past 255 characters is read in pieces: the first piece has no
  // terminator and ends the reading.
  Read_Text("WINDOWX=1" + std::string(300, ' ') + ";\nWINDOWY=2;\n");
  Expect_Position(Default_Window_X, Default_Window_Y);
}

TEST(SettingsReader, NumbersOutOfRangeAreClamped) {
  Read_Text("WINDOWX=99999999999;\nWINDOWY=-99999999999;\n");
  Expect_Position(INT32_MAX, INT32_MIN);
  Read_Text("WINDOWX=2147483647;\nWINDOWY=-2147483648;\n");
  Expect_Position(INT32_MAX, INT32_MIN);
  Read_Text("WINDOWX=12abc;\nWINDOWY=abc;\n"); // atoi's reading: leading digits, else 0
  Expect_Position(12, 0);
}

TEST(SettingsFile, MissingFileOrPathLeavesTheValues) {
  Window_X = 1;
  Window_Y = 2;
  Read_Settings("/nonexistent-folder/Pictolandrum.INI");
  Read_Settings("");
  Read_Settings(nullptr);
  Expect_Position(1, 2);
  Write_Settings("/nonexistent-folder/Pictolandrum.INI");
  Write_Settings(nullptr);
}

TEST(SettingsFile, WritesTwoLinesAndReadsThemBack) {
  const std::string path = Temporary_Path();
  Window_X = Default_Window_X;
  Window_Y = Default_Window_Y;
  Write_Settings(path.c_str());
  EXPECT_EQ("WINDOWX=320;\nWINDOWY=320;\n", File_Text(path));
  Window_X = INT32_MIN;
  Window_Y = -7;
  Write_Settings(path.c_str());
  EXPECT_EQ("WINDOWX=-2147483648;\nWINDOWY=-7;\n", File_Text(path));
  Window_X = 0;
  Window_Y = 0;
  Read_Settings(path.c_str());
  Expect_Position(INT32_MIN, -7);
  std::remove(path.c_str());
}

// A module path of `length` characters whose file name has `name_length`:
// a folder that does not exist (nothing is ever read or written there),
// then folders of up to 99 characters, then "Pictolandrum....dll".
std::string Module_Path(std::size_t length, std::size_t name_length) {
  const std::size_t directory_length = length - 1 - name_length;
  std::string path = "/nonexistent-pictolandrum";
  while (path.size() < directory_length) {
    const std::size_t rest = directory_length - path.size();
    std::size_t part = std::min<std::size_t>(rest, 100); // a backslash and a name
    if (rest - part == 1)
      --part;
    path += "\\" + std::string(part - 1, 'd');
  }
  const std::string name = "Pictolandrum" + std::string(name_length - 16, '-') + ".dll";
  return path + "\\" + name;
}

// The folder before the path's last backslash.
std::string Directory_Of(const std::string &path) {
  return path.substr(0, path.rfind('\\'));
}

// Where the plain plug-in keeps its position for a module path: it reads
// the path into 256 bytes (its first 255 characters and a NUL where it is
// longer), takes the folder before the last backslash and the file there,
// which the narrow file functions open if its path is at most 259
// characters long; "" where it keeps none.
constexpr std::size_t Plain_Buffer_Size = 256;
constexpr std::size_t Longest_Open_Path = 259;
std::string Plain_Settings_Path(const std::string &module_path) {
  const std::string file =
      Directory_Of(module_path.substr(0, Plain_Buffer_Size - 1)) + "\\" + Settings_File_Name;
  return file.size() <= Longest_Open_Path ? file : "";
}

// Where the session keeps it: the module's path as LibMain hands it over
// (whole if it fits Module_Path_Size, else cut), then On_Start.
std::string Session_Settings_Path(const std::string &module_path) {
  Reset_Core_State();
  const bool whole = module_path.size() < static_cast<std::size_t>(Module_Path_Size);
  Session_Record_Module_Path(module_path.substr(0, Module_Path_Size - 1).c_str(), whole);
  Session_Start(nullptr, 0, nullptr, nullptr);
  Session_Exit();
  return Plugin_Session.Settings_Path;
}

// Module paths around the lengths where a position file stops fitting:
// 255 (the plain plug-in's buffer), 259 (the longest path the file
// functions open), a folder of 242 (the longest whose file fits) and of
// 255 (the plain plug-in's buffer cuts its last backslash off), and
// paths longer than our buffer. The plain plug-in keeps the position in
// the module's own folder (Own), in a folder above it (Above: its buffer
// cut the path inside the folder's name) or nowhere (None); we keep it
// wherever the file's path fits, and never in a folder above.
enum class Kept { Own, Above, None };
TEST(SettingsFile, KeptBesideTheModuleWhereverItsPathFits) {
  const std::size_t Shipped_Name = sizeof "Pictolandrum.dll" - 1;
  const std::size_t Longest_Name = Longest_File_Name;
  const std::size_t Longest_Path = Module_Path_Size - 1;
  struct Case {
    std::size_t Length, Name_Length;
    Kept Plain;
    bool Ours;
  } const cases[] = {
      {100, Shipped_Name, Kept::Own, true},
      {254, Shipped_Name, Kept::Own, true},
      {255, Shipped_Name, Kept::Own, true},
      {256, Shipped_Name, Kept::Own, true}, // the plain plug-in's name is cut, its folder whole
      {257, Shipped_Name, Kept::Own, true},
      {258, Shipped_Name, Kept::Own, true},
      {259, Shipped_Name, Kept::Own, true},
      {260, Shipped_Name, Kept::None, false}, // the file's path is 260 characters
      {261, Shipped_Name, Kept::None, false},
      {271, Shipped_Name, Kept::None, false},  // a folder of 254
      {272, Shipped_Name, Kept::Above, false}, // a folder of 255
      {400, Shipped_Name, Kept::Above, false},
      {256, 40, Kept::Own, true},                    // a longer name: a folder of 215
      {300, 57, Kept::Own, true},                    // a folder of 242
      {301, 57, Kept::None, false},                  // a folder of 243
      {Longest_Path, Longest_Name, Kept::Own, true}, // a folder of 242 and the longest name
      // Cut, its folder unknown (a name longer than any file system has).
      {Longest_Path + 1, Longest_Name + 1, Kept::Own, false},
      {Longest_Path + 1, Shipped_Name, Kept::Above, false},
      {2000, Shipped_Name, Kept::Above, false},
  };
  for (const Case &c : cases) {
    const std::string path = Module_Path(c.Length, c.Name_Length);
    ASSERT_EQ(c.Length, path.size());
    const std::string own = Directory_Of(path) + "\\" + Settings_File_Name;
    const std::string plain = Plain_Settings_Path(path);
    const std::string ours = Session_Settings_Path(path);
    SCOPED_TRACE("a module path of " + std::to_string(c.Length) + " characters, its name " +
                 std::to_string(c.Name_Length));
    EXPECT_EQ(c.Plain, plain.empty() ? Kept::None : plain == own ? Kept::Own : Kept::Above);
    EXPECT_EQ(c.Ours ? own : "", ours);
    if (plain == own && c.Length <= Longest_Path) {
      EXPECT_EQ(plain, ours) << "the plain plug-in keeps it here";
    }
  }
}

} // namespace
