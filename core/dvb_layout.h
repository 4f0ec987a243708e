// Where the bytes stand in what the host's filter hands over: the transport
// stream packet (ISO/IEC 13818-1), the section it carries, and the EIT
// section and linkage descriptor (ETSI EN 300 468). Every offset and value of
// these formats that the plug-in, its tools and its tests read or write is
// named here once, with the clause it comes from.
#pragma once

#include <cstdint>

// Transport stream packet, ISO/IEC 13818-1 §2.4.3.2 (syntax) and §2.4.3.3
// (semantics): a 4-byte header, then an adaptation field and/or payload.
constexpr int32_t Ts_Packet_Size = 188;
constexpr int32_t Ts_Header_Size = 4;
constexpr int32_t Ts_Payload_Size =
    Ts_Packet_Size - Ts_Header_Size;        // 184, the most a packet carries
constexpr uint8_t Ts_Sync_Byte = 0x47;      // byte 0
constexpr uint8_t Ts_Error_Bit = 0x80;      // byte 1: transport_error_indicator
constexpr uint8_t Ts_Unit_Start_Bit = 0x40; // byte 1: payload_unit_start_indicator
constexpr uint8_t Ts_Pid_High_Mask = 0x1F;  // byte 1: PID bits 12-8; byte 2: bits 7-0
constexpr int32_t Ts_Pid_Max = 0x1FFF;
constexpr uint8_t Ts_Adaptation_Shift = 4; // byte 3: adaptation_field_control, bits 5-4
constexpr uint8_t Ts_Adaptation_Mask = 0x3;
constexpr uint8_t Ts_Payload_Only = 0x1; // adaptation_field_control values
constexpr uint8_t Ts_Adaptation_Only = 0x2;
constexpr uint8_t Ts_Adaptation_And_Payload = 0x3;
constexpr uint8_t Ts_Continuity_Mask = 0x0F; // byte 3: continuity_counter
// Adaptation field, §2.4.3.4: its first byte counts the bytes behind it.
constexpr int32_t Ts_Adaptation_Length_Offset = Ts_Header_Size;

inline int32_t Ts_Packet_Pid(const uint8_t *packet) {
  return ((packet[1] & Ts_Pid_High_Mask) << 8) | packet[2];
}
inline bool Ts_Packet_Flagged(const uint8_t *packet) {
  return (packet[1] & Ts_Error_Bit) != 0;
}
inline bool Ts_Packet_Unit_Start(const uint8_t *packet) {
  return (packet[1] & Ts_Unit_Start_Bit) != 0;
}
inline int32_t Ts_Packet_Continuity(const uint8_t *packet) {
  return packet[3] & Ts_Continuity_Mask;
}
inline int32_t Ts_Packet_Adaptation_Control(const uint8_t *packet) {
  return (packet[3] >> Ts_Adaptation_Shift) & Ts_Adaptation_Mask;
}
// Whether the packet carries payload bytes at all (control 1 or 3; 0 is
// reserved, 2 is an adaptation field alone). Such a packet's continuity
// counter counts (§2.4.3.3).
inline bool Ts_Packet_Has_Payload(const uint8_t *packet) {
  return (Ts_Packet_Adaptation_Control(packet) & Ts_Payload_Only) != 0;
}
// Where the payload of a whole packet starts, behind its header and its
// adaptation field if any; Ts_No_Payload if it carries none, or if its
// adaptation field's length runs to or past the packet's end. The payload
// runs from there to the packet's end.
constexpr int32_t Ts_No_Payload = -1;
inline int32_t Ts_Payload_Start(const uint8_t *packet) {
  const int32_t control = Ts_Packet_Adaptation_Control(packet);
  int32_t start = Ts_Header_Size;
  if (control == Ts_Adaptation_And_Payload)
    start += 1 + packet[Ts_Adaptation_Length_Offset];
  else if (control != Ts_Payload_Only)
    return Ts_No_Payload;
  return start < Ts_Packet_Size ? start : Ts_No_Payload;
}

// Pointer field, §2.4.4.1 and §2.4.4.2: the first payload byte of a packet
// whose payload_unit_start_indicator is set counts the bytes in front of the
// first section that starts in it.
constexpr int32_t Pointer_Field_Size = 1;

// Private section, §2.4.4.10 and §2.4.4.11: table_id, then a 16-bit word of
// four flag bits (section_syntax_indicator, private_indicator or
// reserved_future_use, two reserved bits) and the 12-bit section_length,
// which counts the bytes behind the word up to and including the CRC_32.
// The CRC is the MPEG-2 CRC-32 of Annex A, over table_id to the CRC's end.
constexpr int32_t Section_Table_Id_Offset = 0;
constexpr int32_t Section_Length_Offset = 1;
constexpr int32_t Section_Head_Bytes = 3; // table_id and the length word
constexpr int32_t Section_Length_Mask = 0x0FFF;
constexpr int32_t Section_Flag_Bits = 0xF000;  // the length word's top four bits
constexpr int32_t Section_Syntax_Bit = 0x8000; // of those, section_syntax_indicator
constexpr int32_t Section_Crc_Size = 4;
// An EIT section's length is at most 4093 (EN 300 468 §5.2.4), so the
// whole section takes at most 4096 bytes; the 12-bit field itself could say
// 4095, which the plug-in's decoder allows for (Section_Copy_Size).
constexpr int32_t Section_Length_Limit = 4093;
constexpr int32_t Section_Size_Max = Section_Head_Bytes + Section_Length_Limit; // 4096
constexpr uint8_t Stuffing_Byte = 0xFF; // fills a payload behind the last section

// Event information section, ETSI EN 300 468 §5.2.4 (Table 7). Offsets from
// table_id. EIT travels on PID 0x0012 (§5.1.3, Table 1) with table ids 0x4E
// to 0x6F (§5.1.3, Table 2).
constexpr uint16_t Eit_Pid = 0x0012;
constexpr uint8_t Eit_Table_Id_First = 0x4E; // present/following, actual TS
constexpr uint8_t Eit_Table_Id_Last = 0x6F;  // schedule, other TS, last table
constexpr int32_t Eit_Service_Id_Offset = 3;
constexpr int32_t Eit_Version_Offset = 5; // version_number (bits 5-1), current_next_indicator
constexpr uint8_t Eit_Version_Shift = 1;
constexpr uint8_t Eit_Version_Mask = 0x1F; // 5 bits
inline int32_t Eit_Version(const uint8_t *section) {
  return (section[Eit_Version_Offset] >> Eit_Version_Shift) & Eit_Version_Mask;
}
constexpr int32_t Eit_Section_Number_Offset = 6;
constexpr int32_t Eit_Last_Section_Number_Offset = 7;
constexpr int32_t Eit_Transport_Stream_Id_Offset = 8;
constexpr int32_t Eit_Original_Network_Id_Offset = 10;
constexpr int32_t Eit_Segment_Last_Section_Number_Offset = 12;
constexpr int32_t Eit_Last_Table_Id_Offset = 13;
constexpr int32_t Eit_Header_Size = 14; // table_id to last_table_id; the events follow
// Each event: event_id, start_time, duration, then a 16-bit word of
// running_status, free_CA_mode and the 12-bit descriptors_loop_length.
constexpr int32_t Eit_Event_Header_Size = 12;
constexpr int32_t Eit_Loop_Length_Mask = 0x0FFF;

// Descriptor, EN 300 468 §6.1: tag, length, then length bytes.
constexpr int32_t Descriptor_Head_Size = 2;
// Linkage descriptor, EN 300 468 §6.2.19 (Table 58). Offsets from its tag.
constexpr uint8_t Linkage_Descriptor_Tag = 0x4A;
constexpr int32_t Linkage_Transport_Stream_Id_Offset = 2;
constexpr int32_t Linkage_Original_Network_Id_Offset = 4;
constexpr int32_t Linkage_Service_Id_Offset = 6;
constexpr int32_t Linkage_Type_Offset = 8;
constexpr int32_t Linkage_Private_Data_Offset = 9;
// The bytes every linkage descriptor holds behind its length byte:
// transport_stream_id, original_network_id, service_id, linkage_type.
constexpr int32_t Linkage_Fixed_Bytes = Linkage_Private_Data_Offset - Descriptor_Head_Size; // 7
// Short event descriptor, EN 300 468 §6.2.37: the event's name and text.
constexpr uint8_t Short_Event_Descriptor_Tag = 0x4D;

inline int32_t Big_Endian_16(const uint8_t *at) {
  return (at[0] << 8) | at[1];
}
// A section's whole size, from the table_id at `section` on: the bytes up
// to and with its section_length, and section_length more.
inline int32_t Section_Size_At(const uint8_t *section) {
  return Section_Head_Bytes +
         (Big_Endian_16(section + Section_Length_Offset) & Section_Length_Mask);
}
inline bool Is_Eit_Table_Id(uint8_t table_id) {
  return table_id >= Eit_Table_Id_First && table_id <= Eit_Table_Id_Last;
}

static_assert(Ts_Payload_Size == 184, "a packet carries at most 184 payload bytes");
static_assert(Linkage_Fixed_Bytes == 7, "seven fixed bytes in a linkage descriptor");

// The clocks a capture carries, for its time span. Program clock reference,
// ISO/IEC 13818-1 §2.4.3.4 and §2.4.3.5: in the adaptation field behind its
// flags byte, 33 bits of a 90 kHz base, 6 reserved bits, 9 bits of a 27 MHz
// extension.
constexpr int32_t Ts_Adaptation_Flags_Offset = Ts_Adaptation_Length_Offset + 1;
constexpr uint8_t Ts_Adaptation_Field_Bit = 0x20; // byte 3: an adaptation field is present
constexpr uint8_t Ts_Discontinuity_Bit = 0x80;    // flags: discontinuity_indicator
constexpr uint8_t Ts_Pcr_Bit = 0x10;              // flags: PCR_flag
// Whether the packet's adaptation field, if it has one with a flags byte,
// sets discontinuity_indicator: its continuity counter and clock start afresh.
inline bool Ts_Packet_Discontinuity(const uint8_t *packet) {
  return (packet[3] & Ts_Adaptation_Field_Bit) != 0 && packet[Ts_Adaptation_Length_Offset] > 0 &&
         (packet[Ts_Adaptation_Flags_Offset] & Ts_Discontinuity_Bit) != 0;
}
constexpr int32_t Ts_Pcr_Offset = Ts_Adaptation_Flags_Offset + 1;
constexpr int32_t Ts_Pcr_Size = 6;
constexpr uint64_t Pcr_Ticks_Per_Second = 27000000; // base x 300 + extension
constexpr uint64_t Pcr_Base_Modulo = uint64_t{1} << 33;
constexpr int32_t Pcr_Base_To_Ticks = 300;
// Time and date table and time offset table, EN 300 468 §5.2.5 and §5.2.6:
// on PID 0x0014, UTC_time (a 16-bit modified Julian date and six BCD digits
// hh mm ss) right behind the length word.
constexpr uint16_t Tdt_Pid = 0x0014;
constexpr uint8_t Tdt_Table_Id = 0x70;
constexpr uint8_t Tot_Table_Id = 0x73;
constexpr int32_t Tdt_Utc_Time_Offset = Section_Head_Bytes;
constexpr int32_t Tdt_Utc_Time_Size = 5;
