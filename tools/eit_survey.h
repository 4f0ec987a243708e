// What a capture carries on the EIT PID, whatever it is: its packets and
// bytes, the sections reassembled from them (CRC sound or failing), their
// table ids, and per original network id the transport streams and services
// its EIT sections name. Fed every reassembled PID 0x12 section; a line of
// summary says what that means for the portals.
#pragma once

#include "stream/section_reassembler.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <set>
#include <string>

struct Eit_Network {
  std::set<uint16_t> Transport_Stream_Ids;
  std::set<uint32_t> Services; // transport stream id << 16 | service id
};

struct Eit_Survey {
  uint64_t Packets = 0; // PID 0x12 packets with payload, unflagged
  uint64_t Bytes = 0;   // their payload bytes
  uint64_t Sections = 0;
  uint64_t Crc_Failures = 0;
  std::bitset<256> Table_Ids;               // of every section, EIT or not
  std::map<uint16_t, Eit_Network> Networks; // of sound EIT sections, by original network id
  // Services noted lately (network << 32 | transport stream << 16 |
  // service, plus one; 0: empty), so a carousel's repeats cost no set lookup.
  std::array<uint64_t, 4096> Recent{};
};

// Takes one PID 0x12 payload's count (Reassemble_Payload does the rest).
void Survey_Payload(Eit_Survey &survey, int32_t size);
// Takes one reassembled section.
void Survey_Section(Eit_Survey &survey, const Reassembled_Section &section);

// One line: how many of the portals' lists were decoded and what the EIT
// PID holds: "2 of 4 portal lists decoded; EIT of network 0x0085 present",
// "no EIT on PID 0x12 in this capture", "EIT of other networks only
// (0x20FA)". Where no EIT was taken but `flagged` packets came on PID 0x12
// (left out for the transport error indicator), it says so instead.
std::string Survey_Summary(const Eit_Survey &survey, int decoded_portals, uint64_t flagged);
// The table ids seen, as "0x4E 0x50-0x57".
std::string Table_Id_Ranges(const Eit_Survey &survey);
