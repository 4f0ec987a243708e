// Builds DVB Event Information Table sections (ETSI EN 300 468, 5.2.4) with
// their events and descriptors, and the MPEG-2 CRC-32 that closes them.
// Used to make test input, fuzz seeds, benchmark streams and sample captures.
#pragma once

#include "core/dvb_layout.h"
#include "core/portal_table.h"
#include "core/section_crc.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Byte_Vector = std::vector<uint8_t>;

// Table ids of EIT sections, EN 300 468 §5.1.3 (Table 2).
constexpr uint8_t Eit_Actual_Present_Following = Eit_Table_Id_First;
constexpr uint8_t Eit_Other_Present_Following = 0x4F;
constexpr uint8_t Eit_Actual_Schedule_First = 0x50; // 0x50-0x5F
constexpr uint8_t Eit_Other_Schedule_First = 0x60;  // to Eit_Table_Id_Last

// Sections end in the CRC-32 of core/section_crc.h (Mpeg_Crc32).

// A linkage descriptor of any linkage type with private bytes; by default a
// portal entry's.
struct Linkage_Descriptor {
  uint16_t Transport_Stream_Id = 0;
  uint16_t Original_Network_Id = Portal_Original_Network_Id;
  uint16_t Service_Id = 0;
  uint8_t Linkage_Type = Portal_Linkage_Type;
  Byte_Vector Private_Bytes;
};
Byte_Vector Linkage_Descriptor_Bytes(const Linkage_Descriptor &descriptor);

// The portal linkage descriptor whose private bytes are a caption.
Byte_Vector Portal_Descriptor_Bytes(uint16_t transport_stream_id, uint16_t service_id,
                                    const std::string &name);

// A short event descriptor: language, event name and text.
Byte_Vector Short_Event_Descriptor_Bytes(const std::string &language, const std::string &name,
                                         const std::string &text);

struct Eit_Event {
  uint16_t Event_Id = 1;
  uint8_t Start_Time[5] = {0xE9, 0x4A, 0x20, 0x00, 0x00}; // MJD + BCD time
  uint8_t Duration[3] = {0x01, 0x00, 0x00};               // BCD hh mm ss
  uint8_t Running_Status = 4;
  bool Free_Ca = false;
  Byte_Vector Descriptors; // the descriptor loop, already encoded
};

struct Eit_Section {
  uint8_t Table_Id = Eit_Actual_Present_Following;
  uint16_t Service_Id = 0;
  uint8_t Version_Number = 0;
  bool Current_Next = true;
  uint8_t Section_Number = 0;
  uint8_t Last_Section_Number = 1;
  uint16_t Transport_Stream_Id = 0;
  uint16_t Original_Network_Id = Portal_Original_Network_Id;
  uint8_t Segment_Last_Section_Number = 1;
  uint8_t Last_Table_Id = Eit_Actual_Present_Following;
  std::vector<Eit_Event> Events;
};

// The whole section from table_id to the CRC. Throws std::length_error if
// the section would exceed the 4096 bytes an EIT section may have.
Byte_Vector Build_Eit_Section(const Eit_Section &section);

// The source section of a portal (portal number 0 to 3): an EIT section 0 of
// the portal's source service, one event carrying one portal descriptor per
// entry. Entries are (transport stream id, service id, name).
struct Portal_Listing_Entry {
  uint16_t Transport_Stream_Id;
  uint16_t Service_Id;
  std::string Name;
};
Eit_Section Portal_Source_Section(int portal, const std::vector<Portal_Listing_Entry> &entries);

// What the plug-in's decoder judges a candidate by, on its own: the zero
// byte a filter payload carries in front of table_id, then the first 14
// bytes of `portal`'s source section header with section length
// `section_length` (table_id 0x4E, version 0, current), for tests that build
// whole, broken or cut-off headers by hand.
Byte_Vector Portal_Header_Bytes(int portal, int section_length);
