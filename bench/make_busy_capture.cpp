// make-busy-capture [--size MIB] OUT.ts: writes a large capture of a busy
// transponder for timing portal-scan. The EIT of many services goes round
// packed on PID 0x12, about one packet in ten, between video-like noise
// packets; the four portals' source sections come only at the very end, each
// starting a packet of its own and followed by its table's section 1 (an
// event without portal entries), the four tables twice round, so that a
// decoder that waits for whole tables, as libdvbpsi's does, takes them too
// (it hands a table over once the table's next copy begins); then a few more
// present/following sections so the decoder gathers enough bytes behind the
// last one to scan.
// The file is the smallest whole number of packets holding MIB MiB and is
// written in blocks, in constant memory.
#include "bench/busy_eit.h"
#include "core/host_contract.h"
#include "core/portal_section_rule.h"
#include "core/portal_table.h"
#include "stream/eit_writer.h"
#include "stream/ts_writer.h"
#include "tools/tool_version.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char *Tool = "make-busy-capture";
constexpr long Size_Default_Mib = 512;
constexpr long Size_Max_Mib = 65536;
constexpr uint64_t Mib = 1u << 20;
constexpr int Capture_Services = 80;
constexpr int Schedule_Slices = 4;    // each round carries a quarter of the schedule
constexpr int Noise_Gap_Least = 7;    // noise packets behind an EIT packet: 7 to 11,
constexpr int Noise_Gap_Spread = 5;   // 9 on average, so one packet in ten is EIT
constexpr int Tail_Noise_Gap = 9;     // fixed behind the tail's EIT packets
constexpr int Tail_Services = 8;      // present/following sections behind the portals
constexpr int Tail_Portal_Rounds = 2; // copies of the portals' tables
constexpr std::size_t Flush_Bytes = 1u << 20;
constexpr uint16_t Video_Pids[] = {0x0A21, 0x0A31, 0x0A41, 0x0A51};
constexpr int Video_Pid_Count = static_cast<int>(sizeof Video_Pids / sizeof Video_Pids[0]);

// Invented entry names of each portal's list (at most 23 bytes each).
const std::vector<std::vector<std::string>> Portal_Names = {
    {"Lichtspiel Erstausgabe", "Lichtspiel Abenteuer", "Lichtspiel Komoedie", "Lichtspiel Familie",
     "Lichtspiel Krimi", "Lichtspiel Klassiker", "Lichtspiel Heimat", "Lichtspiel Grusel",
     "Lichtspiel Romantik", "Lichtspiel Western", "Lichtspiel Doku", "Lichtspiel Kurzfilm"},
    {"Nachtkanal Eins", "Nachtkanal Zwei", "Nachtkanal Drei", "Nachtkanal Vier", "Nachtkanal Fuenf",
     "Nachtkanal Sechs", "Nachtkanal Sieben", "Nachtkanal Acht", "Nachtkanal Neun"},
    {"Stadion Konferenz", "Stadion Nordwinkel", "Stadion Brummelbach", "Stadion Kalbersheim",
     "Stadion Wunnerbach", "Stadion Ahlmersand", "Stadion Schwerbeck", "Stadion Lindenbrunn",
     "Stadion Hollerstein", "Stadion Riedgau", "Stadion Hexmoor", "Stadion Tuedelmoor",
     "Stadion Quandtstedt", "Stadion Elbrachtsdorf"},
    {"Rennsport Boxengasse", "Rennsport Onboard 1", "Rennsport Onboard 2", "Rennsport Zeiten",
     "Rennsport Startplatz", "Rennsport Verfolger", "Rennsport Hoehepunkte",
     "Rennsport Kurvenkamera", "Rennsport Helikopter", "Rennsport Funkverkehr", "Rennsport Studio",
     "Rennsport Wetter", "Rennsport Reifen", "Rennsport Strategie", "Rennsport Fahrerlager",
     "Rennsport Tribuene", "Rennsport Zieleinlauf"},
};
constexpr uint16_t Portal_Entry_Service_First = 0x0300; // entries of portal p: 0x0300 + 0x20 p + i
constexpr uint16_t Portal_Entry_Service_Step = 0x20;

void Print_Usage() {
  std::printf("usage: %s [--size MIB] OUT.ts\n"
              "Writes a busy capture for timing portal-scan: the EIT of %d services on PID "
              "0x12 between\nvideo-like noise, the four portals' source sections at the very "
              "end.\n"
              "  --size MIB   size of the capture in MiB, 1 to %ld (default %ld)\n"
              "  -h, --help   print this help and exit\n"
              "  --version    print the version and exit\n",
              Tool, Capture_Services, Size_Max_Mib, Size_Default_Mib);
}

int Usage_Error(const std::string &what) {
  std::fprintf(stderr, "%s: %s (see --help)\n", Tool, what.c_str());
  return 2;
}

// A whole number from 1 to Size_Max_Mib, or -1.
long Parse_Size(const char *text) {
  if (*text == 0 || std::strlen(text) > 6)
    return -1;
  for (const char *c = text; *c; ++c)
    if (*c < '0' || *c > '9')
      return -1;
  const long value = std::strtol(text, nullptr, 10);
  return value >= 1 && value <= Size_Max_Mib ? value : -1;
}

// The four portals' source sections, each followed by its table's section
// 1, and the present/following sections that follow them, as sections in the
// order they are sent.
struct Tail_Sections {
  std::vector<Byte_Vector> Portals;
  std::vector<Byte_Vector> After;
};

Tail_Sections Build_Tail(const Busy_Eit &eit) {
  Tail_Sections tail;
  for (int portal = 0; portal < Portal_Total; ++portal) {
    std::vector<Portal_Listing_Entry> entries;
    const auto &names = Portal_Names[static_cast<std::size_t>(portal)];
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i].size() > static_cast<std::size_t>(Portal_Name_Max))
        throw std::length_error("portal entry name over 23 bytes: " + names[i]);
      entries.push_back({static_cast<uint16_t>(Portal_Transport_Stream_Id),
                         static_cast<uint16_t>(Portal_Entry_Service_First +
                                               portal * Portal_Entry_Service_Step + i),
                         names[i]});
    }
    Eit_Section section = Portal_Source_Section(portal, entries);
    if (Portal_Constants_Table[portal].Source_Transport_Stream_Id !=
        Busy_Actual_Transport_Stream_Id) {
      section.Table_Id = Eit_Other_Present_Following; // sent as EIT other
      section.Last_Table_Id = Eit_Other_Present_Following;
    }
    tail.Portals.push_back(Build_Eit_Section(section));
    Eit_Section section_one = Portal_Source_Section(portal, {});
    section_one.Table_Id = section.Table_Id;
    section_one.Last_Table_Id = section.Last_Table_Id;
    section_one.Section_Number = 1;
    tail.Portals.push_back(Build_Eit_Section(section_one));
  }
  tail.After.assign(eit.Present_Following.begin(),
                    eit.Present_Following.begin() + 2 * Tail_Services);
  return tail;
}

// Puts the tail's sections on PID 0x12: each portal's sections start a
// packet of their own (pointer field 0), the sections behind them are packed.
void Write_Tail(Ts_Writer &eit_writer, const Tail_Sections &tail) {
  for (int round = 0; round < Tail_Portal_Rounds; ++round)
    for (const Byte_Vector &section : tail.Portals)
      Write_Section(eit_writer, Eit_Pid, section);
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  Write_Sections(eit_writer, Eit_Pid, tail.After, packed);
}

// Writes packets to the file in blocks and counts them.
class Capture_Output {
public:
  explicit Capture_Output(std::FILE *file) : File(file) {}

  void Eit_Packet(const uint8_t *packet) {
    Out.Bytes.insert(Out.Bytes.end(), packet, packet + Ts_Packet_Size);
    ++Eit_Packets;
    Count_And_Flush();
  }

  void Noise_Packet() {
    Pid_Seed = Pid_Seed * 1664525u + 1013904223u;
    // Mostly the first service's video, now and then another's.
    const int pick = static_cast<int>(Pid_Seed >> 24) % 8;
    Write_Noise_Packet(Out, Video_Pids[pick < Video_Pid_Count ? pick : 0]);
    Count_And_Flush();
  }

  int Noise_Gap() {
    Gap_Seed = Gap_Seed * 1664525u + 1013904223u;
    return Noise_Gap_Least + static_cast<int>(Gap_Seed >> 24) % Noise_Gap_Spread;
  }

  bool Flush() {
    if (Failed || Out.Bytes.empty())
      return !Failed;
    if (std::fwrite(Out.Bytes.data(), 1, Out.Bytes.size(), File) != Out.Bytes.size()) {
      Failed = true;
      Error = errno;
    }
    Out.Bytes.clear();
    return !Failed;
  }

  uint64_t Packets = 0;
  uint64_t Eit_Packets = 0;
  bool Failed = false;
  int Error = 0; // errno of the failed write

private:
  void Count_And_Flush() {
    ++Packets;
    if (Out.Bytes.size() >= Flush_Bytes)
      Flush();
  }

  std::FILE *File;
  Ts_Writer Out; // noise packets and continuity counters of the video PIDs
  uint32_t Pid_Seed = 0x51C0FFEEu;
  uint32_t Gap_Seed = 0x0BADCAFEu;
};

// Sends the EIT packets in `eit_writer` with noise behind each, up to
// `budget` packets in all; clears the writer. False once the budget is used.
bool Send_Round(Capture_Output &output, Ts_Writer &eit_writer, uint64_t budget) {
  bool room = true;
  for (std::size_t at = 0; at < eit_writer.Bytes.size(); at += Ts_Packet_Size) {
    const uint64_t gap = static_cast<uint64_t>(output.Noise_Gap());
    if (output.Packets + 1 + gap > budget) {
      room = false;
      break;
    }
    output.Eit_Packet(eit_writer.Bytes.data() + at);
    for (uint64_t i = 0; i < gap; ++i)
      output.Noise_Packet();
  }
  eit_writer.Bytes.clear();
  return room;
}

int Write_Capture(const char *path, long size_mib) {
  const Busy_Eit eit = Build_Busy_Eit(Capture_Services);
  const Tail_Sections tail = Build_Tail(eit);
  Ts_Writer count_writer; // a dry run: how many packets the tail takes
  Write_Tail(count_writer, tail);
  const uint64_t tail_eit_packets = count_writer.Bytes.size() / Ts_Packet_Size;
  const uint64_t tail_packets = tail_eit_packets * (1 + Tail_Noise_Gap);
  const uint64_t target =
      (static_cast<uint64_t>(size_mib) * Mib + Ts_Packet_Size - 1) / Ts_Packet_Size;
  if (target < tail_packets)
    return Usage_Error("--size: too small for the tail of the capture");
  const uint64_t body_packets = target - tail_packets;

  std::FILE *file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: %s: %s\n", Tool, path, std::strerror(errno));
    return 1;
  }
  Capture_Output output(file);
  Ts_Writer eit_writer; // PID 0x12 packets of one round, and their counter
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  std::vector<Byte_Vector> round;
  const std::size_t slice = eit.Schedule.size() / Schedule_Slices;
  // Every round: all present/following sections, then a quarter of the schedule.
  for (int number = 0; !output.Failed; ++number) {
    round = eit.Present_Following;
    const std::size_t first = static_cast<std::size_t>(number % Schedule_Slices) * slice;
    const std::size_t last =
        number % Schedule_Slices == Schedule_Slices - 1 ? eit.Schedule.size() : first + slice;
    round.insert(round.end(), eit.Schedule.begin() + static_cast<long>(first),
                 eit.Schedule.begin() + static_cast<long>(last));
    Write_Sections(eit_writer, Eit_Pid, round, packed);
    if (!Send_Round(output, eit_writer, body_packets))
      break;
  }
  while (output.Packets < body_packets && !output.Failed) // fill the body up with noise
    output.Noise_Packet();
  const uint64_t tail_start = output.Packets;
  Write_Tail(eit_writer, tail);
  for (std::size_t at = 0; at < eit_writer.Bytes.size(); at += Ts_Packet_Size) {
    output.Eit_Packet(eit_writer.Bytes.data() + at);
    for (int i = 0; i < Tail_Noise_Gap; ++i)
      output.Noise_Packet();
  }
  const bool written = output.Flush();
  const int close_result = std::fclose(file);
  if (!written || close_result != 0) {
    std::fprintf(stderr, "%s: %s: %s\n", Tool, path, std::strerror(written ? errno : output.Error));
    std::remove(path);
    return 1;
  }
  std::printf("%s: wrote %s: %llu packets (%llu bytes), %llu on PID 0x%04X, %d services; the "
              "portals' source sections from packet %llu on\n",
              Tool, path, static_cast<unsigned long long>(output.Packets),
              static_cast<unsigned long long>(output.Packets * Ts_Packet_Size),
              static_cast<unsigned long long>(output.Eit_Packets), Eit_Pid, Capture_Services,
              static_cast<unsigned long long>(tail_start));
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      Print_Usage();
      return 0;
    }
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0)
      return Print_Version(Tool) ? 0 : 2;
  long size_mib = Size_Default_Mib;
  const char *path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--size") {
      if (i + 1 >= argc)
        return Usage_Error("--size needs a value");
      size_mib = Parse_Size(argv[++i]);
      if (size_mib < 0)
        return Usage_Error(std::string("--size: not a whole number of MiB from 1 to ") +
                           std::to_string(Size_Max_Mib) + ": '" + argv[i] + "'");
    } else if (argument.size() > 1 && argument[0] == '-') {
      return Usage_Error("unknown option '" + argument + "'");
    } else if (path != nullptr) {
      return Usage_Error("one output file only, got '" + argument + "' too");
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr)
    return Usage_Error("no output file given");
  try {
    return Write_Capture(path, size_mib);
  } catch (const std::exception &error) { // a section that cannot be built
    std::fprintf(stderr, "%s: %s\n", Tool, error.what());
    return 1;
  }
}
