// Writes starting corpora for the fuzz targets, made with the stream writer.
// usage: make_fuzz_seeds KIND FOLDER   (KIND: section_data, capture, settings, sequence)
#include "fuzz/sequence_program.h"
#include "stream/eit_writer.h"
#include "stream/sample_stream.h"
#include "stream/ts_writer.h"

#include <cstdio>
#include <cstring>
#include <string>

static int Seed_Number = 0;

static void Write_Seed(const std::string &folder, const Byte_Vector &bytes) {
  const std::string path = folder + "/seed-" + std::to_string(Seed_Number++);
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    return;
  }
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// A fuzz program that feeds `payload` in chunks of `chunk` bytes (< 2048).
static Byte_Vector Feed_Program(const Byte_Vector &payload, size_t chunk) {
  Byte_Vector program;
  for (size_t at = 0; at < payload.size(); at += chunk) {
    const size_t n = std::min(chunk, payload.size() - at);
    program.push_back(static_cast<uint8_t>(((n >> 8) << 3) | 0));
    program.push_back(static_cast<uint8_t>(n & 0xFF));
    program.insert(program.end(), payload.begin() + static_cast<long>(at),
                   payload.begin() + static_cast<long>(at + n));
  }
  return program;
}

static void Section_Data_Seeds(const std::string &folder) {
  for (int portal = 0; portal < 4; ++portal) {
    std::vector<Portal_Listing_Entry> entries;
    for (int i = 0; i < 3 + portal * 5; ++i)
      entries.push_back({static_cast<uint16_t>(4 + i), static_cast<uint16_t>(100 + i),
                         "Kanal " + std::to_string(i)});
    Byte_Vector payload{0x00}; // pointer field
    const Byte_Vector section = Build_Eit_Section(Portal_Source_Section(portal, entries));
    payload.insert(payload.end(), section.begin(), section.end());
    payload.resize(payload.size() + 1000, Stuffing_Byte);
    Byte_Vector program;
    for (int step = 0; step < portal; ++step)
      program.push_back(6); // ">>" to this portal
    const Byte_Vector feed = Feed_Program(payload, Ts_Payload_Size);
    program.insert(program.end(), feed.begin(), feed.end());
    Write_Seed(folder, program);
  }
}

// Small captures for the capture reader: a read size byte, a portal byte,
// then packets. Each carries the portal's source section among other PIDs,
// one after garbage and a damaged packet, one with packed sections.
static void Capture_Seeds(const std::string &folder) {
  for (int portal = 0; portal < 4; ++portal) {
    const Byte_Vector section = Sample_Source_Section(portal, Sample_Portal_Entries(portal));
    Ts_Writer writer;
    writer.Bytes = {static_cast<uint8_t>(portal * 60), static_cast<uint8_t>(portal)};
    if (portal == 1) {
      Write_Garbage(writer, 50);
      Ts_Packet_Options damaged;
      damaged.Transport_Error = true;
      Write_Section(writer, Eit_Pid, section, damaged);
    }
    Ts_Packet_Options options;
    options.Pack_Sections = portal == 2;
    options.Adaptation_Length = portal == 3 ? 9 : -1;
    Write_Noise_Packet(writer, 0x100);
    Write_Sections(writer, Eit_Pid, {section, section}, options);
    for (int i = 0; i < 6; ++i)
      Write_Noise_Packet(writer, i % 2 ? Eit_Pid : 0x101);
    Write_Seed(folder, writer.Bytes);
  }
}

// Position files: the written form, its edge cases and a damaged one.
static void Settings_Seeds(const std::string &folder) {
  const char *const files[] = {"WINDOWX=320;\r\nWINDOWY=320;\r\n", "WINDOWY=-5;\nWINDOWX= 1 2 ;\n",
                               "WINDOWX=99999999999;WINDOWY=1;\n", "WINDOWX=;\n\nWINDOWY=2",
                               "WINDOWY=7;WINDOWX=5;\nWINDOWX=5 WINDOWY=7\n"};
  for (const char *text : files)
    Write_Seed(folder, Byte_Vector(text, text + std::strlen(text)));
}

// Programs for the host-sequence fuzzer (fuzz/sequence_program.h).
struct Sequence_Builder {
  Byte_Vector Bytes;
  Sequence_Builder &Op(Sequence_Op op, std::initializer_list<uint8_t> arguments = {}) {
    Bytes.push_back(op);
    Bytes.insert(Bytes.end(), arguments);
    return *this;
  }
  Sequence_Builder &Channel(int index) { return Op(Op_Channel_Change, {uint8_t(index)}); }
  Sequence_Builder &Select(int blob) { return Op(Op_Select_Blob, {uint8_t(blob), 0}); }
  Sequence_Builder &Feed(uint32_t n) {
    return Op(Op_Feed_Long, {uint8_t(n >> 8), uint8_t(n & 0xFF)});
  }
  Sequence_Builder &Packets(int count) {
    for (int i = 0; i < count; ++i)
      Op(Op_Feed_Packet);
    return *this;
  }
};

constexpr uint32_t Whole_Plain_Blob = 1200; // a plain blob's section with the scan threshold
constexpr uint8_t Host_Switches = 0x80;

static void Sequence_Seeds(const std::string &folder) {
  // Open on the portal stream; decode each portal's list, press a button
  // the host switches for, go on with ">>".
  Sequence_Builder all;
  all.Channel(0).Op(Op_Hot_Key);
  constexpr int lists[] = {0, 2, 3, 4}; // 3 entries, 1, 2 among 4, none
  for (int portal = 0; portal < 4; ++portal)
    all.Select(Blob_Plain(portal, lists[portal]))
        .Feed(Whole_Plain_Blob)
        .Op(Op_Entry_Button, {uint8_t(Host_Switches | 1)})
        .Op(Op_Refresh_Tick)
        .Op(Op_Next_Portal);
  Write_Seed(folder, all.Bytes);

  // The largest section, of portal 3, in packet-sized chunks.
  Sequence_Builder large;
  large.Channel(0).Op(Op_Hot_Key).Op(Op_Next_Portal).Op(Op_Next_Portal).Op(Op_Next_Portal);
  large.Select(Blob_Plain(3, 1)).Packets(30).Op(Op_Refresh_Tick).Packets(10);
  Write_Seed(folder, large.Bytes);

  // A damaged copy, then the sound one.
  Sequence_Builder damaged;
  damaged.Channel(0).Op(Op_Hot_Key).Select(Blob_Plain(0, 1));
  damaged.Op(Op_Damage, {0, 100, 3}).Feed(Whole_Plain_Blob).Select(Blob_Plain(0, 1));
  damaged.Feed(Whole_Plain_Blob);
  Write_Seed(folder, damaged.Bytes);

  // Packed payload streams in small chunks while the shown portal changes.
  Sequence_Builder packed;
  packed.Channel(2).Op(Op_Hot_Key).Select(Blob_Packed_First);
  for (int portal = 0; portal < 4; ++portal)
    packed.Packets(12).Op(Op_Next_Portal);
  packed.Select(Blob_Packed_First + 1);
  for (int i = 0; i < 40; ++i)
    packed.Op(Op_Feed_Short, {uint8_t(90 + i)});
  packed.Select(Blob_Packed_First + 2).Packets(40);
  Write_Seed(folder, packed.Bytes);

  // The window off the portal stream, channel changes that start, keep and
  // stop the filter, the close box, the filter closed by the host, a chunk
  // too large for the buffer, On_Exit and a new session.
  Sequence_Builder host;
  host.Channel(6).Op(Op_Hot_Key).Channel(0).Select(Blob_Plain(0, 2)).Feed(Whole_Plain_Blob);
  host.Op(Op_Close_Box).Feed(Whole_Plain_Blob).Op(Op_Hot_Key).Channel(4).Channel(6);
  host.Feed(Whole_Plain_Blob).Channel(0).Op(Op_Filter_Close).Feed(Whole_Plain_Blob);
  host.Channel(1).Op(Op_Hot_Key).Op(Op_Hot_Key).Op(Op_Feed_Huge, {0x10, 0});
  host.Select(Blob_Plain(0, 0)).Feed(Whole_Plain_Blob).Op(Op_Start).Op(Op_Topmost);
  host.Op(Op_Other, {1}).Feed(Whole_Plain_Blob).Op(Op_Hot_Key);
  host.Op(Op_Start).Channel(0).Op(Op_Hot_Key).Feed(Whole_Plain_Blob); // a new session
  Write_Seed(folder, host.Bytes);

  // Every section no portal decodes, on every portal.
  Sequence_Builder foreign;
  foreign.Channel(0).Op(Op_Hot_Key);
  for (int portal = 0; portal < 4; ++portal) {
    for (int blob = Blob_Foreign_First; blob < Blob_Foreign_First + Blob_Foreign_Total; ++blob)
      foreign.Select(blob).Feed(Whole_Plain_Blob).Op(Op_Refresh_Tick);
    foreign.Op(Op_Next_Portal);
  }
  Write_Seed(folder, foreign.Bytes);

  // Whole packets one at a time, on every portal.
  Sequence_Builder packets;
  packets.Channel(0).Op(Op_Hot_Key).Select(Blob_Packets);
  for (int portal = 0; portal < 4; ++portal)
    packets.Packets(30).Op(Op_Refresh_Tick).Op(Op_Next_Portal);
  Write_Seed(folder, packets.Bytes);

  // Copies damaged differently: a small section damaged twice in one
  // packet's payload shows unchecked while the portal has no list; then a
  // sound copy; then, over that list, a failure remembered and the same
  // failure carried twice. A large section damaged far apart is repaired (a
  // channel change between the copies drops the next copy's start).
  Sequence_Builder twice;
  twice.Channel(0).Op(Op_Hot_Key).Op(Op_Next_Portal).Select(Blob_Plain(1, 0));
  twice.Op(Op_Damage, {0, 60, 2}).Feed(Plain_Blob_Size_Min).Select(Blob_Plain(1, 0));
  twice.Op(Op_Damage, {0, 90, 5}).Feed(Plain_Blob_Size_Min).Op(Op_Refresh_Tick);
  twice.Select(Blob_Plain(1, 0)).Feed(Plain_Blob_Size_Min).Op(Op_Refresh_Tick);
  twice.Op(Op_Damage, {0, 70, 1}).Feed(Plain_Blob_Size_Min).Feed(Plain_Blob_Size_Min);
  twice.Op(Op_Next_Portal).Select(Blob_Plain(2, 1)).Op(Op_Damage, {0, 100, 4}).Feed(4095);
  twice.Channel(0).Select(Blob_Plain(2, 1)).Op(Op_Damage, {0x05, 0xDC, 6}).Feed(4095);
  Write_Seed(folder, twice.Bytes);
}

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_fuzz_seeds KIND FOLDER\n");
    return 2;
  }
  const std::string kind = argv[1], folder = argv[2];
  if (kind == "section_data") {
    Section_Data_Seeds(folder);
    return 0;
  }
  if (kind == "capture") {
    Capture_Seeds(folder);
    return 0;
  }
  if (kind == "settings") {
    Settings_Seeds(folder);
    return 0;
  }
  if (kind == "sequence") {
    Sequence_Seeds(folder);
    return 0;
  }
  std::fprintf(stderr, "make_fuzz_seeds: unknown kind %s\n", kind.c_str());
  return 2;
}
