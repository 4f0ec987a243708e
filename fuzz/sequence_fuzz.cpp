// Fuzz target for the plug-in as the host drives it. The input is a program
// of host calls and window actions (fuzz/sequence_program.h): channel
// changes, the hot key, the close box, ">>", entry buttons, refresh ticks,
// On_Filter_Close, On_Start, On_Exit, and chunks of filter data cut from a
// fixed set of streams (payloads of sound source sections of every portal,
// of sections no portal decodes, packed payload streams, whole packets),
// whole or with bits flipped. The calls go to the plug-in's real session
// (core/plugin_session.h); the fuzzer plays the host and the Windows shell,
// carrying out its orders.
//
// After every step the table is checked for what a viewer may see, not for
// how the decoder gets there:
// - the bounds: counts 0 to 17, every name NUL-terminated within 24 bytes,
//   ids of 16 bits, the slots behind a list of two or more empty;
// - a data step changes only the shown portal's row, and only while the
//   decoder is armed, the filter runs and the session has not ended (so
//   nothing after On_Exit); a decode (the decoder disarms itself) leaves the
//   row as a decode of one of the copies in the scanned bytes leaves it: a
//   sound copy of the portal's source section (whole, or with one byte too
//   many, a stray pointer field), or, read as the plain decoder reads it, a
//   complete copy behind a zero byte that fails its CRC, when another
//   failing copy of the same portal that it does not overlap came since the
//   last decode (with the same bytes, if the portal shows a list already);
// - a single match overwrites entry 0 only; a whole sound copy handed over
//   at once into an empty buffer is decoded;
// - the buffer only ever holds the last bytes handed over (the payload of a
//   whole packet, nothing of a flagged one);
// - any other step changes a row only by a reset to the defaults, where the
//   host rules say so; the commands reach the host only during a session,
//   and the plug-in's Filter_Running always matches the host's filter.
// The byte-exact rules (which copy decodes with which chunk, which byte a
// mend takes out, which failures pair) are the decoder's unit tests' part.
#include "core/decoder_setup.h"
#include "core/dvb_layout.h"
#include "core/plugin_decoder.h"
#include "core/plugin_session.h"
#include "core/plugin_state.h"
#include "core/portal_section_rule.h"
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

constexpr size_t Plain_Blob_Min = 1100; // a whole plain blob reaches the scan threshold
constexpr size_t Chunk_Max = Huge_Chunk_Base + 0xFFFF;
constexpr size_t Start_Step = 16;    // Op_Select_Blob's offset unit in a payload blob
constexpr uint16_t Other_Pid = 0x11; // a PID beside EIT in the packet blob

// Aborts on a violated invariant, naming the line of the check.
void Check(bool holds, int line = __builtin_LINE()) {
  if (holds)
    return;
  std::fprintf(stderr, "fuzz_sequence: check at line %d failed\n", line);
  std::abort();
}

// The entries a decode of a section gives, as the window shows them.
struct Listing {
  Portal_Row Entries{};
  int32_t Kept = 0; // matching descriptors, at most 17
};

// What the plain decoder reads in the section of length L whose table_id
// stands at `section` (L + 3 bytes readable): every portal descriptor from
// where the descriptor scan starts up to the CRC, which reads as zero
// bytes. Names that run into the zeros end there.
Listing Read_Section(const uint8_t *section, int32_t length) {
  constexpr size_t Name_Reach = Linkage_Private_Data_Offset + Portal_Name_Max;
  const size_t body = static_cast<size_t>(length + Section_Head_Bytes - Section_Crc_Size);
  Byte_Vector bytes(section, section + body);
  bytes.resize(body + Name_Reach, 0x00);
  Listing listing;
  for (size_t j = Descriptor_Scan_Start; j < body; ++j) {
    if (!Matches_Portal_Descriptor(bytes.data() + j))
      continue;
    if (listing.Kept < Portal_Entry_Total)
      listing.Entries[static_cast<size_t>(listing.Kept++)] =
          Entry_From_Descriptor(bytes.data() + j);
  }
  return listing;
}

// A sound source section of the fixed set.
struct Sound_Section {
  int Portal;
  Byte_Vector Bytes; // table_id to CRC
  Listing Decoded;
};

// A stream the data steps are cut from: filter payloads (Unit 184) or whole
// packets (Unit 188), fed round and round as a carousel repeats.
struct Blob {
  Byte_Vector Bytes;
  size_t Unit;
  int Lead; // the sound section right behind a pointer field at 0, or -1
};

std::vector<Sound_Section> Sounds;
std::vector<Blob> Blobs;

// ---- building the fixed set ------------------------------------------------

int Add_Sound(int portal, const Eit_Section &section) {
  const Byte_Vector bytes = Build_Eit_Section(section);
  const int32_t length = Big_Endian_16(bytes.data() + Section_Length_Offset) & Section_Length_Mask;
  Sounds.push_back({portal, bytes, Read_Section(bytes.data(), length)});
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
  payload.resize(std::max(Plain_Blob_Min, payload.size() + Ts_Payload_Size), Stuffing_Byte);
  return payload;
}

// The payload bytes of every packet on the EIT PID, as the host's filter
// delivers them.
Byte_Vector Filter_Payloads(const Byte_Vector &packets) {
  Byte_Vector payloads;
  for (size_t at = 0; at + Ts_Packet_Size <= packets.size(); at += Ts_Packet_Size) {
    const uint8_t *packet = packets.data() + at;
    const int control = (packet[3] >> Ts_Adaptation_Shift) & Ts_Adaptation_Mask;
    if (Ts_Packet_Pid(packet) != Eit_Pid || control == Ts_Adaptation_Only)
      continue;
    size_t start = Ts_Header_Size;
    if (control == Ts_Adaptation_And_Payload)
      start += 1 + packet[Ts_Adaptation_Length_Offset];
    if (start < Ts_Packet_Size)
      payloads.insert(payloads.end(), packet + start, packet + Ts_Packet_Size);
  }
  return payloads;
}

void Add_Blob(const Byte_Vector &bytes, size_t unit = Ts_Payload_Size, int lead = -1) {
  Blobs.push_back({bytes, unit, lead});
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

// A packet on the EIT PID with an adaptation field and no payload.
void Write_Adaptation_Only_Packet(Ts_Writer &writer) {
  Byte_Vector packet(Ts_Packet_Size, Stuffing_Byte);
  packet[0] = Ts_Sync_Byte;
  packet[1] = static_cast<uint8_t>(Eit_Pid >> 8);
  packet[2] = static_cast<uint8_t>(Eit_Pid & 0xFF);
  packet[3] = static_cast<uint8_t>(Ts_Adaptation_Only << Ts_Adaptation_Shift);
  packet[Ts_Adaptation_Length_Offset] = Ts_Packet_Size - Ts_Header_Size - 1;
  packet[Ts_Adaptation_Length_Offset + 1] = 0x00; // no adaptation flags
  writer.Bytes.insert(writer.Bytes.end(), packet.begin(), packet.end());
}

void Build_Fixed_Set() {
  // Sound source sections, in the order of sequence_program.h.
  const char *const stems[Portal_Total] = {"Amsel", "Birke", "Kiesel", "Talblick"};
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
      Add_Sound(portal, Portal_Source_Section(portal, list));
  }
  Add_Sound(0, Portal_Source_Section(0, {}));
  Add_Sound(3, Portal_Source_Section(3, {}));
  {
    Eit_Section update = Portal_Source_Section(1, Listings("Neuland", 4, 4, 1150));
    update.Version_Number = 7;
    Add_Sound(1, update);
  }
  {
    Eit_Section large = Portal_Source_Section(2, Listings("Weitblick", 19, 4, 1250));
    for (uint16_t id = 2; Build_Eit_Section(large).size() < 3800; ++id)
      large.Events.push_back(Text_Event(id, std::string(200, 'x')));
    Add_Sound(2, large);
  }
  const size_t plain_total = Sounds.size();

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

  for (size_t sound = 0; sound < plain_total; ++sound)
    Add_Blob(Plain_Payload(Sounds[sound].Bytes), Ts_Payload_Size, static_cast<int>(sound));
  for (const Byte_Vector &section : foreign)
    Add_Blob(Plain_Payload(section));

  // Payload streams of several sections: packed (sections start behind
  // others, pointer fields cut into them), with adaptation fields, and one
  // section per packet with noise on the PID between them. The first starts
  // with a section of two packets with the next section starting in its
  // last packet: a stray pointer field in the payloads.
  auto sound = [](int blob) { return Sounds[static_cast<size_t>(blob)].Bytes; };
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  {
    const int followed = Add_Sound(1, Portal_Source_Section(1, Listings("Laube", 12, 4, 1180)));
    Ts_Writer writer;
    Write_Sections(writer, Eit_Pid,
                   {sound(followed), foreign[0], sound(Blob_Plain(0, 0)), sound(Blob_Plain(1, 1)),
                    sound(Blob_Plain(2, 2)), sound(Blob_Plain(3, 3)), foreign[4]},
                   packed);
    Add_Blob(Filter_Payloads(writer.Bytes));
  }
  {
    Ts_Writer writer;
    Ts_Packet_Options adapted = packed;
    adapted.Adaptation_Length = 9;
    Write_Sections(writer, Eit_Pid,
                   {sound(Blob_Plain(0, 1)), foreign[5], sound(Blob_Plain(3, 0)),
                    sound(Blob_Portal_1_Update), foreign[1], sound(Blob_Plain(0, 2))},
                   adapted);
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
  {
    // Whole packets, as some hosts hand them over: packed sections, a packet
    // of another PID, a flagged copy (dropped), one without payload, and
    // packets with adaptation fields.
    Ts_Writer writer;
    Write_Sections(writer, Eit_Pid,
                   {sound(Blob_Plain(1, 0)), foreign[0], sound(Blob_Plain(2, 3)),
                    sound(Blob_Plain(0, 2)), foreign[3]},
                   packed);
    Write_Noise_Packet(writer, Other_Pid);
    Ts_Packet_Options flagged;
    flagged.Transport_Error = true;
    Write_Section(writer, Eit_Pid, sound(Blob_Plain(3, 0)), flagged);
    Write_Adaptation_Only_Packet(writer);
    Ts_Packet_Options adapted = packed;
    adapted.Adaptation_Length = 30;
    Write_Sections(writer, Eit_Pid, {sound(Blob_Plain(3, 3)), sound(Blob_Plain(0, 0))}, adapted);
    Add_Blob(writer.Bytes, Ts_Packet_Size);
  }

  Check(Blobs.size() == static_cast<size_t>(Blob_Total));
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
  Check(std::memchr(entry.Name, 0, Portal_Name_Max + 1) != nullptr);
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
// chunk starts.
struct Feed_State {
  int Blob = 0;
  size_t Position = 0;
};
Feed_State Feed;
std::array<uint8_t, Chunk_Max> Work_Blob;
std::array<uint8_t, Chunk_Max> Chunk;

// Starts the blob afresh at `step` offset units (a packet blob's unit is a
// packet, so its chunks of one unit are whole packets).
void Select_Blob(int blob, size_t step) {
  Feed = Feed_State{};
  Feed.Blob = blob;
  const Blob &chosen = Blobs[static_cast<size_t>(blob)];
  std::memcpy(Work_Blob.data(), chosen.Bytes.data(), chosen.Bytes.size());
  const size_t unit = chosen.Unit == Ts_Packet_Size ? Ts_Packet_Size : Start_Step;
  Feed.Position = step * unit % chosen.Bytes.size();
}

void Damage_Blob(size_t offset, int bit) {
  const size_t size = Blobs[static_cast<size_t>(Feed.Blob)].Bytes.size();
  Work_Blob[offset % size] ^= static_cast<uint8_t>(1u << bit);
}

// What a chunk gives the buffer: a whole packet on the EIT PID its payload
// (nothing at all if it is flagged or carries none), any other chunk
// itself.
struct Delivery {
  const uint8_t *Bytes;
  size_t Size;
  bool Dropped;
};
Delivery Delivered(const uint8_t *chunk, size_t n) {
  if (n != Ts_Packet_Size || chunk[0] != Ts_Sync_Byte || Ts_Packet_Pid(chunk) != Eit_Pid)
    return {chunk, n, false};
  const int control = (chunk[3] >> Ts_Adaptation_Shift) & Ts_Adaptation_Mask;
  const bool payload = control == Ts_Payload_Only || control == Ts_Adaptation_And_Payload;
  size_t start = Ts_Header_Size;
  if (control == Ts_Adaptation_And_Payload)
    start += 1 + chunk[Ts_Adaptation_Length_Offset];
  if ((chunk[1] & Ts_Error_Bit) != 0 || !payload || start >= Ts_Packet_Size)
    return {nullptr, 0, true};
  return {chunk + start, n - start, false};
}

// ---- the model -----------------------------------------------------------------

struct Snapshot {
  std::array<Portal_Row, Portal_Total> Rows;
  std::array<int32_t, Portal_Total> Counts;
  int32_t Shown_Portal, Fill, Disarmed, First_Chunk_Seen;
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
  return snapshot;
}

bool Same_Row(const Portal_Row &a, const Portal_Row &b) {
  return std::memcmp(a.data(), b.data(), sizeof a) == 0;
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

Portal_Row Default_Row(int portal) {
  const Portal_Constants &constants = Portal_Constants_Table[static_cast<size_t>(portal)];
  Portal_Row row{};
  std::strncpy(row[0].Name, constants.Default_Name, Portal_Name_Size - 1);
  row[0].Transport_Stream_Id = constants.Default_Transport_Stream_Id;
  row[0].Service_Id = constants.Default_Service_Id;
  return row;
}

// Whether a decode of `listing` turns the shown portal's row and count of
// `before` into `row` and `count`: a list of two or more replaces them, a
// single match overwrites entry 0 only, no match leaves them.
bool Decoded_Into(const Snapshot &before, const Listing &listing, const Portal_Row &row,
                  int32_t count) {
  Portal_Row expected = before.Rows[static_cast<size_t>(before.Shown_Portal)];
  int32_t expected_count = before.Counts[static_cast<size_t>(before.Shown_Portal)];
  if (listing.Kept >= 2) {
    expected = listing.Entries;
    expected_count = listing.Kept;
  } else if (listing.Kept == 1) {
    expected[0] = listing.Entries[0];
  }
  return count == expected_count && Same_Shown_Row(row, expected);
}

void Check_Bounds() {
  Check(Plugin_Decoder.Fill >= 0 && Plugin_Decoder.Fill <= Section_Buffer_Size);
  Check(Plugin_Decoder.Scan_Idle == 0 || Plugin_Decoder.Scan_Idle == 1);
  Check(Filter_Running == 0 || Filter_Running == 1);
  Check(Current_Portal >= 0 && Current_Portal < Portal_Total);
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const int32_t count = Portal_Count[static_cast<size_t>(portal)];
    Check(count >= 0 && count <= Portal_Entry_Total);
    const Portal_Row &row = Portal_Table[static_cast<size_t>(portal)];
    for (int32_t i = 0; i < Portal_Entry_Total; ++i) {
      Check_Entry(row[static_cast<size_t>(i)]);
      const Portal_Entry empty{};
      if (count >= 2 && i >= count)
        Check(std::memcmp(&row[static_cast<size_t>(i)], &empty, sizeof empty) == 0);
    }
  }
}

// The bytes a data step's scan may look at: the buffer as the step finds it
// (unless the step empties it first) and what the chunk gives it, and
// where the first of them stands in the bytes handed over so far.
Byte_Vector Scanned;
uint64_t Scanned_Start = 0;
uint64_t Stream_Fed = 0; // bytes the buffer has taken so far

// A complete candidate that fails its CRC: a source section header of the
// portal at Begin (table_id) in the bytes handed over, its length and the
// CRC value computed over it, and whether a zero byte stands in front of it
// in the buffer.
struct Failure {
  int Portal;
  int32_t Length;
  uint32_t Crc;
  uint64_t Begin, End;
  bool Behind_Zero;
};
std::vector<Failure> Scanned_Failures; // in Scanned
std::vector<Failure> Failures;         // behind a zero byte, since the last decode

// Every failing complete candidate for `portal` in Scanned.
void Find_Failures(int portal) {
  Scanned_Failures.clear();
  const Portal_Constants &constants = Portal_Constants_Table[static_cast<size_t>(portal)];
  const uint8_t *bytes = Scanned.data();
  constexpr size_t Network_Low = Eit_Original_Network_Id_Offset + 1; // 0x85 in every header
  for (size_t t = 0; t + Source_Header_Judged <= Scanned.size(); ++t) {
    const void *hit = std::memchr(bytes + t + Network_Low, Portal_Original_Network_Id & 0xFF,
                                  Scanned.size() - Source_Header_Judged - t + 1);
    if (hit == nullptr)
      return;
    t = static_cast<size_t>(static_cast<const uint8_t *>(hit) - bytes) - Network_Low;
    const int32_t length = Source_Section_Length(bytes + t, constants);
    const size_t size = static_cast<size_t>(length + Section_Head_Bytes);
    if (length == 0 || Scanned.size() - t <= static_cast<size_t>(length + Section_Complete_Extra))
      continue;
    const uint32_t crc = Mpeg_Crc32(bytes + t, size);
    if (crc != 0)
      Scanned_Failures.push_back({portal, length, crc, Scanned_Start + t, Scanned_Start + t + size,
                                  t > 0 && bytes[t - 1] == 0x00});
  }
}

// Whether the failing candidate `x` may decode as the plain decoder reads
// it: behind a zero byte, with another such failure of the portal since
// the last decode that it does not overlap; over a list of two or more only
// if that failure had the same bytes (same length and CRC value).
bool May_Decode_Failing(const Failure &x, int32_t count) {
  if (!x.Behind_Zero)
    return false;
  return std::any_of(Failures.begin(), Failures.end(), [&](const Failure &f) {
    return f.Portal == x.Portal && (f.End <= x.Begin || x.End <= f.Begin) &&
           (count < 2 || (f.Length == x.Length && f.Crc == x.Crc));
  });
}

// Whether Scanned holds `section` whole, or with one byte too many in it
// anywhere behind its table_id (the pointer field of a section starting in
// its last packet, inside the header too where the section began in the
// last bytes of a packet).
bool Holds_Copy(const Byte_Vector &section) {
  for (auto at = Scanned.begin(); (at = std::find(at, Scanned.end(), section[0])) != Scanned.end();
       ++at) {
    const size_t room = static_cast<size_t>(Scanned.end() - at);
    if (room < section.size())
      break;
    const auto differ = std::mismatch(section.begin(), section.end(), at);
    if (differ.first == section.end() ||
        (room > section.size() && std::equal(differ.first, section.end(), differ.second + 1)))
      return true;
  }
  return false;
}

// Whether a sound section may have been made whole from two failing copies
// of it, each damaged elsewhere: two failures of its length behind a zero
// byte, apart from each other, since the last decode.
bool May_Be_Repaired(const Sound_Section &sound) {
  const int32_t length = static_cast<int32_t>(sound.Bytes.size()) - Section_Head_Bytes;
  for (const Failure &x : Scanned_Failures)
    if (x.Behind_Zero && x.Portal == sound.Portal && x.Length == length &&
        std::any_of(Failures.begin(), Failures.end(), [&](const Failure &f) {
          return f.Portal == x.Portal && f.Length == length &&
                 (f.End <= x.Begin || x.End <= f.Begin);
        }))
      return true;
  return false;
}

// Whether the decode of a data step left the shown portal's row and count
// as one of the copies the scan had may: a sound one (whole, or made whole
// from two failing copies), or a failing one where May_Decode_Failing says
// so.
bool Decode_Allowed(const Snapshot &before, const Portal_Row &row, int32_t count) {
  const int32_t shown = before.Shown_Portal;
  for (const Sound_Section &sound : Sounds)
    if (sound.Portal == shown && (Holds_Copy(sound.Bytes) || May_Be_Repaired(sound)) &&
        Decoded_Into(before, sound.Decoded, row, count))
      return true;
  const int32_t shown_count = before.Counts[static_cast<size_t>(shown)];
  for (const Failure &x : Scanned_Failures)
    if (May_Decode_Failing(x, shown_count) &&
        Decoded_Into(before, Read_Section(Scanned.data() + (x.Begin - Scanned_Start), x.Length),
                     row, count))
      return true;
  return false;
}

// A data step, given whether the decoder took data and what the chunk gave.
void Check_Data_Step(const Snapshot &before, bool takes, const Delivery &delivery,
                     int expect_sound) {
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
  const bool decoded = !before.Disarmed && Plugin_Decoder.Scan_Idle;
  if (!takes || delivery.Dropped) { // nothing taken: nothing decoded
    Check(!decoded && Same_Row(row, before.Rows[static_cast<size_t>(shown)]) &&
          count == before.Counts[static_cast<size_t>(shown)]);
    const bool emptied = before.Disarmed && !delivery.Dropped;
    Check(Plugin_Decoder.Fill == before.Fill || (emptied && Plugin_Decoder.Fill == 0));
    return;
  }
  if (expect_sound >= 0)
    Check(decoded &&
          Decoded_Into(before, Sounds[static_cast<size_t>(expect_sound)].Decoded, row, count));
  if (decoded) {
    Check(Plugin_Decoder.Fill == 0);
    Check(Decode_Allowed(before, row, count));
    Failures.clear();
    return;
  }
  Check(Same_Row(row, before.Rows[static_cast<size_t>(shown)]) &&
        count == before.Counts[static_cast<size_t>(shown)]);
  // What stays in the buffer is the last of the bytes handed over.
  const size_t fill = static_cast<size_t>(Plugin_Decoder.Fill);
  Check(fill <= Scanned.size() && std::equal(Scanned.end() - static_cast<long>(fill), Scanned.end(),
                                             Plugin_Decoder.Section_Buffer.begin()));
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

// The sound section a chunk of n bytes from `from` must decode, or -1: a
// plain blob's whole section, undamaged, handed over at once from its
// pointer field into an empty buffer of an armed decoder, with the scan
// threshold reached and the section complete.
int Expected_Sound(const Snapshot &before, bool takes, size_t from, size_t n) {
  const Blob &blob = Blobs[static_cast<size_t>(Feed.Blob)];
  if (!takes || blob.Lead < 0 || from != 0 || (before.Fill != 0 && before.First_Chunk_Seen))
    return -1;
  const Sound_Section &sound = Sounds[static_cast<size_t>(blob.Lead)];
  const size_t length = sound.Bytes.size() - Section_Head_Bytes;
  const size_t complete = Pointer_Field_Size + length + Section_Complete_Extra + 1;
  if (sound.Portal != before.Shown_Portal || n < static_cast<size_t>(Scan_Threshold) ||
      n > static_cast<size_t>(Section_Buffer_Size) || n < complete ||
      std::memcmp(Work_Blob.data(), blob.Bytes.data(), Pointer_Field_Size + sound.Bytes.size()) !=
          0)
    return -1;
  return blob.Lead;
}

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

  const bool takes = !before.Disarmed && Host.Filter_Open && !Host.Exited;
  const Delivery delivery = Delivered(Chunk.data(), n);
  Scanned.clear();
  Scanned_Start = Stream_Fed;
  if (takes && !delivery.Dropped) {
    if (before.First_Chunk_Seen) {
      const uint8_t *buffer = Plugin_Decoder.Section_Buffer.data();
      Scanned.assign(buffer, buffer + before.Fill);
      Scanned_Start -= static_cast<uint64_t>(before.Fill);
    }
    if (delivery.Size <= Section_Buffer_Size - Scanned.size()) {
      Scanned.insert(Scanned.end(), delivery.Bytes, delivery.Bytes + delivery.Size);
      Stream_Fed += delivery.Size;
    } else {
      Scanned.clear(); // too much: the buffer is emptied, the chunk dropped
    }
  }
  const int expect_sound = Expected_Sound(before, takes, from, n);

  On_Section_Data(0, static_cast<int32_t>(n), Chunk.data());
  Find_Failures(before.Shown_Portal);
  for (const Failure &failure : Scanned_Failures)
    if (failure.Behind_Zero &&
        std::none_of(Failures.begin(), Failures.end(), [&](const Failure &f) {
          return f.Begin == failure.Begin && f.Portal == failure.Portal;
        }))
      Failures.push_back(failure);
  Check_Bounds();
  Check_Data_Step(before, takes, delivery, expect_sound);
}

void Run_Step(Program &program) {
  const uint8_t op = static_cast<uint8_t>(program.Byte() % Sequence_Op_Total);
  if (op <= Op_Feed_Huge) {
    size_t n = Blobs[static_cast<size_t>(Feed.Blob)].Unit;
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
    Select_Blob(blob, program.Byte());
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

// Once per process: a sound section fed whole decodes to what the model
// reads in it, so the model and the decoder agree on sound data.
void Check_Model() {
  for (const Sound_Section &sound : Sounds) {
    Arm_Decoder_For_Portal(sound.Portal);
    const Byte_Vector payload = Plain_Payload(sound.Bytes);
    On_Section_Data(0, static_cast<int32_t>(payload.size()), payload.data());
    Snapshot defaults{};
    defaults.Shown_Portal = sound.Portal;
    defaults.Rows[static_cast<size_t>(sound.Portal)] = Default_Row(sound.Portal);
    Check(Decoded_Into(defaults, sound.Decoded, Portal_Table[static_cast<size_t>(sound.Portal)],
                       Portal_Count[static_cast<size_t>(sound.Portal)]));
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
  Failures.clear();
  Stream_Fed = 0;
  Select_Blob(0, 0);
  On_Start();
  Program program{data, size, 0};
  while (program.At < program.Size)
    Run_Step(program);
  return 0;
}
