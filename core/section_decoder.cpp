// A decoder's scan: find its portal's source section among the gathered
// bytes, judge it, decode it. The gathering is in section_feed.h, inlined
// into both feeders; making a sound section of failing copies is in
// failed_copies.cpp.
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
// Judge_Candidate applies them and writes nothing but its work areas; the
// scan keeps a failing copy where the judgement says so, and Carry_Out
// decodes.
//
//  Rule                      The candidate...                  Why                         From
//  1 Sound                   ...has a CRC_32 that holds        it arrived as sent          13818-1
//                            over table_id to the CRC's end                                Annex A
//  2 Stray_Pointer_Taken_Out ...holds once a byte counting     the next section starts in  13818-1
//                            the section's bytes behind it     its last packet, whose      2.4.4.2
//                            is taken out: in its last 184     pointer_field the payloads
//                            bytes, or in its header if it     we are handed keep inside
//                            began in a packet's last 12       the section
//  A candidate that fails is shaped as it is kept: a stray pointer field at a packet
//  start and a packet's bytes that stand in it twice are taken out, where the packet
//  starts say so.
//  4 Repaired                ...holds shaped so, or made       each copy damaged elsewhere 13818-1
//                            with the failing copies kept      or a packet lost or sent    2.4.3.2,
//                            before: a splice of two, a        twice: together they hold   2.4.3.3
//                            lost packet put back, the         every byte once
//                            vote of three or more             (failed_copies.h)
//  Where nothing checks out, a decoder without a CRC check is matched, one repetition
//  later: it shows the first failing copy behind a zero byte it meets. Rules 3 and 5
//  show a failing copy only where the portal shows no list, the default entry a reset
//  left, a list of another version_number, or one that did not check out either; first
//  the rest of the buffer is looked at, and a section that checks out there wins.
//  3 As_Carried              ...behind a zero byte, has the    the stream carries it so    -
//                            bytes of a kept copy that stood   (a multiplexer's wrong CRC)
//                            a packet's payload or more before
//  5 Unchecked               ...fails, and a failing copy      every copy damaged: show    -
//                            behind a zero byte was kept:      what the plain decoder
//                            that one is shown                 shows
//  6 Failed_Remembered       ...fails otherwise: kept          it may make a sound one     -
//                                                              with the next copies
//  7 Failed_Passed_Over      ...has the bytes of a kept copy   one transmission, or one    13818-1
//                            and is not shown                  copy standing twice         2.4.3.3
//
// A failure is passed over as if its header had not matched: the scan goes
// on behind it, and the decoder stays armed.
//
// Decoding. The section is moved to the front, 12 zero bytes are written
// over its end (over its CRC, once checked), and every portal linkage
// descriptor in it becomes an entry, in order; the list goes to the owner,
// which writes it into its table (Apply_Decoded_List). Every decode disarms
// the decoder; one that checked out forgets the portal's kept copies.
//
// Choices where the data leaves room:
// - Only 17 entries fit a portal. Matches after the 17th are ignored and
//   the count is then 17.
// - A descriptor of length 5 or 6 has no room for a name; its entry gets an
//   empty name.
// - A negative count, or a missing address with a positive count, is not
//   data: the call returns at once and the buffer stays as it was.
#include "core/section_decoder.h"

#include "core/failed_copies.h"
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

// Where the section a judgement decodes stands.
enum class Source : int32_t { Buffer, Made_Work, Kept };

// How a candidate is judged, and what carrying that out needs; the shaped
// copy and its packet starts are in the decoder's Judge_Work.
// (No initializers: the module's compiler would keep a copy of them in
// writable data, which costs the module a section of its own.)
struct Verdict {
  Judgement Way;
  Source From;
  int32_t Stray; // the byte to take out of the buffer (rule 2), or -1
  int32_t Slot;  // the kept copy shown (rules 3 and 5), or -1
  int32_t Needs; // bytes more the candidate needs: a packet stands in it twice
  bool Keep;     // the shaped copy is kept as a failing copy
};

// What a decode hands on besides the entries.
struct Decode_Note {
  Judgement Way;
  bool Inside_Packet; // no zero byte in front
  uint32_t At;        // table_id's place in the bytes gathered
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

// Takes `count` bytes at `at` out of the raw copy, `size` bytes, and moves
// the packet starts behind them up (those among them go).
void Cut_Copy(Judge_Work &work, int32_t &size, int32_t at, int32_t count) {
  uint8_t *raw = work.Raw.data();
  std::memmove(raw + at, raw + at + count, static_cast<std::size_t>(size - at - count));
  size -= count;
  Failed_Copy &copy = work.Copy;
  int32_t kept = 0;
  for (int32_t i = 0; i < copy.Packet_Start_Count; ++i) {
    const int32_t start = copy.Packet_Starts[i];
    if (start < at || start >= at + count)
      copy.Packet_Starts[kept++] = static_cast<uint16_t>(start < at ? start : start - count);
  }
  copy.Packet_Start_Count = kept;
}

// The failing candidate of `portal` shaped as it is kept, into the work's
// Copy: a stray pointer field inside its header and one at its last packet
// start are taken out. A packet that stands in it twice is taken out once
// where the CRC then holds: that section is left in the work's Made
// (true). Where such a cut leaves it short of bytes, the verdict says how
// many more it needs.
bool Shape_Failing_Copy(const Section_Decoder &decoder, const Candidate &candidate, int32_t portal,
                        Judge_Work &work, Verdict &verdict) {
  const int32_t size = candidate.Length + Section_Head_Bytes;
  const int32_t t = candidate.At;
  constexpr int32_t Margin = Section_Complete_Extra - 2; // bytes behind it a whole one has
  int32_t have = decoder.Fill - t; // the bytes from table_id on, as far as they can matter
  if (have > size + Ts_Payload_Size + Margin)
    have = size + Ts_Payload_Size + Margin;
  uint8_t *raw = work.Raw.data();
  std::memcpy(raw, decoder.Section_Buffer.data() + t, static_cast<std::size_t>(have));
  Failed_Copy &copy = work.Copy;
  copy.Length = candidate.Length;
  copy.Portal = portal;
  copy.Start = Gathered_At(decoder, t);
  copy.End = copy.Start + static_cast<uint32_t>(size);
  copy.Behind_Zero = candidate.Behind_Zero;
  copy.Packet_Start_Count =
      Find_Packet_Starts(decoder.Chunks, copy.Start, copy.Start + static_cast<uint32_t>(have),
                         candidate.Behind_Zero, copy.Packet_Starts.data());
  if (candidate.Stray >= 0)
    Cut_Copy(work, have, candidate.Stray - t, 1);
  // A packet sent twice: its bytes right behind themselves (a packet's, so
  // at most a payload: a host's longer piece is no packet). Alike packets of
  // stuffing or filler are no sign; the CRC tells.
  for (int32_t i = 0; i < copy.Packet_Start_Count; ++i) {
    const int32_t start = copy.Packet_Starts[i];
    const int32_t packet =
        Packet_Size_At(copy.Packet_Starts.data(), copy.Packet_Start_Count, start);
    if (packet > Ts_Payload_Size || start < packet || start + packet > have || start >= size ||
        std::memcmp(raw + start - packet, raw + start, static_cast<std::size_t>(packet)) != 0)
      continue;
    if (have - packet < size + Margin) {
      verdict.Needs = size + Margin - (have - packet);
      return false;
    }
    std::memcpy(work.Made.data(), raw, static_cast<std::size_t>(start));
    std::memcpy(work.Made.data() + start, raw + start + packet,
                static_cast<std::size_t>(size - start));
    if (Section_Crc_Holds(work.Made.data(), static_cast<std::size_t>(size)))
      return true;
  }
  for (int32_t i = copy.Packet_Start_Count - 1; i >= 0; --i) {
    const int32_t start = copy.Packet_Starts[i];
    if (start <= size - Stray_Pointer_Reach || start < Descriptor_Scan_Start)
      break;
    if (start < size && raw[start] == size - start) {
      Cut_Copy(work, have, start, 1);
      break;
    }
  }
  while (copy.Packet_Start_Count > 0 && copy.Packet_Starts[copy.Packet_Start_Count - 1] >= size)
    --copy.Packet_Start_Count;
  std::memcpy(copy.Bytes.data(), raw, static_cast<std::size_t>(size));
  return false;
}

// Whether a failing copy may be shown, as the portal shows `shown`: not
// where it shows a list of the same version that checked out.
bool May_Show_Failing(const Shown_List &shown, const uint8_t *section) {
  return !shown.Listed || !shown.Checked || shown.Version != Eit_Version(section);
}

// Rules 1 and 2 (the top of this file) on a complete candidate: the
// verdict's way is Sound, Stray_Pointer_Taken_Out or, where neither holds,
// None.
[[gnu::noinline]] void Judge_Sound(const Section_Decoder &decoder, const Candidate &candidate,
                                   int32_t portal, const Decoder_Owner &owner, Verdict &verdict) {
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const int32_t t = candidate.At, length = candidate.Length;
  const int32_t size = length + Section_Head_Bytes;
  const uint32_t at = Gathered_At(decoder, t);
  verdict.Way = Judgement::None;
  verdict.From = Source::Buffer;
  verdict.Slot = -1;
  verdict.Needs = 0;
  verdict.Keep = false;
  uint32_t crc;
  if (candidate.Stray >= 0) { // a split header: whole only without its stray byte
    const int32_t before = candidate.Stray - t;
    crc = Mpeg_Crc32_Update(Mpeg_Crc32(buffer + t, static_cast<std::size_t>(before)),
                            buffer + candidate.Stray + 1, static_cast<std::size_t>(size - before));
    verdict.Stray = crc == 0 ? candidate.Stray : -1;
  } else {
    crc = Mpeg_Crc32(buffer + t, static_cast<std::size_t>(size));
    verdict.Stray = crc == 0 ? -1 : Find_Stray_Pointer_Field(buffer, t, length);
  }
  Tell(owner, Decoder_Step::Crc_Checked, portal, at, length, crc == 0);
  if (verdict.Stray >= 0) {
    Tell(owner, Decoder_Step::Stray_Taken_Out, portal, at, length, verdict.Stray - t);
    verdict.Way = Judgement::Stray_Pointer_Taken_Out;
  } else if (crc == 0) {
    verdict.Way = Judgement::Sound;
  }
}

// Rules 3 to 7 on a failing copy (the top of this file), the candidate
// shaped in `work`, judged with the kept copies of `portal`. Writes nothing
// but `work`.
void Judge_Failing(const Section_Decoder &decoder, const Candidate &candidate, int32_t portal,
                   Judge_Work &work, const Decoder_Owner &owner, Verdict &verdict) {
  const int32_t length = candidate.Length, size = length + Section_Head_Bytes;
  const uint32_t at = Gathered_At(decoder, candidate.At);
  const uint8_t *copy = work.Copy.Bytes.data();
  verdict.Way = Judgement::Repaired;
  verdict.From = Source::Made_Work;
  // (The shaped copy alone never holds: its cuts are stray bytes rules 1
  // and 2 have tried.)
  if (Shape_Failing_Copy(decoder, candidate, portal, work, verdict) || verdict.Needs > 0)
    return;
  const uint8_t *voters[Failed_Copy_Total + 1] = {copy};
  int32_t voter_count = 1, same = -1, previous = -1;
  for (int32_t slot = 0; slot < Failed_Copy_Total; ++slot) {
    const Failed_Copy &other = decoder.Failed[slot];
    if (other.Length == 0 || other.Portal != portal)
      continue;
    // The newest copy behind a zero byte before this one (not a candidate
    // among its bytes): the one a decoder without a CRC check showed.
    if (other.Behind_Zero && static_cast<int32_t>(at - other.End) >= 0 &&
        (previous < 0 || other.Order > decoder.Failed[previous].Order))
      previous = slot;
    if (other.Length != length)
      continue;
    voters[voter_count++] = other.Bytes.data();
    const bool alike = std::memcmp(copy, other.Bytes.data(), static_cast<std::size_t>(size)) == 0;
    Tell(owner, Decoder_Step::Paired, portal, other.Start, length, alike);
    if (alike) {
      same = slot;
      continue;
    }
    const bool made = Splice_Copies(copy, other.Bytes.data(), size, work.Made.data()) ||
                      Put_Back_Lost_Packet(work.Copy, other, size, work.Made.data()) ||
                      Put_Back_Lost_Packet(other, work.Copy, size, work.Made.data());
    Tell(owner, Decoder_Step::Repair_Tried, portal, other.Start, length, made);
    if (made)
      return;
  }
  if (voter_count >= 3) {
    const bool made = Vote_Copies(voters, voter_count, size, work.Made.data());
    Tell(owner, Decoder_Step::Repair_Tried, portal, at, length, made);
    if (made)
      return;
  }
  // Nothing checks out: as a decoder without a CRC check would show it.
  const Shown_List shown = owner.Shows(portal, owner.Context);
  verdict.From = Source::Kept;
  if (same >= 0) {
    const bool two_transmissions =
        static_cast<int32_t>(at - decoder.Failed[same].End) >= Ts_Payload_Size;
    verdict.Slot = same;
    verdict.Way = two_transmissions && candidate.Behind_Zero && May_Show_Failing(shown, copy)
                      ? Judgement::As_Carried
                      : Judgement::Failed_Passed_Over;
    return;
  }
  verdict.Keep = true;
  verdict.Slot = previous;
  verdict.Way = previous >= 0 && May_Show_Failing(shown, decoder.Failed[previous].Bytes.data())
                    ? Judgement::Unchecked
                    : Judgement::Failed_Remembered;
}

// The rules at the top of this file, applied to a complete candidate of
// `portal`. Writes nothing but the decoder's Judge_Work. (Kept out of the
// scan's loop, which runs on every 920 bytes while this runs on
// candidates only: inlined, it crowds the loop's registers.)
[[gnu::noinline]] void Judge_Candidate(const Section_Decoder &decoder, const Candidate &candidate,
                                       int32_t portal, Judge_Work &work, const Decoder_Owner &owner,
                                       Verdict &verdict) {
  Judge_Sound(decoder, candidate, portal, owner, verdict);
  if (verdict.Way == Judgement::None)
    Judge_Failing(decoder, candidate, portal, work, owner, verdict);
  if (verdict.Needs == 0)
    Tell(owner, Decoder_Step::Judged, portal, Gathered_At(decoder, candidate.At), candidate.Length,
         static_cast<int32_t>(verdict.Way));
}

// Keeps the shaped copy: in a free slot, or in place of the oldest copy but
// `spare`.
void Keep_Copy(Section_Decoder &decoder, int32_t spare) {
  int32_t slot = -1;
  for (int32_t i = 0; i < Failed_Copy_Total; ++i) {
    if (i == spare)
      continue;
    if (decoder.Failed[i].Length == 0) {
      slot = i;
      break;
    }
    if (slot < 0 || decoder.Failed[i].Order < decoder.Failed[slot].Order)
      slot = i;
  }
  decoder.Failed[slot] = decoder.Work.Copy;
  decoder.Failed[slot].Order = decoder.Failed_Kept++;
}

// Decodes the section of length L whose table_id stands at buffer offset t,
// hands the list to the owner, then disarms the decoder and empties the
// buffer; a section that checked out makes the portal's kept copies go.
void Decode_Section(Section_Decoder &decoder, int32_t t, int32_t length, int32_t portal,
                    const Decode_Note &note, const Decoder_Owner &owner) {
  uint8_t *buffer = decoder.Section_Buffer.data();
  Decoded_List list;
  list.Portal = portal;
  list.Way = note.Way;
  list.Inside_Packet = note.Inside_Packet;
  list.From_Packets = decoder.Chunk_Was_Packet;
  list.At = note.At;
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
  if (Judgement_Checked(note.Way))
    for (Failed_Copy &kept : decoder.Failed)
      if (kept.Portal == portal)
        kept.Length = 0;
  decoder.Scan_Idle = 1;
  Empty_Section_Buffer(decoder);
}

// Decodes as a judgement that decodes says: the section where it stands
// (the stray byte taken out first), a section made of copies put in place
// of the copy, or a kept copy put at the front.
[[gnu::noinline]] void Carry_Out(Section_Decoder &decoder, const Candidate &candidate,
                                 const Verdict &verdict, int32_t portal,
                                 const Decoder_Owner &owner) {
  uint8_t *buffer = decoder.Section_Buffer.data();
  int32_t t = candidate.At, length = candidate.Length;
  Decode_Note note{verdict.Way, !candidate.Behind_Zero, Gathered_At(decoder, t)};
  if (verdict.From == Source::Kept) {
    const Failed_Copy &kept = decoder.Failed[verdict.Slot];
    t = Moved_Table_Id;
    length = kept.Length;
    if (verdict.Way == Judgement::Unchecked)
      note = {verdict.Way, !kept.Behind_Zero, kept.Start};
    buffer[0] = 0x00;
    std::memcpy(buffer + t, kept.Bytes.data(),
                static_cast<std::size_t>(length + Section_Head_Bytes));
  } else if (verdict.From == Source::Made_Work) {
    std::memcpy(buffer + t, decoder.Work.Made.data(),
                static_cast<std::size_t>(length + Section_Head_Bytes));
  } else if (verdict.Stray >= 0) {
    Take_Out_Byte(decoder, verdict.Stray);
  }
  Decode_Section(decoder, t, length, portal, note, owner);
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
// the first complete candidate that checks out, or else the failing copy
// the rules show; keep an incomplete candidate (with the byte in front of
// it, which tells how it will be judged) or the last bytes, too few to
// judge.
void Scan_Section_Buffer(Section_Decoder &decoder, const Decoder_Owner &owner) {
  const int32_t portal = Take_Scan_Portal(decoder);
  if (portal < 0 || portal >= Portal_Total) { // cannot happen; never index outside
    Empty_Section_Buffer(decoder);
    return;
  }
  const uint8_t *buffer = decoder.Section_Buffer.data();
  const int32_t fill = decoder.Fill;
  const Portal_Constants &constants = Portal_Constants_Table[portal];
  // A failing copy to show (rules 3 and 5) once the rest of the buffer
  // holds no section that checks out.
  bool showing = false;
  Candidate shown_candidate;
  Verdict shown;
  Candidate candidate;
  for (int32_t from = 0; Find_Source_Header(buffer, from, fill, constants, candidate);
       from = candidate.At + 1) {
    const int32_t t = candidate.At;
    candidate.Behind_Zero = t > 0 && buffer[t - 1] == 0x00;
    Tell(owner, Decoder_Step::Candidate_Found, portal, Gathered_At(decoder, t), candidate.Length,
         t > 0 ? buffer[t - 1] : -1);
    int32_t needed = t + candidate.Length + Section_Complete_Extra + 1; // Fill for whole
    Verdict verdict;
    if (fill >= needed) {
      if (showing)
        Judge_Sound(decoder, candidate, portal, owner, verdict);
      else
        Judge_Candidate(decoder, candidate, portal, decoder.Work, owner, verdict);
      needed = fill + verdict.Needs;
    }
    if (fill < needed) {
      if (showing) // only what is in hand counts: on to the candidates behind it
        continue;
      Tell(owner, Decoder_Step::Kept_Incomplete, portal, Gathered_At(decoder, t), candidate.Length,
           needed - fill);
      const int32_t from_byte = t > 0 ? t - 1 : 0;
      Keep_Tail(decoder, from_byte);
      decoder.Scan_Sooner = Scan_Threshold - (needed - from_byte);
      return;
    }
    if (Judgement_Checked(verdict.Way)) {
      Carry_Out(decoder, candidate, verdict, portal, owner);
      return;
    }
    if (showing)
      continue;
    if (verdict.Keep)
      Keep_Copy(decoder, verdict.Slot);
    if (Judgement_Decodes(verdict.Way)) { // rule 3 or 5: once the rest has been looked at
      shown_candidate = candidate;
      shown = verdict;
      showing = true;
    }
  }
  if (showing) {
    Carry_Out(decoder, shown_candidate, shown, portal, owner);
    return;
  }
  // No candidate: a section may still start in the last 13 bytes (and the
  // byte in front of the first of them that can is among them).
  const int32_t from = fill > Source_Header_Judged ? fill - Source_Header_Judged : 0;
  Tell(owner, Decoder_Step::Tail_Kept, portal, Gathered_At(decoder, from), 0, fill - from);
  Keep_Tail(decoder, from);
  decoder.Scan_Sooner = 0;
}

int32_t Apply_Decoded_List(Portal_Row &row, int32_t count, Shown_List &shown,
                           const Decoded_List &list) {
  if (list.Count >= 2) {
    row = list.Entries;
    shown.Listed = true;
    shown.Checked = Judgement_Checked(list.Way);
    shown.Version = list.Version;
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
  decoder.Chunk_Was_Packet = false;
  decoder.Chunks = Chunk_Log{};
  decoder.Failed_Kept = 0;
  for (Failed_Copy &kept : decoder.Failed)
    kept.Length = 0;
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
