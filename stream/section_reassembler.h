// Section reassembler for one PID (ISO/IEC 13818-1, 2.4.4): takes the payloads
// of the PID's transport stream packets in order and hands out every complete
// section, whatever the packet layout: sections spanning packets, several
// sections in one packet, 0xFF stuffing. A section whose bytes are not all
// there (a continuity gap, a pointer field that ends it early or late) is
// dropped, never delivered cut or mixed.
//
// Memory is constant: one section buffer and the last payload, inside the
// struct. A filter on the first bytes of each section lets the caller pass
// over the sections it does not need without copying them or checking their
// CRC.
#pragma once

#include "core/dvb_layout.h"

#include <array>
#include <cstdint>

// The bytes of a long-form section's header that a Section_Filter sees:
// table_id to last_section_number (they stand where an EIT section has them).
constexpr int32_t Section_Filter_Head_Size = Eit_Last_Section_Number_Offset + 1; // 8

struct Reassembled_Section {
  const uint8_t *Bytes = nullptr; // table_id to CRC; valid during the callback only
  int32_t Size = 0;
  bool Crc_Ok = false;           // section_syntax_indicator 1 and the CRC-32 holds
  bool At_Payload_Start = false; // right behind a pointer_field of 0 at a unit start
  uint64_t Packet_Offset = 0;    // input offset of the packet the section began in
};

// Receives every complete section the filter wanted.
using Section_Callback = void (*)(const Reassembled_Section &section, void *context);
// Sees the first min(Section_Filter_Head_Size, section size) bytes of each section
// and says whether to gather it.
using Section_Filter = bool (*)(const uint8_t *head, int32_t size, void *context);

enum class Section_Phase : uint8_t {
  Idle,   // no section in progress: the next one starts behind a pointer field
  Length, // gathering table_id and section_length
  Head,   // gathering the bytes the filter sees
  Body,   // gathering (or passing over) the rest
};

struct Section_Reassembler {
  Section_Callback Deliver = nullptr;
  Section_Filter Want = nullptr; // nullptr: every section is wanted
  void *Context = nullptr;       // handed to Deliver and Want
  uint64_t Sections = 0;         // sections delivered
  uint64_t Dropped = 0;          // sections given up unfinished

  // The section in progress.
  Section_Phase Phase = Section_Phase::Idle;
  bool Keep = true;  // its bytes are copied (the filter wanted it)
  int32_t Fill = 0;  // its bytes gathered or passed over
  int32_t Total = 0; // its size, once section_length is in
  bool Began_At_Payload_Start = false;
  uint64_t Began_Offset = 0;
  std::array<uint8_t, Section_Size_Max> Buffer{};

  // The last packet, to recognise a duplicate.
  int32_t Last_Continuity = -1;
  int32_t Last_Size = 0;
  std::array<uint8_t, Ts_Payload_Size> Last_Payload{};
};

// Feeds one packet's payload (behind the adaptation field; pointer field
// included on unit-start packets). `continuity` is the packet's
// continuity_counter, or -1 when unknown (no gap is then detected);
// `packet_offset` is where the packet stands in the input. A packet that
// repeats the previous one (same counter, same payload) is ignored.
void Reassemble_Payload(Section_Reassembler &reassembler, const uint8_t *payload, int32_t size,
                        bool unit_start, int32_t continuity, uint64_t packet_offset);
