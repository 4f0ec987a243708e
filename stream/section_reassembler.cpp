// Section reassembler: pointer fields, sections carried across packets,
// several sections per packet, stuffing, continuity gaps and duplicates.
#include "stream/section_reassembler.h"

#include "core/section_crc.h"

#include <algorithm>
#include <cstring>

namespace {

// The least a section with a CRC holds: its long-form header and the CRC.
constexpr int32_t Crc_Section_Min = Section_Filter_Head_Size + Section_Crc_Size; // 12
constexpr int32_t Given_Up = -1;

void Drop_Section(Section_Reassembler &r) {
  if (r.Phase != Section_Phase::Idle)
    ++r.Dropped;
  r.Phase = Section_Phase::Idle;
}

void Begin_Section(Section_Reassembler &r, bool at_payload_start, uint64_t packet_offset) {
  r.Phase = Section_Phase::Length;
  r.Keep = true;
  r.Fill = 0;
  r.Total = 0;
  r.Began_At_Payload_Start = at_payload_start;
  r.Began_Offset = packet_offset;
}

// The byte count the current phase gathers up to.
int32_t Phase_Target(const Section_Reassembler &r) {
  if (r.Phase == Section_Phase::Length)
    return Section_Head_Bytes;
  if (r.Phase == Section_Phase::Head)
    return std::min(Section_Filter_Head_Size, r.Total);
  return r.Total;
}

void Deliver_Section(Section_Reassembler &r) {
  Reassembled_Section section;
  section.Bytes = r.Buffer.data();
  section.Size = r.Total;
  section.Crc_Ok =
      (Big_Endian_16(r.Buffer.data() + Section_Length_Offset) & Section_Syntax_Bit) != 0 &&
      r.Total >= Crc_Section_Min &&
      Section_Crc_Holds(r.Buffer.data(), static_cast<std::size_t>(r.Total));
  section.At_Payload_Start = r.Began_At_Payload_Start;
  section.Packet_Offset = r.Began_Offset;
  ++r.Sections;
  if (r.Deliver != nullptr)
    r.Deliver(section, r.Context);
}

// Moves on once the current phase's bytes are in; false if the section
// length is impossible and the section is given up.
bool Finish_Phase(Section_Reassembler &r) {
  switch (r.Phase) {
  case Section_Phase::Length:
    r.Total = Section_Size_At(r.Buffer.data());
    if (r.Total > Section_Size_Max) {
      Drop_Section(r);
      return false;
    }
    // Without a filter every section is kept: no stop for its head.
    r.Phase = r.Want == nullptr ? Section_Phase::Body : Section_Phase::Head;
    return true;
  case Section_Phase::Head:
    r.Keep = r.Want == nullptr || r.Want(r.Buffer.data(), r.Fill, r.Context);
    r.Phase = Section_Phase::Body;
    return true;
  case Section_Phase::Body:
    if (r.Keep)
      Deliver_Section(r);
    r.Phase = Section_Phase::Idle;
    return true;
  case Section_Phase::Idle:
    break;
  }
  return true;
}

// Hands bytes to the section in progress until it is complete or the bytes
// run out. Returns the bytes taken, or Given_Up.
int32_t Feed_Section(Section_Reassembler &r, const uint8_t *bytes, int32_t n) {
  int32_t used = 0;
  while (r.Phase != Section_Phase::Idle) {
    const int32_t target = Phase_Target(r);
    const int32_t step = std::min(target - r.Fill, n - used);
    if (r.Keep)
      std::memcpy(r.Buffer.data() + r.Fill, bytes + used, static_cast<std::size_t>(step));
    r.Fill += step;
    used += step;
    if (r.Fill < target)
      break;
    if (!Finish_Phase(r))
      return Given_Up;
  }
  return used;
}

// Bytes the section in progress still lacks, taking its length field from
// `next` when it is not all gathered yet; -1 if the field lies past n bytes.
int32_t Bytes_Still_Needed(const Section_Reassembler &r, const uint8_t *next, int32_t n) {
  if (r.Phase != Section_Phase::Length)
    return r.Total - r.Fill;
  uint8_t field[Section_Head_Bytes];
  for (int32_t k = 0; k < Section_Head_Bytes; ++k) {
    if (k < r.Fill)
      field[k] = r.Buffer[static_cast<std::size_t>(k)];
    else if (k - r.Fill < n)
      field[k] = next[k - r.Fill];
    else
      return -1;
  }
  return Section_Size_At(field) - r.Fill;
}

// False for a duplicate of the previous packet; drops the section in
// progress when packets are missing.
bool Accept_Continuity(Section_Reassembler &r, const uint8_t *payload, int32_t size,
                       int32_t continuity) {
  if (continuity >= 0 && r.Last_Continuity >= 0) {
    if (continuity == r.Last_Continuity && size == r.Last_Size &&
        std::memcmp(payload, r.Last_Payload.data(), static_cast<std::size_t>(size)) == 0)
      return false;
    if (continuity != ((r.Last_Continuity + 1) & Ts_Continuity_Mask))
      Drop_Section(r);
  }
  r.Last_Continuity = continuity;
  r.Last_Size = std::min(size, Ts_Payload_Size);
  std::memcpy(r.Last_Payload.data(), payload, static_cast<std::size_t>(r.Last_Size));
  return true;
}

// Starts the sections that follow the pointer field, up to stuffing or the
// end of the payload; the last one may go on in the next packets.
void Start_Sections(Section_Reassembler &r, const uint8_t *bytes, int32_t n, bool pointer_zero,
                    uint64_t packet_offset) {
  int32_t at = 0;
  while (at < n && bytes[at] != Stuffing_Byte) {
    Begin_Section(r, pointer_zero && at == 0, packet_offset);
    const int32_t used = Feed_Section(r, bytes + at, n - at);
    if (used == Given_Up || r.Phase != Section_Phase::Idle)
      return;
    at += used;
  }
}

} // namespace

void Reassemble_Payload(Section_Reassembler &r, const uint8_t *payload, int32_t size,
                        bool unit_start, int32_t continuity, uint64_t packet_offset) {
  if (payload == nullptr || size <= 0 || !Accept_Continuity(r, payload, size, continuity))
    return;
  if (!unit_start) { // a section's continuation, then stuffing
    if (r.Phase != Section_Phase::Idle)
      Feed_Section(r, payload, size);
    return;
  }
  const int32_t pointer = payload[0];
  const uint8_t *after = payload + 1;
  const int32_t rest = size - 1;
  if (pointer > rest) {
    Drop_Section(r);
    return;
  }
  // The pointer field says where the section in progress ends; it must agree.
  if (r.Phase != Section_Phase::Idle && Bytes_Still_Needed(r, after, pointer) != pointer)
    Drop_Section(r);
  if (r.Phase != Section_Phase::Idle)
    Feed_Section(r, after, pointer);
  Start_Sections(r, after + pointer, rest - pointer, pointer == 0, packet_offset);
}
