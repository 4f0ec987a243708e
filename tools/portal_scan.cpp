// portal-scan [--json] FILE.ts: runs a transport stream capture through the
// plug-in's own decoder, once per portal, and shows what each portal's
// buttons would hold. Each pass arms the decoder as a channel change with the
// window on that portal does, feeds the PID 0x12 payloads one packet per call
// and stops at the first decode.
#include "core/decoder_setup.h"
#include "core/plugin_state.h"
#include "core/portal_table.h"
#include "core/section_decoder.h"
#include "stream/latin1_text.h"
#include "stream/ts_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Portal_Result {
  bool Decoded = false;
  int32_t Count = 0;
  Portal_Row Entries{};
};

struct Scan_Progress {
  bool Shown = false; // stderr is a terminal
  uint64_t File_Size = 0;
  uint64_t Next_Report = 0;
  int Portal = 0;
};

constexpr uint64_t Progress_Step = 16u << 20; // bytes between progress lines

// Ts_Reader's progress callback: a line on the terminal every 16 MiB.
void Report_Progress(const Ts_Reader &reader, void *context) {
  Scan_Progress &progress = *static_cast<Scan_Progress *>(context);
  const uint64_t offset = reader.Offset;
  if (offset < progress.Next_Report)
    return;
  progress.Next_Report = offset + Progress_Step;
  std::fprintf(stderr, "\rportal-scan: portal %d: %llu of %llu MiB ", progress.Portal,
               static_cast<unsigned long long>(offset >> 20),
               static_cast<unsigned long long>(progress.File_Size >> 20));
  std::fflush(stderr);
}

void Clear_Progress(const Scan_Progress &progress) {
  if (progress.Shown)
    std::fprintf(stderr, "\r%60s\r", "");
}

// One pass over the file for `portal`. With `count_packets` the pass reads
// on to the end after the decode to count the packets; otherwise it stops.
Ts_Read_Result Scan_Pass(const char *path, int portal, bool count_packets, Portal_Result &result,
                         uint64_t &packets, Scan_Progress &progress) {
  Ts_Reader reader;
  if (!Open_Ts_File(reader, path))
    return Ts_Read_Result::Read_Error;
  Arm_Decoder_For_Portal(portal);
  progress.Next_Report = 0;
  progress.Portal = portal;
  if (progress.Shown) {
    reader.Progress = Report_Progress;
    reader.Progress_Context = &progress;
  }
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  Ts_Read_Result status;
  while ((status = Next_Ts_Payload(reader, Eit_Pid, &payload, &size)) == Ts_Read_Result::Payload) {
    if (result.Decoded)
      continue; // counting packets only
    On_Section_Data(0, size, payload);
    if (Plugin_Decoder.Scan_Idle) {
      result.Decoded = true;
      if (!count_packets)
        break;
    }
  }
  const int saved_errno = errno;
  packets = reader.Packets;
  Close_Ts_Reader(reader);
  errno = saved_errno;
  result.Count = Read_Portal_Count(portal);
  for (int i = 0; i < Portal_Entry_Total; ++i)
    result.Entries[static_cast<std::size_t>(i)] = Copy_Portal_Entry(portal, i);
  return status == Ts_Read_Result::Payload ? Ts_Read_Result::End : status;
}

// The entry name's bytes up to the NUL, as ISO-8859-1.
std::string Name_Bytes(const Portal_Entry &entry) {
  return std::string(entry.Name, strnlen(entry.Name, sizeof entry.Name));
}

// ISO-8859-1 text as UTF-8, control characters shown as '?'.
std::string Latin1_Text(const std::string &bytes) {
  std::string out;
  for (unsigned char byte : bytes)
    Append_Latin1_As_Utf8(out, byte < 0x20 || byte == 0x7F ? '?' : byte);
  return out;
}

// A JSON string literal; bytes >= 0x80 are taken as ISO-8859-1 when `latin1`,
// else passed through (file names are already in the terminal's encoding).
std::string Json_String(const std::string &bytes, bool latin1) {
  std::string out = "\"";
  for (unsigned char byte : bytes) {
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else if (byte >= 0x80 && latin1) {
      Append_Latin1_As_Utf8(out, byte);
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out + "\"";
}

void Print_Json(const char *path, uint64_t packets, const Portal_Result *results) {
  std::printf("{\"file\": %s, \"packets\": %llu, \"portals\": [", Json_String(path, false).c_str(),
              static_cast<unsigned long long>(packets));
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Result &result = results[portal];
    std::printf(
        "%s\n  {\"portal\": %d, \"name\": %s, \"decoded\": %s, \"count\": %d, \"entries\": [",
        portal ? "," : "", portal,
        Json_String(Portal_Constants_Table[portal].Default_Name, true).c_str(),
        result.Decoded ? "true" : "false", result.Count);
    for (int i = 0; i < Portal_Entry_Total; ++i) {
      const Portal_Entry &entry = result.Entries[static_cast<std::size_t>(i)];
      std::printf("%s\n    {\"name\": %s, \"descriptor_length\": %d, \"transport_stream_id\": %d, "
                  "\"service_id\": %d}",
                  i ? "," : "", Json_String(Name_Bytes(entry), true).c_str(),
                  entry.Descriptor_Length, entry.Transport_Stream_Id, entry.Service_Id);
    }
    std::printf("]}");
  }
  std::printf("]}\n");
}

bool Entry_Is_Empty(const Portal_Entry &entry) {
  return entry.Name[0] == 0 && entry.Transport_Stream_Id == 0 && entry.Service_Id == 0;
}

// Pads UTF-8 text to `width` characters.
std::string Padded(const std::string &text, std::size_t width) {
  std::size_t characters = 0;
  for (unsigned char byte : text)
    characters += (byte & 0xC0) != 0x80;
  return text + std::string(characters < width ? width - characters : 0, ' ');
}

void Print_Text(const char *path, uint64_t packets, const Portal_Result *results) {
  std::printf("%s: %llu packets\n", path, static_cast<unsigned long long>(packets));
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Result &result = results[portal];
    std::printf("\nPortal %d  %s: ", portal, Portal_Constants_Table[portal].Default_Name);
    if (result.Decoded)
      std::printf("source section decoded, count %d\n", result.Count);
    else
      std::printf("no source section found, default entry kept\n");
    std::printf("   #  %s  TS id  Service id\n", Padded("Name", 23).c_str());
    for (int i = 0; i < Portal_Entry_Total; ++i) {
      const Portal_Entry &entry = result.Entries[static_cast<std::size_t>(i)];
      if (Entry_Is_Empty(entry))
        continue;
      std::printf("  %2d  %s  %5d  %10d\n", i, Padded(Latin1_Text(Name_Bytes(entry)), 23).c_str(),
                  entry.Transport_Stream_Id, entry.Service_Id);
    }
  }
}

int Fail(const char *path, const char *why) {
  std::fprintf(stderr, "portal-scan: %s: %s\n", path, why);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  const bool json = argc == 3 && std::strcmp(argv[1], "--json") == 0;
  if (!(argc == 2 && argv[1][0] != '-') && !json) {
    std::fprintf(stderr, "usage: portal-scan [--json] FILE.ts\n");
    return 2;
  }
  const char *path = argv[argc - 1];
  Scan_Progress progress;
  progress.Shown = isatty(2) != 0;
  struct stat status {};
  if (stat(path, &status) == 0)
    progress.File_Size = static_cast<uint64_t>(status.st_size);

  Portal_Result results[Portal_Total];
  uint64_t packets = 0;
  for (int portal = 0; portal < Portal_Total; ++portal) {
    uint64_t pass_packets = 0;
    const Ts_Read_Result read =
        Scan_Pass(path, portal, portal == 0, results[portal], pass_packets, progress);
    if (portal == 0)
      packets = pass_packets;
    if (read == Ts_Read_Result::Read_Error) {
      Clear_Progress(progress);
      return Fail(path, std::strerror(errno));
    }
    if (read == Ts_Read_Result::Not_Transport_Stream) {
      Clear_Progress(progress);
      return Fail(path, "not a transport stream (no 0x47 sync at 188-byte spacing)");
    }
  }
  Clear_Progress(progress);
  if (json)
    Print_Json(path, packets, results);
  else
    Print_Text(path, packets, results);
  return 0;
}
