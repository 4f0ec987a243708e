// Whole-stream tests: captures made with the stream writer go through the
// real portal-scan executable, and every entry of every portal in its JSON
// must be what the capture carries.
#include "core/host_contract.h"
#include "core/portal_table.h"
#include "stream/latin1_text.h"
#include "stream/sample_stream.h"
#include "stream/ts_writer.h"
#include "tests/stream/temp_file.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
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

Scan_Output Run_Scan(const std::string &arguments) {
  const std::string err = testing::TempDir() + "portal-scan.err";
  const std::string command = std::string(PORTAL_SCAN_PATH) + " " + arguments + " 2>" + err;
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

// portal-scan's JSON, checked and flattened by python3's json module into
// lines: "F packets", then per portal "P decoded count name" and 17 lines
// "E name length transport_stream_id service_id"; text as UTF-8 in hex.
constexpr const char *Flatten_Json = R"(python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
print("F", d["packets"], d["file"].encode().hex() or "-")
for p in d["portals"]:
    print("P", int(p["decoded"]), p["count"], p["name"].encode().hex() or "-")
    for e in p["entries"]:
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
};
struct Scan_Lines {
  long long Packets = -1;
  std::string File;
  std::vector<Portal_Lines> Portals;
};

std::string From_Hex(const std::string &hex) {
  std::string out;
  for (std::size_t at = 0; hex != "-" && at + 1 < hex.size(); at += 2)
    out += static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16));
  return out;
}

Scan_Lines Scan_Json(const std::string &path) {
  const Scan_Output output = Run_Scan("--json " + path);
  EXPECT_EQ(output.Status, 0) << output.Err;
  EXPECT_EQ(output.Err, "");
  const std::string json =
      Temp_File("scan.json", Byte_Vector(output.Out.begin(), output.Out.end()));
  std::FILE *pipe = popen((Flatten_Json + json).c_str(), "r");
  Scan_Lines scan;
  char tag[2], text[200];
  long long a, b, c;
  while (std::fscanf(pipe, "%1s", tag) == 1) {
    if (tag[0] == 'F' && std::fscanf(pipe, "%lld %199s", &a, text) == 2) {
      scan.Packets = a;
      scan.File = From_Hex(text);
    } else if (tag[0] == 'P' && std::fscanf(pipe, "%lld %lld %199s", &a, &b, text) == 3) {
      scan.Portals.push_back({static_cast<int>(a), b, From_Hex(text), {}});
    } else if (tag[0] == 'E' && !scan.Portals.empty() &&
               std::fscanf(pipe, "%199s %lld %lld %lld", text, &a, &b, &c) == 4) {
      scan.Portals.back().Entries.push_back({From_Hex(text), a, b, c});
    }
  }
  EXPECT_EQ(pclose(pipe), 0) << output.Out;
  return scan;
}

// Portal `portal` of the scan holds exactly `entries` (the first 17 of them)
// followed by empty slots.
void Expect_Portal(const Scan_Lines &scan, int portal,
                   const std::vector<Portal_Listing_Entry> &entries) {
  SCOPED_TRACE("portal " + std::to_string(portal));
  ASSERT_EQ(scan.Portals.size(), std::size_t{Portal_Total});
  const Portal_Lines &result = scan.Portals[static_cast<std::size_t>(portal)];
  EXPECT_EQ(result.Name, Portal_Constants_Table[portal].Default_Name);
  EXPECT_EQ(result.Decoded, 1);
  const std::size_t kept = std::min<std::size_t>(entries.size(), Portal_Entry_Total);
  EXPECT_EQ(result.Count, static_cast<long long>(kept));
  ASSERT_EQ(result.Entries.size(), std::size_t{Portal_Entry_Total});
  for (std::size_t i = 0; i < Portal_Entry_Total; ++i) {
    const Entry_Line &entry = result.Entries[i];
    SCOPED_TRACE("entry " + std::to_string(i));
    const Portal_Listing_Entry expected = i < kept ? entries[i] : Portal_Listing_Entry{0, 0, ""};
    EXPECT_EQ(entry.Name, Utf8_From_Latin1(expected.Name));
    EXPECT_EQ(entry.Length, i < kept ? static_cast<long long>(7 + expected.Name.size()) : 0);
    EXPECT_EQ(entry.Transport_Stream_Id, expected.Transport_Stream_Id);
    EXPECT_EQ(entry.Service_Id, expected.Service_Id);
  }
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

// Other services' sections after a portal section, as a carousel goes on:
// the decoder needs bytes behind a section before it takes it.
void Write_Other_Services(Ts_Writer &writer, int count) {
  for (int i = 0; i < count; ++i) {
    Eit_Section section;
    section.Service_Id = static_cast<uint16_t>(0x0050 + i);
    section.Transport_Stream_Id = 4;
    Eit_Event event;
    event.Descriptors = Short_Event_Descriptor_Bytes("deu", "Nachrichten", "");
    section.Events.push_back(event);
    Write_Section(writer, Eit_Pid, Build_Eit_Section(section));
    Write_Noise_Packet(writer, 0x0100);
  }
}

void Write_Portal(Ts_Writer &writer, int portal, const std::vector<Portal_Listing_Entry> &entries) {
  Write_Section(writer, Eit_Pid, Sample_Source_Section(portal, entries));
}

std::vector<Portal_Listing_Entry> Many_Entries(int count) {
  std::vector<Portal_Listing_Entry> entries;
  for (int i = 0; i < count; ++i)
    entries.push_back({static_cast<uint16_t>(4 + i % 3), static_cast<uint16_t>(0x0100 + i),
                       "Sky Sport Bundesliga " + std::to_string(i)});
  return entries;
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
  Ts_Writer writer;
  Write_Other_Services(writer, 2);
  Eit_Section section_one = Portal_Source_Section(0, Sample_Portal_Entries(0));
  section_one.Section_Number = 1; // portal 0 has only its section 1 here
  Write_Section(writer, Eit_Pid, Build_Eit_Section(section_one));
  Write_Portal(writer, 1, Sample_Portal_Entries(1));
  Write_Portal(writer, 3, Sample_Portal_Entries(3)); // portal 2 is absent
  Write_Other_Services(writer, 8);
  const Scan_Lines scan = Scan_Json(Temp_File("absent.ts", writer.Bytes));
  Expect_Undecoded(scan, 0);
  Expect_Portal(scan, 1, Sample_Portal_Entries(1));
  Expect_Undecoded(scan, 2);
  Expect_Portal(scan, 3, Sample_Portal_Entries(3));
}

TEST(Whole_Stream, SectionsSplitAcrossPacketsAndOverfullPortals) {
  // Portal 0's section spans several packets with media and an adaptation field
  // between its pieces; portal 2 lists 20 entries, of which 17 fit.
  Ts_Writer pieces;
  Ts_Packet_Options adaptation;
  adaptation.Adaptation_Length = 30;
  Write_Section(pieces, Eit_Pid, Sample_Source_Section(0, Many_Entries(14)), adaptation);
  ASSERT_GE(pieces.Bytes.size(), 3u * Ts_Packet_Size);
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
  const Scan_Lines scan = Scan_Json(Temp_File("split.ts", writer.Bytes));
  Expect_Portal(scan, 0, Many_Entries(14));
  Expect_Undecoded(scan, 1);
  Expect_Portal(scan, 2, Many_Entries(20));
  Expect_Portal(scan, 3, Many_Entries(17));
}

TEST(Whole_Stream, NamesAreEscapedAndConvertedToUtf8) {
  const std::vector<Portal_Listing_Entry> entries = {{4, 0x0010, "Sky \"Sport\" News"},
                                                     {4, 0x0011, "Back\\slash\x01\x1F"},
                                                     {4, 0x0012, "Caf\xE9 Kr\xFCger \xA9"}};
  Ts_Writer writer;
  Write_Portal(writer, 1, entries);
  Write_Other_Services(writer, 8);
  const std::string path = Temp_File("escape.ts", writer.Bytes);
  EXPECT_NE(Run_Scan("--json " + path).Out.find("Back\\\\slash\\u0001\\u001f"), std::string::npos);
  Expect_Portal(Scan_Json(path), 1, entries);
}

TEST(Whole_Stream, TextOutputListsTheEntries) {
  const std::string path = Temp_File("text.ts", Make_Sample_Stream());
  const Scan_Output output = Run_Scan(path);
  EXPECT_EQ(output.Status, 0);
  for (int portal = 0; portal < Portal_Total; ++portal)
    for (const Portal_Listing_Entry &entry : Sample_Portal_Entries(portal))
      EXPECT_NE(output.Out.find(Utf8_From_Latin1(entry.Name)), std::string::npos) << entry.Name;
}

TEST(Whole_Stream, BadFilesAndUsageExitWithStatusTwo) {
  const std::string prose = Temp_File("prose.ts", Byte_Vector(5000, 'x'));
  const std::string missing = testing::TempDir() + "missing.ts";
  for (const std::string &arguments :
       {"--json " + prose, prose, "--json " + missing, "--json " + testing::TempDir(),
        std::string(""), "--yaml " + prose, "--json " + prose + " " + prose}) {
    SCOPED_TRACE(arguments);
    const Scan_Output output = Run_Scan(arguments);
    EXPECT_EQ(output.Status, 2);
    EXPECT_EQ(output.Out, "");
    ASSERT_FALSE(output.Err.empty());
    EXPECT_EQ(output.Err.find('\n'), output.Err.size() - 1); // one line
  }
}

} // namespace
