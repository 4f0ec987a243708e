// portal-scan's command line: parsing, usage and complaints.
#include "tools/portal_scan_options.h"

#include "core/portal_table.h"
#include "tools/portal_scan_output.h"

#include <cstdio>
#include <cstring>

void Print_Usage() {
  std::printf(
      R"(usage: %s [--json] [--follow | --explain] [--until-decoded]
                   [--feed payloads|packets] [--max-packets N] [--max-seconds S]
                   [FILE.ts | -]
Runs a transport stream capture through the plug-in's own decoder and shows what
each of the %d portals' buttons would hold. One read of the input feeds a decoder
per portal, set up as the plug-in's is when its window shows that portal and the
filter runs; each takes every PID 0x12 packet's payload (or the whole packet, with
--feed packets) until its first decode.

  FILE.ts          the capture: a file, FIFO or device, of 188-, 192- (a time stamp in
                   front, as in .m2ts) or 204-byte packets (parity behind), found from the
                   sync bytes' spacing (no packet in its first %llu MiB: refused); '-' for
                   standard input (a pipe), which is also read when no FILE.ts is given and
                   it is no terminal
  --json           JSON instead of text (layout in the README, "format_version" %d)
  --follow         for live streams: read until the input ends or Ctrl+C (SIGINT or
                   SIGTERM), keep reading a regular file as it grows (like tail -f) until
                   Ctrl+C, re-arm each decoder after its decode as the window's refresh
                   does, and print a portal's list each time it differs from the one
                   printed last for it, then the report; a file written anew (found shorter
                   than what was read) or replaced: its report, then the file read from its
                   start as the next capture; a file removed: its report, exit status 3
  --explain        also reassemble the PID 0x12 sections the standard way and tell per
                   portal how its source section is on air (copies, versions, CRC failures,
                   at a payload start or packed behind another section, copies flagged with
                   the transport error indicator, the entries of the last sound copy) and
                   why the plug-in shows what it shows: a verdict of shown, shown_mended (a
                   stray pointer field taken out), shown_packed (found inside a packet,
                   behind another section), shown_from_packets (taken from whole packets),
                   shown_as_carried (every copy failing the same way), shown_repaired (two
                   copies, each damaged in another packet, made whole), shown_unchecked
                   (every copy failing, each differently), not_on_air, too_short (the capture
                   ends before the decoder has 920 bytes), damaged or disagree (saying how),
                   and the mean time between copies where the capture has a clock; not with
                   --follow
  --feed UNIT      what each decoder call is handed: payloads (the default: a packet's
                   payload, pointer field included) or packets (the whole 188-byte packet,
                   header included, as some hosts hand them; in 192- and 204-byte captures
                   the 188-byte packet inside)
  --until-decoded  stop as soon as every portal's list has been decoded; the exit status
                   then tells whether it was (0) or not (1)
  --max-packets N  stop after N packets (all PIDs), N from 1
  --max-seconds S  stop after S seconds, S a whole number from 1 to %d (nothing arriving
                   within them is refused, saying so)
  -h, --help       print this help and exit
  --version        print the version and exit
  --               end of options: the next argument is the capture

Output: "FILE.ts: N packets", the packet size, the input's health (sync losses, bytes
skipped looking for sync, packets dropped for the transport error indicator,
continuity errors on PID 0x12, the bytes of a last packet cut short), the time span
(by the PCR or the TDT/TOT), what is on PID 0x12 (packets, sections sound and failing,
table ids, per original network the transport streams and services, and a summary
line; flagged packets left out), "stopped before the end of the input" if so, then
per portal whether its source section was decoded, its count and its entries (#,
name, TS id, service id; the default entry of a portal without a list marked so);
from a followed file's second capture on the first line is "FILE.ts (capture N): ...".
Names: the entry's bytes as ISO-8859-1, written as UTF-8. With --explain, indented
under each portal's entries: the counts, the entries of the last sound copy unless the
plug-in shows them, and "verdict: " with the verdict's line. With --json one object
(one line after --follow's lines). With --follow, first per change: "Portal P  NAME:
source section decoded at offset N, count C" ("at offset N of capture C" from the
second capture on) and the entries, N being the input offset of the packet the
section ended in; with --json one object per line.
Ctrl+C (or SIGTERM), --until-decoded, --max-packets and --max-seconds end the input
where it stands: the report shows the lists as they are then.
On stderr: a progress line when it is a terminal (not with --follow); a note when
the input ends inside a packet (it is read up to its last whole packet), when bytes at
its end hold no packet (counted as skipped), once per capture when a followed file is
at its end, and when it is written anew, replaced or removed.
Exit status: 0 after a scan; with --until-decoded 0 if every portal was decoded and 1
if not; 2 with one line on stderr for bad usage, an input that cannot be read or is
not a transport stream (no 0x47 sync bytes 188, 192 or 204 bytes apart, shorter than
a packet, or nothing arrived), or output that cannot be written; 3 when a followed
file was removed.
)",
      Scan_Tool, Portal_Total, static_cast<unsigned long long>(Sync_Search_Bytes >> 20),
      Json_Format_Version, Seconds_Most);
}

int Usage_Error(const std::string &what) {
  std::fprintf(stderr, "%s: %s (see --help)\n", Scan_Tool, what.c_str());
  return Usage_Status;
}

int Fail(const char *name, const char *why) {
  std::fprintf(stderr, "%s: %s: %s\n", Scan_Tool, name, why);
  return Input_Status;
}

namespace {

// A whole number from 1 to `most`, or 0.
uint64_t Whole_Number(const char *text, uint64_t most) {
  uint64_t value = 0;
  for (const char *at = text; *at != 0; ++at) {
    if (*at < '0' || *at > '9' || value > (most - static_cast<uint64_t>(*at - '0')) / 10)
      return 0;
    value = value * 10 + static_cast<uint64_t>(*at - '0');
  }
  return value;
}

} // namespace

bool Parse_Options(int argc, char **argv, Scan_Options &options, int *status) {
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const char *argument = argv[i];
    const bool is_option = !options_ended && argument[0] == '-' && argument[1] != 0;
    const bool takes_value = is_option && (std::strcmp(argument, "--max-packets") == 0 ||
                                           std::strcmp(argument, "--max-seconds") == 0 ||
                                           std::strcmp(argument, "--feed") == 0);
    if (takes_value && i + 1 >= argc) {
      *status = Usage_Error(std::string(argument) + " needs a value");
      return false;
    }
    if (is_option && std::strcmp(argument, "--") == 0) {
      options_ended = true;
    } else if (is_option && std::strcmp(argument, "--json") == 0) {
      options.Json = true;
    } else if (is_option && std::strcmp(argument, "--follow") == 0) {
      options.Follow = true;
    } else if (is_option && std::strcmp(argument, "--explain") == 0) {
      options.Explain = true;
    } else if (is_option && std::strcmp(argument, "--until-decoded") == 0) {
      options.Until_Decoded = true;
    } else if (is_option && std::strcmp(argument, "--feed") == 0) {
      const char *unit = argv[++i];
      if (std::strcmp(unit, "payloads") == 0) {
        options.Feed = Feed_Unit::Payloads;
      } else if (std::strcmp(unit, "packets") == 0) {
        options.Feed = Feed_Unit::Packets;
      } else {
        *status = Usage_Error(std::string("--feed: not payloads or packets: '") + unit + "'");
        return false;
      }
    } else if (is_option && std::strcmp(argument, "--max-packets") == 0) {
      options.Max_Packets = Whole_Number(argv[++i], UINT64_MAX);
      if (options.Max_Packets == 0) {
        *status =
            Usage_Error(std::string("--max-packets: not a whole number from 1: '") + argv[i] + "'");
        return false;
      }
    } else if (is_option && std::strcmp(argument, "--max-seconds") == 0) {
      options.Max_Seconds = static_cast<int>(Whole_Number(argv[++i], Seconds_Most));
      if (options.Max_Seconds == 0) {
        *status = Usage_Error(std::string("--max-seconds: not a whole number from 1 to ") +
                              std::to_string(Seconds_Most) + ": '" + argv[i] + "'");
        return false;
      }
    } else if (is_option) {
      *status = Usage_Error(std::string("unknown option '") + argument + "'");
      return false;
    } else if (options.Path != nullptr) {
      *status = Usage_Error(std::string("unexpected argument '") + argument + "'");
      return false;
    } else if (argument[0] == 0) {
      *status = Usage_Error("empty file name");
      return false;
    } else {
      options.Path = argument;
    }
  }
  if (options.Follow && options.Explain) {
    *status = Usage_Error("--explain does not go with --follow");
    return false;
  }
  return true;
}

bool Asks_For(int argc, char **argv, const char *short_name, const char *long_name) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if ((short_name != nullptr && std::strcmp(argv[i], short_name) == 0) ||
        std::strcmp(argv[i], long_name) == 0)
      return true;
  return false;
}
