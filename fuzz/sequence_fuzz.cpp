// Fuzz target for the plug-in as the host drives it. The input is a program
// of host calls and window actions (fuzz/sequence_program.h) with chunks of
// filter data cut from a fixed set of streams, whole or with bits flipped.
// The calls go to the plug-in's real session; the fuzzer plays the host and
// the Windows shell and listens to the decoder's steps. It keeps no second
// decoder, but checks properties, each on its own (the rules are those at
// the top of core/section_decoder.cpp):
//   table-takes-list  a decode's list goes into the table by the table's rule
//   table-still       the table changes only at decodes and at the resets the
//                     program made; the captions show what it holds
//   sound-source      a list by rule 1, 2 or 4 is that of a CRC-sound source
//                     section of its portal that the fixed set carries; by
//                     rules 1 and 2 the one at its place (a stray byte out)
//   unchecked-source  a failing copy is kept as it was handed over (a stray
//                     byte or a packet sent twice taken out) and shows only
//                     where the portal's list lets it: by rule 3 behind a zero
//                     byte, alike a kept copy that ended a payload or more
//                     before; by rule 5 the newest kept copy behind a zero
//                     byte that ended before the copy judged
//   decode-disarms    a decode leaves the decoder disarmed, its buffer empty
//   gate              data is taken only while armed, with the filter running
//                     and before On_Exit, a chunk whole or not at all; the
//                     buffer holds the last bytes handed over
//   shown-portal      every step is for the portal shown
//   step-account      the steps come in their order and tell the bytes'
//                     truth; no candidate waits for more than a payload more
//   finds-sound       no scan passes a complete sound section of its portal,
//                     nor shows a failing copy while its buffer holds one
//   host-orders       the commands reach the host as the session's rules say
// PICTO_SEQUENCE_FAULT=<property> plants a fault (marked "fault" below)
// that its property's check must find.
#include "core/decoder_setup.h"
#include "core/plugin_session.h"
#include "core/section_feed.h"
#include "fuzz/sequence_program.h"
#include "stream/sample_stream.h"
#include "stream/ts_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

namespace {

// clang-format off
enum Property { Table_Takes_List, Table_Still, Sound_Source, Unchecked_Source, Decode_Disarms,
                Gate, Shown_Portal, Step_Account, Finds_Sound, Host_Orders, Property_Total };
// clang-format on
constexpr const char *Property_Names[Property_Total] = {
    "table-takes-list", "table-still", "sound-source", "unchecked-source",
    "decode-disarms",   "gate",        "shown-portal", "step-account",
    "finds-sound",      "host-orders"};
int Fault = Property_Total; // the property whose fault is planted: none

void Expect(Property property, bool holds, int line = __builtin_LINE()) {
  if (holds)
    return;
  std::fprintf(stderr, "fuzz_sequence: property %s failed (line %d)\n", Property_Names[property],
               line);
  std::abort();
}

using S = Decoder_Step;
using J = Judgement;

// ---- the fixed set -------------------------------------------------------------

// A stream the data steps are cut from: filter payloads (Unit 184) or whole
// packets (Unit 188), fed round and round as a carousel repeats.
struct Blob {
  Byte_Vector Bytes;
  size_t Unit;
};
std::vector<Blob> Blobs;
std::vector<Byte_Vector> Sent; // every sound section the blobs carry
constexpr size_t Chunk_Max = Huge_Chunk_Base + 0xFFFF;

// The section behind a pointer field of 0, stuffed to `size` bytes.
void Add_Payload(const Eit_Section &section, uint32_t size) {
  Sent.push_back(Build_Eit_Section(section));
  Byte_Vector payload{0x00};
  payload.insert(payload.end(), Sent.back().begin(), Sent.back().end());
  if (payload.size() + Ts_Payload_Size > size)
    std::abort();
  payload.resize(size, Stuffing_Byte);
  Blobs.push_back({payload, Ts_Payload_Size});
}

std::vector<Portal_Listing_Entry> Listings(const std::string &stem, int count, int first) {
  std::vector<Portal_Listing_Entry> listings;
  for (int i = 0; i < count; ++i)
    listings.push_back({static_cast<uint16_t>(4 + i % 2), static_cast<uint16_t>(first + i),
                        stem + " " + std::to_string(i + 1)});
  return listings;
}

void Build_Fixed_Set() {
  const char *const stems[Portal_Total] = {"Amsel", "Birke", "Kiesel", "Talblick"};
  const int counts[Plain_Lists_Per_Portal] = {3, 20, 1, 4, 0};
  const Byte_Vector filler = Short_Event_Descriptor_Bytes("deu", "Anhang", std::string(190, 'x'));
  for (int portal = 0; portal < Portal_Total; ++portal)
    for (int list = 0; list < Plain_Lists_Per_Portal; ++list) {
      auto entries = Listings(stems[portal], counts[list], 1001 + 100 * portal);
      if (list == 3) { // two entries that do not match: no service id, a name too long
        entries[1].Service_Id = 0;
        entries[2].Name = "Ein Name viel zu lang ab";
      }
      Eit_Section section = Portal_Source_Section(portal, entries);
      section.Version_Number = static_cast<uint8_t>(list);
      Byte_Vector &loop = section.Events[0].Descriptors; // grown by text descriptors
      while (list == 1 && Build_Eit_Section(section).size() < 1000u * (portal + 1))
        loop.insert(loop.end(), filler.begin(), filler.end());
      Add_Payload(section, Plain_Blob_Size(portal, list));
    }
  // Payload streams of several portals' sections, packed (sections start
  // behind others, pointer fields cut into them): the first with a section
  // of two packets whose last holds the next section's pointer field, the
  // second with adaptation fields; the third the sample capture's EIT
  // payloads. Then that capture's whole packets and EIT packets with
  // adaptation fields, one with no payload.
  const auto sound = [](int portal, int list) { return Sent[Blob_Plain(portal, list)]; };
  Sent.push_back(Build_Eit_Section(Portal_Source_Section(1, Listings("Laube", 12, 1180))));
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  Ts_Writer first, second, packets;
  Write_Sections(first, Eit_Pid, {Sent.back(), sound(0, 0), sound(1, 1), sound(2, 2), sound(3, 3)},
                 packed);
  packed.Adaptation_Length = 9;
  Write_Sections(second, Eit_Pid, {sound(0, 1), sound(3, 0), sound(1, 4), sound(0, 2)}, packed);
  packets.Bytes = Make_Sample_Stream();
  packed.Adaptation_Length = 30;
  Write_Sections(packets, Eit_Pid, {sound(3, 3), sound(2, 0), sound(0, 0)}, packed);
  packed.Adaptation_Length = Ts_Payload_Size - 2;
  Write_Ts_Packet(packets, Eit_Pid, false, {}, packed);
  packets.Bytes[packets.Bytes.size() - Ts_Packet_Size + 3] &=
      ~(Ts_Payload_Only << Ts_Adaptation_Shift);
  for (const Ts_Writer *writer : {&first, &second, &packets}) { // the filter's payloads
    Blobs.push_back({{}, Ts_Payload_Size});
    for (size_t at = 0; at < writer->Bytes.size(); at += Ts_Packet_Size) {
      const uint8_t *payload = &writer->Bytes[at];
      int32_t n = Ts_Packet_Size;
      if (Unwrap_Packet(payload, n) == Chunk_Kind::Packet)
        Blobs.back().Bytes.insert(Blobs.back().Bytes.end(), payload, payload + n);
    }
  }
  Blobs.push_back({packets.Bytes, Ts_Packet_Size});
  // The sample's sections as its blobs carry them (a flagged copy whole in
  // its packet among them).
  for (const Byte_Vector *bytes : {&Blobs[Blob_Packets - 1].Bytes, &Blobs[Blob_Packets].Bytes})
    for (size_t t = 0; t + Source_Header_Judged <= bytes->size(); ++t)
      for (const Portal_Constants &constants : Portal_Constants_Table)
        if (const size_t size = Source_Section_Length(&(*bytes)[t], constants) + Section_Head_Bytes;
            size > Section_Head_Bytes && t + size <= bytes->size() &&
            Section_Crc_Holds(&(*bytes)[t], size))
          Sent.emplace_back(bytes->begin() + long(t), bytes->begin() + long(t + size));
  for (const Blob &blob : Blobs)
    if (Blobs.size() != Blob_Total || blob.Bytes.size() > Chunk_Max)
      std::abort();
}

// ---- what the decoder has told -----------------------------------------------

struct Table_State {
  std::array<Portal_Row, Portal_Total> Rows;
  std::array<int32_t, Portal_Total> Counts;
  std::array<Shown_List, Portal_Total> Shown;
};
Table_State Known; // what the decodes and the resets so far left

bool Table_Is(const Table_State &state) {
  bool same = true;
  for (int p = 0; p < Portal_Total; ++p)
    same = same && Portal_Count[p] == state.Counts[p] &&
           std::memcmp(&Portal_Table[p], &state.Rows[p], sizeof(Portal_Row)) == 0 &&
           Portal_Shown[p].Listed == state.Shown[p].Listed &&
           Portal_Shown[p].Checked == state.Shown[p].Checked &&
           Portal_Shown[p].Version == state.Shown[p].Version;
  return same;
}

void Reset_Known(bool counts) {
  for (int portal = 0; portal < Portal_Total; ++portal) {
    Known.Rows[portal] = Default_Portal_Row(portal);
    Known.Counts[portal] = counts ? 0 : Known.Counts[portal];
    Known.Shown[portal] = Shown_List{};
  }
}

// Every byte handed over to the buffer, by its place in the bytes gathered
// (Decoded_List::At); twice the buffer's size, so a scan's bytes are there.
constexpr uint32_t History_Size = 1u << 16;
static_assert(History_Size >= 2 * Section_Buffer_Size, "the buffer and a chunk");
std::array<uint8_t, History_Size> History;

uint32_t Gathered_End() {
  return Plugin_Decoder.Buffer_Start + static_cast<uint32_t>(Plugin_Decoder.Fill);
}

// Whether the buffer holds the bytes handed over at its places.
bool Buffer_Holds_History() {
  const uint32_t at = Plugin_Decoder.Buffer_Start % History_Size, fill = Plugin_Decoder.Fill;
  const uint32_t first = std::min(fill, History_Size - at);
  const uint8_t *buffer = Plugin_Decoder.Section_Buffer.data();
  return std::memcmp(buffer, History.data() + at, first) == 0 &&
         std::memcmp(buffer + first, History.data(), fill - first) == 0;
}

// The failing copies judged to be kept (rules 5 and 6) as they were shaped
// then, by their place, while the decoder keeps them.
std::map<uint32_t, Failed_Copy> Judged_Kept;

bool Kept_As_Judged(const Failed_Copy &kept) {
  const auto judged = Judged_Kept.find(kept.Start);
  if (judged == Judged_Kept.end())
    return false;
  const Failed_Copy &was = judged->second;
  return was.Length == kept.Length && was.Portal == kept.Portal && was.End == kept.End &&
         was.Behind_Zero == kept.Behind_Zero &&
         std::memcmp(was.Bytes.data(), kept.Bytes.data(),
                     size_t(kept.Length + Section_Head_Bytes)) == 0;
}

// What one data step's scan has told.
constexpr int Scan_Start = 9; // behind Decoder_Step's values: a scan's start
struct Scan_Watch {
  int Events = 0, Last = Scan_Start;
  uint32_t Start = 0;        // where the scanned bytes stand in the bytes gathered
  int64_t First_Sound = -1;  // the first complete sound section of the portal in them
  Decoder_Event Candidate{}; // the current candidate's Candidate_Found
  int32_t Stray = -1;
  J Way = J::None;       // the current candidate's, as judged or as its CRC told
  Decoder_Event Shown{}; // a candidate judged 3 or 5: shown once the rest is looked at
  J Shown_Way = J::None;
  Byte_Vector Shown_Copy;   // its bytes shaped
  int64_t Stop = INT64_MAX; // where the scan stopped: at a kept or a decoded candidate
  bool Decoded = false, Stray_Decoded = false;
};
Scan_Watch Scan;
Byte_Vector Scanned; // the bytes handed over that the scan reads
bool In_Data_Step = false;

constexpr uint16_t Bit(S step) {
  return static_cast<uint16_t>(1u << static_cast<int>(step));
}
// The steps that may follow each step of a scan, and its start. While a
// candidate judged 3 or 5 waits, the later candidates' CRCs are checked,
// and the first incomplete one ends the look.
constexpr uint16_t Next_Steps[Scan_Start + 1] = {
    // (A candidate found but not whole while a failing copy waits to be
    // shown is stepped over: the next candidate's step follows.)
    /* Candidate_Found */ Bit(S::Kept_Incomplete) | Bit(S::Crc_Checked) | Bit(S::Decoded) |
        Bit(S::Candidate_Found),
    /* Kept_Incomplete */ 0,
    /* Tail_Kept */ 0,
    /* Crc_Checked */ Bit(S::Stray_Taken_Out) | Bit(S::Paired) | Bit(S::Judged) |
        Bit(S::Kept_Incomplete) | Bit(S::Candidate_Found) | Bit(S::Decoded),
    /* Stray_Taken_Out */ Bit(S::Judged) | Bit(S::Decoded),
    /* Paired */ Bit(S::Paired) | Bit(S::Repair_Tried) | Bit(S::Judged),
    /* Repair_Tried */ Bit(S::Paired) | Bit(S::Repair_Tried) | Bit(S::Judged),
    /* Judged */ Bit(S::Candidate_Found) | Bit(S::Tail_Kept) | Bit(S::Decoded),
    /* Decoded */ 0,
    /* the start */ Bit(S::Candidate_Found) | Bit(S::Tail_Kept),
};

int64_t Offset(uint32_t at) {
  return static_cast<int32_t>(at - Scan.Start);
}

// Whether `list` is the one `section` gives, read as the decoder reads it:
// every portal descriptor from the header's last byte on, up to the CRC,
// which reads as zero bytes, as do the bytes behind it; names alike up to
// their NUL (a name that runs into the zeros behind the section ends there).
bool Lists(const Decoded_List &list, Byte_Vector section) {
  const size_t body = section.size() - Section_Crc_Size;
  bool same = list.Version == Eit_Version(section.data());
  section.resize(body);
  section.resize(body + Linkage_Private_Data_Offset + Portal_Name_Max, 0x00);
  int32_t found = 0;
  for (size_t j = Descriptor_Scan_Start; j < body; ++j)
    if (Matches_Portal_Descriptor(&section[j]) && found++ < Portal_Entry_Total) {
      const Portal_Entry read = Entry_From_Descriptor(&section[j]),
                         &entry = list.Entries[found - 1];
      same = same && entry.Descriptor_Length == read.Descriptor_Length &&
             entry.Transport_Stream_Id == read.Transport_Stream_Id &&
             entry.Service_Id == read.Service_Id &&
             std::strncmp(entry.Name, read.Name, Portal_Name_Size) == 0;
    }
  const Portal_Entry empty{};
  for (int32_t i = std::min(found, Portal_Entry_Total); i < Portal_Entry_Total; ++i)
    same = same && std::memcmp(&list.Entries[i], &empty, sizeof empty) == 0;
  return same && list.Found == found && list.Count == std::min(found, Portal_Entry_Total);
}

// A failing candidate judged by rule 3, 5, 6 or 7: its copy shaped in the
// decoder's work is its bytes as handed over with a few taken out (a stray
// byte in its header and one at its last packet start, a payload sent
// twice), so they stand in that order within the bytes a complete
// candidate and a payload more take.
void Judged_Failing(const Decoder_Event &event, J way) {
  const Failed_Copy &copy = Plugin_Decoder.Work.Copy;
  const size_t size = event.Length + Section_Head_Bytes;
  const int64_t t = Offset(event.At);
  const int64_t end =
      std::min<int64_t>(Scanned.size(), t + size + Ts_Payload_Size + Section_Complete_Extra);
  size_t taken = 0;
  for (int64_t j = t; j < end && taken < size; ++j)
    taken += Scanned[j] == copy.Bytes[taken];
  Expect(Unchecked_Source, taken == size && copy.Start == event.At && copy.End == event.At + size &&
                               copy.Length == event.Length && copy.Portal == event.Portal &&
                               copy.Behind_Zero == (Scan.Candidate.Value == 0));
  if (way == J::Unchecked || way == J::Failed_Remembered)
    Judged_Kept[copy.Start] = copy;
  if (way == J::Unchecked || way == J::As_Carried) {
    Scan.Shown = Scan.Candidate;
    Scan.Shown_Way = way;
    Scan.Shown_Copy.assign(copy.Bytes.begin(), copy.Bytes.begin() + long(size));
  }
}

// The kept copy a failing copy shown comes from, as rules 3 and 5 pick it,
// or null.
const Failed_Copy *Kept_Shown(int32_t portal) {
  const Failed_Copy *shown = nullptr;
  for (const Failed_Copy &kept : Plugin_Decoder.Failed) {
    const int32_t behind = static_cast<int32_t>(Scan.Shown.At - kept.End); // bytes between
    if (kept.Length == 0 || kept.Portal != portal)
      continue;
    if (Scan.Shown_Way == J::As_Carried && behind >= Ts_Payload_Size &&
        kept.Length == Scan.Shown.Length &&
        std::memcmp(kept.Bytes.data(), Scan.Shown_Copy.data(), Scan.Shown_Copy.size()) == 0)
      shown = &kept;
    if (Scan.Shown_Way == J::Unchecked && kept.Behind_Zero && behind >= 0 &&
        (shown == nullptr || kept.Order > shown->Order))
      shown = &kept;
  }
  return shown;
}

void Check_Decode(const Decoded_List &list, int32_t portal) {
  const J way = list.Way;
  const bool shown = way == J::As_Carried || way == J::Unchecked;
  const Decoder_Event &candidate = shown ? Scan.Shown : Scan.Candidate;
  const int32_t size = candidate.Length + Section_Head_Bytes;
  Expect(Step_Account, list.Portal == portal && way == (shown ? Scan.Shown_Way : Scan.Way) &&
                           list.Inside_Packet == (!shown && candidate.Value != 0) &&
                           (shown || (list.At == candidate.At && list.Length == candidate.Length)));
  Byte_Vector section;
  if (shown) { // the portal's list lets a failing copy show but where it checked out
    const Failed_Copy *kept = Kept_Shown(portal);
    Expect(Unchecked_Source, kept != nullptr && Kept_As_Judged(*kept) &&
                                 (way == J::Unchecked || candidate.Value == 0) &&
                                 list.At == (way == J::Unchecked ? kept->Start : candidate.At));
    section.assign(kept->Bytes.begin(), kept->Bytes.begin() + kept->Length + Section_Head_Bytes);
    const Shown_List &now = Known.Shown[portal];
    Expect(Unchecked_Source,
           Fault != Unchecked_Source && // fault: the portal's list misread
               (!now.Listed || !now.Checked || now.Version != Eit_Version(section.data())));
  } else {
    const bool stray = way == J::Stray_Pointer_Taken_Out;
    const int64_t t = Offset(candidate.At);
    Expect(Step_Account, t >= 0 && t + size + stray <= static_cast<int64_t>(Scanned.size()));
    section =
        way == J::Repaired
            ? Byte_Vector(Plugin_Decoder.Work.Made.begin(), Plugin_Decoder.Work.Made.begin() + size)
            : Byte_Vector(Scanned.begin() + t, Scanned.begin() + t + size + stray);
    if (stray)
      section.erase(section.begin() + std::min(Scan.Stray, size));
    if (Fault == Sound_Source)
      section.back() ^= 1; // fault: a byte the decoder was not handed
    Expect(Sound_Source,
           Section_Crc_Holds(section.data(), section.size()) &&
               Source_Section_Length(section.data(), Portal_Constants_Table[portal]) ==
                   candidate.Length &&
               std::find(Sent.begin(), Sent.end(), section) != Sent.end());
  }
  Expect(shown ? Unchecked_Source : Sound_Source, Lists(list, section));
  Table_State expected = Known;
  if (list.Count >= 2) {
    expected.Rows[portal] = list.Entries;
    expected.Counts[portal] = list.Count;
    expected.Shown[portal] = {true, Judgement_Checked(way), list.Version};
  } else if (list.Count == 1) {
    expected.Rows[portal][0] = list.Entries[0];
  }
  if (Fault == Table_Takes_List) // fault: the owner counts wrong
    ++Portal_Count[portal];
  Expect(Table_Takes_List, Table_Is(expected));
  Known = expected;
  Scan.Decoded = true;
  Scan.Stray_Decoded = way == J::Stray_Pointer_Taken_Out;
  Scan.Stop = shown ? INT64_MAX : Offset(candidate.At); // a failing copy: all looked at
}

// The scan's first step: it reads the last bytes handed over; the first
// complete sound section of its portal among them is looked for.
void Start_Scan(int32_t portal) {
  Scan.Start = Plugin_Decoder.Buffer_Start;
  const int32_t fill = Plugin_Decoder.Fill;
  Expect(Gate, Buffer_Holds_History());
  Scanned.assign(Plugin_Decoder.Section_Buffer.begin(),
                 Plugin_Decoder.Section_Buffer.begin() + fill);
  for (int32_t t = 0; t + Source_Header_Judged <= fill && Scan.First_Sound < 0; ++t) {
    const int32_t length = Source_Section_Length(&Scanned[t], Portal_Constants_Table[portal]);
    if (length != 0 && t + length + Section_Complete_Extra + 1 <= fill &&
        Section_Crc_Holds(&Scanned[t], static_cast<size_t>(length + Section_Head_Bytes)))
      Scan.First_Sound = t;
  }
}

void Observe(const Decoder_Event &event, void *) {
  const S step = event.Step;
  if (Fault == Step_Account && step == S::Crc_Checked)
    return; // fault: a step not told
  const int32_t portal = event.Portal;
  Expect(Gate, In_Data_Step);
  Expect(Shown_Portal, portal >= 0 && portal < Portal_Total && portal == Current_Portal &&
                           portal == Section_Scan_Portal(Plugin_Decoder));
  Expect(Table_Still, step == S::Decoded || Table_Is(Known)); // the owner took the list
  if (Scan.Events++ == 0)
    Start_Scan(portal);
  const int last = std::exchange(Scan.Last, static_cast<int>(step));
  const bool own_place = step == S::Candidate_Found || step == S::Tail_Kept || step == S::Decoded;
  Expect(Step_Account,
         (Next_Steps[last] & Bit(step)) != 0 &&
             (own_place || event.Length == Scan.Candidate.Length) &&
             (own_place || step == S::Paired || step == S::Repair_Tried ||
              event.At == Scan.Candidate.At) &&
             (last != static_cast<int>(S::Judged) ||
              (step == S::Decoded ? Judgement_Decodes(Scan.Way) : !Judgement_Checked(Scan.Way))) &&
             (Scan.Shown_Way == J::None ||
              (step != S::Kept_Incomplete && step != S::Tail_Kept && step != S::Judged)));
  if (step == S::Candidate_Found) {
    const int64_t t = Offset(event.At);
    Expect(Step_Account, t >= 0 && t < static_cast<int64_t>(Scanned.size()) &&
                             (Scan.Candidate.Length == 0 || t > Offset(Scan.Candidate.At)) &&
                             event.Value == (t > 0 ? Scanned[t - 1] : -1));
    Scan.Candidate = event;
    Scan.Stray = -1;
    Scan.Way = J::None;
  } else if (step == S::Kept_Incomplete) { // never for more than a payload sent twice
    Expect(Step_Account, int64_t{Gathered_End() - event.At} < event.Length + Section_Head_Bytes +
                                                                  Ts_Payload_Size +
                                                                  Section_Complete_Extra);
    Scan.Stop = Offset(event.At);
  } else if (step == S::Paired || step == S::Repair_Tried) { // with a kept copy, or the vote
    const auto with = [&](const Failed_Copy &kept) {
      return kept.Length == event.Length && kept.Portal == portal && kept.Start == event.At &&
             (step == S::Repair_Tried ||
              event.Value == (std::memcmp(kept.Bytes.data(), Plugin_Decoder.Work.Copy.Bytes.data(),
                                          size_t(event.Length + Section_Head_Bytes)) == 0));
    };
    Expect(Step_Account,
           (step == S::Repair_Tried && event.At == Scan.Candidate.At) ||
               std::any_of(Plugin_Decoder.Failed.begin(), Plugin_Decoder.Failed.end(), with));
  } else if (step == S::Crc_Checked) {
    Scan.Way = event.Value == 1 ? J::Sound : J::None;
  } else if (step == S::Stray_Taken_Out) {
    Scan.Stray = event.Value;
    Scan.Way = J::Stray_Pointer_Taken_Out;
  } else if (step == S::Judged) {
    const J way = static_cast<J>(event.Value);
    Expect(Step_Account, Scan.Way == J::None ? way >= J::As_Carried : way == Scan.Way);
    Scan.Way = way;
    if (way >= J::As_Carried && way != J::Repaired)
      Judged_Failing(event, way);
  } else if (step == S::Decoded) {
    Check_Decode(*event.List, portal);
  }
}

// ---- the host and the shell ------------------------------------------------

// The fuzzer is the host and the Windows shell around the real session: it
// carries out the session's orders as the module does, and keeps only what a
// host and a shell know.
struct Host_Model {
  bool Window_Open, Timer_Running, Filter_Open, Started, Exited, Tunes_Inside;
  uint16_t Transport_Stream_Id; // of the channel tuned last
};
Host_Model Host;
int Host_Window_Stand_In = 0; // the host window the commands name

void Carry_Out(const Shell_Orders &orders);

void On_Channel_Change(uint32_t transport_stream, uint32_t service) {
  Channel_Record record{};
  record.Transport_Stream_Id = Host.Transport_Stream_Id = static_cast<uint16_t>(transport_stream);
  record.Service_Id = static_cast<uint16_t>(service);
  Carry_Out(Session_Channel_Change(record));
}

// The shell opens and closes the window (whose opening resets the table off
// the portal transport stream) and refreshes the captions; a command
// reaches the host only during a session, which opens and closes its filter
// by it and may tune inside a switch request.
void Carry_Out(const Shell_Orders &orders) {
  if (orders.Timer != Timer_Order::None)
    Host.Timer_Running = orders.Timer == Timer_Order::Run;
  if (orders.Window == Window_Order::Close)
    Host.Window_Open = false;
  if (orders.Window == Window_Order::Open) {
    Expect(Host_Orders, !Host.Window_Open && !Host.Exited);
    if (Host.Transport_Stream_Id != Portal_Transport_Stream_Id)
      Reset_Known(false);
    Carry_Out(Session_Window_Init());
    Host.Window_Open = true;
    Carry_Out(Session_Window_Created(true));
  }
  const Portal_Row captions = Copy_Portal_Row(Current_Portal);
  Expect(Table_Still,
         !orders.Refresh_Captions ||
             std::memcmp(&captions, &Known.Rows[Current_Portal], sizeof captions) == 0);
  const Host_Command_Order &command = orders.Command;
  if (command.Command == 0)
    return;
  Expect(Host_Orders, command.To == (Host.Started ? &Host_Window_Stand_In : nullptr));
  if (command.Command == HOST_START_FILTER) {
    Expect(Host_Orders, command.Argument == reinterpret_cast<uintptr_t>(&Filter_Request) &&
                            Filter_Request.Pid == Eit_Pid);
    Host.Filter_Open = command.To != nullptr;
  } else if (command.Command == HOST_STOP_FILTER) {
    Host.Filter_Open = Fault == Host_Orders; // fault: the host misses it
  } else if (Host.Tunes_Inside) {
    Host.Tunes_Inside = false;
    On_Channel_Change(Switch_Request.Transport_Stream_Id, Switch_Request.Service_Id);
  }
}

void On_Start() {
  Reset_Known(true);
  char letter = 0;
  int32_t word = -1;
  Session_Start(&Host_Window_Stand_In, 0x5044, &letter, &word);
  Expect(Host_Orders, letter == Start_Answer_Letter && word == Start_Answer_Word);
  Host.Started = true;
  Host.Exited = false;
}

// An entry button; the request names the entry the window shows, and the
// host tunes as asked (bit 7), inside the request (bit 6) or after it.
void Entry_Button(uint8_t argument) {
  const Portal_Entry entry = Known.Rows[Current_Portal][argument % Portal_Entry_Total];
  const Shell_Orders orders = Session_Entry_Pressed(argument % Portal_Entry_Total);
  const bool switches = orders.Command.Command == HOST_SWITCH_SERVICE, tunes = argument & 0x80;
  Expect(Host_Orders,
         !switches || (Switch_Request.Lead == Switch_Lead_Word &&
                       Switch_Request.Service_Id == static_cast<uint32_t>(entry.Service_Id) &&
                       Switch_Request.Transport_Stream_Id ==
                           static_cast<uint32_t>(entry.Transport_Stream_Id)));
  Host.Tunes_Inside = switches && tunes && (argument & 0x40);
  Carry_Out(orders);
  if (switches && tunes && !(argument & 0x40))
    On_Channel_Change(Switch_Request.Transport_Stream_Id, Switch_Request.Service_Id);
}

// ---- the data the filter delivers --------------------------------------------

// The selected blob: a copy that bit flips may damage, and where the next
// chunk starts.
struct Feed_State {
  int Blob = 0;
  size_t Position = 0;
};
Feed_State Feed;
std::array<uint8_t, Chunk_Max> Work_Blob, Chunk;

// Starts the blob afresh at `step` offset units of 16 bytes (of a packet in
// the packet blob, so its chunks of one unit are whole packets).
void Select_Blob(int blob, size_t step) {
  const Blob &chosen = Blobs[static_cast<size_t>(blob)];
  std::memcpy(Work_Blob.data(), chosen.Bytes.data(), chosen.Bytes.size());
  Feed = {blob, step * (chosen.Unit == Ts_Packet_Size ? Ts_Packet_Size : 16) % chosen.Bytes.size()};
}

void Feed_Chunk(size_t n) {
  const size_t blob_size = Blobs[static_cast<size_t>(Feed.Blob)].Bytes.size();
  for (size_t done = 0; done < n;) { // round the blob, a piece at a time
    const size_t at = (Feed.Position + done) % blob_size;
    const size_t piece = std::min(n - done, blob_size - at);
    std::memcpy(Chunk.data() + done, Work_Blob.data() + at, piece);
    done += piece;
  }
  Feed.Position = (Feed.Position + n) % blob_size;
  const uint8_t *bytes = Chunk.data(); // what the buffer takes of it
  int32_t size = static_cast<int32_t>(n);
  const bool dropped = Unwrap_Packet(bytes, size) == Chunk_Kind::Nothing;
  const uint32_t start = Gathered_End(), room = Section_Buffer_Size - Plugin_Decoder.Fill;
  const bool takes = !Plugin_Decoder.Scan_Idle && !Host.Exited && !dropped &&
                     (Host.Filter_Open || Fault == Gate); // fault: the filter's stop missed
  const uint32_t delivered = dropped ? 0 : static_cast<uint32_t>(size);
  if (delivered <= Section_Buffer_Size) { // where the buffer would put it
    const uint32_t at = start % History_Size, first = std::min(delivered, History_Size - at);
    std::memcpy(History.data() + at, bytes, first);
    std::memcpy(History.data(), bytes + first, delivered - first);
  }
  Scan = Scan_Watch{};
  In_Data_Step = true;
  On_Section_Data(0, static_cast<int32_t>(n), Chunk.data());
  In_Data_Step = false;
  const uint32_t gathered = Gathered_End() - start;
  Expect(Gate, takes ? gathered == delivered - Scan.Stray_Decoded ||
                           (gathered == 0 && Scan.Events == 0 && delivered > room)
                     : gathered == 0 && Scan.Events == 0);
  Expect(Gate, Buffer_Holds_History());
  Expect(Step_Account, Scan.Events == 0 || Scan.Decoded ||
                           Scan.Last == static_cast<int>(S::Kept_Incomplete) ||
                           Scan.Last == static_cast<int>(S::Tail_Kept));
  if (Fault == Finds_Sound) // fault: the decode overlooked
    Scan.Stop = INT64_MAX;
  Expect(Finds_Sound, Scan.First_Sound < 0 || Scan.Stop <= Scan.First_Sound);
  if (Fault == Decode_Disarms && Scan.Decoded) // fault: the decoder armed again
    Arm_Section_Decoder(Plugin_Decoder);
  Expect(Decode_Disarms, !Scan.Decoded || (Plugin_Decoder.Scan_Idle && Plugin_Decoder.Fill == 0));
  Expect(Table_Still, Table_Is(Known));
  for (auto judged = Judged_Kept.begin(); judged != Judged_Kept.end();) // those still kept stay
    judged = std::any_of(Plugin_Decoder.Failed.begin(), Plugin_Decoder.Failed.end(),
                         [&](const Failed_Copy &kept) {
                           return kept.Length != 0 && kept.Start == judged->first;
                         })
                 ? std::next(judged)
                 : Judged_Kept.erase(judged);
}

// ---- the program ---------------------------------------------------------------

struct Program {
  const uint8_t *Data;
  size_t Size, At;
  uint8_t Byte() { return At < Size ? Data[At++] : 0; }
  uint32_t Word() {
    const uint32_t high = Byte();
    return (high << 8) | Byte();
  }
};

void Run_Step(Program &program) {
  const int op = program.Byte() % Sequence_Op_Total;
  if (op == Op_Feed_Short)
    return Feed_Chunk(program.Byte());
  if (op == Op_Feed_Long)
    return Feed_Chunk(program.Word() & 0x0FFF);
  if (op == Op_Feed_Packet)
    return Feed_Chunk(Blobs[static_cast<size_t>(Feed.Blob)].Unit);
  if (op == Op_Feed_Huge)
    return Feed_Chunk(Huge_Chunk_Base + program.Word());
  const int item = op == Op_Other ? program.Byte() % 4 : -1; // OK, On_Exit, menu, another
  if (op == Op_Select_Blob) {
    const int blob = program.Byte() % Blob_Total;
    Select_Blob(blob, program.Byte());
  } else if (op == Op_Damage) {
    const size_t offset = program.Word() % Blobs[static_cast<size_t>(Feed.Blob)].Bytes.size();
    Work_Blob[offset] ^= static_cast<uint8_t>(1u << (program.Byte() & 7));
  } else if (op == Op_Channel_Change) {
    const Sequence_Channel &channel = Sequence_Channels[program.Byte() % Sequence_Channel_Total];
    On_Channel_Change(channel.Transport_Stream_Id, channel.Service_Id);
  } else if (op == Op_Entry_Button) {
    const uint8_t argument = program.Byte();
    if (Host.Window_Open)
      Entry_Button(argument);
  } else if (op == Op_Close_Box && Host.Window_Open) { // WM_CLOSE, then IDCANCEL
    Carry_Out(Session_Close_Box());
    Carry_Out(Session_Window_Dismissed());
  } else if (op == Op_Next_Portal && Host.Window_Open) {
    Carry_Out(Session_Next_Portal());
  } else if (op == Op_Refresh_Tick) {
    if (Fault == Table_Still) // fault: a write into the table behind the decodes
      Portal_Table[Current_Portal][0].Name[0] ^= 1;
    if (Host.Timer_Running)
      Carry_Out(Session_Refresh_Tick());
  } else if (op == Op_Filter_Close) {
    Host.Filter_Open = false;
    Session_Filter_Closed();
  } else if (op == Op_Start) {
    On_Start();
  } else if (op == Op_Topmost && Host.Window_Open) {
    Session_Toggle_Topmost();
  } else if (item == 0 && Host.Window_Open) {
    Carry_Out(Session_Window_Dismissed());
  } else if (item == 1) { // On_Exit: nothing open, and nothing reaches the host after it
    Carry_Out(Session_Exit());
    Expect(Host_Orders, !Host.Window_Open && !Host.Timer_Running && !Host.Filter_Open);
    Host.Started = false;
    Host.Exited = true;
  } else if (op == Op_Hot_Key || item == 2) { // the window opens, but after On_Exit, or closes
    const bool was_open = Host.Window_Open;
    Carry_Out(Session_Toggle_Window());
    Expect(Host_Orders, Host.Window_Open == (!was_open && !Host.Exited));
  }
  Expect(Table_Still, Table_Is(Known));
  Expect(Host_Orders, (Filter_Running != 0) == Host.Filter_Open);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  Build_Fixed_Set();
  if (const char *fault = std::getenv("PICTO_SEQUENCE_FAULT")) {
    for (Fault = 0; Fault < Property_Total && std::strcmp(Property_Names[Fault], fault) != 0;)
      ++Fault;
    if (Fault == Property_Total) {
      std::fprintf(stderr, "fuzz_sequence: PICTO_SEQUENCE_FAULT names no property: '%s'\n", fault);
      std::exit(2);
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Reset_Core_State();
  if (Fault == Shown_Portal) // fault: the plug-in's decoder bound to portal 2
    Plugin_Decoder.Portal = 2;
  Plugin_Decoder_Listener = {Observe, nullptr};
  Session_Record_Module_Path("/nonexistent-pictolandrum/folder\\Pictolandrum.dll", true);
  Host = Host_Model{};
  Judged_Kept.clear();
  Select_Blob(0, 0);
  On_Start();
  Program program{data, size, 0};
  while (program.At < program.Size)
    Run_Step(program);
  return 0;
}
