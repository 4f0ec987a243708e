// The table's defaults and its reset.
#include "tests/unit/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(PortalTable, ResetRestoresDefaultsButKeepsCounts) {
  Arm_Decoder(2);
  Feed(Portal_Payload(2, Numbered_Entries(6)));
  ASSERT_EQ(Portal_Count[2], 6);
  Current_Portal = 3;

  Reset_Portal_Table();
  EXPECT_EQ(Current_Portal, 0);
  EXPECT_EQ(Portal_Count[2], 6) << "the count survives a reset";
  const int services[Portal_Total] = {18, 513, 27, 0};
  const char *names[Portal_Total] = {"Direct Portal", "RedLight", "Buli/CL Portal", "F1/Sport 2"};
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Entry first = Copy_Portal_Entry(portal, 0);
    EXPECT_EQ(Name_Of(first), names[portal]);
    EXPECT_EQ(first.Transport_Stream_Id, 4);
    EXPECT_EQ(first.Service_Id, services[portal]);
    EXPECT_EQ(first.Descriptor_Length, 0);
    for (int i = 1; i < Portal_Entry_Total; ++i) {
      const Portal_Entry entry = Copy_Portal_Entry(portal, i);
      EXPECT_EQ(Name_Of(entry), "");
      EXPECT_EQ(entry.Transport_Stream_Id | entry.Service_Id | entry.Descriptor_Length, 0);
    }
  }
}

TEST(PortalTable, ReadsOutsideTheTableGiveNothing) {
  Arm_Decoder(0);
  for (const auto &at : {std::pair{-1, 0}, {4, 0}, {0, -1}, {0, 17}}) {
    const Portal_Entry entry = Copy_Portal_Entry(at.first, at.second);
    EXPECT_EQ(Name_Of(entry), "");
    EXPECT_EQ(entry.Service_Id, 0);
  }
  EXPECT_EQ(Read_Portal_Count(-1), 0);
  EXPECT_EQ(Read_Portal_Count(Portal_Total), 0);
}

} // namespace
