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
  // The blob from `step` 16-byte units on, undamaged.
  Sequence_Builder &Select(int blob, int step = 0) {
    return Op(Op_Select_Blob, {uint8_t(blob), uint8_t(step)});
  }
  Sequence_Builder &Damage(int offset, int bit) {
    return Op(Op_Damage, {uint8_t(offset >> 8), uint8_t(offset & 0xFF), uint8_t(bit)});
  }
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
  damaged.Damage(100, 3).Feed(Plain_Blob_Size(0, 1)).Select(Blob_Plain(0, 1));
  damaged.Feed(Plain_Blob_Size(0, 1));
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

  // Whole packets one at a time, on every portal.
  Sequence_Builder packets;
  packets.Channel(0).Op(Op_Hot_Key).Select(Blob_Packets);
  for (int portal = 0; portal < 4; ++portal)
    packets.Packets(30).Op(Op_Refresh_Tick).Op(Op_Next_Portal);
  Write_Seed(folder, packets.Bytes);

  // Failing copies on portal 1 while it shows no list: one kept, the same
  // bytes again carried; copies damaged at the same byte otherwise, the
  // first shown unchecked, then the second (their vote fails). Once a list
  // that checked out shows, the same failing bytes twice show nothing.
  constexpr uint32_t Short = Plain_Blob_Size_Min;
  Sequence_Builder failing;
  failing.Channel(0).Op(Op_Hot_Key).Op(Op_Next_Portal);
  failing.Select(Blob_Plain(1, 0)).Damage(60, 2).Feed(Short).Feed(Short);
  for (int bit : {5, 7})
    failing.Op(Op_Refresh_Tick).Select(Blob_Plain(1, 0)).Damage(60, bit).Feed(Short);
  failing.Op(Op_Refresh_Tick).Select(Blob_Plain(1, 0)).Feed(Short).Op(Op_Refresh_Tick);
  failing.Damage(60, 2).Feed(Short).Feed(Short);
  Write_Seed(folder, failing.Bytes);

  // Three copies damaged twice each, apart so that no two splice: the
  // second shows the first unchecked, the third's vote with both checks out.
  Sequence_Builder vote;
  vote.Channel(0).Op(Op_Hot_Key).Op(Op_Next_Portal);
  const int places[][2] = {{20, 70}, {45, 85}, {30, 60}};
  for (const auto &place : places)
    vote.Op(Op_Refresh_Tick)
        .Select(Blob_Plain(1, 0))
        .Damage(place[0], 1)
        .Damage(place[1], 1)
        .Feed(Short);
  Write_Seed(folder, vote.Bytes);

  // Portal 1's large section with a payload sent twice, taken once; then a
  // copy damaged far in, and one that lost a piece of 368 bytes where a
  // chunk started, put back from the first.
  const uint32_t blob_size = Plain_Blob_Size(1, 1), piece = 2 * Ts_Payload_Size;
  Sequence_Builder cut;
  cut.Channel(0).Op(Op_Hot_Key).Op(Op_Next_Portal).Select(Blob_Plain(1, 1)).Packets(3);
  cut.Select(Blob_Plain(1, 1), piece / 16).Packets(14).Op(Op_Refresh_Tick);
  cut.Select(Blob_Plain(1, 1)).Damage(1500, 1);
  for (uint32_t fed = 0; fed < blob_size; fed += piece)
    cut.Feed(std::min(piece, blob_size - fed));
  cut.Select(Blob_Plain(1, 1)).Feed(piece).Select(Blob_Plain(1, 1), 2 * piece / 16);
  for (int i = 0; i < 6; ++i)
    cut.Feed(piece);
  Write_Seed(folder, cut.Bytes);

  // Two programs the fuzzer once found the decoder failing on, kept so that
  // every run tries them: a host's 223-byte chunk repeating the stuffing in
  // front of it inside a candidate (it was taken for a packet sent twice, and
  // the candidate waited for ever), and a failing copy about to be shown
  // while a sound one stood behind an incomplete candidate (the look at the
  // rest of the buffer stopped there).
  Write_Seed(folder,
             {0x06, 0x00, 0xff, 0xd2, 0x55, 0x00, 0x02, 0x02, 0x02, 0x02, 0x30, 0xdf, 0x03});
  Write_Seed(folder, {0x06, 0x00, 0x55, 0x00, 0x02, 0x03, 0x97, 0x61, 0x0d, 0xfb, 0x04, 0x00, 0x00,
                      0x01, 0x04});
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
