// Capture reader: buffered reads, sync search and tracking, packet header
// and adaptation field parsing.
#include "stream/ts_reader.h"

#include <cstring>

namespace {

constexpr std::size_t Packet = 188;
constexpr std::size_t Confirm_Bytes = Packet * Ts_Sync_Confirm_Packets;

void Reset_Reader(Ts_Reader &reader) {
  reader = Ts_Reader{};
  reader.Buffer.assign(Ts_Reader_Buffer_Size, 0);
}

std::size_t Read_Source(Ts_Reader &reader, uint8_t *into, std::size_t max) {
  if (reader.File != nullptr) {
    const std::size_t n = std::fread(into, 1, max, reader.File);
    if (n < max && std::ferror(reader.File))
      reader.Failed = true;
    return n;
  }
  const std::size_t n = std::min(max, reader.Memory_Size - reader.Memory_At);
  if (n > 0)
    std::memcpy(into, reader.Memory + reader.Memory_At, n);
  reader.Memory_At += n;
  return n;
}

// Makes at least `want` unread bytes available unless the source ends first.
void Fill_Buffer(Ts_Reader &reader, std::size_t want) {
  if (reader.End - reader.Start >= want || reader.At_End)
    return;
  const std::size_t kept = reader.End - reader.Start;
  std::memmove(reader.Buffer.data(), reader.Buffer.data() + reader.Start, kept);
  reader.Start = 0;
  reader.End = kept;
  while (reader.End < reader.Buffer.size()) {
    const std::size_t ask = std::min(reader.Read_Limit, reader.Buffer.size() - reader.End);
    const std::size_t n = Read_Source(reader, reader.Buffer.data() + reader.End, ask);
    reader.End += n;
    if (n == 0 || reader.Failed) {
      reader.At_End = true;
      break;
    }
    if (reader.End - reader.Start >= want)
      break;
  }
  if (reader.Progress != nullptr)
    reader.Progress(reader, reader.Progress_Context);
}

void Consume(Ts_Reader &reader, std::size_t n) {
  reader.Start += n;
  reader.Offset += n;
}

// Whether the unread bytes start on a packet boundary: 0x47 there and at
// every 188-byte step for the confirming packets. Close to the end of the
// data, where fewer packets are left, the data must also end on a boundary.
bool Sync_Confirmed(const Ts_Reader &reader) {
  const std::size_t available = reader.End - reader.Start;
  const uint8_t *at = reader.Buffer.data() + reader.Start;
  if (available < Packet || (available < Confirm_Bytes && available % Packet != 0))
    return false;
  for (std::size_t k = 0; k < Confirm_Bytes && k + Packet <= available; k += Packet)
    if (at[k] != 0x47)
      return false;
  return true;
}

// Passes over bytes until a confirmed sync; false at the end of the data.
bool Find_Sync(Ts_Reader &reader) {
  for (;;) {
    Fill_Buffer(reader, Confirm_Bytes);
    if (reader.End - reader.Start < Packet)
      return false;
    if (Sync_Confirmed(reader)) {
      reader.Synced = true;
      reader.Ever_Synced = true;
      return true;
    }
    Consume(reader, 1);
    ++reader.Skipped_Bytes;
  }
}

// The payload of the packet at `at`, or false if it carries none we use.
bool Packet_Payload(const uint8_t *at, uint16_t pid, const uint8_t **payload, int32_t *size) {
  if ((at[1] & 0x80) != 0 || (((at[1] & 0x1F) << 8) | at[2]) != pid)
    return false;
  const int control = (at[3] >> 4) & 3;
  if ((control & 1) == 0) // reserved, or adaptation field only
    return false;
  int start = 4;
  if (control == 3)
    start += 1 + at[4];
  if (start >= static_cast<int>(Packet)) // no payload left, or a length past the packet
    return false;
  *payload = at + start;
  *size = static_cast<int32_t>(Packet) - start;
  return true;
}

} // namespace

bool Open_Ts_File(Ts_Reader &reader, const char *path) {
  Reset_Reader(reader);
  reader.File = std::fopen(path, "rb");
  return reader.File != nullptr;
}

void Open_Ts_Memory(Ts_Reader &reader, const uint8_t *data, std::size_t size) {
  Reset_Reader(reader);
  reader.Memory = data;
  reader.Memory_Size = data == nullptr ? 0 : size;
}

void Close_Ts_Reader(Ts_Reader &reader) {
  if (reader.File != nullptr)
    std::fclose(reader.File);
  reader.File = nullptr;
  reader.Memory = nullptr;
}

Ts_Read_Result Next_Ts_Payload(Ts_Reader &reader, uint16_t pid, const uint8_t **payload,
                               int32_t *size) {
  for (;;) {
    if (!reader.Synced && !Find_Sync(reader))
      break;
    Fill_Buffer(reader, Packet);
    if (reader.End - reader.Start < Packet)
      break; // a partial packet at the end
    const uint8_t *at = reader.Buffer.data() + reader.Start;
    if (at[0] != 0x47) {
      reader.Synced = false;
      ++reader.Sync_Losses;
      continue;
    }
    Consume(reader, Packet);
    ++reader.Packets;
    if (at[1] & 0x80)
      ++reader.Error_Packets;
    if (Packet_Payload(at, pid, payload, size)) {
      reader.Unit_Start = (at[1] & 0x40) != 0;
      return Ts_Read_Result::Payload;
    }
  }
  if (reader.Failed)
    return Ts_Read_Result::Read_Error;
  return reader.Ever_Synced ? Ts_Read_Result::End : Ts_Read_Result::Not_Transport_Stream;
}
