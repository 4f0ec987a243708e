// The portal table: for each of the four portals the plug-in knows, the list
// of sub-channels the window shows as buttons, and the constants the decoder
// matches a portal's source section against.
//
// Writers (the decoder, the reset) change entries only while holding
// Portal_Lock, and readers take whole entries with Copy_Portal_Entry, which
// holds it too; so a reader sees every entry either before or after a write,
// never half of one.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

constexpr int Portal_Total = 4;        // portals 0 to 3
constexpr int Portal_Entry_Total = 17; // entries 0 to 16, one per button
constexpr int Portal_Name_Size = 32;   // name field, NUL-terminated

struct Portal_Entry {
  char Name[Portal_Name_Size]; // caption, zero-filled behind the text
  int32_t Descriptor_Length;   // length byte of the source descriptor; 0 for defaults
  int32_t Transport_Stream_Id; // 0 means none
  int32_t Service_Id;          // 0 means none
};
static_assert(sizeof(Portal_Entry) == 44, "Portal_Entry is 32 name bytes and 3 words");

// What identifies a portal: its default entry and its source section.
struct Portal_Constants {
  const char *Default_Name;
  int32_t Default_Transport_Stream_Id;
  int32_t Default_Service_Id; // 0: not set
  uint16_t Source_Service_Id;
  uint16_t Source_Transport_Stream_Id;
};

constexpr int32_t Portal_Transport_Stream_Id = 4;
constexpr std::array<Portal_Constants, Portal_Total> Portal_Constants_Table{{
    {"Direct Portal", Portal_Transport_Stream_Id, 18, 0x0012, 4},
    {"RedLight", Portal_Transport_Stream_Id, 0x0201, 0x0201, 4},
    {"Buli/CL Portal", Portal_Transport_Stream_Id, 0x001B, 0x0011, 3},
    // Portal 3's default entry carries no service id: its button switches
    // nothing until a decode has filled the portal.
    {"F1/Sport 2", Portal_Transport_Stream_Id, 0, 0x001B, 4},
}};

// The part of every source section that all portals share.
constexpr uint16_t Portal_Original_Network_Id = 0x0085;
constexpr uint8_t Portal_Linkage_Type = 0xB0;

using Portal_Row = std::array<Portal_Entry, Portal_Entry_Total>;

// What kind of list a portal's buttons show: a decoded list of two entries
// or more (not the default entry a reset left), whether the section it came
// from checked out (its CRC held, over the copy or a combination of
// copies), and that section's version_number.
struct Shown_List {
  bool Listed = false;
  bool Checked = false;
  int32_t Version = 0;
};
extern std::array<Portal_Row, Portal_Total> Portal_Table;
extern std::array<std::atomic<int32_t>, Portal_Total> Portal_Count;
extern std::atomic<int32_t> Current_Portal; // shown in the window, decoded by the plug-in
// What kind of list each portal shows, kept beside its row under
// Portal_Lock: set with the row by a decode, cleared by a reset.
extern std::array<Shown_List, Portal_Total> Portal_Shown;

// A portal's row as a reset leaves it: its default entry in slot 0, every
// other entry cleared. An out-of-range portal number gives empty entries.
Portal_Row Default_Portal_Row(int32_t portal);

// Clears every entry of every portal, puts each portal's default entry into
// its slot 0 (none shows a list then) and returns to portal 0. Portal_Count
// is left as it is.
void Reset_Portal_Table();

// Sets every portal's Portal_Count back to 0, as at load.
void Reset_Portal_Counts();

// A consistent copy of one entry, taken under Portal_Lock. Out-of-range
// portal or index numbers give an empty entry.
Portal_Entry Copy_Portal_Entry(int32_t portal, int32_t index);

// A consistent copy of a whole row, taken under Portal_Lock in one go, so a
// caption refresh never shows half of one decode and half of another (or of
// a reset). An out-of-range portal number gives empty entries.
Portal_Row Copy_Portal_Row(int32_t portal);

// Portal_Count of a portal; 0 for an out-of-range portal number.
int32_t Read_Portal_Count(int32_t portal);
