// What the plug-in accepts as a portal's source section and as a portal
// entry, written once: the section decoder decodes by it, portal-scan's
// explanation judges a capture's sections by it, and the sequence fuzzer's
// checks read by it.
//
// A source section is an EIT section (EN 300 468 §5.2.4) of the portal's
// source service and transport stream on original network 0x0085, section 0
// of a table whose last section number and segment last section number are
// both 1, with all four flag bits of its length word set and a section
// length above 15. A portal entry is a linkage descriptor (§6.2.19) of
// linkage type 0xB0 from original network 0x0085 with a service id, of
// length 5 to 30. Everything here reads offsets from table_id.
#pragma once

#include "core/dvb_layout.h"
#include "core/portal_table.h"

#include <cstdint>
#include <cstring>

// A source section's header is judged on its first 13 bytes: table_id up to
// segment_last_section_number.
constexpr int32_t Source_Header_Judged = Eit_Last_Table_Id_Offset;
// The shortest section length that can hold the header fields and a
// descriptor: lengths of 15 or less are no candidate.
constexpr int32_t Section_Length_Min = 16;
// A candidate of section length L counts as complete once more than L + 4
// bytes stand in the buffer from its table_id on. The section itself takes
// L + 3 of them, so two bytes behind it must have arrived too: the margin
// the plug-in has always waited for, kept so that every section behind a
// pointer field decodes with the same chunk as ever.
constexpr int32_t Section_Complete_Extra = 4;
// Where the descriptor scan starts: at the header's last byte,
// last_table_id, and on one byte at a time, whatever the event loop says.
constexpr int32_t Descriptor_Scan_Start = Eit_Last_Table_Id_Offset;

constexpr int32_t Portal_Descriptor_Length_Min = 5;
constexpr int32_t Portal_Descriptor_Length_Max = 30;
// The longest name: the private bytes of the longest portal descriptor.
constexpr int32_t Portal_Name_Max = Portal_Descriptor_Length_Max - Linkage_Fixed_Bytes; // 23
static_assert(Portal_Name_Max < Portal_Name_Size, "a name stays NUL-terminated");

// Header fields of the source section of `portal` at `section` (its
// table_id): the 13 judged bytes but the length word.
inline bool Matches_Source_Fields(const uint8_t *section, const Portal_Constants &portal) {
  return Big_Endian_16(section + Eit_Service_Id_Offset) == portal.Source_Service_Id &&
         section[Eit_Section_Number_Offset] == 0x00 &&
         section[Eit_Last_Section_Number_Offset] == 0x01 &&
         Big_Endian_16(section + Eit_Transport_Stream_Id_Offset) ==
             portal.Source_Transport_Stream_Id &&
         Big_Endian_16(section + Eit_Original_Network_Id_Offset) == Portal_Original_Network_Id &&
         section[Eit_Segment_Last_Section_Number_Offset] == 0x01;
}

// The section length of a length word the plug-in accepts, or 0: all four
// flag bits set and a length of at least Section_Length_Min.
inline int32_t Accepted_Section_Length(const uint8_t *section) {
  const int32_t word = Big_Endian_16(section + Section_Length_Offset);
  const int32_t length = word & Section_Length_Mask;
  return (word & Section_Flag_Bits) == Section_Flag_Bits && length >= Section_Length_Min ? length
                                                                                         : 0;
}

// The section length of the source section of `portal` whose header stands
// at `section` (13 bytes readable), or 0 if it is none.
inline int32_t Source_Section_Length(const uint8_t *section, const Portal_Constants &portal) {
  return Matches_Source_Fields(section, portal) ? Accepted_Section_Length(section) : 0;
}

// A portal entry's descriptor at `at` (its tag; nine bytes readable).
inline bool Matches_Portal_Descriptor(const uint8_t *at) {
  return at[0] == Linkage_Descriptor_Tag && at[1] >= Portal_Descriptor_Length_Min &&
         at[1] <= Portal_Descriptor_Length_Max &&
         Big_Endian_16(at + Linkage_Original_Network_Id_Offset) == Portal_Original_Network_Id &&
         Big_Endian_16(at + Linkage_Service_Id_Offset) != 0 &&
         at[Linkage_Type_Offset] == Portal_Linkage_Type;
}

// The entry a matching descriptor gives. Lengths 5 and 6 leave no room for a
// name: the entry's name is then empty.
inline Portal_Entry Entry_From_Descriptor(const uint8_t *at) {
  Portal_Entry entry{};
  entry.Descriptor_Length = at[1];
  entry.Transport_Stream_Id = Big_Endian_16(at + Linkage_Transport_Stream_Id_Offset);
  entry.Service_Id = Big_Endian_16(at + Linkage_Service_Id_Offset);
  const int32_t name_length = entry.Descriptor_Length - Linkage_Fixed_Bytes;
  if (name_length > 0)
    std::memcpy(entry.Name, at + Linkage_Private_Data_Offset,
                static_cast<std::size_t>(name_length));
  return entry;
}
