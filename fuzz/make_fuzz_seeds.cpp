// Writes starting corpora for the fuzz targets, made with the stream writer.
// usage: make_fuzz_seeds KIND FOLDER   (KIND: section_data, capture, settings)
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
    payload.resize(payload.size() + 1000, 0xFF);
    Byte_Vector program;
    for (int step = 0; step < portal; ++step)
      program.push_back(6); // ">>" to this portal
    const Byte_Vector feed = Feed_Program(payload, 184);
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
      Write_Section(writer, 0x12, section, damaged);
    }
    Ts_Packet_Options options;
    options.Pack_Sections = portal == 2;
    options.Adaptation_Length = portal == 3 ? 9 : -1;
    Write_Noise_Packet(writer, 0x100);
    Write_Sections(writer, 0x12, {section, section}, options);
    for (int i = 0; i < 6; ++i)
      Write_Noise_Packet(writer, i % 2 ? 0x12 : 0x101);
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
  std::fprintf(stderr, "make_fuzz_seeds: unknown kind %s\n", kind.c_str());
  return 2;
}
