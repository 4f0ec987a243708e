// Fuzz target for the plug-in as the host drives it. The input is a program
// of host calls and window actions (fuzz/sequence_program.h) with chunks of
// filter data cut from a fixed set of streams, whole or with bits flipped.
// The calls go to the plug-in's real session; the fuzzer plays the host and
// the Windows shell and listens to the decoder's steps. It checks
// properties, each on its own, and keeps no second decoder (the rules are
// those at the top of core/section_decoder.cpp):
//   table-takes-list  a decode's list goes into the table by the table's rule
//   table-still       the table changes only at decodes and at the resets the
//                     program made; the captions show what it holds
//   sound-source      a list by rule 1, 2 or 4 is that of a CRC-sound source
//                     section among the bytes handed over (one byte taken out
//                     by rule 2), by rule 4 made of the two failing copies
//   unchecked-source  rules 3 to 5 pair a copy behind a zero byte with the
//                     failure remembered before it; 3 the same failure, 5 only
//                     where the owner's answer lets a failing copy show
//   decode-disarms    a decode leaves the decoder disarmed, its buffer empty
//   gate              data is taken only while armed, with the filter running
//                     and before On_Exit, a chunk whole or not at all; the
//                     buffer holds the last bytes handed over
//   shown-portal      every step is for the portal shown
//   step-account      the steps come in their order and tell the bytes' truth
//   finds-sound       no scan passes a complete sound section of its portal
//   host-orders       the commands reach the host as the session's rules say
// PICTO_SEQUENCE_FAULT=<property> plants a fault (marked "fault" below)
// that its property's check must find.
#include "core/decoder_setup.h"
#include "core/plugin_session.h"
#include "core/section_crc.h"
#include "fuzz/sequence_program.h"
#include "stream/eit_writer.h"
#include "stream/sample_stream.h"
#include "stream/ts_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Property {
  Table_Takes_List,
  Table_Still,
  Sound_Source,
  Unchecked_Source,
  Decode_Disarms,
  Gate,
  Shown_Portal,
  Step_Account,
  Finds_Sound,
  Host_Orders,
  Property_Total
};
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

// What the buffer takes of a chunk: of a whole packet on the EIT PID its
// payload (nothing if it is flagged or carries none), of any other all.
struct Delivery {
  const uint8_t *Bytes;
  uint32_t Size;
  bool Dropped;
};
Delivery Delivered(const uint8_t *chunk, size_t n) {
  if (n != Ts_Packet_Size || chunk[0] != Ts_Sync_Byte || Ts_Packet_Pid(chunk) != Eit_Pid)
    return {chunk, static_cast<uint32_t>(n), false};
  const int32_t start = Ts_Payload_Start(chunk);
  if ((Ts_Packet_Flagged(chunk) && Fault != Gate) ||
      start == Ts_No_Payload) // fault: a flagged packet taken
    return {chunk, 0, true};
  return {chunk + start, static_cast<uint32_t>(Ts_Packet_Size - start), false};
}

// ---- the fixed set -------------------------------------------------------------

// A stream the data steps are cut from: filter payloads (Unit 184) or whole
// packets (Unit 188), fed round and round as a carousel repeats.
struct Blob {
  Byte_Vector Bytes;
  size_t Unit;
};
std::vector<Blob> Blobs;
constexpr size_t Chunk_Max = Huge_Chunk_Base + 0xFFFF;

// The section behind a pointer field of 0, stuffed so that the whole blob
// reaches the scan threshold.
void Add_Payload(const Byte_Vector &section) {
  Byte_Vector payload{0x00};
  payload.insert(payload.end(), section.begin(), section.end());
  payload.resize(std::max<size_t>(Plain_Blob_Size_Min, payload.size() + Ts_Payload_Size),
                 Stuffing_Byte);
  Blobs.push_back({payload, Ts_Payload_Size});
}

// What the host's filter delivers of `packets`: its EIT packets' payloads.
void Add_Filter_Payloads(const Byte_Vector &packets) {
  Byte_Vector payloads;
  for (size_t at = 0; at < packets.size(); at += Ts_Packet_Size) {
    const Delivery delivery = Delivered(packets.data() + at, Ts_Packet_Size);
    if (Ts_Packet_Pid(packets.data() + at) == Eit_Pid && !delivery.Dropped)
      payloads.insert(payloads.end(), delivery.Bytes, delivery.Bytes + delivery.Size);
  }
  Blobs.push_back({payloads, Ts_Payload_Size});
}

std::vector<Portal_Listing_Entry> Listings(const char *stem, int count, int first_service) {
  std::vector<Portal_Listing_Entry> listings;
  for (int i = 0; i < count; ++i)
    listings.push_back({static_cast<uint16_t>(4 + i % 2), static_cast<uint16_t>(first_service + i),
                        std::string(stem) + " " + std::to_string(i + 1)});
  return listings;
}

// An event whose short event text is `text`, to grow a section or to carry
// bytes that look like something else.
Eit_Event Text_Event(uint16_t event_id, const std::string &text) {
  Eit_Event event;
  event.Event_Id = event_id;
  event.Descriptors = Short_Event_Descriptor_Bytes("deu", "Anhang", text);
  return event;
}

void Build_Fixed_Set() {
  std::vector<Byte_Vector> sounds; // in the order of Blob_Plain
  const char *const stems[Portal_Total] = {"Amsel", "Birke", "Kiesel", "Talblick"};
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const uint16_t first = static_cast<uint16_t>(1001 + 100 * portal);
    const std::vector<Portal_Listing_Entry> lists[Plain_Lists_Per_Portal] = {
        Listings(stems[portal], 3, first),
        Listings(stems[portal], 20, first + 1),
        Listings("Einzel", 1, first + 50),
        {{4, first, "Gut Eins"},
         {4, 0, "Ohne Dienst"},
         {4, first, "Ein Name viel zu lang ab"},
         {6, first, "Gut Zwei"}},
        {}};
    for (int list = 0; list < Plain_Lists_Per_Portal; ++list) {
      Eit_Section section = Portal_Source_Section(portal, lists[list]);
      section.Version_Number = static_cast<uint8_t>(list);
      for (uint16_t id = 2; list == 1 && Build_Eit_Section(section).size() < 1000u * (portal + 1);)
        section.Events.push_back(Text_Event(id++, std::string(200, 'x')));
      sounds.push_back(Build_Eit_Section(section));
      Add_Payload(sounds.back());
    }
  }
  // Sections no portal decodes: another service; a source service's
  // section 1; another network; a source service on the wrong stream; and
  // two whose text carries a portal section header with descriptors behind
  // it (whose CRC cannot hold).
  std::vector<Eit_Section> foreign(6, Portal_Source_Section(0, Listings("Fremd", 3, 1500)));
  foreign[0].Service_Id = 0x0300;
  foreign[1].Section_Number = 1;
  foreign[2].Original_Network_Id = 0x0086;
  foreign[3].Transport_Stream_Id = 3;
  for (int kind : {4, 5}) {
    const Byte_Vector header = Portal_Header_Bytes(kind == 4 ? 0 : 3, 0x60);
    std::string text(header.begin(), header.end());
    for (const auto &entry : Listings("Trug", 3, 1600)) {
      const Byte_Vector bytes = Portal_Descriptor_Bytes(4, entry.Service_Id, entry.Name);
      text.append(bytes.begin(), bytes.end());
    }
    text.resize(0x60 + 8, '\0');
    foreign[kind].Service_Id = 0x0301;
    foreign[kind].Events.push_back(Text_Event(9, text));
  }
  std::vector<Byte_Vector> other;
  for (const Eit_Section &section : foreign) {
    other.push_back(Build_Eit_Section(section));
    Add_Payload(other.back());
  }
  // Payload streams of several sections: packed (sections start behind
  // others, pointer fields cut into them), the first with a section of two
  // packets whose last holds the next section's pointer field (a stray one
  // in the payloads), the second with adaptation fields; the third the
  // sample capture's EIT payloads. Then that capture's whole packets and EIT
  // packets with adaptation fields, one with no payload.
  const auto sound = [&](int portal, int list) { return sounds[Blob_Plain(portal, list)]; };
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  Ts_Writer first, second, packets;
  Write_Sections(first, Eit_Pid,
                 {Build_Eit_Section(Portal_Source_Section(1, Listings("Laube", 12, 1180))),
                  other[0], sound(0, 0), sound(1, 1), sound(2, 2), sound(3, 3), other[4]},
                 packed);
  packed.Adaptation_Length = 9;
  Write_Sections(second, Eit_Pid,
                 {sound(0, 1), other[5], sound(3, 0), sound(1, 4), other[1], sound(0, 2)}, packed);
  packets.Bytes = Make_Sample_Stream();
  packed.Adaptation_Length = 30;
  Write_Sections(packets, Eit_Pid, {sound(3, 3), other[3], sound(0, 0)}, packed);
  packed.Adaptation_Length = Ts_Payload_Size - 2;
  Write_Ts_Packet(packets, Eit_Pid, false, {}, packed);
  packets.Bytes[packets.Bytes.size() - Ts_Packet_Size + 3] &=
      ~(Ts_Payload_Only << Ts_Adaptation_Shift);
  for (const Ts_Writer *writer : {&first, &second, &packets})
    Add_Filter_Payloads(writer->Bytes);
  Blobs.push_back({packets.Bytes, Ts_Packet_Size});
  for (const Blob &blob : Blobs)
    if (Blobs.size() != Blob_Total || blob.Bytes.size() > Chunk_Max)
      std::abort();
}

// ---- what the decoder has told -----------------------------------------------

struct Table_State {
  std::array<Portal_Row, Portal_Total> Rows;
  std::array<int32_t, Portal_Total> Counts;
};
Table_State Known; // what the decodes and the resets so far left

bool Table_Is(const Table_State &state) {
  bool same = true;
  for (int portal = 0; portal < Portal_Total; ++portal)
    same = same && Portal_Count[portal] == state.Counts[portal] &&
           std::memcmp(&Portal_Table[portal], &state.Rows[portal], sizeof(Portal_Row)) == 0;
  return same;
}

void Reset_Known(bool counts) {
  for (int portal = 0; portal < Portal_Total; ++portal) {
    Known.Rows[portal] = Default_Portal_Row(portal);
    Known.Counts[portal] = counts ? 0 : Known.Counts[portal];
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

// The failing copy behind a zero byte judged last to be remembered, until
// a decode: its portal, where it ends and its bytes.
struct Failure {
  bool Valid = false;
  int32_t Portal = 0;
  uint32_t End = 0;
  Byte_Vector Bytes;
};
Failure Remembered;

// What one data step's scan has told.
constexpr int Scan_Start = 9; // behind Decoder_Step's values: a scan's start
struct Scan_Watch {
  int Events = 0, Last = Scan_Start;
  uint32_t Start = 0;        // where the scanned bytes stand in the bytes gathered
  int64_t First_Sound = -1;  // the first complete sound section of the portal in them
  Decoder_Event Candidate{}; // the current candidate's Candidate_Found
  Shown_List Shown{};        // the owner's answer for it
  int32_t Crc_Held = -1, Stray = -1;
  J Way = J::None;
  int64_t Stop = INT64_MAX; // where the scan stopped: at a kept or a decoded candidate
  bool Decoded = false, Stray_Decoded = false;
};
Scan_Watch Scan;
Byte_Vector Scanned; // the bytes handed over that the scan reads
bool In_Data_Step = false;

constexpr uint16_t Bit(S step) {
  return static_cast<uint16_t>(1u << static_cast<int>(step));
}
// The steps that may follow each step of a scan, and its start.
constexpr uint16_t Next_Steps[Scan_Start + 1] = {
    /* Candidate_Found */ Bit(S::Kept_Incomplete) | Bit(S::Crc_Checked),
    /* Kept_Incomplete */ 0,
    /* Tail_Kept */ 0,
    /* Crc_Checked */ Bit(S::Stray_Taken_Out) | Bit(S::Paired) | Bit(S::Judged),
    /* Stray_Taken_Out */ Bit(S::Judged),
    /* Paired */ Bit(S::Repair_Tried) | Bit(S::Judged),
    /* Repair_Tried */ Bit(S::Judged),
    /* Judged */ Bit(S::Candidate_Found) | Bit(S::Tail_Kept) | Bit(S::Decoded),
    /* Decoded */ 0,
    /* the start */ Bit(S::Candidate_Found) | Bit(S::Tail_Kept),
};

int64_t Offset(uint32_t at) {
  return static_cast<int32_t>(at - Scan.Start);
}

Byte_Vector Bytes_At(uint32_t at, int64_t size) {
  const int64_t t = Offset(at);
  Expect(Step_Account, t >= 0 && t + size <= static_cast<int64_t>(Scanned.size()));
  return Byte_Vector(Scanned.begin() + t, Scanned.begin() + t + size);
}

bool Behind_Zero(uint32_t at) {
  return Offset(at) > 0 && Scanned[Offset(at) - 1] == 0x00;
}

// The list a section's descriptors give, read as the decoder reads them:
// every portal descriptor from the header's last byte on, up to the CRC,
// which reads as zero bytes, as do the bytes behind it.
Decoded_List Read_List(const Byte_Vector &section) {
  const size_t body = section.size() - Section_Crc_Size;
  Byte_Vector bytes(section.begin(), section.begin() + static_cast<long>(body));
  bytes.resize(body + Linkage_Private_Data_Offset + Portal_Name_Max, 0x00);
  Decoded_List list;
  for (size_t j = Descriptor_Scan_Start; j < body; ++j)
    if (Matches_Portal_Descriptor(bytes.data() + j) && list.Found++ < Portal_Entry_Total)
      list.Entries[list.Count++] = Entry_From_Descriptor(bytes.data() + j);
  return list;
}

// Lists alike as the window shows them: names up to their NUL (a name that
// runs into the zeros behind the section ends there).
bool Same_List(const Decoded_List &a, const Decoded_List &b) {
  bool same = a.Count == b.Count && a.Found == b.Found;
  for (size_t i = 0; i < Portal_Entry_Total; ++i)
    same = same && a.Entries[i].Descriptor_Length == b.Entries[i].Descriptor_Length &&
           a.Entries[i].Transport_Stream_Id == b.Entries[i].Transport_Stream_Id &&
           a.Entries[i].Service_Id == b.Entries[i].Service_Id &&
           std::strncmp(a.Entries[i].Name, b.Entries[i].Name, Portal_Name_Size) == 0;
  return same;
}

// Whether every byte of a section rebuilt from two copies stands in one of
// them at its place, or a packet's payload in front (lost from the other).
bool Made_Of(const Byte_Vector &section, const Byte_Vector &copy, const Byte_Vector &other) {
  bool made = section.size() == copy.size() && section.size() == other.size();
  for (size_t i = 0; made && i < section.size(); ++i) {
    const size_t j = i >= Ts_Payload_Size ? i - Ts_Payload_Size : i;
    const uint8_t byte = section[i];
    made = byte == copy[i] || byte == other[i] || byte == copy[j] || byte == other[j];
  }
  return made;
}

// Whether a list from copies whose CRC failed may show, by what the owner
// said the portal showed: only while it shows no list.
bool May_Show_Unchecked(const Shown_List &shown, const Decoded_List &) {
  return !shown.Listed;
}

void Check_Decode(const Decoded_List &list, int32_t portal) {
  const uint32_t at = Scan.Candidate.At;
  const int32_t length = Scan.Candidate.Length, size = length + Section_Head_Bytes;
  const J way = Scan.Way;
  Expect(Step_Account, list.Portal == portal && list.Way == way && list.At == at &&
                           list.Length == length && list.Inside_Packet != Behind_Zero(at));
  Table_State expected = Known;
  if (list.Count >= 2) {
    expected.Rows[portal] = list.Entries;
    expected.Counts[portal] = list.Count;
  } else if (list.Count == 1) {
    expected.Rows[portal][0] = list.Entries[0];
  }
  if (Fault == Table_Takes_List) // fault: the owner counts wrong
    ++Portal_Count[portal];
  Expect(Table_Takes_List, Table_Is(expected));
  Known = expected;

  const bool stray = way == J::Stray_Pointer_Taken_Out, pairs = way >= J::As_Carried;
  const Byte_Vector copy = Bytes_At(at, size + stray);
  Byte_Vector section = copy;
  if (stray)
    section.erase(section.begin() + std::min(Scan.Stray, size));
  if (way == J::Repaired) { // the bytes the decoder rebuilt, in its work area
    section.assign(Plugin_Decoder.Repair_Work.begin(), Plugin_Decoder.Repair_Work.begin() + size);
    Expect(Sound_Source, Made_Of(section, copy, Remembered.Bytes));
  }
  if (Fault == Sound_Source && way != J::As_Carried && way != J::Unchecked)
    section.back() ^= 1; // fault: a byte the decoder was not handed
  const Property rule =
      way == J::As_Carried || way == J::Unchecked ? Unchecked_Source : Sound_Source;
  Expect(rule,
         (rule == Unchecked_Source || Section_Crc_Holds(section.data(), section.size())) &&
             Source_Section_Length(section.data(), Portal_Constants_Table[portal]) == length &&
             list.Version == Eit_Version(section.data()) && Same_List(list, Read_List(section)));
  const Byte_Vector &failed = Remembered.Bytes;
  Expect(Unchecked_Source,
         !pairs || (Behind_Zero(at) && Remembered.Valid && Remembered.Portal == portal &&
                    static_cast<int32_t>(at - Remembered.End) >= 0 &&
                    (way != J::As_Carried || (failed.size() == copy.size() &&
                                              Mpeg_Crc32(copy.data(), copy.size()) ==
                                                  Mpeg_Crc32(failed.data(), failed.size()))) &&
                    (way != J::Unchecked || May_Show_Unchecked(Scan.Shown, list))));
  Remembered.Valid = false;
  Scan.Decoded = true;
  Scan.Stray_Decoded = stray;
  Scan.Stop = Offset(at);
}

// The scan's first step: it reads the last bytes handed over; the first
// complete sound section of its portal among them is looked for.
void Start_Scan(int32_t portal) {
  Scan.Start = Plugin_Decoder.Buffer_Start;
  const int32_t fill = Plugin_Decoder.Fill;
  Expect(Gate, Buffer_Holds_History());
  Scanned.assign(Plugin_Decoder.Section_Buffer.begin(),
                 Plugin_Decoder.Section_Buffer.begin() + fill);
  // Every source section's header has its original network id's low byte
  // at the same place: only places with it are looked at.
  constexpr int32_t Network_Low = Eit_Original_Network_Id_Offset + 1;
  for (int32_t t = 0; t + Source_Header_Judged <= fill && Scan.First_Sound < 0; ++t) {
    const void *mark =
        std::memchr(Scanned.data() + t + Network_Low, Portal_Original_Network_Id & 0xFF,
                    static_cast<size_t>(fill - Source_Header_Judged - t + 1));
    if (mark == nullptr)
      break;
    t = static_cast<int32_t>(static_cast<const uint8_t *>(mark) - Scanned.data()) - Network_Low;
    const uint8_t *at = Scanned.data() + t;
    const int32_t length = Source_Section_Length(at, Portal_Constants_Table[portal]);
    if (length != 0 && t + length + Section_Complete_Extra + 1 <= fill &&
        Section_Crc_Holds(at, static_cast<size_t>(length + Section_Head_Bytes)))
      Scan.First_Sound = t;
  }
}

void Observe(const Decoder_Event &event, void *) {
  if (Fault == Step_Account && event.Step == S::Crc_Checked)
    return; // fault: a step not told
  const int32_t portal = event.Portal;
  const uint32_t size = static_cast<uint32_t>(event.Length + Section_Head_Bytes);
  Expect(Gate, In_Data_Step);
  Expect(Shown_Portal, portal >= 0 && portal < Portal_Total && portal == Current_Portal &&
                           portal == Section_Scan_Portal(Plugin_Decoder));
  Expect(Table_Still, event.Step == S::Decoded || Table_Is(Known)); // the owner took the list
  if (Scan.Events++ == 0)
    Start_Scan(portal);
  const bool candidate = event.Step == S::Candidate_Found || event.Step == S::Tail_Kept;
  Expect(Step_Account, (Next_Steps[Scan.Last] & Bit(event.Step)) != 0 &&
                           (candidate || (event.At == Scan.Candidate.At &&
                                          event.Length == Scan.Candidate.Length)) &&
                           (Scan.Last != static_cast<int>(S::Judged) ||
                            (event.Step == S::Decoded) == Judgement_Decodes(Scan.Way)));
  Scan.Last = static_cast<int>(event.Step);
  if (event.Step == S::Candidate_Found) {
    const int64_t t = Offset(event.At);
    Expect(Step_Account, t >= 0 && t < static_cast<int64_t>(Scanned.size()) &&
                             (Scan.Candidate.Length == 0 || t > Offset(Scan.Candidate.At)) &&
                             event.Value == (t > 0 ? Scanned[t - 1] : -1));
    Scan.Candidate = event;
    Scan.Crc_Held = Scan.Stray = -1;
    Scan.Shown = Plugin_Decoder_Owner.Shows(portal, Plugin_Decoder_Owner.Context);
    Scan.Shown.Listed |= Fault == Unchecked_Source; // fault: the owner's answer misread
  } else if (event.Step == S::Kept_Incomplete) {
    Scan.Stop = Offset(event.At);
  } else if (event.Step == S::Crc_Checked) {
    Scan.Crc_Held = event.Value;
  } else if (event.Step == S::Stray_Taken_Out) {
    Scan.Stray = event.Value;
  } else if (event.Step == S::Judged) {
    Scan.Way = static_cast<J>(event.Value);
    Expect(Step_Account, (Scan.Way != J::Sound || Scan.Crc_Held == 1) &&
                             (Scan.Way != J::Stray_Pointer_Taken_Out || Scan.Stray >= 0));
    if (Scan.Way == J::Failed_Remembered) {
      Expect(Unchecked_Source, Behind_Zero(event.At));
      Remembered = {true, portal, event.At + size, Bytes_At(event.At, size)};
    }
  } else if (event.Step == S::Decoded) {
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
  const Delivery delivery = Delivered(Chunk.data(), n);
  const uint32_t start = Gathered_End(), room = Section_Buffer_Size - Plugin_Decoder.Fill;
  const bool takes =
      !Plugin_Decoder.Scan_Idle && Host.Filter_Open && !Host.Exited && !delivery.Dropped;
  if (delivery.Size <= Section_Buffer_Size) { // where the buffer would put it
    const uint32_t at = start % History_Size, first = std::min(delivery.Size, History_Size - at);
    std::memcpy(History.data() + at, delivery.Bytes, first);
    std::memcpy(History.data(), delivery.Bytes + first, delivery.Size - first);
  }
  Scan = Scan_Watch{};
  In_Data_Step = true;
  On_Section_Data(0, static_cast<int32_t>(n), Chunk.data());
  In_Data_Step = false;
  const uint32_t gathered = Gathered_End() - start;
  Expect(Gate, takes ? gathered == delivery.Size - Scan.Stray_Decoded ||
                           (gathered == 0 && Scan.Events == 0 && delivery.Size > room)
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
  Remembered = Failure{};
  Select_Blob(0, 0);
  On_Start();
  Program program{data, size, 0};
  while (program.At < program.Size)
    Run_Step(program);
  return 0;
}
