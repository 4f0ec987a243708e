// Transport stream packetizer: packet headers, adaptation fields, sections
// laid into payloads with pointer fields, and noise packets.
#include "stream/ts_writer.h"

#include <stdexcept>

int Ts_Payload_Room(const Ts_Packet_Options &options) {
  return Ts_Payload_Size - (options.Adaptation_Length < 0 ? 0 : 1 + options.Adaptation_Length);
}

void Write_Ts_Packet(Ts_Writer &writer, uint16_t pid, bool unit_start, const Byte_Vector &payload,
                     const Ts_Packet_Options &options) {
  const int room = Ts_Payload_Room(options);
  if (pid >= Ts_Pid_Count || room < 1 || static_cast<int>(payload.size()) > room)
    throw std::invalid_argument("packet does not fit");
  Byte_Vector &out = writer.Bytes;
  const std::size_t start = out.size();
  const bool adaptation = options.Adaptation_Length >= 0;
  uint8_t &counter = writer.Continuity[pid];
  out.push_back(Ts_Sync_Byte);
  out.push_back(static_cast<uint8_t>((options.Transport_Error ? Ts_Error_Bit : 0) |
                                     (unit_start ? Ts_Unit_Start_Bit : 0) | (pid >> 8)));
  out.push_back(static_cast<uint8_t>(pid & 0xFF));
  const uint8_t control = adaptation ? Ts_Adaptation_And_Payload : Ts_Payload_Only;
  out.push_back(static_cast<uint8_t>((control << Ts_Adaptation_Shift) | counter));
  counter = (counter + 1) & Ts_Continuity_Mask;
  if (adaptation) {
    out.push_back(static_cast<uint8_t>(options.Adaptation_Length));
    if (options.Adaptation_Length > 0)
      out.push_back(0x00); // no flags set
    out.resize(out.size() + (options.Adaptation_Length > 1 ? options.Adaptation_Length - 1 : 0),
               0xFF);
  }
  out.insert(out.end(), payload.begin(), payload.end());
  out.resize(start + Ts_Packet_Size, Stuffing_Byte);
}

namespace {

// Where Write_Sections stands: section `index`, byte `at` of it.
struct Section_Cursor {
  const std::vector<Byte_Vector> &Sections;
  std::size_t Index = 0;
  std::size_t At = 0;
  bool Done() const { return Index >= Sections.size(); }
  std::size_t Left() const { return Sections[Index].size() - At; }
};

// Appends bytes of the current section to `payload` up to `room`; steps to
// the next section when this one is finished.
void Take_Section_Bytes(Section_Cursor &cursor, Byte_Vector &payload, std::size_t room) {
  const Byte_Vector &section = cursor.Sections[cursor.Index];
  const std::size_t n = std::min(room - payload.size(), cursor.Left());
  payload.insert(payload.end(), section.begin() + static_cast<long>(cursor.At),
                 section.begin() + static_cast<long>(cursor.At + n));
  cursor.At += n;
  if (cursor.At == section.size()) {
    ++cursor.Index;
    cursor.At = 0;
  }
}

} // namespace

void Write_Sections(Ts_Writer &writer, uint16_t pid, const std::vector<Byte_Vector> &sections,
                    const Ts_Packet_Options &options) {
  const std::size_t room = static_cast<std::size_t>(Ts_Payload_Room(options));
  if (room < 2)
    throw std::invalid_argument("no room for a section");
  Section_Cursor cursor{sections};
  while (!cursor.Done()) {
    Byte_Vector payload;
    bool unit_start = false;
    if (cursor.At == 0) { // a section starts at the front of this packet
      unit_start = true;
      payload.push_back(0);
    } else if (options.Pack_Sections && cursor.Index + 1 < sections.size() &&
               cursor.Left() + 1 < room) { // the tail, then the next section
      unit_start = true;
      payload.push_back(static_cast<uint8_t>(cursor.Left()));
    }
    Take_Section_Bytes(cursor, payload, room);
    while (unit_start && options.Pack_Sections && !cursor.Done() && payload.size() < room)
      Take_Section_Bytes(cursor, payload, room);
    Write_Ts_Packet(writer, pid, unit_start, payload, options);
  }
}

void Write_Section(Ts_Writer &writer, uint16_t pid, const Byte_Vector &section,
                   const Ts_Packet_Options &options) {
  Write_Sections(writer, pid, {section}, options);
}

static uint8_t Noise_Byte(Ts_Writer &writer) {
  writer.Noise_Seed = writer.Noise_Seed * 1103515245u + 12345u;
  return static_cast<uint8_t>(writer.Noise_Seed >> 16);
}

void Write_Noise_Packet(Ts_Writer &writer, uint16_t pid) {
  Ts_Packet_Options options;
  const uint8_t kind = Noise_Byte(writer);
  if (kind % 5 == 0)
    options.Adaptation_Length = 7; // the size of a field carrying a PCR
  const bool unit_start = kind % 7 == 0;
  Byte_Vector payload(static_cast<std::size_t>(Ts_Payload_Room(options)));
  for (uint8_t &byte : payload)
    byte = Noise_Byte(writer);
  if (unit_start && payload.size() >= 4) { // a PES start code prefix
    payload[0] = 0x00;
    payload[1] = 0x00;
    payload[2] = 0x01;
    payload[3] = 0xE0;
  }
  Write_Ts_Packet(writer, pid, unit_start, payload, options);
}

void Write_Garbage(Ts_Writer &writer, int count) {
  for (int i = 0; i < count; ++i) {
    uint8_t byte = Noise_Byte(writer);
    writer.Bytes.push_back(byte == Ts_Sync_Byte ? 0x48 : byte);
  }
}
