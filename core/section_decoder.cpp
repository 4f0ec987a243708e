// A decoder's work on each chunk: accumulate, find its portal's source
// section, decode. The gathering is in section_feed.h, inlined into both
// feeders; this file scans and decodes.
//
// Gathering. While the decoder is armed (Scan_Idle 0), and while its feeder
// says it takes data (the plug-in's: while the filter runs), every chunk is
// appended to Section_Buffer; a chunk that is a whole PID 0x12 packet is
// taken as its payload. The first chunk after a channel change starts from
// an empty buffer; a chunk that would overflow the buffer empties it and is
// dropped. Nothing is looked at until 920 bytes are there.
//
// Scanning. The buffer is walked byte by byte for the first place that holds
// the head of the source section: an EIT section header (EN 300 468 §5.2.4)
// whose service id, transport stream id, original network id and section
// numbers are those of the portal (core/portal_section_rule.h). The byte in
// front of it may be any byte: in a payload a section behind a zero byte
// starts right behind a pointer field of 0, one behind any other byte starts
// behind another section, inside the packet, as multiplexers pack EIT; a
// host that hands over whole sections puts it at the front of a chunk. A
// candidate whose section is not complete yet is kept at the front of the
// buffer, with the byte in front of it, for the next call; a scan that finds
// none keeps the last 13 bytes, which may still start one.
//
// Checking. A complete candidate is decoded if the CRC-32 at its end holds
// over the section (table_id to the end of the CRC), or once a stray pointer
// field is taken out:
// - A stray pointer field. The filter hands over whole packet payloads, so
//   when the next section starts inside the last packet of this one, that
//   packet's pointer field stands inside the section as we see it. Its value
//   is the number of the section's bytes behind it, and the last packet
//   holds at most 184 bytes. So a byte within the last 184 of the section's
//   bytes and the stray one, whose value (1 to 183) counts the bytes behind
//   it up to the section's end, and without which the CRC holds, is taken
//   out (the bytes behind it move up by one, Fill one less) and the section
//   decodes as a sound copy. In a section that began in the last 12 bytes of
//   a packet it can stand inside the header, which is then read without it.
// A candidate that fails is passed over: the scan goes on behind it as if
// its header had not matched, and the decoder stays armed. A candidate behind
// a zero byte (the one the plain decoder, which has no CRC check, would
// decode) may still be shown as that decoder shows it:
// - The same failure twice. The decoder remembers the last such candidate
//   that failed: its section length, the CRC value computed over it, its
//   portal and where it ends among the bytes gathered. If the next one that
//   fails, starting behind it, has the same length and value, the same bytes
//   have arrived the same way twice: that is how this stream carries the
//   section (a wrong CRC from the multiplexer, a packet the host hands over
//   twice), not damage on the way, and it decodes as it arrives.
// - Every copy failing. While the portal has no list (Portal_Count below 2),
//   a second failing copy decodes as it arrives too, unchecked: reception
//   that damages every copy differently would otherwise show nothing ever,
//   where the plain decoder shows the list with a marred entry. The next
//   sound copy replaces it at the next decode; a portal that shows a list
//   keeps it, and failing copies never replace one.
// Candidates found only by their header (no zero byte in front) are shown
// only when they check out. Every decode forgets the remembered failure.
//
// Decoding. The section is moved to the front, 12 zero bytes are written over
// its end (over its CRC, once checked), and every portal linkage descriptor in
// it becomes an entry of the portal, in order. Every decode disarms the
// decoder. A decode that finds Portal_Lock gone (On_Exit has deleted it)
// writes nothing to the table.
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
#include "core/portal_section_rule.h"
#include "core/portal_table.h"
#include "core/section_crc.h"

#include <cstring>

namespace {

// The decode works on the section moved to the front of the buffer behind
// one byte (where its pointer field stood): table_id at offset 1, the
// descriptor scan from offset 14 up to L - 1, 12 zero bytes written at L to
// L + 11, over the CRC.
constexpr int32_t Moved_Table_Id = 1;
constexpr int32_t Moved_Descriptor_Start = Moved_Table_Id + Descriptor_Scan_Start;
constexpr int32_t Section_Tail_Zeros = 12;
// A pointer field stands first in a packet's payload, of at most 184 bytes.
constexpr int32_t Stray_Pointer_Reach = Ts_Payload_Size;

// Moves bytes [from, Fill) to the front of the buffer.
void Keep_Tail(Section_Decoder &decoder, int32_t from) {
  const int32_t rest = decoder.Fill - from;
  uint8_t *buffer = decoder.Section_Buffer.data();
  std::memmove(buffer, buffer + from, static_cast<std::size_t>(rest));
  decoder.Buffer_Start += static_cast<uint32_t>(from);
  decoder.Fill = rest;
}

// How a candidate came to be decoded.
struct Decode_Note {
  Decode_Way Way;
  bool Inside_Packet; // no zero byte in front of it
};

// Decodes the section of length L whose table_id stands at t into the table
// row of portal `portal`, then disarms the decoder and empties the buffer.
void Decode_Section(Section_Decoder &decoder, int32_t t, int32_t length, int32_t portal,
                    Decode_Note note) {
  uint8_t *buffer = decoder.Section_Buffer.data();
  if (t == 0) // a section at the buffer's first byte: make room for the byte in front
    std::memmove(buffer + Moved_Table_Id, buffer, static_cast<std::size_t>(length + 1));
  else
    std::memmove(buffer, buffer + t - Moved_Table_Id, static_cast<std::size_t>(length + 2));
  std::memset(buffer + length, 0, Section_Tail_Zeros);

  // Gather the entries first, then publish them under the lock in one go.
  Portal_Row found{};
  int32_t k = 0;
  for (int32_t j = Moved_Descriptor_Start; j < length; ++j) {
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
  decoder.Last_Decode = note.Way;
  decoder.Last_Inside_Packet = note.Inside_Packet;
  decoder.Last_From_Packets = decoder.Chunk_Was_Packet;
  decoder.Scan_Idle = 1;
  Empty_Section_Buffer(decoder);
}

// Where the stray pointer field stands in the failed candidate of section
// length L whose table_id is at t, or -1 if it has none (see the top of this
// file). With the stray byte in it the section runs from t to `end`,
// t + L + 3; the CRC register is carried over the bytes in front of each
// place i once, and only where byte i counts the bytes behind it is the rest
// run from there.
int32_t Find_Stray_Pointer_Field(const uint8_t *buffer, int32_t t, int32_t length) {
  const int32_t end = t + length + Section_Head_Bytes;
  const int32_t last_packet = end + 1 - Stray_Pointer_Reach; // its first byte
  const int32_t from = t + Descriptor_Scan_Start;
  const int32_t first = from > last_packet ? from : last_packet;
  uint32_t crc = Mpeg_Crc32(buffer + t, static_cast<std::size_t>(first - t));
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

// Whether a failing candidate behind a zero byte, starting at `start` in the
// gathered bytes, is a second copy of the remembered failure: one of the
// same portal that ended before this one starts (two candidates inside one
// stretch of bytes are not two copies).
bool Pairs_With_Failure(const Section_Decoder &decoder, int32_t portal, uint32_t start) {
  return decoder.Failed_Length != 0 && decoder.Failed_Portal == portal &&
         static_cast<int32_t>(start - decoder.Failed_End) >= 0;
}

// Two failing copies of one section, each damaged in another stretch of at
// most one packet's payload, together hold every byte of it. Damage comes
// in two shapes: a packet's bytes changed (bit errors the receiver did not
// flag) or a packet lost (the bytes behind it move up, and the copy ends in
// the next section's bytes). Counted from the first byte where the copies
// differ, d, and the last, e, the sound section is one of:
// - this copy with the other's bytes from d on, for 184 bytes: this one was
//   damaged first (the window covers every byte its damage changed);
// - this copy with the other's bytes up to e, for 184 bytes: this one was
//   damaged last;
// - this copy with the other's 184 bytes from x put in at x: this one lost
//   a packet first;
// - the other copy with this one's 184 bytes from x put in at x: the other
//   lost a packet first.
// A packet is lost whole, so x is where a packet starts: both copies stand
// behind a pointer field, so packets start 183 bytes into the section and
// every 184 bytes on; x is the last such place up to d (the bytes from x to
// d may be alike by chance, as in stuffing).
// Each is built in Repair_Work and kept only if its CRC holds; the first
// that holds replaces the copy at t, `size` bytes. Says whether one did.
bool Repair_From_Copies(Section_Decoder &decoder, int32_t t, int32_t size) {
  uint8_t *copy = decoder.Section_Buffer.data() + t;
  const uint8_t *other = decoder.Failed_Copy.data();
  uint8_t *work = decoder.Repair_Work.data();
  int32_t d = 0, e = size - 1;
  while (d < size && copy[d] == other[d])
    ++d;
  while (e > d && copy[e] == other[e])
    --e;
  if (d == size)
    return false; // the same bytes
  const auto holds = [&] { return Mpeg_Crc32(work, static_cast<std::size_t>(size)) == 0; };
  const auto piece = [](uint8_t *to, const uint8_t *from, int32_t count) {
    std::memcpy(to, from, static_cast<std::size_t>(count));
  };
  const int32_t first_end = d + Ts_Payload_Size < size ? d + Ts_Payload_Size : size;
  const int32_t last_start = e + 1 - Ts_Payload_Size > 0 ? e + 1 - Ts_Payload_Size : 0;
  piece(work, copy, size);
  piece(work + d, other + d, first_end - d);
  bool repaired = holds();
  if (!repaired) {
    piece(work, copy, size);
    piece(work + last_start, other + last_start, e + 1 - last_start);
    repaired = holds();
  }
  constexpr int32_t First_Packet_End = Ts_Payload_Size - Pointer_Field_Size;
  const int32_t x = d - (d - First_Packet_End) % Ts_Payload_Size;
  for (int32_t lost = 0;
       lost < 2 && !repaired && d >= First_Packet_End && size - Ts_Payload_Size > x; ++lost) {
    const uint8_t *short_one = lost == 0 ? copy : other, *long_one = lost == 0 ? other : copy;
    piece(work, short_one, x);
    piece(work + x, long_one + x, Ts_Payload_Size);
    piece(work + x + Ts_Payload_Size, short_one + x, size - Ts_Payload_Size - x);
    repaired = holds();
  }
  if (repaired)
    piece(copy, work, size);
  return repaired;
}

// The candidate of section length L at t is complete: decodes it if it is
// sound or can be mended, or, behind a zero byte, as the plain decoder would
// where the failure rules say so (top of this file); says whether it did. A
// failure behind a zero byte that it passes over is remembered.
bool Decode_Checked(Section_Decoder &decoder, int32_t t, int32_t length, int32_t portal,
                    bool behind_zero) {
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const int32_t size = length + Section_Head_Bytes;
  const uint32_t crc = Mpeg_Crc32(buffer + t, static_cast<std::size_t>(size));
  if (crc == 0) {
    Decode_Section(decoder, t, length, portal, {Decode_Way::Sound, !behind_zero});
    return true;
  }
  const int32_t stray = Find_Stray_Pointer_Field(buffer, t, length);
  if (stray >= 0) {
    Take_Out_Byte(decoder, stray);
    Decode_Section(decoder, t, length, portal, {Decode_Way::Stray_Pointer_Taken_Out, !behind_zero});
    return true;
  }
  if (!behind_zero)
    return false; // found only by its header: shown only if it checks out
  const uint32_t start = decoder.Buffer_Start + static_cast<uint32_t>(t);
  if (Pairs_With_Failure(decoder, portal, start)) {
    if (length == decoder.Failed_Length && crc == decoder.Failed_Crc) {
      Decode_Section(decoder, t, length, portal, {Decode_Way::As_Carried, false});
      return true;
    }
    if (length == decoder.Failed_Length && Repair_From_Copies(decoder, t, size)) {
      Decode_Section(decoder, t, length, portal, {Decode_Way::Repaired, false});
      return true;
    }
    if (Read_Portal_Count(portal) < 2) {
      Decode_Section(decoder, t, length, portal, {Decode_Way::Unchecked, false});
      return true;
    }
  }
  decoder.Failed_Length = length;
  decoder.Failed_Crc = crc;
  decoder.Failed_Portal = portal;
  decoder.Failed_End = start + static_cast<uint32_t>(size);
  std::memcpy(decoder.Failed_Copy.data(), buffer + t, static_cast<std::size_t>(size));
  return false;
}

// A source section header found in the buffer: where its table_id stands,
// its section length, and where a stray pointer field stands inside it (-1:
// nowhere).
struct Found_Header {
  int32_t At = -1;
  int32_t Length = 0;
  int32_t Stray = -1;
};

// A stray pointer field inside the header itself: the section started in the
// last 12 bytes of a packet and the next section starts in the packet that
// holds the rest of it, so that packet's pointer field stands in front of
// the header's byte k (1 to 12). Read with byte t + k left out, the header
// is accepted and that byte counts the section's bytes behind it, L + 3 - k,
// as a pointer field does. Gives the section length, or 0. Reads 14 bytes.
int32_t Split_Header_Length(const uint8_t *buffer, int32_t t, int32_t k,
                            const Portal_Constants &constants) {
  uint8_t head[Source_Header_Judged];
  std::memcpy(head, buffer + t, static_cast<std::size_t>(k));
  std::memcpy(head + k, buffer + t + k + 1, static_cast<std::size_t>(Source_Header_Judged - k));
  const int32_t length = Source_Section_Length(head, constants);
  const int32_t behind = length + Section_Head_Bytes - k;
  return length != 0 && buffer[t + k] == behind && behind < Stray_Pointer_Reach ? length : 0;
}

// Whether the portal's source service id can stand in the header at `at`
// with a stray byte in front of its byte k, for some k from 1 to 11: behind
// the stray byte (k up to 3), around it (k = 4) or in front of it. Most
// headers of other services fail here, before any split is tried.
bool Service_Id_Near(const uint8_t *at, const Portal_Constants &constants) {
  const uint8_t high = static_cast<uint8_t>(constants.Source_Service_Id >> 8);
  const uint8_t low = static_cast<uint8_t>(constants.Source_Service_Id);
  constexpr int32_t Id = Eit_Service_Id_Offset;
  return (at[Id] == high && (at[Id + 1] == low || at[Id + 2] == low)) ||
         (at[Id + 1] == high && at[Id + 2] == low);
}

// The first source section header of the portal from table_id position
// `from` on, in buffer order (13 bytes there to judge, the fields and the
// length word accepted), whole or with a stray pointer field inside.
//
// This is the byte-by-byte walk done faster: every such header has the
// original network id's low byte 0x85 at offset 11 (12 behind a stray
// pointer field in front of it), a byte far rarer in EIT data than most, so
// memchr jumps from one 0x85 to the next and only the places it fixes are
// tested, in buffer order; a split header is tried only where the byte
// behind the 0x85 or the one behind that can be segment_last_section_number.
// The first place that passes is the same first place the plain walk finds.
Found_Header Find_Source_Header(const uint8_t *buffer, int32_t from, int32_t fill,
                                const Portal_Constants &constants) {
  constexpr int32_t Network_Low = Eit_Original_Network_Id_Offset + 1;
  constexpr int32_t Split_Span = Source_Header_Judged + 1; // bytes a split header takes
  constexpr int32_t Last_Split_Place = Eit_Segment_Last_Section_Number_Offset;
  const int32_t last = fill - Source_Header_Judged + Network_Low; // the last 0x85 to look at
  for (int32_t h = from + Network_Low; h <= last; ++h) {
    const void *hit = std::memchr(buffer + h, Portal_Original_Network_Id & 0xFF,
                                  static_cast<std::size_t>(last - h + 1));
    if (hit == nullptr)
      break;
    h = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - buffer);
    const int32_t t = h - Network_Low;
    if (t - 1 >= from && t - 1 + Split_Span <= fill && buffer[h + 1] == 0x01 &&
        Service_Id_Near(buffer + t - 1, constants))
      for (int32_t k = 1; k < Last_Split_Place; ++k)
        if (const int32_t length = Split_Header_Length(buffer, t - 1, k, constants))
          return {t - 1, length, t - 1 + k};
    if (const int32_t length = Source_Section_Length(buffer + t, constants))
      return {t, length, -1};
    if (t + Split_Span <= fill && buffer[h + 2] == 0x01)
      if (const int32_t length = Split_Header_Length(buffer, t, Last_Split_Place, constants))
        return {t, length, t + Last_Split_Place};
  }
  return {};
}

// A candidate whose header has a stray pointer field inside: decoded if the
// section holds without that byte, else passed over (the plain decoder
// never finds such a copy, so none takes part in the failure rules).
bool Decode_Split(Section_Decoder &decoder, const Found_Header &found, int32_t portal,
                  bool behind_zero) {
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const int32_t before = found.Stray - found.At;
  const uint32_t crc = Mpeg_Crc32_Update(
      Mpeg_Crc32(buffer + found.At, static_cast<std::size_t>(before)), buffer + found.Stray + 1,
      static_cast<std::size_t>(found.Length + Section_Head_Bytes - before));
  if (crc != 0)
    return false;
  Take_Out_Byte(decoder, found.Stray);
  Decode_Section(decoder, found.At, found.Length, portal,
                 {Decode_Way::Stray_Pointer_Taken_Out, !behind_zero});
  return true;
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

} // namespace

// One pass over the buffer, as described at the top of this file: decode
// the first complete candidate, keep an incomplete one (with the byte in
// front of it, which tells how it will be judged) or the last bytes, too
// few to judge.
void Scan_Section_Buffer(Section_Decoder &decoder) {
  const int32_t portal = Take_Scan_Portal(decoder);
  if (portal < 0 || portal >= Portal_Total) { // cannot happen; never index outside
    Empty_Section_Buffer(decoder);
    return;
  }
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const int32_t fill = decoder.Fill;
  const Portal_Constants &constants = Portal_Constants_Table[portal];
  for (Found_Header found;
       (found = Find_Source_Header(buffer, found.At + 1, fill, constants)).At >= 0;) {
    const int32_t t = found.At;
    if (fill - t <= found.Length + Section_Complete_Extra) {
      Keep_Tail(decoder, t > 0 ? t - 1 : 0); // the section is not complete yet
      return;
    }
    const bool behind_zero = t > 0 && buffer[t - 1] == 0x00;
    if (found.Stray >= 0 ? Decode_Split(decoder, found, portal, behind_zero)
                         : Decode_Checked(decoder, t, found.Length, portal, behind_zero))
      return;
  }
  // No candidate: a section may still start in the last 13 bytes (and the
  // byte in front of the first of them that can is among them).
  Keep_Tail(decoder, fill > Source_Header_Judged ? fill - Source_Header_Judged : 0);
}

void Reset_Section_Decoder(Section_Decoder &decoder) {
  decoder.Fill = 0;
  decoder.Scan_Idle = 1;
  decoder.First_Chunk_Seen = 0;
  decoder.Scan_Portal = 0;
  decoder.Chunk_Dropped = 0;
  decoder.Buffer_Start = 0;
  decoder.Failed_Length = 0;
  decoder.Failed_Crc = 0;
  decoder.Failed_Portal = 0;
  decoder.Failed_End = 0;
  decoder.Last_Decode = Decode_Way::None;
  decoder.Last_Inside_Packet = false;
  decoder.Last_From_Packets = false;
  decoder.Chunk_Was_Packet = false;
}

void Arm_Section_Decoder(Section_Decoder &decoder) {
  decoder.Scan_Idle = 0;
}

void Disarm_Section_Decoder(Section_Decoder &decoder) {
  decoder.Scan_Idle = 1;
}

void Restart_Section_Buffer(Section_Decoder &decoder) {
  decoder.First_Chunk_Seen = 0;
}

int32_t Section_Scan_Portal(const Section_Decoder &decoder) {
  return decoder.Scan_Portal.load(std::memory_order_relaxed);
}

void Clear_Scan_Portal(Section_Decoder &decoder) {
  decoder.Scan_Portal.store(0, std::memory_order_relaxed);
}
