// Making a sound section of failing copies: where packets began, the
// splice, the lost packet put back and the vote. Each result counts only
// where the CRC-32 holds over it.
#include "core/failed_copies.h"

#include "core/section_crc.h"

#include <cstring>

namespace {

// The product of two polynomials over GF(2) modulo the CRC's polynomial, as
// CRC registers hold them (bit i the coefficient of x^i).
uint32_t Crc_Times(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t bit = 0x80000000u; bit != 0; bit >>= 1) {
    product = Mpeg_Crc32_Times_X(product);
    if ((b & bit) != 0)
      product ^= a;
  }
  return product;
}

void Piece(uint8_t *to, const uint8_t *from, int32_t count) {
  std::memcpy(to, from, static_cast<std::size_t>(count));
}

} // namespace

namespace {

// Puts `offset` among the rising `starts`, once; where they are full, or
// the offset lies outside the copy (0 is its own first byte), not at all.
void Add_Start(uint16_t *starts, int32_t &count, int32_t offset, int32_t size) {
  if (offset <= 0 || offset >= size || count == Copy_Packet_Start_Max)
    return;
  int32_t i = count;
  for (; i > 0 && starts[i - 1] >= offset; --i)
    if (starts[i - 1] == offset)
      return;
  std::memmove(starts + i + 1, starts + i, static_cast<std::size_t>(count - i) * sizeof *starts);
  starts[i] = static_cast<uint16_t>(offset);
  ++count;
}

} // namespace

int32_t Find_Packet_Starts(const Chunk_Log &log, uint32_t from, uint32_t to, bool behind_pointer,
                           uint16_t *starts) {
  const int32_t size = static_cast<int32_t>(to - from);
  int32_t count = 0;
  // The odd chunks the log still holds, oldest first, and whole payloads
  // between them; in front of the oldest, whole payloads from the first
  // byte gathered if the log never dropped one.
  uint32_t i = log.Total > Odd_Chunk_Log_Size ? log.Total - Odd_Chunk_Log_Size : 0;
  bool known = i == 0;
  for (uint32_t at = 0;; ++i) {
    const uint32_t slot = i & (Odd_Chunk_Log_Size - 1);
    const uint32_t next = i < log.Total ? log.Start[slot] : to;
    if (known && static_cast<int32_t>(from - at) > 0) // on to the copy, in whole payloads
      at += (from - at + Ts_Payload_Size - 1) / Ts_Payload_Size * Ts_Payload_Size;
    for (; known && static_cast<int32_t>(next - at) > 0; at += Ts_Payload_Size)
      Add_Start(starts, count, static_cast<int32_t>(at - from), size);
    if (i >= log.Total)
      break;
    Add_Start(starts, count, static_cast<int32_t>(next - from), size);
    at = next + static_cast<uint32_t>(log.Size[slot]);
    known = true;
  }
  // Where they tell nothing: the pointer field in front, the section behind it.
  if (behind_pointer && count == 0)
    for (int32_t at = Ts_Payload_Size - Pointer_Field_Size; at < size; at += Ts_Payload_Size)
      Add_Start(starts, count, at, size);
  return count;
}

int32_t Packet_Size_At(const uint16_t *starts, int32_t count, int32_t start) {
  for (int32_t i = 0; i + 1 < count; ++i)
    if (starts[i] == start)
      return starts[i + 1] - start;
  return Ts_Payload_Size;
}

// From the last byte back, Behind holds the CRC (from a zero register) of
// the copies' differences from the place j on, and Unit that of one byte
// of value 1 at j: x^(8 (size - 1 - j)) times the table's entry. Splicing a
// up to j and b from j on changes a's CRC by Behind: the splice holds where
// Behind equals a's CRC; the other way round, where it equals b's.
bool Splice_Copies(const uint8_t *a, const uint8_t *b, int32_t size, uint8_t *out) {
  const uint32_t crc_a = Mpeg_Crc32(a, static_cast<std::size_t>(size));
  const uint32_t crc_b = Mpeg_Crc32(b, static_cast<std::size_t>(size));
  const uint8_t zero = 0;
  uint32_t behind = 0, unit = 1;
  for (int32_t j = size - 1; j > 0; --j, unit = Mpeg_Crc32_Update(unit, &zero, 1)) {
    const uint8_t difference = static_cast<uint8_t>(a[j] ^ b[j]);
    if (difference == 0)
      continue;
    behind ^= Crc_Times(Mpeg_Crc32_Update(0, &difference, 1), unit);
    const uint8_t *head = behind == crc_a ? a : behind == crc_b ? b : nullptr;
    if (head == nullptr)
      continue;
    Piece(out, head, j);
    Piece(out + j, (head == a ? b : a) + j, size - j);
    if (Section_Crc_Holds(out, static_cast<std::size_t>(size)))
      return true;
  }
  return false;
}

bool Put_Back_Lost_Packet(const Failed_Copy &short_copy, const Failed_Copy &whole_copy,
                          int32_t size, uint8_t *out) {
  const uint8_t *short_one = short_copy.Bytes.data(), *whole = whole_copy.Bytes.data();
  const uint16_t *starts = short_copy.Packet_Starts.data();
  const int32_t count = short_copy.Packet_Start_Count;
  int32_t parted = 0;
  while (parted < size && short_one[parted] == whole[parted])
    ++parted;
  // The lost packet started at one of the starts up to where the copies
  // part; the bytes from there to the parting may be alike by chance (as in
  // stuffing or filler), and a start may be wrong (where pieces of another
  // size were handed over), so each is tried, the last first.
  for (int32_t i = count - 1; i >= 0; --i) {
    const int32_t at = starts[i];
    if (at > parted)
      continue;
    // The packet's size as the whole copy's starts tell, else a payload's.
    const int32_t sizes[2] = {
        Packet_Size_At(whole_copy.Packet_Starts.data(), whole_copy.Packet_Start_Count, at),
        Ts_Payload_Size};
    for (int32_t k = 0; k < (sizes[0] == sizes[1] ? 1 : 2); ++k) {
      const int32_t lost = sizes[k];
      if (at + lost >= size)
        continue;
      Piece(out, short_one, at);
      Piece(out + at, whole + at, lost);
      Piece(out + at + lost, short_one + at, size - at - lost);
      if (Section_Crc_Holds(out, static_cast<std::size_t>(size)))
        return true;
    }
  }
  return false;
}

bool Vote_Copies(const uint8_t *const *copies, int32_t count, int32_t size, uint8_t *out) {
  for (int32_t i = 0; i < size; ++i) {
    uint8_t leader = copies[0][i];
    int32_t lead = 1;
    for (int32_t k = 1; k < count; ++k)
      if (copies[k][i] == leader)
        ++lead;
      else if (--lead == 0) {
        leader = copies[k][i];
        lead = 1;
      }
    out[i] = leader;
  }
  return Section_Crc_Holds(out, static_cast<std::size_t>(size));
}
