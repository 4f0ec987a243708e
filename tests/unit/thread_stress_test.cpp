// Threads as in the host: two deliver filter data at once, one every
// portal's section and one other bytes, and the other drives the session as
// the window thread does (">>", channel changes, refresh ticks, the window
// reopening away from the portal stream and resetting the table) and reads
// entries as the captions and buttons do. Built with ThreadSanitizer, which
// must stay quiet; every entry and every row the window thread copies must
// be one a writer wrote whole.
#include "core/decoder_setup.h"
#include "core/plugin_decoder.h"
#include "core/plugin_session.h"
#include "core/plugin_state.h"
#include "core/portal_table.h"
#include "stream/eit_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Decoded entries satisfy service id - transport stream id == Id_Gap.
constexpr int Id_Gap = 1990;

Byte_Vector Stream_Of_All_Portals() {
  Byte_Vector stream;
  for (int portal = 0; portal < Portal_Total; ++portal) {
    std::vector<Portal_Listing_Entry> entries;
    for (int i = 0; i < 3 + 4 * portal; ++i) {
      const int ts = 10 + portal * 100 + i;
      entries.push_back({static_cast<uint16_t>(ts), static_cast<uint16_t>(ts + Id_Gap),
                         "Kanal " + std::to_string(ts)});
    }
    const Byte_Vector section = Build_Eit_Section(Portal_Source_Section(portal, entries));
    stream.push_back(0x00);
    stream.insert(stream.end(), section.begin(), section.end());
    stream.resize(stream.size() + 700, Stuffing_Byte);
  }
  return stream;
}

bool Whole_Entry(int portal, const Portal_Entry &entry) {
  const std::string name(entry.Name, strnlen(entry.Name, sizeof entry.Name));
  if (entry.Transport_Stream_Id == 0 && entry.Service_Id == 0)
    return name.empty();
  const Portal_Constants &defaults = Portal_Constants_Table[portal];
  if (name == defaults.Default_Name)
    return entry.Transport_Stream_Id == defaults.Default_Transport_Stream_Id &&
           entry.Service_Id == defaults.Default_Service_Id;
  return entry.Service_Id - entry.Transport_Stream_Id == Id_Gap &&
         name == "Kanal " + std::to_string(entry.Transport_Stream_Id);
}

// A row copied whole is one writer's: the reset's (the default entry alone)
// or a decode's (the portal's full list, 3 + 4 * portal entries).
bool Whole_Row(int portal, const Portal_Row &row) {
  const bool reset = std::strcmp(row[0].Name, Portal_Constants_Table[portal].Default_Name) == 0;
  const int named = reset ? 1 : 3 + 4 * portal;
  for (int i = 0; i < Portal_Entry_Total; ++i)
    if (!Whole_Entry(portal, row[i]) || (row[i].Name[0] != 0) != (i < named))
      return false;
  return true;
}

// Where a portal shows only its default entry (after each reset here), the
// decoder may show a failing copy: the second thread's bytes in it make
// entries no list of the stream holds. The decoder's own account names those
// lists; each is pending from its judgement, before the table is written,
// until it is kept here, after.
struct Failing_Lists {
  std::atomic<int> Pending{0};
  std::mutex Lock;
  std::vector<Decoded_List> Kept;
};

void Keep_Failing_Lists(const Decoder_Event &event, void *context) {
  Failing_Lists &lists = *static_cast<Failing_Lists *>(context);
  if (event.Step == Decoder_Step::Judged) {
    const auto way = static_cast<Judgement>(event.Value);
    if (Judgement_Decodes(way) && !Judgement_Checked(way))
      ++lists.Pending;
  } else if (event.Step == Decoder_Step::Decoded) {
    // A scan ends at its one decode; a sound copy behind may have won over
    // the failing one judged before it.
    std::lock_guard<std::mutex> hold(lists.Lock);
    if (!Judgement_Checked(event.List->Way))
      lists.Kept.push_back(*event.List);
    lists.Pending = 0;
  }
}

bool Same(const Portal_Entry &a, const Portal_Entry &b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The failing copies' lists kept, once none is pending.
std::unique_lock<std::mutex> Hold_Kept(Failing_Lists &lists) {
  for (auto waited = std::chrono::steady_clock::now();
       lists.Pending > 0 && std::chrono::steady_clock::now() - waited < std::chrono::seconds(5);)
    std::this_thread::yield();
  return std::unique_lock<std::mutex>(lists.Lock);
}

bool Failing_Entry(int portal, const Portal_Entry &entry, Failing_Lists &lists) {
  const auto hold = Hold_Kept(lists);
  for (const Decoded_List &list : lists.Kept)
    for (int j = 0; j < list.Count && list.Portal == portal; ++j)
      if (Same(entry, list.Entries[j]))
        return true;
  return false;
}

// A row a failing copy's list wrote whole: the list itself where it had two
// entries or more; a single one over entry 0 of a row written whole.
bool Failing_Row(int portal, const Portal_Row &row, Failing_Lists &lists) {
  const auto hold = Hold_Kept(lists);
  auto under = [&](const Portal_Row &tail) {
    for (int i = 1; i < Portal_Entry_Total; ++i)
      if (!Same(row[i], tail[i]))
        return false;
    return true;
  };
  for (const Decoded_List &list : lists.Kept) {
    if (list.Portal != portal)
      continue;
    if (list.Count >= 2 && under(list.Entries) && Same(row[0], list.Entries[0]))
      return true;
    if (list.Count != 1 || !Same(row[0], list.Entries[0]))
      continue;
    bool reset_under = true, list_under = true; // the row it wrote over: the reset's or a decode's
    for (int i = 1; i < Portal_Entry_Total; ++i) {
      reset_under = reset_under && Whole_Entry(portal, row[i]) && row[i].Name[0] == 0;
      list_under = list_under && Whole_Entry(portal, row[i]) &&
                   (row[i].Name[0] != 0) == (i < 3 + 4 * portal);
    }
    if (reset_under || list_under)
      return true;
    for (const Decoded_List &other : lists.Kept)
      if (other.Portal == portal && other.Count >= 2 && under(other.Entries))
        return true;
  }
  return false;
}

// The window opens (as the shell does on the session's order).
void Open_Window() {
  ASSERT_EQ(Session_Toggle_Window().Window, Window_Order::Open);
  Session_Window_Init();
  ASSERT_EQ(Session_Window_Created(true).Window, Window_Order::None);
}

TEST(ThreadStress, WindowAndDataThreadsNeverSeeHalfAnEntry) {
  Reset_Core_State();
  // A folder that does not exist: the session's position file is never written.
  Session_Record_Module_Path("/nonexistent-pictolandrum/folder\\Pictolandrum.dll", true);
  Session_Start(nullptr, 0, nullptr, nullptr);
  Channel_Record keeping{}; // off the portal stream, a service that keeps the filter
  keeping.Transport_Stream_Id = 7;
  keeping.Service_Id = 208;
  Session_Channel_Change(keeping);
  Open_Window();
  Filter_Running = 1;
  Failing_Lists failing;
  Plugin_Decoder_Listener = {Keep_Failing_Lists, &failing};
  const Byte_Vector stream = Stream_Of_All_Portals();
  std::atomic<bool> done{false};
  std::atomic<int> decodes{0};

  std::thread data_thread([&] {
    while (!done) {
      for (std::size_t at = 0; at < stream.size(); at += Ts_Payload_Size) {
        const std::size_t n = std::min<std::size_t>(Ts_Payload_Size, stream.size() - at);
        const int before = Plugin_Decoder.Scan_Idle;
        On_Section_Data(0, static_cast<int32_t>(n), stream.data() + at);
        if (before == 0 && Plugin_Decoder.Scan_Idle == 1)
          ++decodes;
      }
    }
  });
  // A second filter thread on the same callback: bytes that differ from call
  // to call, so whatever of them lands between the first thread's pieces of
  // a section makes a copy that fails its CRC in a way no other copy does.
  std::atomic<int> other_calls{0};
  std::thread other_thread([&] {
    uint32_t state = 12345;
    uint8_t chunk[Ts_Payload_Size];
    while (!done) {
      for (uint8_t &byte : chunk) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
      }
      On_Section_Data(0, sizeof chunk, chunk);
      ++other_calls;
    }
  });

  int torn = 0, step = 0;
  for (; step < 20000; ++step) {
    if (step % 3 == 0)
      Session_Next_Portal();
    if (step % 97 == 0) { // closed and opened again: the table back to its defaults
      Session_Toggle_Window();
      Open_Window();
    }
    if (step % 5 == 0)
      Session_Channel_Change(keeping);
    Session_Refresh_Tick();
    const int portal = Current_Portal;
    const int count = Read_Portal_Count(portal);
    EXPECT_GE(count, 0);
    EXPECT_LE(count, Portal_Entry_Total);
    for (int i = 0; i < Portal_Entry_Total; ++i) {
      const Portal_Entry entry = Copy_Portal_Entry(portal, i);
      torn += Whole_Entry(portal, entry) || Failing_Entry(portal, entry, failing) ? 0 : 1;
    }
    const Portal_Row row = Copy_Portal_Row(portal); // as the caption refresh reads
    torn += Whole_Row(portal, row) || Failing_Row(portal, row, failing) ? 0 : 1;
    std::this_thread::yield();
  }
  done = true;
  data_thread.join();
  other_thread.join();
  Session_Exit();
  Plugin_Decoder_Listener = {};
  EXPECT_EQ(torn, 0);
  EXPECT_GT(decodes.load(), 100) << "too few decodes raced the window thread";
  EXPECT_GT(other_calls.load(), 100) << "the second filter thread hardly ran";
  std::printf(
      "%d decodes (%zu of failing copies), %d window steps, %d calls of the second thread\n",
      decodes.load(), failing.Kept.size(), step, other_calls.load());
}

} // namespace
