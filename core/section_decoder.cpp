// A decoder's scan: find its portal's source section among the gathered
// bytes, judge it, decode it. The gathering is in section_feed.h, inlined
// into both feeders.
//
// Scanning. The buffer is walked in order for the first place that holds
// the head of the source section (core/portal_section_rule.h). The byte in
// front of it may be any byte: in a payload a section behind a zero byte
// starts right behind a pointer field of 0, one behind any other byte starts
// behind another section, inside the packet, as multiplexers pack EIT; a
// host that hands over whole sections puts it at the front of a chunk. A
// candidate whose bytes have not all arrived is kept at the front of the
// buffer, with the byte in front of it, and judged as soon as they have; a
// scan that finds none keeps the last 13 bytes, which may still start one.
//
// Judging. A complete candidate is judged by the rules below, in their
// order; the first that applies says how it decodes, or why it does not.
// Judge_Candidate applies them and writes nothing but its work area;
// Carry_Out does what the judgement says.
//
//  Rule                         The candidate...                  Why                          From
//  1 Sound                      ...has a CRC_32 that holds over   it arrived as sent 13818-1 Annex
//  A,
//                               table_id to the CRC's end §2.4.4.11
//  2 Stray_Pointer_Taken_Out    ...holds once a byte that counts  the next section starts in
//  13818-1 §2.4.4.2
//                               the section's bytes behind it     its last packet, whose
//                               is taken out: in its last 184     pointer_field the payloads
//                               bytes, or in its header if it     we are handed keep inside
//                               began in a packet's last 12       the section
//  Only a candidate behind a zero byte (behind a pointer field of 0, where a decoder without a
//  CRC check takes it) goes on; others, and split headers, go to rule 7.
//  3 As_Carried                 ...fails as the remembered        the stream carries it so (a  -
//                               failure did, starting behind it:  multiplexer's wrong CRC);
//                               same length and CRC value         the same bytes twice
//  4 Repaired                   ...and the remembered failure,    every copy damaged in 13818-1
//  §2.4.3.2
//                               same length, rebuild one whose    another packet: together
//                               (184-byte CRC holds (Rebuild_From_Copies)   they hold every byte
//                               payloads)
//  5 Unchecked                  ...follows the remembered         every copy damaged: show     -
//                               failure and the portal shows no   what a decoder without a
//                               list                              CRC check shows
//  6 Failed_Remembered          ...fails otherwise, behind a      it may pair with the next    -
//                               zero byte: remembered for 3 to 5  copy
//  7 Failed_Passed_Over         ...fails inside a packet, or      no decoder without a CRC     -
//                               with a split header               check would see it
//
// A copy counts as following the remembered failure (rules 3 to 5) only for
// the same portal and when it starts behind that failure's end: two
// candidates inside one stretch of bytes are not two copies. A failure is
// passed over as if its header had not matched: the scan goes on behind it,
// and the decoder stays armed.
//
// Decoding. The section is moved to the front, 12 zero bytes are written
// over its end (over its CRC, once checked), and every portal linkage
// descriptor in it becomes an entry, in order; the list goes to the owner,
// which writes it into its table (Apply_Decoded_List). Every decode disarms
// the decoder and forgets the remembered failure.
//
// Choices where the data leaves room:
// - Only 17 entries fit a portal. Matches after the 17th are ignored and
//   the count is then 17.
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

// Tells the owner's observer a step, where the build has observers.
inline void Tell(const Decoder_Owner &owner, Decoder_Step step, int32_t portal, uint32_t at,
                 int32_t length, int32_t value, const Decoded_List *list = nullptr) {
  if constexpr (Decoder_Events) {
    if (owner.Observe != nullptr) {
      Decoder_Event event;
      event.Step = step;
      event.Portal = portal;
      event.At = at;
      event.Length = length;
      event.Value = value;
      event.List = list;
      owner.Observe(event, owner.Context);
    }
  }
}

// A source section header found in the buffer, and what the scan knows of
// it.
struct Candidate {
  int32_t At;       // its table_id in the buffer
  int32_t Length;   // its section length
  int32_t Stray;    // a stray pointer field inside its header, or -1
  bool Behind_Zero; // a zero byte in front of it
};

// How a candidate is judged, and what carrying that out needs.
struct Verdict {
  Judgement Way = Judgement::None;
  int32_t Stray = -1;   // the byte to take out (rule 2), in the buffer
  bool In_Work = false; // the section to decode is in Repair_Work (rule 4)
  uint32_t Crc = 0;     // the CRC value computed over it as it stands
};

// Where the candidate at buffer offset t stands in the bytes gathered.
uint32_t Gathered_At(const Section_Decoder &decoder, int32_t t) {
  return decoder.Buffer_Start + static_cast<uint32_t>(t);
}

// Moves bytes [from, Fill) to the front of the buffer.
void Keep_Tail(Section_Decoder &decoder, int32_t from) {
  const int32_t rest = decoder.Fill - from;
  uint8_t *buffer = decoder.Section_Buffer.data();
  std::memmove(buffer, buffer + from, static_cast<std::size_t>(rest));
  decoder.Buffer_Start += static_cast<uint32_t>(from);
  decoder.Fill = rest;
}

// Takes byte `at` out of the buffer: the bytes behind it move up by one.
void Take_Out_Byte(Section_Decoder &decoder, int32_t at) {
  uint8_t *buffer = decoder.Section_Buffer.data();
  std::memmove(buffer + at, buffer + at + 1, static_cast<std::size_t>(decoder.Fill - at - 1));
  --decoder.Fill;
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
// Each is built in `work` and kept only if its CRC holds: says whether one
// did (it is then in `work`, `size` bytes).
bool Rebuild_From_Copies(const uint8_t *copy, const uint8_t *other, int32_t size, uint8_t *work) {
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
  return repaired;
}

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
// length word accepted), whole or with a stray pointer field inside: its
// place, length and stray byte go into `found`. Says whether there is one.
//
// This is the byte-by-byte walk done faster: every such header has the
// original network id's low byte 0x85 at offset 11 (12 behind a stray
// pointer field in front of it), a byte far rarer in EIT data than most, so
// memchr jumps from one 0x85 to the next and only the places it fixes are
// tested, in buffer order; a split header is tried only where the byte
// behind the 0x85 or the one behind that can be segment_last_section_number.
// The first place that passes is the same first place the plain walk finds.
bool Find_Source_Header(const uint8_t *buffer, int32_t from, int32_t fill,
                        const Portal_Constants &constants, Candidate &found) {
  const auto take = [&found](int32_t at, int32_t length, int32_t stray) {
    found.At = at;
    found.Length = length;
    found.Stray = stray;
    return true;
  };
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
          return take(t - 1, length, t - 1 + k);
    if (const int32_t length = Source_Section_Length(buffer + t, constants))
      return take(t, length, -1);
    if (t + Split_Span <= fill && buffer[h + 2] == 0x01)
      if (const int32_t length = Split_Header_Length(buffer, t, Last_Split_Place, constants))
        return take(t, length, t + Last_Split_Place);
  }
  return false;
}

// The rules at the top of this file, applied to a complete candidate of
// `portal`, whose owner says it shows `shown`. Writes nothing but `work`,
// where a rebuilt section (rule 4) is left.
Verdict Judge_Candidate(const Section_Decoder &decoder, const Candidate &candidate, int32_t portal,
                        Shown_List shown, uint8_t *work, const Decoder_Owner &owner) {
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const int32_t t = candidate.At, length = candidate.Length;
  const int32_t size = length + Section_Head_Bytes;
  const uint32_t at = Gathered_At(decoder, t);
  Verdict verdict;
  const auto judged = [&](Judgement way) {
    verdict.Way = way;
    Tell(owner, Decoder_Step::Judged, portal, at, length, static_cast<int32_t>(way));
    return verdict;
  };
  if (candidate.Stray >= 0) { // a split header: whole only without its stray byte
    const int32_t before = candidate.Stray - t;
    verdict.Crc =
        Mpeg_Crc32_Update(Mpeg_Crc32(buffer + t, static_cast<std::size_t>(before)),
                          buffer + candidate.Stray + 1, static_cast<std::size_t>(size - before));
    Tell(owner, Decoder_Step::Crc_Checked, portal, at, length, verdict.Crc == 0);
    if (verdict.Crc != 0)
      return judged(Judgement::Failed_Passed_Over);
    verdict.Stray = candidate.Stray;
    Tell(owner, Decoder_Step::Stray_Taken_Out, portal, at, length, before);
    return judged(Judgement::Stray_Pointer_Taken_Out);
  }
  verdict.Crc = Mpeg_Crc32(buffer + t, static_cast<std::size_t>(size));
  Tell(owner, Decoder_Step::Crc_Checked, portal, at, length, verdict.Crc == 0);
  if (verdict.Crc == 0)
    return judged(Judgement::Sound);
  verdict.Stray = Find_Stray_Pointer_Field(buffer, t, length);
  if (verdict.Stray >= 0) {
    Tell(owner, Decoder_Step::Stray_Taken_Out, portal, at, length, verdict.Stray - t);
    return judged(Judgement::Stray_Pointer_Taken_Out);
  }
  if (!candidate.Behind_Zero)
    return judged(Judgement::Failed_Passed_Over);
  const bool follows = decoder.Failed_Length != 0 && decoder.Failed_Portal == portal &&
                       static_cast<int32_t>(at - decoder.Failed_End) >= 0;
  if (!follows)
    return judged(Judgement::Failed_Remembered);
  const bool same_length = length == decoder.Failed_Length;
  const bool same_failure = same_length && verdict.Crc == decoder.Failed_Crc;
  Tell(owner, Decoder_Step::Paired, portal, at, length, same_failure);
  if (same_failure)
    return judged(Judgement::As_Carried);
  if (same_length) {
    verdict.In_Work = Rebuild_From_Copies(buffer + t, decoder.Failed_Copy.data(), size, work);
    Tell(owner, Decoder_Step::Repair_Tried, portal, at, length, verdict.In_Work);
    if (verdict.In_Work)
      return judged(Judgement::Repaired);
  }
  return judged(shown.Listed ? Judgement::Failed_Remembered : Judgement::Unchecked);
}

// Decodes the section of length L whose table_id stands at t, hands the
// list to the owner, then disarms the decoder and empties the buffer.
void Decode_Section(Section_Decoder &decoder, const Candidate &candidate, int32_t portal,
                    Judgement way, const Decoder_Owner &owner) {
  const int32_t t = candidate.At, length = candidate.Length;
  uint8_t *buffer = decoder.Section_Buffer.data();
  Decoded_List list;
  list.Portal = portal;
  list.Way = way;
  list.Inside_Packet = !candidate.Behind_Zero;
  list.From_Packets = decoder.Chunk_Was_Packet;
  list.At = Gathered_At(decoder, t);
  list.Length = length;
  list.Version = Eit_Version(buffer + t);
  if (t == 0) // a section at the buffer's first byte: make room for the byte in front
    std::memmove(buffer + Moved_Table_Id, buffer, static_cast<std::size_t>(length + 1));
  else
    std::memmove(buffer, buffer + t - Moved_Table_Id, static_cast<std::size_t>(length + 2));
  std::memset(buffer + length, 0, Section_Tail_Zeros);
  for (int32_t j = Moved_Descriptor_Start; j < length; ++j) {
    if (!Matches_Portal_Descriptor(buffer + j))
      continue;
    if (list.Found < Portal_Entry_Total)
      list.Entries[list.Found] = Entry_From_Descriptor(buffer + j);
    ++list.Found;
  }
  list.Count = list.Found < Portal_Entry_Total ? list.Found : Portal_Entry_Total;
  owner.Take(list, owner.Context);
  Tell(owner, Decoder_Step::Decoded, portal, list.At, length, list.Count, &list);
  decoder.Failed_Length = 0;
  decoder.Scan_Idle = 1;
  Empty_Section_Buffer(decoder);
}

// Does what the judgement says: decodes (the repaired bytes put in place of
// the copy, or the stray byte taken out first), or remembers the failure.
// Says whether it decoded.
bool Carry_Out(Section_Decoder &decoder, const Candidate &candidate, const Verdict &verdict,
               int32_t portal, const Decoder_Owner &owner) {
  const int32_t size = candidate.Length + Section_Head_Bytes;
  if (verdict.Way == Judgement::Failed_Remembered) {
    decoder.Failed_Length = candidate.Length;
    decoder.Failed_Crc = verdict.Crc;
    decoder.Failed_Portal = portal;
    decoder.Failed_End = Gathered_At(decoder, candidate.At) + static_cast<uint32_t>(size);
    std::memcpy(decoder.Failed_Copy.data(), decoder.Section_Buffer.data() + candidate.At,
                static_cast<std::size_t>(size));
    return false;
  }
  if (!Judgement_Decodes(verdict.Way))
    return false;
  if (verdict.In_Work)
    std::memcpy(decoder.Section_Buffer.data() + candidate.At, decoder.Repair_Work.data(),
                static_cast<std::size_t>(size));
  if (verdict.Stray >= 0)
    Take_Out_Byte(decoder, verdict.Stray);
  Decode_Section(decoder, candidate, portal, verdict.Way, owner);
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
// the first complete candidate that the rules let decode, keep an
// incomplete one (with the byte in front of it, which tells how it will be
// judged) or the last bytes, too few to judge.
void Scan_Section_Buffer(Section_Decoder &decoder, const Decoder_Owner &owner) {
  const int32_t portal = Take_Scan_Portal(decoder);
  if (portal < 0 || portal >= Portal_Total) { // cannot happen; never index outside
    Empty_Section_Buffer(decoder);
    return;
  }
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const int32_t fill = decoder.Fill;
  const Portal_Constants &constants = Portal_Constants_Table[portal];
  Candidate candidate;
  for (int32_t from = 0; Find_Source_Header(buffer, from, fill, constants, candidate);
       from = candidate.At + 1) {
    const int32_t t = candidate.At;
    candidate.Behind_Zero = t > 0 && buffer[t - 1] == 0x00;
    Tell(owner, Decoder_Step::Candidate_Found, portal, Gathered_At(decoder, t), candidate.Length,
         t > 0 ? buffer[t - 1] : -1);
    const int32_t needed = t + candidate.Length + Section_Complete_Extra + 1; // Fill for whole
    if (fill < needed) {
      Tell(owner, Decoder_Step::Kept_Incomplete, portal, Gathered_At(decoder, t), candidate.Length,
           needed - fill);
      const int32_t from = t > 0 ? t - 1 : 0;
      Keep_Tail(decoder, from);
      decoder.Scan_Sooner = Scan_Threshold - (needed - from);
      return;
    }
    const Verdict verdict =
        Judge_Candidate(decoder, candidate, portal, owner.Shows(portal, owner.Context),
                        decoder.Repair_Work.data(), owner);
    if (Carry_Out(decoder, candidate, verdict, portal, owner))
      return;
  }
  // No candidate: a section may still start in the last 13 bytes (and the
  // byte in front of the first of them that can is among them).
  const int32_t from = fill > Source_Header_Judged ? fill - Source_Header_Judged : 0;
  Tell(owner, Decoder_Step::Tail_Kept, portal, Gathered_At(decoder, from), 0, fill - from);
  Keep_Tail(decoder, from);
  decoder.Scan_Sooner = 0;
}

int32_t Apply_Decoded_List(Portal_Row &row, int32_t count, const Decoded_List &list) {
  if (list.Count >= 2) {
    for (int32_t i = 0; i < Portal_Entry_Total; ++i)
      row[i] = list.Entries[i];
    return list.Count;
  }
  if (list.Count == 1)
    row[0] = list.Entries[0];
  return count;
}

void Reset_Section_Decoder(Section_Decoder &decoder) {
  decoder.Fill = 0;
  decoder.Scan_Idle = 1;
  decoder.First_Chunk_Seen = 0;
  decoder.Scan_Portal = 0;
  decoder.Chunk_Dropped = 0;
  decoder.Scan_Sooner = 0;
  decoder.Buffer_Start = 0;
  decoder.Failed_Length = 0;
  decoder.Failed_Crc = 0;
  decoder.Failed_Portal = 0;
  decoder.Failed_End = 0;
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
