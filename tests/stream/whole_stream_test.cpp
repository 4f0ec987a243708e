// Whole-stream tests: captures made with the stream writer go through the
// real portal-scan executable, and every entry of every portal in its JSON
// must be what the capture carries, however the capture reaches it.
#include "core/host_contract.h"
#include "core/portal_table.h"
#include "stream/latin1_text.h"
#include "stream/sample_stream.h"
#include "stream/ts_writer.h"
#include "tests/stream/temp_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

struct Scan_Output {
  int Status = -1;
  std::string Out, Err;
};

std::string Read_Whole(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Runs a shell command line; `$SCAN` in it stands for portal-scan. Standard
// input is empty unless the command line says otherwise.
Scan_Output Run_Shell(const std::string &command_line) {
  const std::string err = testing::TempDir() + "portal-scan.err";
  const std::string command = "SCAN='" + std::string(PORTAL_SCAN_PATH) + "'; exec </dev/null; " +
                              command_line + " 2>" + err;
  Scan_Output output;
  std::FILE *pipe = popen(command.c_str(), "r");
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
    output.Out.append(chunk, n);
  const int status = pclose(pipe);
  output.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  output.Err = Read_Whole(err);
  return output;
}

Scan_Output Run_Scan(const std::string &arguments) {
  return Run_Shell("\"$SCAN\" " + arguments);
}

// portal-scan's JSON, checked and flattened by python3's json module into
// lines: "F packets", "H packet_size sync_losses skipped_bytes
// transport_error_packets continuity_errors cut_packet_bytes", then per portal "P decoded
// count name", with --explain "X verdict flagged says", and 17 lines "E name
// length transport_stream_id service_id" from its "table"; text as UTF-8 in
// hex. "entries" must be the first of those, count of them or one. Given
// several files, their lines one file after the other.
constexpr const char *Flatten_Json = R"(python3 -c '
import json, sys
for path in sys.argv[1:]:
  d = json.load(open(path, encoding="utf-8"))
  assert d["format_version"] == 2
  print("F", d["packets"], d["file"].encode().hex() or "-")
  h = d["health"]
  print("H", d["packet_size"], h["sync_losses"], h["skipped_bytes"], h["transport_error_packets"],
        h["continuity_errors"], h["cut_packet_bytes"])
  t = d["eit"]
  print("T", t["packets"], t["sections"], t["crc_failures"], len(t["networks"]),
        t["summary"].encode().hex())
  for p in d["portals"]:
      print("P", int(p["decoded"]), p["count"], p["name"].encode().hex() or "-")
      assert p["entries"] == p["table"][:max(p["count"], 1)]
      if "explain" in p:
          x = p["explain"]
          print("X", x["verdict"], x["flagged"], x["says"].encode().hex())
      for e in p["table"]:
          print("E", e["name"].encode().hex() or "-", e["descriptor_length"],
                e["transport_stream_id"], e["service_id"])
' )";

// Follow mode's JSON lines, one object each, flattened the same way: per
// change "C offset portal count name", then its 17 "E" lines; the report on
// the last line, "R" and its packets.
constexpr const char *Flatten_Follow_Json = R"(python3 -c '
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    c = json.loads(line)
    if "offset" not in c:
        print("R", c["packets"])
        continue
    print("C", c["offset"], c["portal"], c["count"], c["name"].encode().hex() or "-")
    assert c["entries"] == c["table"][:max(c["count"], 1)]
    for e in c["table"]:
        print("E", e["name"].encode().hex() or "-", e["descriptor_length"],
              e["transport_stream_id"], e["service_id"])
' )";

struct Entry_Line {
  std::string Name;
  long long Length = -1, Transport_Stream_Id = -1, Service_Id = -1;
};
struct Portal_Lines {
  int Decoded = -1;
  long long Count = -1;
  std::string Name;
  std::vector<Entry_Line> Entries;
  long long Offset = -1;     // follow mode
  std::string Verdict, Says; // --explain
  long long Flagged = -1;    // --explain
};
// The input's health as the report gives it.
struct Health_Line {
  long long Packet_Size = -1, Sync_Losses = -1, Skipped_Bytes = -1, Flagged_Packets = -1,
            Continuity_Errors = -1, Cut_Packet_Bytes = -1;
};
// What the report says of the EIT PID.
struct Eit_Line {
  long long Packets = -1, Sections = -1, Crc_Failures = -1, Networks = -1;
  std::string Summary;
};
struct Scan_Lines {
  long long Packets = -1; // in follow mode: the report's
  std::string File;
  Health_Line Health;
  Eit_Line Eit;
  std::vector<Portal_Lines> Portals; // in follow mode: one per change, Decoded holding the portal
};

std::string From_Hex(const std::string &hex) {
  std::string out;
  for (std::size_t at = 0; hex != "-" && at + 1 < hex.size(); at += 2)
    out += static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16));
  return out;
}

// The lines of the flattener run over `paths` (separated by spaces).
Scan_Lines Flatten_Files(const std::string &flattener, const std::string &paths) {
  std::FILE *pipe = popen((flattener + paths).c_str(), "r");
  Scan_Lines scan;
  char tag[2], text[1000], more[4000];
  long long a, b, c;
  Health_Line &h = scan.Health;
  while (std::fscanf(pipe, "%1s", tag) == 1) {
    if (tag[0] == 'F' && std::fscanf(pipe, "%lld %999s", &a, text) == 2) {
      scan.Packets = a;
      scan.File = From_Hex(text);
    } else if (tag[0] == 'H') {
      EXPECT_EQ(std::fscanf(pipe, "%lld %lld %lld %lld %lld %lld", &h.Packet_Size, &h.Sync_Losses,
                            &h.Skipped_Bytes, &h.Flagged_Packets, &h.Continuity_Errors,
                            &h.Cut_Packet_Bytes),
                6);
    } else if (tag[0] == 'T') {
      Eit_Line &t = scan.Eit;
      EXPECT_EQ(std::fscanf(pipe, "%lld %lld %lld %lld %999s", &t.Packets, &t.Sections,
                            &t.Crc_Failures, &t.Networks, text),
                5);
      t.Summary = From_Hex(text);
    } else if (tag[0] == 'R' && std::fscanf(pipe, "%lld", &a) == 1) {
      scan.Packets = a;
    } else if (tag[0] == 'P' && std::fscanf(pipe, "%lld %lld %999s", &a, &b, text) == 3) {
      scan.Portals.push_back({static_cast<int>(a), b, From_Hex(text), {}, -1, "", "", -1});
    } else if (tag[0] == 'C' && std::fscanf(pipe, "%lld %lld %lld %999s", &a, &b, &c, text) == 4) {
      scan.Portals.push_back({static_cast<int>(b), c, From_Hex(text), {}, a, "", "", -1});
    } else if (tag[0] == 'E' && !scan.Portals.empty() &&
               std::fscanf(pipe, "%999s %lld %lld %lld", text, &a, &b, &c) == 4) {
      scan.Portals.back().Entries.push_back({From_Hex(text), a, b, c});
    } else if (tag[0] == 'X' && !scan.Portals.empty() &&
               std::fscanf(pipe, "%999s %lld %3999s", text, &a, more) == 3) {
      scan.Portals.back().Verdict = text;
      scan.Portals.back().Flagged = a;
      scan.Portals.back().Says = From_Hex(more);
    }
  }
  EXPECT_EQ(pclose(pipe), 0) << paths;
  return scan;
}

Scan_Lines Flatten(const std::string &flattener, const std::string &json) {
  return Flatten_Files(flattener, Temp_File("scan.json", Byte_Vector(json.begin(), json.end())));
}

// The scan of a capture whose stderr must stay empty.
Scan_Lines Scan_Json(const std::string &path) {
  const Scan_Output output = Run_Scan("--json '" + path + "'");
  EXPECT_EQ(output.Status, 0) << output.Err;
  EXPECT_EQ(output.Err, "");
  return Flatten(Flatten_Json, output.Out);
}

// The entries a portal's 17 slots must hold: the first 17 of `entries`, then
// empty slots.
void Expect_Entries(const std::vector<Entry_Line> &lines,
                    const std::vector<Portal_Listing_Entry> &entries) {
  const std::size_t kept = std::min<std::size_t>(entries.size(), Portal_Entry_Total);
  ASSERT_EQ(lines.size(), std::size_t{Portal_Entry_Total});
  for (std::size_t i = 0; i < Portal_Entry_Total; ++i) {
    const Entry_Line &entry = lines[i];
    SCOPED_TRACE("entry " + std::to_string(i));
    const Portal_Listing_Entry expected = i < kept ? entries[i] : Portal_Listing_Entry{0, 0, ""};
    EXPECT_EQ(entry.Name, Utf8_From_Latin1(expected.Name));
    EXPECT_EQ(entry.Length, i < kept ? static_cast<long long>(7 + expected.Name.size()) : 0);
    EXPECT_EQ(entry.Transport_Stream_Id, expected.Transport_Stream_Id);
    EXPECT_EQ(entry.Service_Id, expected.Service_Id);
  }
}

// Portal `portal` of the scan was decoded and holds exactly `entries`.
void Expect_Portal(const Scan_Lines &scan, int portal,
                   const std::vector<Portal_Listing_Entry> &entries) {
  SCOPED_TRACE("portal " + std::to_string(portal));
  ASSERT_EQ(scan.Portals.size(), std::size_t{Portal_Total});
  const Portal_Lines &result = scan.Portals[static_cast<std::size_t>(portal)];
  EXPECT_EQ(result.Name, Portal_Constants_Table[portal].Default_Name);
  EXPECT_EQ(result.Decoded, 1);
  EXPECT_EQ(result.Count,
            static_cast<long long>(std::min<std::size_t>(entries.size(), Portal_Entry_Total)));
  Expect_Entries(result.Entries, entries);
}

// A portal the scan found nothing for: count 0, only its default entry.
void Expect_Undecoded(const Scan_Lines &scan, int portal) {
  ASSERT_EQ(scan.Portals.size(), std::size_t{Portal_Total});
  const Portal_Lines &result = scan.Portals[static_cast<std::size_t>(portal)];
  EXPECT_EQ(result.Decoded, 0);
  EXPECT_EQ(result.Count, 0);
  const Portal_Constants &constants = Portal_Constants_Table[portal];
  ASSERT_EQ(result.Entries.size(), std::size_t{Portal_Entry_Total});
  EXPECT_EQ(result.Entries[0].Name, constants.Default_Name);
  EXPECT_EQ(result.Entries[0].Transport_Stream_Id, constants.Default_Transport_Stream_Id);
  EXPECT_EQ(result.Entries[0].Service_Id, constants.Default_Service_Id);
  EXPECT_EQ(result.Entries[1].Name, "");
}

// The EIT section of an ordinary service, the `index`th of the carousel,
// its event titled `title` with `text` bytes of text.
Byte_Vector Other_Service_Section(int index, const std::string &title = "Nachrichten",
                                  std::size_t text = 0) {
  Eit_Section section;
  section.Service_Id = static_cast<uint16_t>(0x0050 + index);
  section.Transport_Stream_Id = 4;
  Eit_Event event;
  event.Descriptors = Short_Event_Descriptor_Bytes("deu", title, std::string(text, 'w'));
  section.Events.push_back(event);
  return Build_Eit_Section(section);
}

// Other services' sections after a portal section, as a carousel goes on:
// the decoder needs bytes behind a section before it takes it.
void Write_Other_Services(Ts_Writer &writer, int count) {
  for (int i = 0; i < count; ++i) {
    Write_Section(writer, Eit_Pid, Other_Service_Section(i));
    Write_Noise_Packet(writer, 0x0100);
  }
}

void Write_Portal(Ts_Writer &writer, int portal, const std::vector<Portal_Listing_Entry> &entries) {
  Write_Section(writer, Eit_Pid, Sample_Source_Section(portal, entries));
}

std::vector<Portal_Listing_Entry> Many_Entries(int count, const std::string &stem = "Wiesengrund") {
  std::vector<Portal_Listing_Entry> entries;
  for (int i = 0; i < count; ++i)
    entries.push_back({static_cast<uint16_t>(4 + i % 3), static_cast<uint16_t>(0x0100 + i),
                       stem + " Kanal " + std::to_string(i)});
  return entries;
}

// Portal 0 has only its section 1, portal 2 is absent.
Byte_Vector Absent_Capture() {
  Ts_Writer writer;
  Write_Other_Services(writer, 2);
  Eit_Section section_one = Portal_Source_Section(0, Sample_Portal_Entries(0));
  section_one.Section_Number = 1;
  Write_Section(writer, Eit_Pid, Build_Eit_Section(section_one));
  Write_Portal(writer, 1, Sample_Portal_Entries(1));
  Write_Portal(writer, 3, Sample_Portal_Entries(3));
  Write_Other_Services(writer, 8);
  return writer.Bytes;
}

// Portal 0's section spans several packets with media and an adaptation
// field between its pieces; portal 2 lists 20 entries, of which 17 fit.
Byte_Vector Split_Capture() {
  Ts_Writer pieces;
  Ts_Packet_Options adaptation;
  adaptation.Adaptation_Length = 30;
  Write_Section(pieces, Eit_Pid, Sample_Source_Section(0, Many_Entries(14)), adaptation);
  Ts_Writer writer;
  Write_Other_Services(writer, 1);
  for (std::size_t at = 0; at < pieces.Bytes.size(); at += Ts_Packet_Size) {
    writer.Bytes.insert(writer.Bytes.end(), pieces.Bytes.begin() + static_cast<long>(at),
                        pieces.Bytes.begin() + static_cast<long>(at + Ts_Packet_Size));
    Write_Noise_Packet(writer, 0x0100);
    Write_Noise_Packet(writer, 0x0101);
  }
  Write_Portal(writer, 2, Many_Entries(20));
  Write_Portal(writer, 3, Many_Entries(17));
  Write_Other_Services(writer, 8);
  return writer.Bytes;
}

const std::vector<Portal_Listing_Entry> Escape_Entries = {{4, 0x0010, "Funk \"Sport\" Eck"},
                                                          {4, 0x0011, "Back\\slash\x01\x1F"},
                                                          {4, 0x0012, "Caf\xE9 Kr\xFCger \xA9"}};

Byte_Vector Escape_Capture() {
  Ts_Writer writer;
  Write_Portal(writer, 1, Escape_Entries);
  Write_Other_Services(writer, 8);
  return writer.Bytes;
}

TEST(Whole_Stream, SampleCaptureGivesEveryPortalItsEntries) {
  const Byte_Vector sample = Make_Sample_Stream();
  const std::string path = Temp_File("sample.ts", sample);
  const Scan_Lines scan = Scan_Json(path);
  EXPECT_EQ(scan.File, path);
  EXPECT_EQ(scan.Packets, static_cast<long long>(sample.size() / Ts_Packet_Size));
  for (int portal = 0; portal < Portal_Total; ++portal)
    Expect_Portal(scan, portal, Sample_Portal_Entries(portal));
}

TEST(Whole_Stream, AbsentPortalAndSectionOneOnlyKeepTheDefaults) {
  const Scan_Lines scan = Scan_Json(Temp_File("absent.ts", Absent_Capture()));
  Expect_Undecoded(scan, 0);
  Expect_Portal(scan, 1, Sample_Portal_Entries(1));
  Expect_Undecoded(scan, 2);
  Expect_Portal(scan, 3, Sample_Portal_Entries(3));
}

// What is on the EIT PID, whatever it is: the report says so in one line,
// in JSON and text (flagged packets left out of the counts, and said so when
// they were all there was), notes in text when there was some EIT but too
// little for the plug-in to look at, and marks the entries of a portal
// without a list as its defaults.
TEST(Whole_Stream, ReportSaysWhatIsOnTheEitPid) {
  Ts_Writer none, foreign, damaged, flagged, single;
  for (int i = 0; i < 20; ++i)
    Write_Noise_Packet(none, 0x0100);
  for (int i = 0; i < 6; ++i) {
    Eit_Section section;
    section.Service_Id = static_cast<uint16_t>(0x0300 + i);
    section.Transport_Stream_Id = 0x0401;
    section.Original_Network_Id = 0x20FA;
    Write_Section(foreign, Eit_Pid, Build_Eit_Section(section));
  }
  Byte_Vector hurt = Other_Service_Section(1);
  hurt[hurt.size() - 6] ^= 0x01;
  Ts_Packet_Options transport_error;
  transport_error.Transport_Error = true;
  for (int i = 0; i < 6; ++i) {
    Write_Section(damaged, Eit_Pid, hurt);
    Write_Section(flagged, Eit_Pid, Other_Service_Section(i), transport_error);
    Write_Noise_Packet(flagged, 0x0100);
  }
  Write_Section(single, Eit_Pid, Other_Service_Section(1));
  const struct {
    const char *Name;
    Byte_Vector Capture;
    long long Packets, Sections, Crc_Failures, Networks;
    const char *Summary;
    bool Too_Little; // the note that the plug-in would not have looked yet
  } cases[] = {
      {"sample", Make_Sample_Stream(), 102, 99, 0, 1,
       "4 of 4 portal lists decoded; EIT of network 0x0085 present", false},
      {"absent", Absent_Capture(), 13, 13, 0, 1,
       "2 of 4 portal lists decoded; EIT of network 0x0085 present", false},
      {"no EIT", none.Bytes, 0, 0, 0, 0,
       "0 of 4 portal lists decoded; no EIT on PID 0x12 in this capture", false},
      {"another network", foreign.Bytes, 6, 6, 0, 1,
       "0 of 4 portal lists decoded; EIT of other networks only (0x20FA)", false},
      {"every section damaged", damaged.Bytes, 6, 6, 6, 0,
       "0 of 4 portal lists decoded; no sound EIT section on PID 0x12 (6 packets, 6 sections)",
       false},
      {"every EIT packet flagged", flagged.Bytes, 0, 0, 0, 0,
       "0 of 4 portal lists decoded; EIT packets arrived on PID 0x12, but all 6 were flagged "
       "with the transport error indicator and are left out",
       false},
      {"one EIT packet", single.Bytes, 1, 1, 0, 1,
       "0 of 4 portal lists decoded; EIT of network 0x0085 present", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Temp_File("eit.ts", c.Capture);
    const Scan_Lines scan = Scan_Json(path);
    EXPECT_EQ(scan.Eit.Packets, c.Packets);
    EXPECT_EQ(scan.Eit.Sections, c.Sections);
    EXPECT_EQ(scan.Eit.Crc_Failures, c.Crc_Failures);
    EXPECT_EQ(scan.Eit.Networks, c.Networks);
    EXPECT_EQ(scan.Eit.Summary, c.Summary);
    const std::string text = Run_Scan(path).Out;
    EXPECT_NE(text.find("  summary: " + std::string(c.Summary) + "\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(" the plug-in gathers before it looks") != std::string::npos, c.Too_Little)
        << text;
    for (int portal = 0; portal < Portal_Total; ++portal) {
      const std::string name = Portal_Constants_Table[portal].Default_Name;
      const bool listed = scan.Portals[static_cast<std::size_t>(portal)].Decoded == 1;
      const std::size_t row = text.find("   0  " + name + " ");
      const std::size_t marked = text.find("  (default)\n", row);
      EXPECT_EQ(!listed, row != std::string::npos && marked != std::string::npos &&
                             marked < text.find('\n', row) + 1)
          << name << "\n"
          << text;
    }
  }
}

// A packet on `pid` carrying only an adaptation field with a PCR of `ticks`
// (27 MHz), and one on PID 0x0014 carrying a TDT of `utc` (MJD and BCD).
void Write_Pcr_Packet(Ts_Writer &writer, uint16_t pid, uint64_t ticks, bool discontinuity) {
  const uint64_t base = ticks / 300, extension = ticks % 300;
  Byte_Vector packet(Ts_Packet_Size, Stuffing_Byte);
  packet[0] = Ts_Sync_Byte;
  packet[1] = static_cast<uint8_t>(pid >> 8);
  packet[2] = static_cast<uint8_t>(pid);
  packet[3] = Ts_Adaptation_Only << Ts_Adaptation_Shift;
  packet[Ts_Adaptation_Length_Offset] = Ts_Packet_Size - Ts_Adaptation_Flags_Offset;
  packet[Ts_Adaptation_Flags_Offset] =
      static_cast<uint8_t>(Ts_Pcr_Bit | (discontinuity ? Ts_Discontinuity_Bit : 0x00));
  const uint8_t pcr[Ts_Pcr_Size] = {static_cast<uint8_t>(base >> 25),
                                    static_cast<uint8_t>(base >> 17),
                                    static_cast<uint8_t>(base >> 9),
                                    static_cast<uint8_t>(base >> 1),
                                    static_cast<uint8_t>((base & 1) << 7 | 0x7E | extension >> 8),
                                    static_cast<uint8_t>(extension)};
  std::copy(std::begin(pcr), std::end(pcr), packet.begin() + Ts_Pcr_Offset);
  writer.Bytes.insert(writer.Bytes.end(), packet.begin(), packet.end());
}

void Write_Tdt_Packet(Ts_Writer &writer, int mjd, int hours, int minutes, int seconds) {
  const auto bcd = [](int value) { return static_cast<uint8_t>(value / 10 << 4 | value % 10); };
  Byte_Vector packet(Ts_Packet_Size, Stuffing_Byte);
  // The header, a pointer field of 0, then the table: no syntax indicator,
  // section_length 5, UTC_time.
  const uint8_t head[] = {Ts_Sync_Byte,
                          Ts_Unit_Start_Bit,
                          static_cast<uint8_t>(Tdt_Pid),
                          Ts_Payload_Only << Ts_Adaptation_Shift,
                          0x00,
                          Tdt_Table_Id,
                          0x70,
                          Tdt_Utc_Time_Size,
                          static_cast<uint8_t>(mjd >> 8),
                          static_cast<uint8_t>(mjd),
                          bcd(hours),
                          bcd(minutes),
                          bcd(seconds)};
  std::copy(std::begin(head), std::end(head), packet.begin());
  writer.Bytes.insert(writer.Bytes.end(), packet.begin(), packet.end());
}

// The capture's time span from its PCR (the first PID carrying one; a jump
// or a discontinuity is passed over; a single PCR gives none) or its TDT (a
// date past the 16-bit modified Julian date's wrap on 2038-04-23 read as
// after it when the time before says so; never a span that runs backwards),
// and with --explain the time between a portal's copies at the capture's
// pace.
TEST(Whole_Stream, TimeSpanAndRepeatIntervalComeFromTheClocks) {
  constexpr uint64_t Tick = 27000000 / 100; // 10 ms
  struct Utc {
    int Mjd, Hours, Minutes, Seconds;
  };
  // A TDT behind each round, if any: the time of each.
  const auto capture = [](bool pcr, bool jump, std::vector<Utc> tdt = {}) {
    Ts_Writer writer;
    for (std::size_t round = 0; round < 2; ++round) {
      Write_Portal(writer, 3, Sample_Portal_Entries(3));
      for (int i = 0; i < 48; ++i) {
        const uint64_t at = static_cast<uint64_t>(writer.Bytes.size() / Ts_Packet_Size);
        if (pcr)
          Write_Pcr_Packet(writer, 0x0100, at * Tick + (jump && round == 1 ? 99 * 27000000ull : 0),
                           false);
        else
          Write_Noise_Packet(writer, 0x0100);
        if (pcr)
          Write_Pcr_Packet(writer, 0x0200, 5, false); // a second PID with a PCR: not taken
      }
      if (round < tdt.size())
        Write_Tdt_Packet(writer, tdt[round].Mjd, tdt[round].Hours, tdt[round].Minutes,
                         tdt[round].Seconds);
    }
    Write_Other_Services(writer, 4);
    return writer.Bytes;
  };
  Ts_Writer one_pcr;
  Write_Portal(one_pcr, 3, Sample_Portal_Entries(3));
  Write_Pcr_Packet(one_pcr, 0x0100, 12345678, false);
  Write_Other_Services(one_pcr, 4);
  const std::vector<Utc> evening = {{61382, 18, 30, 5}, {61382, 18, 31, 5}}; // 2026-12-08
  const struct {
    const char *Name;
    Byte_Vector Capture;
    const char *Text, *Json;
  } cases[] = {
      {"no clock", capture(false, false),
       "  time span: not known (no PCR, TDT or TOT in the capture)\n",
       "\"time\": {\"pcr_pid\": null, \"pcr_seconds\": null, \"utc_first\": null"},
      {"PCR", capture(true, false), "  time span: 1.910 s by the PCR on PID 0x0100\n",
       "\"pcr_pid\": 256, \"pcr_seconds\": 1.910"},
      {"PCR with a jump", capture(true, true), "  time span: 1.880 s by the PCR on PID 0x0100\n",
       "\"pcr_seconds\": 1.880"},
      {"a single PCR", one_pcr.Bytes,
       "  time span: not known (a single PCR, on PID 0x0100; no TDT or TOT in the capture)\n",
       "\"time\": {\"pcr_pid\": 256, \"pcr_seconds\": null, \"utc_first\": null"},
      {"TDT", capture(false, false, evening),
       "  time span: 2026-12-08 18:30:05 to 2026-12-08 18:31:05 UTC (60 s) by the TDT/TOT\n",
       "\"utc_first\": \"2026-12-08T18:30:05Z\", \"utc_last\": \"2026-12-08T18:31:05Z\", "
       "\"utc_seconds\": 60"},
      {"TDT across the date's wrap", capture(false, false, {{65535, 23, 59, 0}, {0, 0, 2, 0}}),
       "  time span: 2038-04-22 23:59:00 to 2038-04-23 00:02:00 UTC (180 s) by the TDT/TOT\n",
       "\"utc_first\": \"2038-04-22T23:59:00Z\", \"utc_last\": \"2038-04-23T00:02:00Z\", "
       "\"utc_seconds\": 180"},
      {"TDT going back", capture(false, false, {evening[1], evening[0]}),
       "  time span: 2026-12-08 18:31:05 to 2026-12-08 18:30:05 UTC (no span: the time goes "
       "back) by the TDT/TOT\n",
       "\"utc_last\": \"2026-12-08T18:30:05Z\", \"utc_seconds\": null"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Temp_File("clock.ts", c.Capture);
    EXPECT_NE(Run_Scan(path).Out.find(c.Text), std::string::npos) << Run_Scan(path).Out;
    const std::string json = Run_Scan("--explain --json " + path).Out;
    EXPECT_NE(json.find(c.Json), std::string::npos) << json;
  }
  // The PCR runs 10 ms a packet from the second packet (191 steps); the
  // jump passes over 3 of them. Portal 3's two copies stand 97 of the 202
  // packets apart: 97 / 202 of 1.910 s.
  const std::string explained =
      Run_Scan("--explain " + Temp_File("clock.ts", cases[1].Capture)).Out;
  EXPECT_NE(explained.find("; repeated every 0.917 s on average\n"), std::string::npos)
      << explained;
}

TEST(Whole_Stream, SectionsSplitAcrossPacketsAndOverfullPortals) {
  const Scan_Lines scan = Scan_Json(Temp_File("split.ts", Split_Capture()));
  Expect_Portal(scan, 0, Many_Entries(14));
  Expect_Undecoded(scan, 1);
  Expect_Portal(scan, 2, Many_Entries(20));
  Expect_Portal(scan, 3, Many_Entries(17));
}

TEST(Whole_Stream, NamesAreEscapedAndConvertedToUtf8) {
  const std::string path = Temp_File("escape.ts", Escape_Capture());
  EXPECT_NE(Run_Scan("--json " + path).Out.find("Back\\\\slash\\u0001\\u001f"), std::string::npos);
  Expect_Portal(Scan_Json(path), 1, Escape_Entries);
  // File names: UTF-8 passes, every other byte becomes U+FFFD, so the JSON
  // stays valid.
  const struct {
    std::string Name, In_Json;
  } file_names[] = {
      {"caf\xC3\xA9.ts", "caf\xC3\xA9.ts"},
      {"caf\xE9.ts", "caf\xEF\xBF\xBD.ts"},
      {"\xFF\xC3(\xED\xA0\x80.ts",
       "\xEF\xBF\xBD\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.ts"},
      {"a\"b\\c.ts", "a\"b\\c.ts"},
  };
  for (const auto &file_name : file_names) {
    SCOPED_TRACE(file_name.Name);
    const Scan_Lines scan = Scan_Json(Temp_File(file_name.Name, Escape_Capture()));
    EXPECT_EQ(scan.File, testing::TempDir() + file_name.In_Json);
    Expect_Portal(scan, 1, Escape_Entries);
  }
}

TEST(Whole_Stream, TextOutputListsTheEntries) {
  const std::string path = Temp_File("text.ts", Make_Sample_Stream());
  const Scan_Output output = Run_Scan(path);
  EXPECT_EQ(output.Status, 0);
  for (int portal = 0; portal < Portal_Total; ++portal)
    for (const Portal_Listing_Entry &entry : Sample_Portal_Entries(portal))
      EXPECT_NE(output.Out.find(Utf8_From_Latin1(entry.Name)), std::string::npos) << entry.Name;
}

// Every way in gives what the file gives, but for the name ("-" for standard
// input).
TEST(Whole_Stream, PipesFifosAndStandardInputReadLikeTheFile) {
  const std::string fifo = testing::TempDir() + "capture.fifo";
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    const char *Way, *Command, *Name; // Command: with FILE standing for the capture
  } ways[] = {
      {"pipe", "cat FILE | \"$SCAN\" OPTIONS -", "-"},
      {"pipe, no name", "cat FILE | \"$SCAN\" OPTIONS", "-"},
      {"redirected file", "\"$SCAN\" OPTIONS - < FILE", "-"},
      {"FIFO", "cat FILE > FIFO & \"$SCAN\" OPTIONS FIFO", "FIFO"},
  };
  const struct {
    const char *Name;
    Byte_Vector Bytes;
  } captures[] = {{"sample.ts", Make_Sample_Stream()},
                  {"absent.ts", Absent_Capture()},
                  {"split.ts", Split_Capture()},
                  {"escape.ts", Escape_Capture()}};
  auto replace = [](std::string text, const std::string &what, const std::string &with) {
    for (std::size_t at; (at = text.find(what)) != std::string::npos;)
      text.replace(at, what.size(), with);
    return text;
  };
  for (const auto &capture : captures) {
    const std::string path = Temp_File(capture.Name, capture.Bytes);
    for (const char *options : {"--json", ""}) {
      const Scan_Output from_file = Run_Scan(std::string(options) + " " + path);
      ASSERT_EQ(from_file.Status, 0);
      for (const auto &way : ways) {
        SCOPED_TRACE(std::string(capture.Name) + " " + options + " " + way.Way);
        std::string command = replace(way.Command, "OPTIONS", options);
        command = replace(replace(command, "FILE", path), "FIFO", fifo);
        const Scan_Output output = Run_Shell(command);
        EXPECT_EQ(output.Status, 0);
        EXPECT_EQ(output.Err, "");
        const std::string name = replace(way.Name, "FIFO", fifo);
        const std::string expected =
            *options ? replace(from_file.Out, "\"file\": \"" + path, "\"file\": \"" + name)
                     : replace(from_file.Out, path + ":", name + ":");
        EXPECT_EQ(output.Out, expected);
      }
    }
  }
}

// 188-byte packets rewritten as `size`-byte ones: 192 puts a 4-byte time
// stamp in front of each, 204 16 bytes of parity behind it.
Byte_Vector With_Packet_Size(const Byte_Vector &packets, std::size_t size) {
  Byte_Vector out;
  for (std::size_t at = 0; at + Ts_Packet_Size <= packets.size(); at += Ts_Packet_Size) {
    const uint32_t stamp = static_cast<uint32_t>(at * 7);
    if (size == 192)
      out.insert(out.end(), {static_cast<uint8_t>(stamp >> 24), static_cast<uint8_t>(stamp >> 16),
                             static_cast<uint8_t>(stamp >> 8), static_cast<uint8_t>(stamp)});
    out.insert(out.end(), packets.begin() + static_cast<long>(at),
               packets.begin() + static_cast<long>(at + Ts_Packet_Size));
    if (size == 204)
      out.insert(out.end(), 16, static_cast<uint8_t>(at));
  }
  return out;
}

// The sample in each packet size, sound and with each kind of damage: the
// packet size and the damage show in the report's health, and every portal
// still gets its entries, with the sample's flagged copy of its section
// counted. Sizes no reader takes are refused, naming what was found.
TEST(Whole_Stream, PacketSizesAndDamageAreFoundAndShown) {
  const Byte_Vector sample = Make_Sample_Stream();
  const long long sample_packets = static_cast<long long>(sample.size() / Ts_Packet_Size);
  long long flagged = 0;
  std::vector<std::size_t> eit_packets; // where the packets on PID 0x12 start
  for (std::size_t at = 0; at < sample.size(); at += Ts_Packet_Size) {
    flagged += Ts_Packet_Flagged(&sample[at]);
    if (Ts_Packet_Pid(&sample[at]) == Eit_Pid)
      eit_packets.push_back(at);
  }
  Byte_Vector lost = sample; // the third packet on PID 0x12 missing
  lost.erase(lost.begin() + static_cast<long>(eit_packets.at(2)),
             lost.begin() + static_cast<long>(eit_packets.at(2) + Ts_Packet_Size));
  Byte_Vector garbage(100000);
  uint32_t seed = 0x2545F491u;
  for (uint8_t &byte : garbage)
    byte = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  enum class Damage { None, Garbage, Lost_Packet, Junk_At_End, Short_Junk_At_End, Cut_Time_Stamp };
  constexpr long long Junk = 250;       // more than a packet of any size
  constexpr long long Short_Junk = 100; // less than a packet, and no packet's start
  const struct {
    const char *Name;
    Damage Kind;
    long long Packets, Sync_Losses, Skipped_Bytes, Continuity_Errors;
    const char *Note; // on stderr, behind "portal-scan: FILE: "
  } damages[] = {
      {"sound", Damage::None, sample_packets, 0, 0, 0, ""},
      {"100 KB of garbage inside", Damage::Garbage, sample_packets, 1, 100000, 0, ""},
      {"a PID 0x12 packet lost", Damage::Lost_Packet, sample_packets - 1, 0, 0, 1, ""},
      {"junk behind the last packet", Damage::Junk_At_End, sample_packets, 1, Junk, 0,
       "the last 250 bytes after the last packet hold no packet: skipped\n"},
      {"less than a packet of junk behind the last packet", Damage::Short_Junk_At_End,
       sample_packets, 1, Short_Junk, 0,
       "the last 100 bytes after the last packet hold no packet: skipped\n"},
      {"cut inside the first time stamp", Damage::Cut_Time_Stamp, sample_packets, 0, 0, 0, ""},
  };
  for (const std::size_t size : {188u, 192u, 204u}) {
    for (const auto &damage : damages) {
      if (damage.Kind == Damage::Cut_Time_Stamp && size != 192)
        continue; // only 192-byte packets have a time stamp in front
      SCOPED_TRACE(std::to_string(size) + "-byte packets, " + damage.Name);
      Byte_Vector bytes =
          With_Packet_Size(damage.Kind == Damage::Lost_Packet ? lost : sample, size);
      if (damage.Kind == Damage::Garbage)
        bytes.insert(bytes.begin() + static_cast<long>(100 * size), garbage.begin(), garbage.end());
      if (damage.Kind == Damage::Junk_At_End)
        bytes.insert(bytes.end(), Junk, 0x00);
      if (damage.Kind == Damage::Short_Junk_At_End)
        bytes.insert(bytes.end(), Short_Junk, 0x00);
      if (damage.Kind == Damage::Cut_Time_Stamp)
        bytes.erase(bytes.begin(), bytes.begin() + 2);
      const std::string path = Temp_File("sized.ts", bytes);
      const Scan_Output output = Run_Scan("--explain --json " + path);
      EXPECT_EQ(output.Status, 0);
      EXPECT_EQ(output.Err, *damage.Note ? "portal-scan: " + path + ": " + damage.Note : "");
      const Scan_Lines scan = Flatten(Flatten_Json, output.Out);
      EXPECT_EQ(scan.Packets, damage.Packets);
      EXPECT_EQ(scan.Health.Packet_Size, static_cast<long long>(size));
      EXPECT_EQ(scan.Health.Sync_Losses, damage.Sync_Losses);
      EXPECT_EQ(scan.Health.Skipped_Bytes, damage.Skipped_Bytes);
      EXPECT_EQ(scan.Health.Flagged_Packets, flagged);
      EXPECT_EQ(scan.Health.Continuity_Errors, damage.Continuity_Errors);
      EXPECT_EQ(scan.Health.Cut_Packet_Bytes, 0);
      for (int portal = 0; portal < Portal_Total; ++portal) {
        Expect_Portal(scan, portal, Sample_Portal_Entries(portal));
        ASSERT_EQ(scan.Portals.size(), std::size_t{Portal_Total});
        EXPECT_EQ(scan.Portals[static_cast<std::size_t>(portal)].Flagged, 1) << portal;
      }
    }
  }
  Byte_Vector wide; // 208-byte packets: 20 bytes behind each
  for (std::size_t at = 0; at < sample.size(); at += Ts_Packet_Size) {
    wide.insert(wide.end(), sample.begin() + static_cast<long>(at),
                sample.begin() + static_cast<long>(at + Ts_Packet_Size));
    wide.insert(wide.end(), 20, 0);
  }
  const Scan_Output refused = Run_Scan("--json " + Temp_File("wide.ts", wide));
  EXPECT_EQ(refused.Status, 2);
  EXPECT_EQ(refused.Out, "");
  EXPECT_NE(refused.Err.find(" 208 "), std::string::npos) << refused.Err;
}

// A capture that ends inside a packet is read up to its last whole packet,
// whatever its size, and says so on stderr and in the report's health.
TEST(Whole_Stream, CapturesCutInsideAPacketAreReadToTheLastWholePacket) {
  const Byte_Vector sample = Make_Sample_Stream();
  const long long sample_packets = static_cast<long long>(sample.size() / Ts_Packet_Size);
  Ts_Writer garbled;
  garbled.Bytes = sample;
  Write_Garbage(garbled, 77);
  garbled.Bytes.insert(garbled.Bytes.end(), sample.begin(), sample.begin() + 2 * Ts_Packet_Size);
  const struct {
    const char *Name;
    Byte_Vector Whole;    // whole packets (and garbage)
    std::size_t Cut_Kept; // bytes of one more packet behind them
    long long Packets, Skipped_Bytes;
    bool Sample_Entries;
  } cases[] = {
      {"cut-sample.ts", Byte_Vector(sample.begin(), sample.end() - Ts_Packet_Size), 100,
       sample_packets - 1, 0, true},
      {"cut-one-byte.ts", Byte_Vector(sample.begin(), sample.end() - Ts_Packet_Size), 1,
       sample_packets - 1, 0, true},
      {"cut-three-packets.ts", Byte_Vector(sample.begin(), sample.begin() + 3 * Ts_Packet_Size),
       187, 3, 0, false},
      {"cut-one-packet.ts", Byte_Vector(sample.begin(), sample.begin() + Ts_Packet_Size), 50, 1, 0,
       false},
      {"cut-after-garbage.ts", garbled.Bytes, 120, sample_packets + 2, 77, true},
  };
  for (const auto &cut : cases) {
    SCOPED_TRACE(cut.Name);
    Byte_Vector bytes = cut.Whole;
    bytes.insert(bytes.end(), sample.begin(), sample.begin() + static_cast<long>(cut.Cut_Kept));
    const std::string path = Temp_File(cut.Name, bytes);
    const Scan_Output output = Run_Scan("--json " + path);
    EXPECT_EQ(output.Status, 0);
    EXPECT_EQ(output.Err, "portal-scan: " + path +
                              ": ends inside a packet: read up to its last whole packet, the " +
                              std::to_string(cut.Cut_Kept) + " bytes after it left out\n");
    const Scan_Lines scan = Flatten(Flatten_Json, output.Out);
    EXPECT_EQ(scan.Packets, cut.Packets);
    EXPECT_EQ(scan.Health.Cut_Packet_Bytes, static_cast<long long>(cut.Cut_Kept));
    EXPECT_EQ(scan.Health.Skipped_Bytes, cut.Skipped_Bytes);
    const std::string text = Run_Scan(path).Out;
    EXPECT_NE(text.find(" continuity errors on PID 0x12; the last packet cut short, its first " +
                        std::to_string(cut.Cut_Kept) + (cut.Cut_Kept == 1 ? " byte" : " bytes") +
                        " left out\n"),
              std::string::npos)
        << text;
    for (int portal = 0; cut.Sample_Entries && portal < Portal_Total; ++portal)
      Expect_Portal(scan, portal, Sample_Portal_Entries(portal));
  }
}

// --explain on captures where one portal's section is on air in a given way
// (each capture has the others' off air): every portal gets its verdict, in
// JSON and as the last of its lines in text, naming the decoder's rule where
// it decoded. A section damaged on the way is damaged differently in each
// copy (here in the same byte, so no copy mends another), and shown
// unchecked while no sound copy comes; one damaged the same way in every
// transmission is how the stream carries it. A service that carries only
// sections other than the portal's source section leaves the portal off air,
// and its sections are named.
TEST(Whole_Stream, ExplainGivesEachPortalItsVerdict) {
  Ts_Packet_Options flagged, packed;
  flagged.Transport_Error = true;
  packed.Pack_Sections = true;
  const auto portal_section = [](int portal, uint8_t segment_last_section_number) {
    Eit_Section section = Portal_Source_Section(portal, Sample_Portal_Entries(portal));
    section.Segment_Last_Section_Number = segment_last_section_number;
    return Build_Eit_Section(section);
  };
  const Byte_Vector portal_0 = Sample_Source_Section(0, Sample_Portal_Entries(0));
  Byte_Vector damaged[2] = {portal_0, portal_0};
  damaged[0][portal_0.size() - 5] ^= 0x01; // in the last entry's name
  damaged[1][portal_0.size() - 5] ^= 0x10; // the same byte, another bit

  Ts_Writer shown, cut_short; // the latter ends right behind the section
  Write_Portal(shown, 3, Sample_Portal_Entries(3));
  Write_Portal(cut_short, 3, Sample_Portal_Entries(3));
  // Off air: section 1 of a portal service, which is no source section; and
  // a source section only in packets flagged with transport errors, which
  // are dropped: damaged.
  Ts_Writer off_air;
  Eit_Section section_one = Portal_Source_Section(0, Sample_Portal_Entries(0));
  section_one.Section_Number = 1;
  Write_Section(off_air, Eit_Pid, Build_Eit_Section(section_one));
  Write_Section(off_air, Eit_Pid, Sample_Source_Section(3, Sample_Portal_Entries(3)), flagged);
  Ts_Writer behind, hurt, same_hurt, hurt_apart, header, followed; // each sent twice
  const Byte_Vector portal_1 = Sample_Source_Section(1, Many_Entries(12));
  Byte_Vector apart[2] = {portal_1, portal_1}; // damaged in different packets
  apart[0][Eit_Header_Size + 20] ^= 0x01;
  apart[1][portal_1.size() - 1] ^= 0x01;
  ASSERT_GT(portal_1.size() + 1, std::size_t{Ts_Payload_Size}) << "more than one packet";
  ASSERT_LT((portal_1.size() + 1) % Ts_Payload_Size, std::size_t{Ts_Payload_Size - 1})
      << "room for the next section in the portal section's last packet";
  for (int round = 0; round < 2; ++round) {
    Write_Sections(behind, Eit_Pid,
                   {Other_Service_Section(9), Sample_Source_Section(2, Sample_Portal_Entries(2))},
                   packed);
    Write_Section(hurt, Eit_Pid, damaged[round]);
    Write_Section(same_hurt, Eit_Pid, damaged[0]);
    Write_Other_Services(same_hurt, 2); // two transmissions, not one copy twice
    Write_Section(hurt_apart, Eit_Pid, apart[round]);
    Write_Section(header, Eit_Pid, portal_section(1, 0));
    // The next section starts in the portal section's last packet.
    Write_Sections(followed, Eit_Pid, {portal_1, Other_Service_Section(9)}, packed);
  }
  const auto carousel_ends = [](Ts_Writer &writer) {
    Write_Other_Services(writer, 8);
    return writer.Bytes;
  };
  const struct {
    const char *Name;
    Byte_Vector Capture;
    const char *Verdicts[Portal_Total];
    const char *Says; // in one of them
  } cases[] = {
      {"shown",
       carousel_ends(shown),
       {"not_on_air", "not_on_air", "not_on_air", "shown"},
       "shows these 5"},
      {"off air",
       carousel_ends(off_air),
       {"not_on_air", "not_on_air", "not_on_air", "damaged"},
       "only in packets flagged"},
      {"packed",
       carousel_ends(behind),
       {"not_on_air", "not_on_air", "shown_packed", "not_on_air"},
       "found inside a packet, packed behind another section"},
      {"too short",
       cut_short.Bytes,
       {"not_on_air", "not_on_air", "not_on_air", "too_short"},
       "ends before the plug-in has gathered the 920 bytes"},
      {"damaged differently in each copy",
       carousel_ends(hurt),
       {"shown_unchecked", "not_on_air", "not_on_air", "not_on_air"},
       "of a copy that fails its CRC, by rule 5 (unchecked)"},
      {"damaged in different packets",
       carousel_ends(hurt_apart),
       {"not_on_air", "shown_repaired", "not_on_air", "not_on_air"},
       "of a copy that fails its CRC, by rule 4 (repaired)"},
      {"header",
       carousel_ends(header),
       {"not_on_air", "not_on_air", "not_on_air", "not_on_air"},
       "not on air in this capture (2 other sections of service 513: "
       "segment_last_section_number 0, not 1)"},
      {"followed",
       carousel_ends(followed),
       {"not_on_air", "shown_mended", "not_on_air", "not_on_air"},
       "by rule 2 (stray pointer field taken out)"},
      {"damaged the same way",
       carousel_ends(same_hurt),
       {"shown_as_carried", "not_on_air", "not_on_air", "not_on_air"},
       "by rule 3 (the same failure twice)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Temp_File("explain.ts", c.Capture);
    const Scan_Output json = Run_Scan("--explain --json " + path);
    EXPECT_EQ(json.Status, 0);
    EXPECT_EQ(json.Err, "");
    const Scan_Lines scan = Flatten(Flatten_Json, json.Out);
    const std::string text = Run_Scan("--explain " + path).Out;
    ASSERT_EQ(scan.Portals.size(), std::size_t{Portal_Total}) << json.Out;
    std::string says;
    for (int portal = 0; portal < Portal_Total; ++portal) {
      const Portal_Lines &result = scan.Portals[static_cast<std::size_t>(portal)];
      EXPECT_EQ(result.Verdict, c.Verdicts[portal]) << "portal " << portal << ": " << result.Says;
      says += result.Says;
      const std::string verdict_line = "    verdict: " + result.Says + "\n";
      const std::size_t block_end =
          std::min(text.find("\nPortal " + std::to_string(portal + 1)), text.size());
      EXPECT_EQ(text.rfind(verdict_line, block_end), block_end - verdict_line.size()) << text;
    }
    EXPECT_NE(says.find(c.Says), std::string::npos) << says;
  }
  // Whole 188-byte packets handed over, as some hosts do.
  const Scan_Lines whole = Flatten(
      Flatten_Json,
      Run_Scan("--feed packets --explain --json " + Temp_File("explain.ts", cases[0].Capture)).Out);
  ASSERT_EQ(whole.Portals.size(), std::size_t{Portal_Total});
  EXPECT_EQ(whole.Portals[3].Verdict, "shown_from_packets") << whole.Portals[3].Says;
  EXPECT_NE(whole.Portals[3].Says.find("taken from the whole 188-byte packets"), std::string::npos);

  // EIT packed as multiplexers pack it, each portal's source section among
  // other sections of its own service (same service, transport stream and
  // network; another section_number or last_section_number), in front of it,
  // behind it or both, at several alignments in the packets, as a carousel
  // goes round twice: portal-scan lists each source section's entries, and
  // the explanation says the plug-in shows them, never that they disagree or
  // that the section lists none. The verdicts of this table are counted and
  // printed.
  // A section of `portal`'s source service with these numbers, carried as the
  // sample carries the source section.
  const auto service_section = [](int portal, const std::vector<Portal_Listing_Entry> &entries,
                                  uint8_t section_number, uint8_t last_section_number) {
    Eit_Section section = Portal_Source_Section(portal, entries);
    const Byte_Vector sample = Sample_Source_Section(portal, entries);
    section.Table_Id = section.Last_Table_Id = sample[Section_Table_Id_Offset];
    section.Section_Number = section_number;
    section.Last_Section_Number = last_section_number;
    return Build_Eit_Section(section);
  };
  enum Place { Before = 1, After = 2, Around = 3 };
  const struct { uint8_t Section_Number, Last_Section_Number; } kinds[] = {{1, 1}, {0, 0}};
  const std::size_t alignments[] = {0, 37, 61, 98, 140, 171}; // the filler's text
  std::vector<std::string> names;
  std::string reports; // each stream's JSON report, by path
  for (const Place place : {Before, After, Around}) {
    for (const auto &kind : kinds) {
      for (std::size_t a = 0; a < std::size(alignments); ++a) {
        names.push_back("place " + std::to_string(place) + ", section_number " +
                        std::to_string(kind.Section_Number) + ", last_section_number " +
                        std::to_string(kind.Last_Section_Number) + ", filler text " +
                        std::to_string(alignments[a]));
        std::vector<Byte_Vector> carousel;
        for (int round = 0; round < 2; ++round) {
          for (int portal = 0; portal < Portal_Total; ++portal) {
            // Every other stream's other sections list entries of their own.
            const Byte_Vector other = service_section(
                portal, a % 2 ? Many_Entries(2, "Anderswo") : std::vector<Portal_Listing_Entry>{},
                kind.Section_Number, kind.Last_Section_Number);
            carousel.push_back(Other_Service_Section(0x10, "Wetter", alignments[a]));
            if (place & Before)
              carousel.push_back(other);
            carousel.push_back(Sample_Source_Section(portal, Sample_Portal_Entries(portal)));
            if (place & After)
              carousel.push_back(other);
          }
        }
        Ts_Writer writer;
        Write_Sections(writer, Eit_Pid, carousel, packed);
        Write_Other_Services(writer, 8);
        const std::string stream = "packed-" + std::to_string(names.size()) + ".ts";
        const Scan_Output output = Run_Scan("--explain --json " + Temp_File(stream, writer.Bytes));
        EXPECT_EQ(output.Status, 0) << names.back();
        reports +=
            " " + Temp_File(stream + ".json", Byte_Vector(output.Out.begin(), output.Out.end()));
      }
    }
  }
  const Scan_Lines all = Flatten_Files(Flatten_Json, reports);
  ASSERT_EQ(all.Portals.size(), names.size() * Portal_Total);
  std::map<std::string, int> tally;
  int portals = 0;
  for (std::size_t stream = 0; stream < names.size(); ++stream) {
    SCOPED_TRACE(names[stream]);
    Scan_Lines scan;
    scan.Portals.assign(all.Portals.begin() + static_cast<long>(stream * Portal_Total),
                        all.Portals.begin() + static_cast<long>((stream + 1) * Portal_Total));
    for (int portal = 0; portal < Portal_Total; ++portal) {
      Expect_Portal(scan, portal, Sample_Portal_Entries(portal));
      const Portal_Lines &result = scan.Portals[static_cast<std::size_t>(portal)];
      const bool no_entries = result.Says.find("lists no entries") != std::string::npos;
      ++tally[no_entries ? "lists no entries" : result.Verdict];
      ++portals;
      EXPECT_TRUE(result.Verdict.rfind("shown", 0) == 0 && !no_entries)
          << "portal " << portal << ": " << result.Verdict << ": " << result.Says;
    }
  }
  std::string counts = std::to_string(portals) + " portals:";
  for (const auto &verdict : tally)
    counts += " " + verdict.first + " " + std::to_string(verdict.second) + ",";
  counts.back() = '\n';
  std::printf("packed-stream table: %s", counts.c_str());
}

// --follow on a stream where portal 1's list changes midway (each version
// twice, as a carousel repeats it) and portal 3's comes once: each change
// with the offset of the packet its section ended in.
TEST(Whole_Stream, FollowPrintsEachChangeWithItsOffset) {
  const std::vector<Portal_Listing_Entry> first = Many_Entries(3, "Lindenhof");
  const std::vector<Portal_Listing_Entry> second = Many_Entries(5, "Hexmoor");
  const std::vector<Portal_Listing_Entry> third = Many_Entries(2, "Ahlmersand");
  Ts_Writer writer;
  Write_Other_Services(writer, 3);
  // Where each list's first copy ends: the start of the packet it ends in.
  const auto last_packet = [&writer] {
    return static_cast<long long>(writer.Bytes.size()) - Ts_Packet_Size;
  };
  long long first_end = 0, second_end = 0;
  for (int round = 0; round < 2; ++round) {
    Write_Portal(writer, 1, first);
    first_end = round == 0 ? last_packet() : first_end;
    Write_Other_Services(writer, 6);
  }
  for (int round = 0; round < 2; ++round) {
    Write_Portal(writer, 1, second);
    second_end = round == 0 ? last_packet() : second_end;
    Write_Other_Services(writer, 6);
  }
  Write_Portal(writer, 3, third);
  const long long third_end = last_packet();
  Write_Other_Services(writer, 6);
  const std::string path = Temp_File("follow.ts", writer.Bytes);

  const Scan_Output json = Run_Shell("cat " + path + " | \"$SCAN\" --follow --json -");
  EXPECT_EQ(json.Status, 0);
  EXPECT_EQ(json.Err, "");
  const Scan_Lines changes = Flatten(Flatten_Follow_Json, json.Out);
  const struct {
    int Portal;
    const std::vector<Portal_Listing_Entry> &Entries;
    long long Offset;
  } expected[] = {{1, first, first_end}, {1, second, second_end}, {3, third, third_end}};
  ASSERT_EQ(changes.Portals.size(), std::size(expected)) << json.Out;
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE("change " + std::to_string(i));
    const Portal_Lines &change = changes.Portals[i];
    EXPECT_EQ(change.Decoded, expected[i].Portal);
    EXPECT_EQ(change.Name, Portal_Constants_Table[expected[i].Portal].Default_Name);
    EXPECT_EQ(change.Count, static_cast<long long>(expected[i].Entries.size()));
    EXPECT_EQ(change.Offset, expected[i].Offset);
    Expect_Entries(change.Entries, expected[i].Entries);
  }

  const Scan_Output text = Run_Shell("cat " + path + " | \"$SCAN\" --follow -");
  EXPECT_EQ(text.Status, 0);
  EXPECT_EQ(text.Err, "");
  for (const auto &change : changes.Portals) {
    const std::string head = "Portal " + std::to_string(change.Decoded) + "  " + change.Name +
                             ": source section decoded at offset " + std::to_string(change.Offset) +
                             ", count " + std::to_string(change.Count) + "\n";
    EXPECT_NE(text.Out.find(head), std::string::npos) << text.Out;
    EXPECT_NE(text.Out.find(change.Entries[0].Name), std::string::npos);
  }
}

// A live stream: the input stays open after the capture; SIGINT ends the
// run with exit 0 and every change printed whole.
TEST(Whole_Stream, FollowEndsOnInterruptWithWholeRecords) {
  Ts_Writer writer;
  Write_Portal(writer, 2, Many_Entries(4, "Riedgau"));
  Write_Other_Services(writer, 8);
  int input[2], output[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(pipe(output), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(input[0], 0);
    dup2(output[1], 1);
    for (int descriptor : {input[0], input[1], output[0], output[1]})
      close(descriptor);
    execl(PORTAL_SCAN_PATH, PORTAL_SCAN_PATH, "--follow", "--json", "-", nullptr);
    _exit(127);
  }
  close(input[0]);
  close(output[1]);
  ASSERT_EQ(write(input[1], writer.Bytes.data(), writer.Bytes.size()),
            static_cast<ssize_t>(writer.Bytes.size()));
  // Wait (at most 10 s) for the change's line, then interrupt.
  std::string out;
  char chunk[4096];
  pollfd ready{output[0], POLLIN, 0};
  while (out.find('\n') == std::string::npos && poll(&ready, 1, 10000) > 0) {
    const ssize_t n = read(output[0], chunk, sizeof chunk);
    if (n <= 0)
      break;
    out.append(chunk, static_cast<std::size_t>(n));
  }
  EXPECT_NE(out.find('\n'), std::string::npos) << "no change printed";
  kill(child, SIGINT);
  while (poll(&ready, 1, 10000) > 0) {
    const ssize_t n = read(output[0], chunk, sizeof chunk);
    if (n <= 0)
      break;
    out.append(chunk, static_cast<std::size_t>(n));
  }
  int status = 0;
  for (int tries = 0; waitpid(child, &status, WNOHANG) == 0; ++tries) {
    if (tries == 100) { // hung (10 s): fail rather than wait for ever
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    poll(nullptr, 0, 100);
  }
  close(input[1]);
  close(output[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  const Scan_Lines changes = Flatten(Flatten_Follow_Json, out);
  ASSERT_EQ(changes.Portals.size(), 1u) << out;
  EXPECT_EQ(changes.Portals[0].Decoded, 2);
  Expect_Entries(changes.Portals[0].Entries, Many_Entries(4, "Riedgau"));
}

// The command line: help, options in any order, "--", and errors that name
// what is wrong in one line on stderr with nothing on stdout.
TEST(Whole_Stream, CommandLineCases) {
  const std::string prose = Temp_File("prose.ts", Byte_Vector(5000, 'x'));
  const Byte_Vector sample_bytes = Make_Sample_Stream();
  const std::string short_of_a_packet = Temp_File(
      "short.ts", Byte_Vector(sample_bytes.begin(), sample_bytes.begin() + Ts_Packet_Size - 1));
  Byte_Vector behind_junk{'x', 'y', 'z'};
  behind_junk.insert(behind_junk.end(), sample_bytes.begin(),
                     sample_bytes.begin() + 2 * Ts_Packet_Size);
  const std::string two_behind_junk = Temp_File("two.ts", behind_junk);
  const std::string missing = testing::TempDir() + "missing.ts";
  const std::string sample = Temp_File("sample.ts", Make_Sample_Stream());
  Temp_File("-dash.ts", Make_Sample_Stream());
  const std::string in_folder = "cd " + testing::TempDir() + " && \"$SCAN\" ";
  enum class Expect { Help, Json, Text, Error };
  const struct {
    std::string Command_Line;
    Expect Outcome;
    std::string Named; // an error line must name it
  } cases[] = {
      {"\"$SCAN\" --help", Expect::Help, ""},
      {"\"$SCAN\" -h", Expect::Help, ""},
      {"\"$SCAN\" --json --help " + missing, Expect::Help, ""},
      {"\"$SCAN\" " + sample + " --json", Expect::Json, ""},
      {"\"$SCAN\" --json -- " + sample, Expect::Json, ""},
      {in_folder + "--json -- -dash.ts", Expect::Json, ""},
      {in_folder + "-- -dash.ts", Expect::Text, ""},
      {in_folder + "-dash.ts", Expect::Error, "-dash.ts"},
      {in_folder + "-- --help", Expect::Error, "--help"},
      {"\"$SCAN\" --json " + prose, Expect::Error, prose},
      {"\"$SCAN\" " + prose, Expect::Error, prose},
      {"\"$SCAN\" --json " + missing, Expect::Error, missing},
      {"\"$SCAN\" --json " + testing::TempDir(), Expect::Error, testing::TempDir()},
      {"\"$SCAN\"", Expect::Error, "-"}, // empty standard input
      {"\"$SCAN\" --yaml " + prose, Expect::Error, "--yaml"},
      {"\"$SCAN\" --json=1 " + sample, Expect::Error, "--json=1"},
      {"\"$SCAN\" " + sample + " -x", Expect::Error, "-x"},
      {"\"$SCAN\" --json " + prose + " " + sample, Expect::Error, sample},
      {"\"$SCAN\" --json ''", Expect::Error, "empty"},
      {"\"$SCAN\" --explain --follow " + sample, Expect::Error, "--follow"},
      {"\"$SCAN\" " + short_of_a_packet, Expect::Error, "187 bytes, less than one 188-byte packet"},
      {"\"$SCAN\" " + two_behind_junk, Expect::Error, "a sync needs 5 packets in a row"},
      {"\"$SCAN\" --feed packets --json " + sample, Expect::Json, ""},
      {"\"$SCAN\" --json --feed payloads " + sample, Expect::Json, ""},
      {"\"$SCAN\" --feed frames " + sample, Expect::Error, "--feed"},
      {"\"$SCAN\" " + sample + " --feed", Expect::Error, "--feed"},
      // An endless input that never syncs: given up on, saying so.
      {"timeout 60 \"$SCAN\" /dev/zero", Expect::Error, "no sync found in its first 16 MiB"},
  };
  for (const auto &command : cases) {
    SCOPED_TRACE(command.Command_Line);
    const Scan_Output output = Run_Shell(command.Command_Line);
    switch (command.Outcome) {
    case Expect::Help:
      EXPECT_EQ(output.Status, 0);
      EXPECT_EQ(output.Out.rfind("usage: portal-scan ", 0), 0u) << output.Out;
      for (const char *option : {"--json", "--follow", "--explain", "--help", "--"})
        EXPECT_NE(output.Out.find(option), std::string::npos) << option;
      EXPECT_EQ(output.Err, "");
      break;
    case Expect::Json:
      EXPECT_EQ(output.Status, 0);
      EXPECT_EQ(output.Err, "");
      Expect_Portal(Flatten(Flatten_Json, output.Out), 0, Sample_Portal_Entries(0));
      break;
    case Expect::Text:
      EXPECT_EQ(output.Status, 0);
      EXPECT_EQ(output.Err, "");
      EXPECT_NE(output.Out.find(Sample_Portal_Entries(0)[0].Name), std::string::npos);
      break;
    case Expect::Error:
      EXPECT_EQ(output.Status, 2);
      EXPECT_EQ(output.Out, "");
      ASSERT_FALSE(output.Err.empty());
      EXPECT_EQ(output.Err.find('\n'), output.Err.size() - 1); // one line
      EXPECT_NE(output.Err.find(command.Named), std::string::npos) << output.Err;
      break;
    }
  }
}

} // namespace
