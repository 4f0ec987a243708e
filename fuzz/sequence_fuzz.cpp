// Fuzz target for the plug-in as the host drives it. The input is a program
// of host calls and window actions (fuzz/sequence_program.h): channel
// changes, the hot key, the close box, ">>", entry buttons, refresh ticks,
// On_Filter_Close, On_Start, On_Exit, and chunks of filter data cut from a
// fixed set of real sections (sound source sections of every portal,
// sections no portal decodes, packed payload streams), whole or with bits
// flipped. The calls go to the plug-in's real session (core/plugin_session.h);
// the fuzzer plays the host and the Windows shell, carrying out its orders.
//
// After every step the table must be within its bounds, and it may only
// have changed as the host rules and the decoder allow: a data chunk may
// change the shown portal's row only into the entries of a sound source
// section of that portal whose bytes reached the buffer since it was last
// empty (whole, or with the next section's pointer field inside it, which
// the decoder takes out), or into what the decoder without a CRC check makes
// of a complete candidate in the scanned bytes that fails its CRC exactly as
// an earlier one at another place in the stream did since the last decode;
// nothing else changes a row but a reset to the defaults, where the model
// expects one. A whole sound section fed at once into an armed, empty
// decoder must be decoded. The commands reach the host only during a
// session, and the plug-in's Filter_Running always matches the host's filter.
#include "core/decoder_setup.h"
#include "core/plugin_decoder.h"
#include "core/plugin_session.h"
#include "core/plugin_state.h"
#include "core/portal_table.h"
#include "fuzz/sequence_program.h"
#include "stream/eit_writer.h"
#include "stream/ts_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int Descriptor_Fixed_Length = 7; // ts id, network id, service id, linkage type
constexpr int Descriptor_Length_Max = 30;  // longer portal descriptors do not match
constexpr int Name_Text_Max = Descriptor_Length_Max - Descriptor_Fixed_Length; // 23
constexpr size_t Plain_Blob_Min = 1100; // a whole plain blob reaches the scan threshold
constexpr size_t Chunk_Max = Huge_Chunk_Base + 0xFFFF;
constexpr int Sound_Max = 64; // one bit each in a candidate mask
constexpr size_t No_Stray = SIZE_MAX;
constexpr size_t Section_Header_Size =
    14; // the zero byte in front of table_id to segment_last_section_number
constexpr size_t Packet_Payload_Max = 184; // a stray pointer field counts 1 to 183 bytes

// Aborts on a violated invariant, naming the line of the check.
void Check(bool holds, int line = __builtin_LINE()) {
  if (holds)
    return;
  std::fprintf(stderr, "fuzz_sequence: check at line %d failed\n", line);
  std::abort();
}

// A sound source section and what decoding it does to its portal's row.
struct Sound_Section {
  int Portal;
  Byte_Vector Bytes;  // table_id to CRC
  Portal_Row Entries; // the entries a decode gives, zeros behind them
  int32_t Kept;       // matching descriptors, at most 17
};

// Where a sound section stands in a blob: intact, or with one stray byte in
// it, the pointer field of a section that starts in its last packet.
struct Occurrence {
  int Sound;
  size_t Start, End;       // [Start, End) in the blob, the stray byte included
  size_t Stray = No_Stray; // where the stray byte stands in the blob
};

struct Blob {
  Byte_Vector Bytes;
  std::vector<Occurrence> Occurrences;
  int Leading = -1; // the occurrence right behind a pointer field at 0, if any
};

std::vector<Sound_Section> Sounds;
std::vector<Blob> Blobs;

// ---- building the fixed set ------------------------------------------------

Portal_Entry Expected_Entry(const Portal_Listing_Entry &listing) {
  Portal_Entry entry{};
  std::memcpy(entry.Name, listing.Name.data(), listing.Name.size());
  entry.Descriptor_Length = Descriptor_Fixed_Length + static_cast<int32_t>(listing.Name.size());
  entry.Transport_Stream_Id = listing.Transport_Stream_Id;
  entry.Service_Id = listing.Service_Id;
  return entry;
}

// A descriptor matches when it names a service and its name fits 23 bytes.
bool Listing_Matches(const Portal_Listing_Entry &listing) {
  return listing.Service_Id != 0 && listing.Name.size() <= static_cast<size_t>(Name_Text_Max);
}

int Add_Sound(int portal, const Eit_Section &section,
              const std::vector<Portal_Listing_Entry> &listings) {
  Sound_Section sound{portal, Build_Eit_Section(section), {}, 0};
  for (const Portal_Listing_Entry &listing : listings) {
    if (!Listing_Matches(listing))
      continue;
    if (sound.Kept < Portal_Entry_Total)
      sound.Entries[static_cast<size_t>(sound.Kept++)] = Expected_Entry(listing);
  }
  Sounds.push_back(sound);
  return static_cast<int>(Sounds.size()) - 1;
}

std::vector<Portal_Listing_Entry> Listings(const char *stem, int count, uint16_t transport_stream,
                                           uint16_t first_service) {
  std::vector<Portal_Listing_Entry> listings;
  for (int i = 0; i < count; ++i)
    listings.push_back({transport_stream, static_cast<uint16_t>(first_service + i),
                        std::string(stem) + " " + std::to_string(i + 1)});
  return listings;
}

Byte_Vector Plain_Payload(const Byte_Vector &section) {
  Byte_Vector payload{0x00};
  payload.insert(payload.end(), section.begin(), section.end());
  payload.resize(std::max(Plain_Blob_Min, payload.size() + Packet_Chunk_Size), 0xFF);
  return payload;
}

// The payload bytes of every packet on the EIT PID, as the host's filter
// delivers them.
Byte_Vector Filter_Payloads(const Byte_Vector &packets) {
  Byte_Vector payloads;
  for (size_t at = 0; at + Ts_Packet_Size <= packets.size(); at += Ts_Packet_Size) {
    const uint8_t *packet = packets.data() + at;
    const int pid = ((packet[1] & 0x1F) << 8) | packet[2];
    const int control = (packet[3] >> 4) & 3;
    if (pid != Eit_Pid || (control & 1) == 0)
      continue;
    size_t start = Ts_Header_Size;
    if (control & 2)
      start += 1 + packet[4];
    if (start < Ts_Packet_Size)
      payloads.insert(payloads.end(), packet + start, packet + Ts_Packet_Size);
  }
  return payloads;
}

// Where `section` stands at `start` of `bytes` with one byte too many: the
// stray pointer field the decoder takes out, a byte from the section's 14th
// on, in its last 184 bytes, counting the section's bytes behind it. Its
// place in `bytes`, or No_Stray.
size_t Stray_Byte_At(const Byte_Vector &bytes, size_t start, const Byte_Vector &section) {
  const size_t size = section.size();
  if (start + size + 1 > bytes.size())
    return No_Stray;
  size_t same = 0; // section bytes in place from `start` on
  while (same < size && bytes[start + same] == section[same])
    ++same;
  if (same == size)
    return No_Stray;
  // The stray byte stands at most `same` bytes in; where a run of bytes of
  // its value stands, taking out any of them leaves the same section, and
  // the decoder takes the first.
  const size_t last_packet = size >= Packet_Payload_Max ? size - (Packet_Payload_Max - 1) : 0;
  const size_t first = std::max<size_t>(Section_Header_Size - 1, last_packet);
  for (size_t k = first; k <= same; ++k)
    if (bytes[start + k] == size - k &&
        std::equal(section.begin() + static_cast<long>(k), section.end(),
                   bytes.begin() + static_cast<long>(start + k + 1)))
      return start + k;
  return No_Stray;
}

void Add_Blob(const Byte_Vector &bytes) {
  Blob blob;
  blob.Bytes = bytes;
  for (size_t s = 0; s < Sounds.size(); ++s) {
    const Byte_Vector &section = Sounds[s].Bytes;
    const auto head_end = section.begin() + (Section_Header_Size - 1);
    for (auto it = bytes.begin();
         (it = std::search(it, bytes.end(), section.begin(), head_end)) != bytes.end(); ++it) {
      const size_t start = static_cast<size_t>(it - bytes.begin());
      if (start + section.size() <= bytes.size() &&
          std::equal(section.begin(), section.end(), it)) {
        blob.Occurrences.push_back({static_cast<int>(s), start, start + section.size()});
        if (start == 1 && bytes[0] == 0x00)
          blob.Leading = static_cast<int>(blob.Occurrences.size()) - 1;
      } else if (const size_t stray = Stray_Byte_At(bytes, start, section); stray != No_Stray) {
        blob.Occurrences.push_back({static_cast<int>(s), start, start + section.size() + 1, stray});
      }
    }
  }
  Blobs.push_back(blob);
}

Eit_Section Section_With(uint16_t service, uint16_t transport_stream,
                         const std::vector<Portal_Listing_Entry> &listings) {
  Eit_Section section = Portal_Source_Section(0, listings);
  section.Service_Id = service;
  section.Transport_Stream_Id = transport_stream;
  return section;
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
  // Sound source sections, in the order of sequence_program.h.
  const char *const stems[Portal_Total] = {"Amsel", "Birke", "Kiesel", "Talblick"};
  std::vector<int> plain;
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const uint16_t first = static_cast<uint16_t>(1001 + 100 * portal);
    const std::vector<Portal_Listing_Entry> lists[Plain_Lists_Per_Portal] = {
        Listings(stems[portal], 3, 4, first),
        Listings(stems[portal], 20, 5, static_cast<uint16_t>(first + 1)),
        Listings("Einzel", 1, 4, static_cast<uint16_t>(first + 50)),
        {{4, first, "Gut Eins"},
         {4, 0, "Ohne Dienst"},
         {4, static_cast<uint16_t>(first + 2), "Ein Name viel zu lang ab"},
         {6, static_cast<uint16_t>(first + 3), "Gut Zwei"}},
    };
    for (const auto &list : lists)
      plain.push_back(Add_Sound(portal, Portal_Source_Section(portal, list), list));
  }
  plain.push_back(Add_Sound(0, Portal_Source_Section(0, {}), {}));
  plain.push_back(Add_Sound(3, Portal_Source_Section(3, {}), {}));
  {
    const auto list = Listings("Neuland", 4, 4, 1150);
    Eit_Section update = Portal_Source_Section(1, list);
    update.Version_Number = 7;
    plain.push_back(Add_Sound(1, update, list));
  }
  {
    const auto list = Listings("Weitblick", 19, 4, 1250);
    Eit_Section large = Portal_Source_Section(2, list);
    for (uint16_t id = 2; Build_Eit_Section(large).size() < 3800; ++id)
      large.Events.push_back(Text_Event(id, std::string(200, 'x')));
    plain.push_back(Add_Sound(2, large, list));
  }

  // Sections no portal decodes: another service; a source service's
  // section 1; another network; a source service on the wrong stream; and
  // two whose text carries a portal section header with descriptors behind
  // it (whose CRC cannot hold).
  const auto strange = Listings("Fremd", 3, 4, 1500);
  std::vector<Byte_Vector> foreign;
  foreign.push_back(Build_Eit_Section(Section_With(0x0300, 7, strange)));
  {
    Eit_Section section = Portal_Source_Section(0, strange);
    section.Section_Number = 1;
    foreign.push_back(Build_Eit_Section(section));
  }
  {
    Eit_Section section = Portal_Source_Section(1, strange);
    section.Original_Network_Id = 0x0086;
    foreign.push_back(Build_Eit_Section(section));
  }
  foreign.push_back(Build_Eit_Section(Section_With(0x0012, 3, strange)));
  for (int portal : {0, 3}) {
    const Byte_Vector header = Portal_Header_Bytes(portal, 0x60);
    std::string text(header.begin(), header.end());
    for (const auto &listing : Listings("Trug", 3, 4, 1600)) {
      const Byte_Vector bytes =
          Portal_Descriptor_Bytes(listing.Transport_Stream_Id, listing.Service_Id, listing.Name);
      text.append(bytes.begin(), bytes.end());
    }
    text.resize(0x60 + 8, '\0');
    Eit_Section carrier = Section_With(0x0301, 7, {});
    carrier.Events.push_back(Text_Event(9, text));
    foreign.push_back(Build_Eit_Section(carrier));
  }
  Check(foreign.size() == static_cast<size_t>(Blob_Foreign_Total));

  for (int sound : plain)
    Add_Blob(Plain_Payload(Sounds[static_cast<size_t>(sound)].Bytes));
  for (const Byte_Vector &section : foreign)
    Add_Blob(Plain_Payload(section));

  // Payload streams of several sections: packed (pointer fields cut into
  // sections), with adaptation fields, and one section per packet with noise
  // on the PID between them. The first starts with a section of two packets
  // whose every entry counts, with the next section starting in its last
  // packet: the stray pointer field the decoder takes out.
  auto sound = [](int blob) { return Sounds[static_cast<size_t>(blob)].Bytes; };
  {
    const auto list = Listings("Laube", 12, 4, 1180);
    const int followed = Add_Sound(1, Portal_Source_Section(1, list), list);
    Ts_Writer writer;
    Ts_Packet_Options options;
    options.Pack_Sections = true;
    Write_Sections(writer, Eit_Pid,
                   {sound(followed), foreign[0], sound(Blob_Plain(0, 0)), sound(Blob_Plain(1, 1)),
                    sound(Blob_Plain(2, 2)), sound(Blob_Plain(3, 3)), foreign[4]},
                   options);
    Add_Blob(Filter_Payloads(writer.Bytes));
    const std::vector<Occurrence> &found = Blobs.back().Occurrences;
    Check(std::any_of(found.begin(), found.end(), [followed](const Occurrence &occurrence) {
      return occurrence.Sound == followed && occurrence.Start == 1 && occurrence.Stray != No_Stray;
    }));
  }
  {
    Ts_Writer writer;
    Ts_Packet_Options options;
    options.Pack_Sections = true;
    options.Adaptation_Length = 9;
    Write_Sections(writer, Eit_Pid,
                   {sound(Blob_Plain(0, 1)), foreign[5], sound(Blob_Plain(3, 0)),
                    sound(Blob_Portal_1_Update), foreign[1], sound(Blob_Plain(0, 2))},
                   options);
    Add_Blob(Filter_Payloads(writer.Bytes));
  }
  {
    Ts_Writer writer;
    Write_Section(writer, Eit_Pid, sound(Blob_Portal_2_Large));
    Write_Noise_Packet(writer, Eit_Pid);
    Write_Section(writer, Eit_Pid, sound(Blob_Plain(1, 2)));
    Write_Noise_Packet(writer, Eit_Pid);
    Write_Section(writer, Eit_Pid, foreign[2]);
    Write_Section(writer, Eit_Pid, sound(Blob_Plain(3, 1)));
    Add_Blob(Filter_Payloads(writer.Bytes));
  }

  Check(Blobs.size() == static_cast<size_t>(Blob_Total));
  Check(Sounds.size() <= static_cast<size_t>(Sound_Max));
  for (int i = 0; i < Blob_Foreign_First; ++i) // the plain blobs lead with their section
    Check(Blobs[static_cast<size_t>(i)].Leading >= 0 &&
          Blobs[static_cast<size_t>(i)]
                  .Occurrences[static_cast<size_t>(Blobs[static_cast<size_t>(i)].Leading)]
                  .Sound == i);
  for (const Blob &blob : Blobs)
    Check(blob.Bytes.size() <= Chunk_Max);
}

// ---- the host and the shell ------------------------------------------------

// The fuzzer is the host and the Windows shell around the real session: it
// carries out the session's orders as the module does, and keeps only what a
// host and a shell know, and what the model expects of the current step.
struct Host_Model {
  bool Window_Open = false;         // the shell's window, opened and closed as ordered
  bool Timer_Running = false;       // the shell's refresh timer
  bool Filter_Open = false;         // the host's filter, from a start to a stop or close
  bool Started = false;             // On_Start called, On_Exit not since
  bool Exited = false;              // On_Exit called, On_Start not since
  bool Tunes_Inside = false;        // the host answers the next switch request inside it
  uint16_t Transport_Stream_Id = 0; // of the channel tuned last
  bool Expect_Table_Reset = false;  // this step puts the table back to its defaults
  bool Expect_Counts_Reset = false; // and every count to 0
};
Host_Model Host;

// The host window the session names in its commands; never looked into.
int Host_Window_Stand_In = 0;
constexpr uint32_t Host_Tag = 0x5044;

// A folder that does not exist: the session's position file is neither read
// nor written.
constexpr char Module_Path[] = "/nonexistent-pictolandrum/folder\\Pictolandrum.dll";

void Check_Entry(const Portal_Entry &entry) {
  Check(std::memchr(entry.Name, 0, Name_Text_Max + 1) != nullptr);
  Check(entry.Transport_Stream_Id >= 0 && entry.Transport_Stream_Id <= 0xFFFF);
  Check(entry.Service_Id >= 0 && entry.Service_Id <= 0xFFFF);
}

// Refresh_Captions reads every entry of the shown portal.
void Refresh_Captions() {
  const int32_t portal = Current_Portal;
  for (int i = 0; i < Portal_Entry_Total; ++i)
    Check_Entry(Copy_Portal_Entry(portal, i));
}

void On_Channel_Change(uint16_t transport_stream, uint16_t service);

// A command reaches the host only during a session, with the records it
// names filled in; the host opens and closes its filter by it, and may tune
// inside a switch request, while the plug-in waits for it.
void Deliver_Command(const Host_Command_Order &order) {
  if (order.Command == 0)
    return;
  Check(order.To == (Host.Started ? &Host_Window_Stand_In : nullptr));
  if (order.Command == HOST_START_FILTER) {
    Check(order.Argument == reinterpret_cast<uintptr_t>(&Filter_Request));
    Check(Filter_Request.Pid == Eit_Pid);
    Host.Filter_Open = order.To != nullptr;
  } else if (order.Command == HOST_STOP_FILTER) {
    Check(order.Argument == Filter_Request.Filter_Handle);
    Host.Filter_Open = false;
  } else {
    Check(order.Command == HOST_SWITCH_SERVICE);
    Check(order.Argument == reinterpret_cast<uintptr_t>(&Switch_Request));
    Check(Switch_Request.Lead == Switch_Lead_Word && Switch_Request.Trail == Switch_Trail_Word);
    if (Host.Tunes_Inside) {
      Host.Tunes_Inside = false;
      On_Channel_Change(static_cast<uint16_t>(Switch_Request.Transport_Stream_Id),
                        static_cast<uint16_t>(Switch_Request.Service_Id));
    }
  }
}

void Carry_Out(const Shell_Orders &orders);

// The shell makes the window; its initialisation resets the table unless
// the host is on the portal transport stream.
void Open_Window() {
  Check(!Host.Window_Open && !Host.Exited);
  if (Host.Transport_Stream_Id != Portal_Transport_Stream_Id)
    Host.Expect_Table_Reset = true;
  Carry_Out(Session_Window_Init());
  Host.Window_Open = true;
  Carry_Out(Session_Window_Created(true));
}

void Carry_Out(const Shell_Orders &orders) {
  if (orders.Timer == Timer_Order::Run)
    Host.Timer_Running = true;
  else if (orders.Timer == Timer_Order::Stop)
    Host.Timer_Running = false;
  if (orders.Window == Window_Order::Open) {
    Open_Window();
  } else if (orders.Window == Window_Order::Close) {
    Check(Host.Window_Open);
    Host.Window_Open = false;
  }
  if (orders.Refresh_Captions) {
    Check(Host.Window_Open);
    Refresh_Captions();
  }
  Deliver_Command(orders.Command);
}

// Every On_Start answers the same and starts a session with the table at
// its defaults and no counts, during a session too.
void On_Start() {
  Host.Expect_Table_Reset = Host.Expect_Counts_Reset = true;
  char letter = 0;
  int32_t word = -1;
  Session_Start(&Host_Window_Stand_In, Host_Tag, &letter, &word);
  Check(letter == Start_Answer_Letter && word == Start_Answer_Word);
  Host.Started = true;
  Host.Exited = false;
}

void On_Exit() {
  Carry_Out(Session_Exit());
  Check(!Host.Window_Open && !Host.Timer_Running && !Host.Filter_Open);
  Host.Started = false;
  Host.Exited = true;
}

void On_Channel_Change(uint16_t transport_stream, uint16_t service) {
  Channel_Record record{};
  record.Transport_Stream_Id = transport_stream;
  record.Service_Id = service;
  Host.Transport_Stream_Id = transport_stream;
  Carry_Out(Session_Channel_Change(record));
  Check(Plugin_Decoder.Scan_Idle == 0 && Plugin_Decoder.First_Chunk_Seen == 0);
}

// The hot key and the menu item: the open window closes (the filter keeps
// running); a closed one opens, except after On_Exit.
void Toggle_Window() {
  const bool was_open = Host.Window_Open;
  Carry_Out(Session_Toggle_Window());
  Check(Host.Window_Open == (!was_open && !Host.Exited));
}

// An entry button acts within the portal's count (index <= count): it
// re-arms the decoder and asks for a switch when the entry names a service
// and a transport stream; beyond the count it does nothing at all. The host
// tunes as asked, inside the request or after it, or not at all.
void Entry_Button(int32_t index, bool host_switches, bool inside) {
  const int32_t portal = Current_Portal;
  const int32_t count = Read_Portal_Count(portal);
  const Portal_Entry entry = Copy_Portal_Entry(portal, index);
  Check_Entry(entry);
  const int32_t idle = Plugin_Decoder.Scan_Idle;
  const Shell_Orders orders = Session_Entry_Pressed(index);
  const bool acts = index <= count;
  const bool switches = acts && entry.Service_Id != 0 && entry.Transport_Stream_Id != 0;
  Check(Plugin_Decoder.Scan_Idle == (acts ? 0 : idle));
  Check((orders.Command.Command == HOST_SWITCH_SERVICE) == switches);
  Check(!switches ||
        (Switch_Request.Service_Id == static_cast<uint32_t>(entry.Service_Id) &&
         Switch_Request.Transport_Stream_Id == static_cast<uint32_t>(entry.Transport_Stream_Id)));
  Host.Tunes_Inside = switches && host_switches && inside;
  Carry_Out(orders);
  if (switches && host_switches && !inside)
    On_Channel_Change(static_cast<uint16_t>(entry.Transport_Stream_Id),
                      static_cast<uint16_t>(entry.Service_Id));
}

// The close box: WM_CLOSE, then the IDCANCEL the dialog manager turns it into.
void Close_Box() {
  Carry_Out(Session_Close_Box());
  Carry_Out(Session_Window_Dismissed());
  Check(!Host.Window_Open && !Host.Filter_Open);
}

void Refresh_Tick() {
  if (Host.Timer_Running)
    Carry_Out(Session_Refresh_Tick());
}

// ---- the data the filter delivers --------------------------------------------

// The selected blob: a copy that bit flips may damage, and where the next
// chunk starts. The blob is fed round and round, as a carousel repeats.
struct Feed_State {
  int Blob = 0;
  size_t Position = 0;
};
Feed_State Feed;
std::array<uint8_t, Chunk_Max> Work_Blob;
std::array<uint8_t, Chunk_Max> Chunk;

void Select_Blob(int blob, size_t start) {
  Feed = Feed_State{};
  Feed.Blob = blob;
  const Byte_Vector &bytes = Blobs[static_cast<size_t>(blob)].Bytes;
  std::memcpy(Work_Blob.data(), bytes.data(), bytes.size());
  Feed.Position = start % bytes.size();
}

void Damage_Blob(size_t offset, int bit) {
  const size_t size = Blobs[static_cast<size_t>(Feed.Blob)].Bytes.size();
  Work_Blob[offset % size] ^= static_cast<uint8_t>(1u << bit);
}

// Whether the selected copy differs from the blob within the occurrence
// (a second flip of the same bit makes it sound again).
bool Occurrence_Damaged(const Occurrence &occurrence) {
  const Byte_Vector &bytes = Blobs[static_cast<size_t>(Feed.Blob)].Bytes;
  return std::memcmp(Work_Blob.data() + occurrence.Start, bytes.data() + occurrence.Start,
                     occurrence.End - occurrence.Start) != 0;
}

// Whether the cyclic range of n bytes from `from` touches [start, end).
bool Touches(size_t from, size_t n, size_t size, size_t start, size_t end) {
  if (n >= size)
    return true;
  const size_t to = from + n; // may pass the end once
  if (to <= size)
    return from < end && start < to;
  return start < to - size || from < end;
}

// ---- the oracle ---------------------------------------------------------------

// The sound sections whose bytes reached the buffer since it was last empty.
uint64_t Candidates = 0;

struct Snapshot {
  std::array<Portal_Row, Portal_Total> Rows;
  std::array<int32_t, Portal_Total> Counts;
  int32_t Shown_Portal, Fill, Disarmed, First_Chunk_Seen;
  bool Takes_Data;
};

Snapshot Take_Snapshot() {
  Snapshot snapshot;
  snapshot.Rows = Portal_Table;
  for (int portal = 0; portal < Portal_Total; ++portal)
    snapshot.Counts[static_cast<size_t>(portal)] = Portal_Count[static_cast<size_t>(portal)];
  snapshot.Shown_Portal = Current_Portal;
  snapshot.Fill = Plugin_Decoder.Fill;
  snapshot.Disarmed = Plugin_Decoder.Scan_Idle;
  snapshot.First_Chunk_Seen = Plugin_Decoder.First_Chunk_Seen;
  snapshot.Takes_Data = !Plugin_Decoder.Scan_Idle && Filter_Running && !Exiting;
  return snapshot;
}

bool Same_Row(const Portal_Row &a, const Portal_Row &b) {
  return std::memcmp(a.data(), b.data(), sizeof a) == 0;
}

Portal_Row Default_Row(int portal) {
  const Portal_Constants &constants = Portal_Constants_Table[static_cast<size_t>(portal)];
  Portal_Row row{};
  std::strncpy(row[0].Name, constants.Default_Name, Portal_Name_Size - 1);
  row[0].Transport_Stream_Id = constants.Default_Transport_Stream_Id;
  row[0].Service_Id = constants.Default_Service_Id;
  return row;
}

// The row and count a decode of `sound` leaves behind `row` and `count`.
void Apply_Sound(const Sound_Section &sound, Portal_Row &row, int32_t &count) {
  if (sound.Kept >= 2) {
    row = sound.Entries;
    count = sound.Kept;
  } else if (sound.Kept == 1) {
    row[0] = sound.Entries[0];
  }
}

void Check_Bounds() {
  Check(Plugin_Decoder.Fill >= 0 && Plugin_Decoder.Fill <= Section_Buffer_Size);
  Check(Plugin_Decoder.Scan_Idle == 0 || Plugin_Decoder.Scan_Idle == 1);
  Check(Filter_Running == 0 || Filter_Running == 1);
  Check(Current_Portal >= 0 && Current_Portal < Portal_Total);
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const int32_t count = Portal_Count[static_cast<size_t>(portal)];
    Check(count >= 0 && count <= Portal_Entry_Total);
    for (const Portal_Entry &entry : Portal_Table[static_cast<size_t>(portal)])
      Check_Entry(entry);
  }
}

// The data step fed bytes `from` .. `from + n` (round the blob) while the
// decoder took data: every sound section they touched may now be decoded.
//
// What counts is what the decoder received of a section: the parts this
// step hands over, as the copy holds them now. A byte damaged after its part
// was fed, or damaged and mended again before, never reached the decoder.
// Going round the blob, the step may hand over the end of one copy of the
// section and the start of the next: each is a section of its own, and one
// sound part is enough for one of them to complete soundly.
//
// The stray byte of an occurrence does not count: damaged, it either keeps
// the decoder from taking it out or lets it take out its neighbour of the
// same value, which leaves the same sound section.
bool Fed_Part_Sound(const Occurrence &occurrence, size_t from, size_t n, size_t size) {
  const Byte_Vector &bytes = Blobs[static_cast<size_t>(Feed.Blob)].Bytes;
  const auto same = [&](size_t begin, size_t end) {
    return begin >= end ||
           std::memcmp(Work_Blob.data() + begin, bytes.data() + begin, end - begin) == 0;
  };
  const auto sound = [&](size_t begin, size_t end) { // [begin, end) of the blob
    begin = std::max(begin, occurrence.Start);
    end = std::min(end, occurrence.End);
    if (begin >= end)
      return false;
    if (occurrence.Stray < begin || occurrence.Stray >= end)
      return same(begin, end);
    return same(begin, occurrence.Stray) && same(occurrence.Stray + 1, end);
  };
  if (from + n <= size)
    return sound(from, from + n);
  return sound(from, size) || sound(0, std::min(size, from + n - size));
}

void Note_Fed_Sections(size_t from, size_t n) {
  const Blob &blob = Blobs[static_cast<size_t>(Feed.Blob)];
  const size_t size = blob.Bytes.size();
  for (const Occurrence &occurrence : blob.Occurrences)
    if (Touches(from, n, size, occurrence.Start, occurrence.End) &&
        Fed_Part_Sound(occurrence, from, n, size))
      Candidates |= uint64_t{1} << occurrence.Sound;
}

// ---- the same failure twice ---------------------------------------------------

// A complete candidate whose CRC fails, as a scan may have met it.
struct Failure {
  int32_t Length;
  uint32_t Crc;
  uint64_t Position; // of its zero byte in the stream of bytes appended to the buffer
};
std::vector<Failure> Failures; // met since the last decode
uint64_t Stream_Fed = 0;       // bytes appended to the buffer so far

// The bytes a data step's scan looks at (the buffer as the step finds it,
// unless the step empties it first, and the chunk behind it), the stream
// position of the first, and the failing candidates among them.
Byte_Vector Scanned;
uint64_t Scanned_Base = 0;
std::vector<size_t> Scanned_Failures; // their places in Scanned

int32_t Word_At(const uint8_t *at) {
  return (at[0] << 8) | at[1];
}

// The head of a candidate for `portal` at `at` (fields as the decoder
// insists on them), and its section length.
bool Heads_Candidate(const uint8_t *at, int portal, int32_t *length) {
  const Portal_Constants &c = Portal_Constants_Table[static_cast<size_t>(portal)];
  *length = Word_At(at + 2) & Section_Length_Mask;
  return at[0] == 0x00 && Word_At(at + 4) == c.Source_Service_Id && at[7] == 0x00 &&
         at[8] == 0x01 && Word_At(at + 9) == c.Source_Transport_Stream_Id &&
         Word_At(at + 11) == Portal_Original_Network_Id && at[13] == 0x01 &&
         (Word_At(at + 2) & 0xF000) == 0xF000 && *length >= Section_Length_Min;
}

// Before the data step: what its scan will look at, if the decoder takes
// the chunk, does not drop it and then holds enough bytes to scan.
bool Appends = false; // the step appends its chunk
void Gather_Scanned(const Snapshot &before, const uint8_t *chunk, size_t n) {
  Scanned.clear();
  Scanned_Failures.clear();
  const size_t kept = before.First_Chunk_Seen ? static_cast<size_t>(before.Fill) : 0;
  Appends = before.Takes_Data && n > 0 && n <= Section_Buffer_Size - kept;
  if (!Appends || kept + n < static_cast<size_t>(Scan_Threshold))
    return;
  const uint8_t *buffer = Plugin_Decoder.Section_Buffer.data();
  Scanned.assign(buffer, buffer + kept);
  Scanned.insert(Scanned.end(), chunk, chunk + n);
}

// After the data step: the failing candidates its scan may have met join
// Failures (each place in the stream once).
void Note_Failures(size_t n, int portal) {
  if (!Appends)
    return;
  Stream_Fed += n;
  Scanned_Base = Stream_Fed - Scanned.size();
  const uint8_t *bytes = Scanned.data();
  const size_t size = Scanned.size();
  for (size_t p = 0; p + Section_Header_Size <= size; ++p) {
    const void *zero = std::memchr(bytes + p, 0x00, size - Section_Header_Size + 1 - p);
    if (zero == nullptr)
      return;
    p = static_cast<size_t>(static_cast<const uint8_t *>(zero) - bytes);
    int32_t length = 0;
    if (!Heads_Candidate(bytes + p, portal, &length) ||
        size - p <= static_cast<size_t>(length + Section_Complete_Extra + 1))
      continue;
    const uint32_t crc = Mpeg_Crc32(bytes + p + 1, static_cast<size_t>(length + 3));
    if (crc == 0)
      continue;
    Scanned_Failures.push_back(p);
    const uint64_t position = Scanned_Base + p;
    if (std::none_of(Failures.begin(), Failures.end(),
                     [&](const Failure &f) { return f.Position == position; }))
      Failures.push_back({length, crc, position});
  }
}

// What the decoder without a CRC check makes of the candidate of length L
// at p in Scanned: the section's first L bytes from the zero byte on, 12
// zero bytes over its end, and a portal descriptor at every place from 14
// to L - 1. Names that run past the zeros hold bytes of the buffer behind
// them, which stand behind a NUL; Same_Shown_Row leaves them out.
Sound_Section Plain_Reading(size_t p, int32_t length, int portal) {
  constexpr size_t Tail_Zeros = 12;
  Byte_Vector moved(Scanned.begin() + static_cast<long>(p),
                    Scanned.begin() + static_cast<long>(p + static_cast<size_t>(length)));
  moved.resize(moved.size() + Tail_Zeros + Name_Text_Max + Descriptor_Fixed_Length + 2, 0);
  Sound_Section reading{portal, {}, {}, 0};
  for (int32_t j = Section_Header_Size; j < length; ++j) {
    const uint8_t *at = moved.data() + j;
    if (at[0] != 0x4A || at[1] < 5 || at[1] > Descriptor_Length_Max ||
        Word_At(at + 4) != Portal_Original_Network_Id || (at[6] == 0 && at[7] == 0) ||
        at[8] != Portal_Linkage_Type || reading.Kept == Portal_Entry_Total)
      continue;
    Portal_Entry &entry = reading.Entries[static_cast<size_t>(reading.Kept++)];
    entry.Descriptor_Length = at[1];
    entry.Transport_Stream_Id = Word_At(at + 2);
    entry.Service_Id = Word_At(at + 6);
    if (at[1] > Descriptor_Fixed_Length)
      std::memcpy(entry.Name, at + 9, static_cast<size_t>(at[1] - Descriptor_Fixed_Length));
  }
  return reading;
}

// Rows alike as the window shows them: names up to their NUL.
bool Same_Shown_Row(const Portal_Row &a, const Portal_Row &b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].Descriptor_Length != b[i].Descriptor_Length ||
        a[i].Transport_Stream_Id != b[i].Transport_Stream_Id ||
        a[i].Service_Id != b[i].Service_Id ||
        std::strncmp(a[i].Name, b[i].Name, Portal_Name_Size) != 0)
      return false;
  return true;
}

// Whether the shown portal's row and count are what the decoder without a
// CRC check makes of a failing candidate of this step that failed exactly
// so at another place of the stream before.
bool Carried_Decode_Allowed(const Snapshot &before, const Portal_Row &row, int32_t count) {
  const int32_t shown = before.Shown_Portal;
  for (size_t p : Scanned_Failures) {
    int32_t length = 0;
    Heads_Candidate(Scanned.data() + p, shown, &length);
    const uint32_t crc = Mpeg_Crc32(Scanned.data() + p + 1, static_cast<size_t>(length + 3));
    const uint64_t position = Scanned_Base + p;
    if (std::none_of(Failures.begin(), Failures.end(), [&](const Failure &f) {
          return f.Length == length && f.Crc == crc && f.Position != position;
        }))
      continue;
    Portal_Row expected = before.Rows[static_cast<size_t>(shown)];
    int32_t expected_count = before.Counts[static_cast<size_t>(shown)];
    Apply_Sound(Plain_Reading(p, length, shown), expected, expected_count);
    if (Same_Shown_Row(row, expected) && count == expected_count)
      return true;
  }
  return false;
}

// A data step: only the shown portal's row may change, and only into what
// a fed sound section of that portal gives, or the decoder without a CRC
// check makes of a failure met twice; a decode disarms and empties.
void Check_Data_Step(const Snapshot &before, bool expect_decode, int leading_sound) {
  const int32_t shown = before.Shown_Portal;
  Check(Current_Portal == shown);
  for (int portal = 0; portal < Portal_Total; ++portal) {
    if (portal == shown)
      continue;
    Check(Same_Row(Portal_Table[static_cast<size_t>(portal)],
                   before.Rows[static_cast<size_t>(portal)]));
    Check(Portal_Count[static_cast<size_t>(portal)] == before.Counts[static_cast<size_t>(portal)]);
  }
  const Portal_Row &row = Portal_Table[static_cast<size_t>(shown)];
  const int32_t count = Portal_Count[static_cast<size_t>(shown)];
  const bool unchanged = Same_Row(row, before.Rows[static_cast<size_t>(shown)]) &&
                         count == before.Counts[static_cast<size_t>(shown)];
  if (expect_decode) {
    Portal_Row expected = before.Rows[static_cast<size_t>(shown)];
    int32_t expected_count = before.Counts[static_cast<size_t>(shown)];
    Apply_Sound(Sounds[static_cast<size_t>(leading_sound)], expected, expected_count);
    Check(Same_Row(row, expected) && count == expected_count);
    Check(Plugin_Decoder.Scan_Idle == 1 && Plugin_Decoder.Fill == 0);
    return;
  }
  if (!before.Takes_Data) {
    Check(unchanged);
    Check(Plugin_Decoder.Fill == (before.Disarmed ? 0 : before.Fill));
    return;
  }
  if (unchanged)
    return;
  bool allowed = false;
  for (size_t s = 0; s < Sounds.size() && !allowed; ++s) {
    if ((Candidates >> s & 1) == 0 || Sounds[s].Portal != shown)
      continue;
    Portal_Row expected = before.Rows[static_cast<size_t>(shown)];
    int32_t expected_count = before.Counts[static_cast<size_t>(shown)];
    Apply_Sound(Sounds[s], expected, expected_count);
    allowed = Same_Row(row, expected) && count == expected_count;
  }
  if (!allowed)
    allowed = Carried_Decode_Allowed(before, row, count);
  Check(allowed);
  Check(Plugin_Decoder.Scan_Idle == 1 && Plugin_Decoder.Fill == 0);
}

// Any other step: the rows change only by a reset to the defaults, which
// also shows portal 0; the counts only by a new session, to 0.
void Check_Host_Step(const Snapshot &before) {
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Row &row = Portal_Table[static_cast<size_t>(portal)];
    if (Host.Expect_Table_Reset)
      Check(Same_Row(row, Default_Row(portal)));
    else
      Check(Same_Row(row, before.Rows[static_cast<size_t>(portal)]));
    Check(Portal_Count[static_cast<size_t>(portal)] ==
          (Host.Expect_Counts_Reset ? 0 : before.Counts[static_cast<size_t>(portal)]));
  }
  if (Host.Expect_Table_Reset)
    Check(Current_Portal == 0);
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

void Feed_Chunk(size_t n) {
  const Blob &blob = Blobs[static_cast<size_t>(Feed.Blob)];
  const size_t size = blob.Bytes.size();
  const Snapshot before = Take_Snapshot();
  const size_t from = Feed.Position;
  for (size_t done = 0; done < n;) { // round the blob, a piece at a time
    const size_t at = (from + done) % size;
    const size_t piece = std::min(n - done, size - at);
    std::memcpy(Chunk.data() + done, Work_Blob.data() + at, piece);
    done += piece;
  }
  Feed.Position = (from + n) % size;

  // A whole sound section of the shown portal, undamaged, handed over at
  // once from its pointer field into an armed decoder whose buffer starts
  // empty, with the scan threshold and two bytes behind it reached: it must
  // be decoded.
  const int lead =
      blob.Leading < 0 ? -1 : blob.Occurrences[static_cast<size_t>(blob.Leading)].Sound;
  const bool expect_decode =
      before.Takes_Data && from == 0 && lead >= 0 && Work_Blob[0] == 0x00 &&
      !Occurrence_Damaged(blob.Occurrences[static_cast<size_t>(blob.Leading)]) &&
      Sounds[static_cast<size_t>(lead)].Portal == before.Shown_Portal &&
      (before.Fill == 0 || before.First_Chunk_Seen == 0) &&
      n <= static_cast<size_t>(Section_Buffer_Size) && n >= static_cast<size_t>(Scan_Threshold) &&
      n >= Sounds[static_cast<size_t>(lead)].Bytes.size() + 3;

  Gather_Scanned(before, Chunk.data(), n);
  On_Section_Data(0, static_cast<int32_t>(n), Chunk.data());
  Note_Failures(n, before.Shown_Portal);
  if (before.Takes_Data)
    Note_Fed_Sections(from, n);
  Check_Bounds();
  Check_Data_Step(before, expect_decode, lead);
  if (!before.Disarmed && Plugin_Decoder.Scan_Idle) // a decode: it forgets every failure
    Failures.clear();
}

void Run_Step(Program &program) {
  const uint8_t op = static_cast<uint8_t>(program.Byte() % Sequence_Op_Total);
  if (op <= Op_Feed_Huge) {
    size_t n = Packet_Chunk_Size;
    if (op == Op_Feed_Short)
      n = program.Byte();
    else if (op == Op_Feed_Long)
      n = program.Word() & 0x0FFF;
    else if (op == Op_Feed_Huge)
      n = Huge_Chunk_Base + program.Word();
    Feed_Chunk(n);
    return;
  }
  const Snapshot before = Take_Snapshot();
  Host.Expect_Table_Reset = false;
  Host.Expect_Counts_Reset = false;
  switch (op) {
  case Op_Select_Blob: {
    const int blob = program.Byte() % Blob_Total;
    Select_Blob(blob, size_t{program.Byte()} * 16);
    break;
  }
  case Op_Damage: {
    const size_t offset = program.Word();
    Damage_Blob(offset, program.Byte() & 7);
    break;
  }
  case Op_Channel_Change: {
    const Sequence_Channel &channel = Sequence_Channels[program.Byte() % Sequence_Channel_Total];
    On_Channel_Change(channel.Transport_Stream_Id, channel.Service_Id);
    break;
  }
  case Op_Hot_Key:
    Toggle_Window();
    break;
  case Op_Close_Box:
    if (Host.Window_Open)
      Close_Box();
    break;
  case Op_Next_Portal:
    if (Host.Window_Open)
      Carry_Out(Session_Next_Portal());
    break;
  case Op_Entry_Button: {
    const uint8_t argument = program.Byte();
    if (Host.Window_Open)
      Entry_Button(argument % Portal_Entry_Total, (argument & 0x80) != 0, (argument & 0x40) != 0);
    break;
  }
  case Op_Refresh_Tick:
    Refresh_Tick();
    break;
  case Op_Filter_Close:
    Host.Filter_Open = false;
    Session_Filter_Closed();
    break;
  case Op_Start:
    On_Start();
    break;
  case Op_Topmost:
    if (Host.Window_Open)
      Session_Toggle_Topmost();
    break;
  default:
    switch (program.Byte() % 4) {
    case 0: // OK
      if (Host.Window_Open)
        Carry_Out(Session_Window_Dismissed());
      break;
    case 1:
      On_Exit();
      break;
    case 2:
      Toggle_Window();
      break;
    default: // another menu item: nothing
      break;
    }
    break;
  }
  Check_Bounds();
  Check_Host_Step(before);
  Check((Filter_Running != 0) == Host.Filter_Open);
}

// Once per process: a sound section fed whole decodes to the entries the
// model expects of it, so the model and the decoder agree on sound data.
void Check_Model() {
  for (const Sound_Section &sound : Sounds) {
    Arm_Decoder_For_Portal(sound.Portal);
    const Byte_Vector payload = Plain_Payload(sound.Bytes);
    On_Section_Data(0, static_cast<int32_t>(payload.size()), payload.data());
    Portal_Row expected = Default_Row(sound.Portal);
    int32_t count = 0;
    Apply_Sound(sound, expected, count);
    Check(Same_Row(Portal_Table[static_cast<size_t>(sound.Portal)], expected));
    Check(Portal_Count[static_cast<size_t>(sound.Portal)] == count);
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  Build_Fixed_Set();
  Check_Model();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Reset_Core_State();
  Session_Record_Module_Path(Module_Path, true);
  Host = Host_Model{};
  Candidates = 0;
  Failures.clear();
  Stream_Fed = 0;
  Select_Blob(0, 0);
  On_Start();
  Program program{data, size, 0};
  while (program.At < program.Size) {
    Run_Step(program);
    if (Plugin_Decoder.Fill == 0)
      Candidates = 0; // nothing fed so far can be decoded any more
  }
  return 0;
}
