// The position file's reader and writer, natively: the line rules of the
// reader (spaces, terminators, key order, the line that ends the reading),
// over-long values, clamped numbers, and what the writer puts out.
#include "core/plugin_state.h"
#include "core/settings.h"

#include <gtest/gtest.h>

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

} // namespace
