// The channel rule and the button rule, case by case.
#include "core/host_rules.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Host_Rules, ChannelChangeStartsOrStopsTheFilter) {
  struct Case {
    bool Running;
    uint16_t Transport_Stream, Service;
    Filter_Action Expected;
  } const cases[] = {
      {false, 4, 300, Filter_Action::Start}, // stopped, onto the portal stream
      {true, 4, 300, Filter_Action::Keep},   // running and staying there
      {false, 7, 208, Filter_Action::Keep},  // stopped elsewhere: nothing to start
      {true, 7, 300, Filter_Action::Stop},   // running, off the stream, no keeping service
      {true, 7, 18, Filter_Action::Keep},    {true, 7, 208, Filter_Action::Keep},
      {true, 7, 209, Filter_Action::Keep},   {true, 7, 210, Filter_Action::Keep},
      {true, 7, 27, Filter_Action::Keep},    {true, 0, 0, Filter_Action::Stop},
      {true, 7, 211, Filter_Action::Stop},   {true, 7, 513, Filter_Action::Stop},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Channel_Filter_Action(c.Running, c.Transport_Stream, c.Service), c.Expected)
        << "running " << c.Running << ", ts " << c.Transport_Stream << ", service " << c.Service;
}

TEST(Host_Rules, EntryButtonsAndNextPortal) {
  struct Case {
    int32_t Count, Index, Transport_Stream, Service;
    bool Re_Arms, Switches;
  } const cases[] = {
      {0, 0, 4, 18, true, true},     // the default entry of a fresh table
      {0, 1, 0, 0, false, false},    // beyond the count: ignored
      {5, 4, 9, 1004, true, true},   // within the count
      {5, 5, 0, 0, true, false},     // at the count: acts, but has no ids
      {5, 6, 9, 1006, false, false}, // beyond the count even with ids
      {17, 16, 9, 1016, true, true}, {3, 0, 4, 0, true, false}, // no service id
      {3, 0, 0, 27, true, false},                               // no transport stream
  };
  for (const Case &c : cases) {
    Portal_Entry entry{};
    std::strcpy(entry.Name, "Kino Eins");
    entry.Transport_Stream_Id = c.Transport_Stream;
    entry.Service_Id = c.Service;
    const Entry_Button_Outcome outcome = Entry_Button_Press(c.Count, c.Index, entry);
    EXPECT_EQ(outcome.Re_Arms, c.Re_Arms) << "count " << c.Count << ", index " << c.Index;
    EXPECT_EQ(outcome.Switches, c.Switches) << "count " << c.Count << ", index " << c.Index;
    if (c.Switches) {
      EXPECT_EQ(outcome.Request.Lead, Switch_Lead_Word);
      EXPECT_EQ(outcome.Request.Service_Id, static_cast<uint32_t>(c.Service));
      EXPECT_EQ(outcome.Request.Transport_Stream_Id, static_cast<uint32_t>(c.Transport_Stream));
      EXPECT_EQ(outcome.Request.Trail, Switch_Trail_Word);
    }
  }
  const int32_t after[Portal_Total] = {1, 2, 3, 0};
  for (int32_t portal = 0; portal < Portal_Total; ++portal)
    EXPECT_EQ(Next_Portal(portal), after[portal]);
}

} // namespace
