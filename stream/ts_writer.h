// Transport stream packetizer (ISO/IEC 13818-1, 2.4.3): turns sections into
// 188-byte packets on a PID, with continuity counters, pointer fields and
// 0xFF stuffing, and writes packets of other PIDs between them. Used to make
// test captures, fuzz seeds and the sample capture.
#pragma once

#include "core/dvb_layout.h"
#include "stream/eit_writer.h"

#include <array>
#include <cstdint>
#include <vector>

constexpr int Ts_Pid_Count = Ts_Pid_Max + 1;
constexpr uint16_t Ts_Null_Pid = Ts_Pid_Max; // null packets, §2.4.3.3 (Table 2-3)

struct Ts_Writer {
  Byte_Vector Bytes;                              // the packets written so far
  std::array<uint8_t, Ts_Pid_Count> Continuity{}; // next counter per PID
  uint32_t Noise_Seed = 0x1234567u;               // for Write_Noise_Packet
};

struct Ts_Packet_Options {
  // -1: no adaptation field. 0 or more: an adaptation field with that
  // adaptation_field_length (1 or more: a flags byte 0, then 0xFF stuffing).
  int Adaptation_Length = -1;
  bool Transport_Error = false; // transport_error_indicator, for damaged packets
  bool Pack_Sections = false;   // start a section right behind the previous one
};

// Payload room of a packet with these options.
int Ts_Payload_Room(const Ts_Packet_Options &options);

// One packet carrying `payload` (at most Ts_Payload_Room bytes); a shorter
// payload is stuffed with 0xFF up to the end of the packet.
void Write_Ts_Packet(Ts_Writer &writer, uint16_t pid, bool unit_start, const Byte_Vector &payload,
                     const Ts_Packet_Options &options = {});

// Packetizes `sections` on `pid`. By default every section starts in a new
// packet with pointer field 0 and its last packet is stuffed; with
// Pack_Sections a section starts right behind the previous one whenever the
// packet has room for the pointer field and its first byte. The options
// apply to every packet written.
void Write_Sections(Ts_Writer &writer, uint16_t pid, const std::vector<Byte_Vector> &sections,
                    const Ts_Packet_Options &options = {});
void Write_Section(Ts_Writer &writer, uint16_t pid, const Byte_Vector &section,
                   const Ts_Packet_Options &options = {});

// A packet of pseudo-random payload on `pid` (video-like noise): it starts a
// unit now and then and carries an adaptation field now and then.
void Write_Noise_Packet(Ts_Writer &writer, uint16_t pid);

// Bytes that are no packets (for sync-loss tests): pseudo-random, no 0x47.
void Write_Garbage(Ts_Writer &writer, int count);
