// Whole-stream tests: captures made with the stream writer go through the
// real portal-scan executable, and every entry of every portal in its JSON
// must be what the capture carries.
#include "plugin/host_contract.h"
#include "portal/portal_table.h"
#include "stream/sample_stream.h"
#include "stream/ts_writer.h"
#include "tests/stream/json_value.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Scan_Output {
  int Status = -1;
  std::string Out, Err;
};

std::string Read_Whole(const std::string &path) {
  std::string text;
  if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
      text.append(chunk, n);
    std::fclose(file);
  }
  return text;
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

std::string Write_Capture(const std::string &name, const Byte_Vector &bytes) {
  const std::string path = testing::TempDir() + name;
  std::FILE *file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return path;
}

Json_Value Scan_Json(const std::string &path) {
  const Scan_Output output = Run_Scan("--json " + path);
  EXPECT_EQ(output.Status, 0) << output.Err;
  EXPECT_EQ(output.Err, "");
  return Parse_Json(output.Out);
}

std::string Utf8_From_Latin1(const std::string &bytes) {
  std::string out;
  for (unsigned char byte : bytes) {
    if (byte < 0x80) {
      out += static_cast<char>(byte);
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

// Portal `portal` of the scan holds exactly `entries` (the first 17 of them)
// followed by empty slots.
void Expect_Portal(const Json_Value &scan, int portal,
                   const std::vector<Portal_Listing_Entry> &entries) {
  SCOPED_TRACE("portal " + std::to_string(portal));
  const Json_Value &result = scan["portals"][static_cast<std::size_t>(portal)];
  EXPECT_EQ(result["portal"].Integer, portal);
  EXPECT_EQ(result["name"].Text, Portal_Constants_Table[portal].Default_Name);
  EXPECT_TRUE(result["decoded"].Truth);
  const std::size_t kept = std::min<std::size_t>(entries.size(), Portal_Entry_Total);
  EXPECT_EQ(result["count"].Integer, static_cast<long long>(kept));
  ASSERT_EQ(result["entries"].Items.size(), std::size_t{Portal_Entry_Total});
  for (std::size_t i = 0; i < Portal_Entry_Total; ++i) {
    const Json_Value &entry = result["entries"][i];
    SCOPED_TRACE("entry " + std::to_string(i));
    const Portal_Listing_Entry expected = i < kept ? entries[i] : Portal_Listing_Entry{0, 0, ""};
    EXPECT_EQ(entry["name"].Text, Utf8_From_Latin1(expected.Name));
    EXPECT_EQ(entry["descriptor_length"].Integer,
              i < kept ? static_cast<long long>(7 + expected.Name.size()) : 0);
    EXPECT_EQ(entry["transport_stream_id"].Integer, expected.Transport_Stream_Id);
    EXPECT_EQ(entry["service_id"].Integer, expected.Service_Id);
  }
}

// A portal the scan found nothing for: count 0, only its default entry.
void Expect_Undecoded(const Json_Value &scan, int portal) {
  const Json_Value &result = scan["portals"][static_cast<std::size_t>(portal)];
  EXPECT_FALSE(result["decoded"].Truth);
  EXPECT_EQ(result["count"].Integer, 0);
  const Portal_Constants &constants = Portal_Constants_Table[portal];
  EXPECT_EQ(result["entries"][0]["name"].Text, constants.Default_Name);
  EXPECT_EQ(result["entries"][0]["transport_stream_id"].Integer,
            constants.Default_Transport_Stream_Id);
  EXPECT_EQ(result["entries"][0]["service_id"].Integer, constants.Default_Service_Id);
  EXPECT_EQ(result["entries"][1]["name"].Text, "");
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
  const std::string path = Write_Capture("sample.ts", sample);
  const Json_Value scan = Scan_Json(path);
  EXPECT_EQ(scan["file"].Text, path);
  EXPECT_EQ(scan["packets"].Integer, static_cast<long long>(sample.size() / Ts_Packet_Size));
  ASSERT_EQ(scan["portals"].Items.size(), std::size_t{Portal_Total});
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
  const Json_Value scan = Scan_Json(Write_Capture("absent.ts", writer.Bytes));
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
  const Json_Value scan = Scan_Json(Write_Capture("split.ts", writer.Bytes));
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
  const Scan_Output output = Run_Scan("--json " + Write_Capture("escape.ts", writer.Bytes));
  EXPECT_NE(output.Out.find("Back\\\\slash\\u0001\\u001f"), std::string::npos) << output.Out;
  Expect_Portal(Parse_Json(output.Out), 1, entries);
}

TEST(Whole_Stream, TextOutputListsTheEntries) {
  const std::string path = Write_Capture("text.ts", Make_Sample_Stream());
  const Scan_Output output = Run_Scan(path);
  EXPECT_EQ(output.Status, 0);
  for (int portal = 0; portal < Portal_Total; ++portal)
    for (const Portal_Listing_Entry &entry : Sample_Portal_Entries(portal))
      EXPECT_NE(output.Out.find(Utf8_From_Latin1(entry.Name)), std::string::npos) << entry.Name;
}

TEST(Whole_Stream, BadFilesAndUsageExitWithStatusTwo) {
  const std::string prose = Write_Capture("prose.ts", Byte_Vector(5000, 'x'));
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
