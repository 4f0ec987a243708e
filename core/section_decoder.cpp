// A decoder's work on each chunk: accumulate, find its portal's source
// section, decode. On_Section_Data feeds the plug-in's decoder.
//
// Gathering. While the decoder is armed (Scan_Idle 0), and for the plug-in's
// decoder while the filter runs, every chunk is appended to Section_Buffer.
// The first chunk after a channel change starts from an empty buffer; a
// chunk that would overflow the buffer empties it and is dropped. Nothing is
// looked at until 920 bytes are there.
//
// Scanning. The buffer is walked byte by byte for the first place that looks
// like the head of the source section: a zero byte (in the filter's payload
// it is the pointer field in front of the table id) followed by an EIT
// section header whose service id, transport stream id, original network id
// and section numbers are those of the portal. A candidate too close to the
// end to judge, or whose section is not complete yet, is kept at the front of
// the buffer for the next call; a scan that finds nothing empties the buffer.
//
// Checking. A complete candidate is decoded only if the CRC-32 at its end
// holds over the section (table_id to the end of the CRC). One that fails is
// mended if it can be, and otherwise passed over: the scan goes on behind it
// as if its header had not matched, nothing of it reaches the table, and the
// decoder stays armed for the next repetition.
// - A stray pointer field. The filter hands over whole packet payloads, so
//   when the next section starts inside the last packet of this one, that
//   packet's pointer field stands inside the section as we see it. Its value
//   is the number of the section's bytes behind it, and the last packet
//   holds at most 184 bytes. So a byte from offset 14 (where descriptors
//   start) on, within the last 184 of the L + 5 bytes from the zero byte,
//   whose value (1 to 183) counts the bytes behind it up to the section's
//   end, and without which the CRC holds, is taken out (the bytes behind it
//   move up by one, Fill one less) and the section decodes as a sound copy.
//   EIT is usually packed this way, so without this many portal lists would
//   never be shown.
// - The same failure twice. The decoder remembers the section length and
//   the CRC value computed over the last candidate that failed. If the next
//   one that fails has the same length and value, the same bytes have
//   arrived the same way twice: that is how this stream carries the section
//   (a wrong CRC from the multiplexer, a packet the host hands over twice),
//   not damage on the way, and it decodes as it arrives, unchecked. Copies
//   damaged on the way differ from each other and are never shown. Every
//   decode forgets the remembered failure.
//
// Decoding. The section is moved to the front, 12 zero bytes are written over
// its end (over its CRC, once checked), and every portal linkage descriptor in
// it becomes an entry of the portal, in order. Every decode disarms the
// decoder.
//
// Threads. The host may call in from several threads at once. A call that
// finds another call on the same decoder still at work drops its chunk and
// clears First_Chunk_Seen, as an overflowing chunk does, so the next call
// starts from an empty buffer: one flag, no waiting. A decode that finds
// Portal_Lock gone (On_Exit has deleted it) writes nothing to the table.
//
// Choices where the data leaves room:
// - Only 17 entries fit a portal. Matches after the 17th are ignored and
//   Portal_Count is then 17.
// - A descriptor of length 5 or 6 has no room for a name; its entry gets an
//   empty name.
// - A negative count, or a missing address with a positive count, is not
//   data: the call returns at once and the buffer stays as it was.
#include "core/section_decoder.h"

#include "core/portal_lock.h"
#include "core/portal_table.h"
#include "core/section_crc.h"

#include <cstring>

Section_Decoder Plugin_Decoder;

namespace {

// Offsets in the source section, counted from the zero byte in front of it.
constexpr int32_t Descriptor_Start = 14; // where the descriptor scan begins
constexpr int32_t Section_Tail_Zeros = 12;
constexpr int32_t Table_Id_Offset = 1; // the section proper starts behind the zero byte
// A pointer field stands first in a packet's payload, of at most 184 bytes.
constexpr int32_t Stray_Pointer_Reach = Ts_Payload_Size;
static_assert(Descriptor_Start == Section_Header_Size, "descriptors follow the header");

// Moves bytes [from, Fill) to the front of the buffer.
void Keep_Tail(Section_Decoder &decoder, int32_t from) {
  const int32_t rest = decoder.Fill - from;
  uint8_t *buffer = decoder.Section_Buffer.data();
  std::memmove(buffer, buffer + from, static_cast<std::size_t>(rest));
  decoder.Fill = rest;
}

// Decodes the section of length L whose head stands at p into the table row
// of portal `portal`, then disarms the decoder and empties the buffer.
void Decode_Section(Section_Decoder &decoder, int32_t p, int32_t length, int32_t portal,
                    Decode_Way way) {
  uint8_t *buffer = decoder.Section_Buffer.data();
  std::memmove(buffer, buffer + p, static_cast<std::size_t>(length + 2));
  std::memset(buffer + length, 0, Section_Tail_Zeros);

  // Gather the entries first, then publish them under the lock in one go.
  Portal_Row found{};
  int32_t k = 0;
  for (int32_t j = Descriptor_Start; j < length; ++j) {
    if (!Matches_Portal_Descriptor(buffer + j))
      continue;
    if (k < Portal_Entry_Total)
      found[k] = Entry_From_Descriptor(buffer + j);
    ++k;
  }
  const int32_t kept = k < Portal_Entry_Total ? k : Portal_Entry_Total;
  {
    Portal_Lock_Scope lock;
    Portal_Row &row = Portal_Table[portal];
    if (!lock.Taken) {
      // On_Exit has deleted the lock: the session is over and the table is
      // no longer ours to write.
    } else if (kept >= 2) {
      // A full list: it replaces the portal's entries and count.
      for (int32_t i = 0; i < Portal_Entry_Total; ++i)
        row[i] = i < kept ? found[i] : Portal_Entry{};
      Portal_Count[portal] = kept;
    } else if (kept == 1) {
      // A single match is no list (a list has two entries or more): it
      // overwrites entry 0 only, where it was found, and the rest and the
      // count stay, so a list already shown is not cut to one entry.
      row[0] = found[0];
    }
  }
  decoder.Failed_Length = 0;
  decoder.Last_Decode = way;
  decoder.Scan_Idle = 1;
  decoder.Fill = 0;
}

// Where the stray pointer field stands in the failed candidate of section
// length L at p, or -1 if it has none (see the top of this file). With the
// stray byte in it the section runs from p + 1 to `end`, p + L + 4; the CRC
// register is carried over the bytes in front of each place i once, and
// only where byte i counts the bytes behind it is the rest run from there.
int32_t Find_Stray_Pointer_Field(const uint8_t *buffer, int32_t p, int32_t length) {
  const int32_t end = p + length + Section_Head_Bytes + 1;
  const int32_t last_packet = end + 1 - Stray_Pointer_Reach; // its first byte
  const int32_t first = p + Descriptor_Start > last_packet ? p + Descriptor_Start : last_packet;
  uint32_t crc = Mpeg_Crc32(buffer + p + Table_Id_Offset,
                            static_cast<std::size_t>(first - (p + Table_Id_Offset)));
  for (int32_t i = first; i < end; crc = Mpeg_Crc32_Update(crc, buffer + i, 1), ++i) {
    if (buffer[i] != end - i)
      continue;
    if (Mpeg_Crc32_Update(crc, buffer + i + 1, static_cast<std::size_t>(end - i)) == 0)
      return i;
  }
  return -1;
}

// Takes byte `at` out of the buffer: the bytes behind it move up by one.
void Take_Out_Byte(Section_Decoder &decoder, int32_t at) {
  uint8_t *buffer = decoder.Section_Buffer.data();
  std::memmove(buffer + at, buffer + at + 1, static_cast<std::size_t>(decoder.Fill - at - 1));
  --decoder.Fill;
}

// The candidate of section length L at p is complete: decodes it if it is
// sound or can be mended or failed as the last one did, as described at the
// top of this file, and says whether it did; a failure it passes over is
// remembered.
bool Decode_Checked(Section_Decoder &decoder, int32_t p, int32_t length, int32_t portal) {
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const uint32_t crc = Mpeg_Crc32(buffer + p + Table_Id_Offset,
                                  static_cast<std::size_t>(length + Section_Head_Bytes));
  if (crc == 0) {
    Decode_Section(decoder, p, length, portal, Decode_Way::Sound);
    return true;
  }
  const int32_t stray = Find_Stray_Pointer_Field(buffer, p, length);
  if (stray >= 0) {
    Take_Out_Byte(decoder, stray);
    Decode_Section(decoder, p, length, portal, Decode_Way::Stray_Pointer_Taken_Out);
    return true;
  }
  if (length == decoder.Failed_Length && crc == decoder.Failed_Crc) {
    Decode_Section(decoder, p, length, portal, Decode_Way::As_Carried);
    return true;
  }
  decoder.Failed_Length = length;
  decoder.Failed_Crc = crc;
  return false;
}

// The first position p from `from` on, in buffer order, that holds a
// complete source section header (R = Fill - p of at least 14 bytes, bytes 0
// and 4 to 13 matching, a valid length word); -1 if there is none. Its
// section length goes to *length.
//
// This is the byte-by-byte walk for a zero byte that heads a matching
// header, done faster: every such header has the original network id's low
// byte 0x85 at offset 12, a byte far rarer in EIT data than zero, so memchr
// jumps from one 0x85 to the next and only those places are tested. The
// first place that passes is the same first place the plain walk would find.
int32_t Find_Source_Header(const uint8_t *buffer, int32_t from, int32_t fill,
                           const Portal_Constants &constants, int32_t *length) {
  constexpr int32_t Network_Low_Offset = 12;
  const int32_t last = fill - Section_Header_Size; // the last p with R >= 14
  int32_t p = from;
  while (p <= last) {
    const void *hit =
        std::memchr(buffer + p + Network_Low_Offset, Portal_Original_Network_Id & 0xFF,
                    static_cast<std::size_t>(last - p + 1));
    if (hit == nullptr)
      return -1;
    p = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - buffer) - Network_Low_Offset;
    if (buffer[p] == 0x00 && Matches_Source_Fields(buffer + p + Table_Id_Offset, constants)) {
      const int32_t length_word = Big_Endian_16(buffer + p + 2);
      *length = length_word & Section_Length_Mask;
      if ((length_word & Section_Flag_Bits) == Section_Flag_Bits && *length >= Section_Length_Min)
        return p;
    }
    ++p;
  }
  return -1;
}

// The portal this scan decodes: the plug-in's decoder copies the shown
// portal under Portal_Lock; a tool's decoder has its own.
int32_t Take_Scan_Portal(Section_Decoder &decoder) {
  int32_t portal = decoder.Portal;
  if (portal == Follow_Shown_Portal) {
    Portal_Lock_Scope lock;
    portal = Current_Portal.load(std::memory_order_relaxed);
  }
  // Stored without a fence: a fenced store is a locked instruction, which
  // cost the callback about a tenth of its time (readers take the word as
  // it stands).
  decoder.Scan_Portal.store(portal, std::memory_order_relaxed);
  return portal;
}

// One pass over the buffer, as described at the top of this file: decode
// the first complete candidate, keep an incomplete one or a tail too short
// to judge, or else empty the buffer.
void Scan_Buffer(Section_Decoder &decoder) {
  const int32_t portal = Take_Scan_Portal(decoder);
  if (portal < 0 || portal >= Portal_Total) { // cannot happen; never index outside
    decoder.Fill = 0;
    return;
  }
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const int32_t fill = decoder.Fill;
  const Portal_Constants &constants = Portal_Constants_Table[portal];
  int32_t length = 0;
  for (int32_t p = 0; (p = Find_Source_Header(buffer, p, fill, constants, &length)) >= 0; ++p) {
    if (fill - p <= length + Section_Complete_Extra + Table_Id_Offset) {
      Keep_Tail(decoder, p); // the section is not complete yet
      return;
    }
    if (Decode_Checked(decoder, p, length, portal))
      return;
  }
  // No header: a zero byte among the last 13 may still start one.
  const int32_t tail = fill > Section_Header_Size - 1 ? fill - (Section_Header_Size - 1) : 0;
  const void *zero = std::memchr(buffer + tail, 0x00, static_cast<std::size_t>(fill - tail));
  if (zero != nullptr)
    Keep_Tail(decoder, static_cast<int32_t>(static_cast<const uint8_t *>(zero) - buffer));
  else
    decoder.Fill = 0;
}

// Whether the decoder takes data now: the plug-in's only while the host's
// filter runs and On_Exit has not run; a tool's always.
[[gnu::always_inline]] inline bool Takes_Data(const Section_Decoder &decoder) {
  return decoder.Portal != Follow_Shown_Portal || (!Exiting && Filter_Running);
}

// The work of a call that has the decoder to itself.
[[gnu::always_inline]] inline void Feed_Alone(Section_Decoder &decoder, int32_t n,
                                              const uint8_t *bytes) {
  if (decoder.Scan_Idle) {
    decoder.Fill = 0;
    return;
  }
  if (!Takes_Data(decoder))
    return;
  if (!decoder.First_Chunk_Seen) {
    decoder.Fill = 0;
    decoder.First_Chunk_Seen = 1;
  }
  if (n > Section_Buffer_Size - decoder.Fill) {
    decoder.Fill = 0;
    decoder.First_Chunk_Seen = 0;
    return;
  }
  if (n == 0)
    return;
  uint8_t *end = decoder.Section_Buffer.data() + decoder.Fill;
  if (n == Ts_Payload_Size) // the usual call: a copy of known size, done inline
    std::memcpy(end, bytes, Ts_Payload_Size);
  else
    std::memcpy(end, bytes, static_cast<std::size_t>(n));
  decoder.Fill += n;
  if (decoder.Fill < Scan_Threshold)
    return;
  if (decoder.Scan_Idle)
    return;
  Scan_Buffer(decoder);
}

// The work of every call, inlined into both callers: the plug-in's callback
// runs once per filter packet, so a call more would cost it a fifth of its
// time. A call that finds another at work drops its chunk; the bytes it
// would have added are missing from the buffer, so the next call starts
// from an empty one.
[[gnu::always_inline]] inline void Feed(Section_Decoder &decoder, int32_t n, const uint8_t *bytes) {
  if (n < 0 || (n > 0 && bytes == nullptr))
    return;
  if (decoder.Feeding.exchange(1, std::memory_order_acquire) != 0) {
    decoder.First_Chunk_Seen = 0;
    return;
  }
  Feed_Alone(decoder, n, bytes);
  decoder.Feeding.store(0, std::memory_order_release);
}

} // namespace

void Feed_Section_Decoder(Section_Decoder &decoder, int32_t n, const uint8_t *bytes) {
  Feed(decoder, n, bytes);
}

void Reset_Section_Decoder(Section_Decoder &decoder) {
  decoder.Fill = 0;
  decoder.Scan_Idle = 1;
  decoder.First_Chunk_Seen = 0;
  decoder.Scan_Portal = 0;
  decoder.Failed_Length = 0;
  decoder.Failed_Crc = 0;
  decoder.Last_Decode = Decode_Way::None;
}

void Arm_Section_Decoder(Section_Decoder &decoder) {
  decoder.Scan_Idle = 0;
}

void Disarm_Section_Decoder(Section_Decoder &decoder) {
  decoder.Scan_Idle = 1;
}

void HOST_CALL On_Section_Data(uint32_t, int32_t n, const uint8_t *bytes) {
  Feed(Plugin_Decoder, n, bytes);
}
