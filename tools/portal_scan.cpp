// portal-scan [--json] [--follow | --explain] [--until-decoded] [--max-packets N]
// [--max-seconds S] [FILE.ts | -]: runs a transport stream capture through the
// plug-in's own decoder and shows what each portal's buttons would hold. One
// read of the input feeds a decoder per portal (see portal_scan_pass.h) and,
// with --explain, a section reassembler gathering each portal's evidence (see
// portal_explain.h); the command line, the input, following a growing file,
// progress, Ctrl+C and the limits, writing the output and the exit status are
// handled here.
#include "stream/section_reassembler.h"
#include "tools/portal_explain.h"
#include "tools/portal_scan_output.h"
#include "tools/portal_scan_pass.h"
#include "tools/tool_version.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr const char *Tool = "portal-scan";
constexpr const char *Standard_Input_Name = "-";
constexpr int Usage_Status = 2;
constexpr int Input_Status = 2;
constexpr int Undecoded_Status = 1;           // --until-decoded: a portal was not decoded
constexpr int Seconds_Most = 7 * 86400;       // --max-seconds: a week
constexpr long Growth_Poll_Ms = 100;          // --follow on a file: how often to look for growth
constexpr uint64_t Progress_Step = 16u << 20; // bytes between progress lines
constexpr int Progress_Line_Width = 60;       // characters a progress line may take

void Print_Usage() {
  std::printf(
      R"(usage: %s [--json] [--follow | --explain] [--until-decoded] [--max-packets N]
                   [--max-seconds S] [FILE.ts | -]
Runs a transport stream capture through the plug-in's own decoder and shows what
each of the %d portals' buttons would hold. One read of the input feeds a decoder
per portal, set up as the plug-in's is when its window shows that portal and the
filter runs; each takes the payload of every PID 0x12 packet until its first decode.

  FILE.ts          the capture: a file, FIFO or device, of 188-, 192- (a time stamp in
                   front, as in .m2ts) or 204-byte packets (parity behind), found from the
                   sync bytes' spacing; '-' for standard input (a pipe), which is also read
                   when no FILE.ts is given and it is no terminal
  --json           JSON instead of text (layout in the README, "format_version" %d)
  --follow         for live streams: read until the input ends or Ctrl+C (SIGINT or
                   SIGTERM), keep reading a regular file as it grows (like tail -f) until
                   Ctrl+C or the file is removed or replaced, re-arm each decoder after its
                   decode as the window's refresh does, and print a portal's list each time
                   it differs from the one printed last for it, then the report
  --explain        also reassemble the PID 0x12 sections the standard way and tell per
                   portal how its source section is on air (copies, versions, CRC failures,
                   at a payload start or packed behind another section, copies flagged with
                   the transport error indicator, the entries of the last sound copy) and
                   why the plug-in shows what it shows: a verdict of shown, shown mended (a
                   stray pointer field taken out), shown as carried (every copy failing the
                   same way), not on air, only packed, damaged or disagree (saying how); not
                   with --follow
  --until-decoded  stop as soon as every portal's list has been decoded; the exit status
                   then tells whether it was (0) or not (1)
  --max-packets N  stop after N packets (all PIDs), N from 1
  --max-seconds S  stop after S seconds, S a whole number from 1 to %d
  -h, --help       print this help and exit
  --version        print the version and exit
  --               end of options: the next argument is the capture

Output: "FILE.ts: N packets", the packet size, the input's health (sync losses, bytes
skipped looking for sync, packets dropped for the transport error indicator,
continuity errors on PID 0x12), then per portal whether its source section was
decoded, its count and its entries (#, name, TS id, service id). Names: the entry's
bytes as ISO-8859-1, written as UTF-8. With --explain, indented under each portal's
entries: the counts, the entries of the last sound copy unless the verdict is shown or
shown mended, and "verdict: " with the verdict's line. With --json one object (one line after
--follow's lines). With --follow, first per change: "Portal P  NAME: source section
decoded at offset N, count C" and the entries, N being the input offset of the packet
that completed the section; with --json one object per line.
Ctrl+C (or SIGTERM), --until-decoded, --max-packets and --max-seconds end the input
where it stands: the report shows the lists as they are then.
On stderr: a progress line when it is a terminal (not with --follow); a note when
the input ends inside a packet (it is read up to its last whole packet).
Exit status: 0 after a scan; with --until-decoded 0 if every portal was decoded and 1
if not; 2 with one line on stderr for bad usage, an input that cannot be read or is
not a transport stream (no 0x47 sync bytes 188, 192 or 204 bytes apart), or output
that cannot be written.
)",
      Tool, Portal_Total, Json_Format_Version, Seconds_Most);
}

int Usage_Error(const std::string &what) {
  std::fprintf(stderr, "%s: %s (see --help)\n", Tool, what.c_str());
  return Usage_Status;
}

int Fail(const char *name, const char *why) {
  std::fprintf(stderr, "%s: %s: %s\n", Tool, name, why);
  return Input_Status;
}

struct Options {
  bool Json = false;
  bool Follow = false;
  bool Explain = false;
  bool Until_Decoded = false;
  uint64_t Max_Packets = 0;   // 0: no limit
  int Max_Seconds = 0;        // 0: no limit
  const char *Path = nullptr; // nullptr: none named
};

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

// Parses the arguments into `options`; false after printing a usage error,
// whose status goes to *status.
bool Parse_Options(int argc, char **argv, Options &options, int *status) {
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const char *argument = argv[i];
    const bool is_option = !options_ended && argument[0] == '-' && argument[1] != 0;
    const bool takes_value = is_option && (std::strcmp(argument, "--max-packets") == 0 ||
                                           std::strcmp(argument, "--max-seconds") == 0);
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

// Whether an argument before "--" is `short_name` or `long_name`.
bool Asks_For(int argc, char **argv, const char *short_name, const char *long_name) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if ((short_name != nullptr && std::strcmp(argv[i], short_name) == 0) ||
        std::strcmp(argv[i], long_name) == 0)
      return true;
  return false;
}

// ---- progress on a terminal -------------------------------------------------

struct Scan_Progress {
  bool Shown = false;
  bool Size_Known = false;
  uint64_t Size = 0;
};

// Ts_Reader's progress callback: a line every 16 MiB. A file of known size
// gets the line's usual form, "portal 0: X of Y MiB", though the one pass
// serves every portal.
void Report_Progress(Ts_Reader &reader, void *context) {
  const Scan_Progress &progress = *static_cast<const Scan_Progress *>(context);
  const uint64_t offset = reader.Offset;
  reader.Progress_At = offset + Progress_Step;
  if (progress.Size_Known)
    std::fprintf(stderr, "\r%s: portal 0: %llu of %llu MiB ", Tool,
                 static_cast<unsigned long long>(offset >> 20),
                 static_cast<unsigned long long>(progress.Size >> 20));
  else
    std::fprintf(stderr, "\r%s: %llu MiB read ", Tool,
                 static_cast<unsigned long long>(offset >> 20));
  std::fflush(stderr);
}

void Clear_Progress(const Scan_Progress &progress) {
  if (progress.Shown)
    std::fprintf(stderr, "\r%*s\r", Progress_Line_Width, "");
}

// ---- signals ------------------------------------------------------------------

// The reader maps a regular file rather than copying it; should the file
// shrink while it is read, touching the lost bytes raises SIGBUS. That ends
// the scan with one line, as a read error would.
void On_Lost_Bytes(int) {
  static const char message[] = "portal-scan: the capture shrank while it was read\n";
  const ssize_t written = write(2, message, sizeof message - 1);
  (void)written;
  _exit(2);
}

void Catch_Lost_Bytes() {
  struct sigaction action {};
  action.sa_handler = On_Lost_Bytes;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}

// SIGINT and SIGTERM stay blocked except while the reader waits for input
// or for a followed file to grow, so a record is never cut short; arriving
// there they end the input, and the report shows what was read.
volatile std::sig_atomic_t Stop_Requested = 0;
sigset_t Waiting_Mask; // the signal mask while waiting

void On_Stop_Signal(int) {
  Stop_Requested = 1;
}

// The limits on reading, and the followed file.
struct Reading_Limits {
  bool Has_Deadline = false;
  timespec Deadline{};                 // CLOCK_MONOTONIC
  const char *Followed_Path = nullptr; // a regular file followed by name
  struct stat Followed {};             // what it was when opened
};
Reading_Limits Limits;

// Time left before the deadline, at most `most` milliseconds (negative:
// none); false once the deadline has passed.
bool Time_Left(long most, timespec *left) {
  left->tv_sec = most / 1000;
  left->tv_nsec = most % 1000 * 1000000;
  if (!Limits.Has_Deadline)
    return true;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long to_go = (Limits.Deadline.tv_sec - now.tv_sec) * 1000000000LL +
                          (Limits.Deadline.tv_nsec - now.tv_nsec);
  if (to_go <= 0)
    return false;
  if (most < 0 || to_go < most * 1000000LL) {
    left->tv_sec = static_cast<time_t>(to_go / 1000000000LL);
    left->tv_nsec = static_cast<long>(to_go % 1000000000LL);
  }
  return true;
}

// Ts_Reader's Before_Read callback: waits until the descriptor has data, an
// end or an error for read() to report; false once a stop was asked for or
// the deadline has passed.
bool Wait_For_Input(int descriptor, void *) {
  pollfd wait{descriptor, POLLIN, 0};
  timespec left{};
  while (!Stop_Requested && Time_Left(-1, &left)) {
    const int ready = ppoll(&wait, 1, Limits.Has_Deadline ? &left : nullptr, &Waiting_Mask);
    // A signal that came with the data or the end stays pending (ppoll
    // delivers it only when it returns for it); it comes first.
    sigset_t pending;
    if (sigpending(&pending) == 0 &&
        (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1))
      Stop_Requested = 1;
    if (Stop_Requested)
      break;
    if (ready > 0 || (ready < 0 && errno != EINTR))
      return true;
  }
  return false;
}

// Ts_Reader's At_End_Wait callback for a followed regular file: waits a
// moment for it to grow; false once a stop was asked for, the deadline has
// passed, or the file was removed or another put in its place.
bool Wait_For_Growth(int descriptor, void *) {
  struct stat now {};
  if (fstat(descriptor, &now) != 0 || now.st_nlink == 0)
    return false;
  if (Limits.Followed_Path != nullptr &&
      (stat(Limits.Followed_Path, &now) != 0 || now.st_dev != Limits.Followed.st_dev ||
       now.st_ino != Limits.Followed.st_ino))
    return false;
  timespec left{};
  if (Stop_Requested || !Time_Left(Growth_Poll_Ms, &left))
    return false;
  ppoll(nullptr, 0, &left, &Waiting_Mask);
  return !Stop_Requested;
}

void Catch_Stop_Signals(Ts_Reader &reader) {
  sigset_t stop;
  sigemptyset(&stop);
  for (int signal_number : {SIGINT, SIGTERM}) {
    struct sigaction previous {};
    sigaction(signal_number, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN)
      continue; // ignored by whoever started us (a background job): keep it so
    struct sigaction action {};
    action.sa_handler = On_Stop_Signal;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    sigaddset(&stop, signal_number);
  }
  sigprocmask(SIG_BLOCK, &stop, &Waiting_Mask);
  sigdelset(&Waiting_Mask, SIGINT);
  sigdelset(&Waiting_Mask, SIGTERM);
  reader.Before_Read = Wait_For_Input;
}

// ---- output ---------------------------------------------------------------------

int Output_Errno = 0; // the first failed write to stdout, 0 if none

// Writes `text` to stdout and flushes it; a failure is kept in Output_Errno
// and ends the input as a stop would.
void Write_Out(const std::string &text) {
  if (Output_Errno != 0)
    return;
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    Output_Errno = errno != 0 ? errno : EIO;
    Stop_Requested = 1;
  }
}

// ---- follow mode ----------------------------------------------------------------

struct Follow_Printer {
  bool Json = false;
  bool Printed_Any = false;
  bool Printed[Portal_Total] = {};
  Portal_Listing Last[Portal_Total];
};

void Print_If_Changed(int portal, uint64_t offset, const Portal_Listing &listing, void *context) {
  Follow_Printer &printer = *static_cast<Follow_Printer *>(context);
  if (printer.Printed[portal] && Same_Listing(printer.Last[portal], listing))
    return;
  Write_Out(printer.Json ? Json_Change(portal, offset, listing)
                         : Text_Change(portal, offset, listing, !printer.Printed_Any));
  printer.Printed[portal] = true;
  printer.Printed_Any = true;
  printer.Last[portal] = listing;
}

// ---- explain --------------------------------------------------------------------

struct Evidence_Gathering {
  Section_Reassembler Reassembler;
  Capture_Evidence Evidence;
};

// The pass's payload consumer: every sound PID 0x12 payload to the
// reassembler, the flagged ones to the explanation's count.
void Gather_Evidence(const uint8_t *payload, int32_t size, bool unit_start, bool flagged,
                     int32_t continuity, uint64_t packet_offset, void *context) {
  Evidence_Gathering &gathering = *static_cast<Evidence_Gathering *>(context);
  if (flagged)
    Explain_Take_Flagged(payload, size, unit_start, gathering.Evidence);
  else
    Reassemble_Payload(gathering.Reassembler, payload, size, unit_start, continuity, packet_offset);
}

// Why the input is no transport stream, for the one line on stderr.
std::string Not_Transport_Stream_Reason(uint64_t bytes_seen, int32_t other_spacing) {
  if (bytes_seen == 0)
    return "not a transport stream (no data)";
  if (other_spacing > 0)
    return "not a transport stream of 188-, 192- or 204-byte packets: its 0x47 sync bytes "
           "are " +
           std::to_string(other_spacing) + " bytes apart";
  return "not a transport stream (no 0x47 sync bytes 188, 192 or 204 bytes apart)";
}

} // namespace

int main(int argc, char **argv) {
  if (Asks_For(argc, argv, "-h", "--help")) {
    Print_Usage();
    return std::fflush(stdout) == 0 ? 0 : Fail("standard output", std::strerror(errno));
  }
  if (Asks_For(argc, argv, nullptr, "--version"))
    return Print_Version(Tool) ? 0 : Fail("standard output", std::strerror(errno));
  Options options;
  int status = 0;
  if (!Parse_Options(argc, argv, options, &status))
    return status;
  Catch_Lost_Bytes();
  const bool from_standard_input =
      options.Path == nullptr || std::strcmp(options.Path, Standard_Input_Name) == 0;
  if (options.Path == nullptr && isatty(0))
    return Usage_Error("no capture named, and standard input is a terminal");
  const char *name = from_standard_input ? Standard_Input_Name : options.Path;

  Ts_Reader reader;
  if (from_standard_input)
    Open_Ts_Descriptor(reader, 0);
  else if (!Open_Ts_File(reader, options.Path))
    return Fail(name, std::strerror(errno));

  Scan_Progress progress;
  progress.Shown = isatty(2) != 0 && !options.Follow;
  struct stat input {};
  const bool regular = fstat(reader.Descriptor, &input) == 0 && S_ISREG(input.st_mode);
  if (regular) {
    progress.Size_Known = true;
    progress.Size = static_cast<uint64_t>(input.st_size);
  }
  if (progress.Shown) {
    reader.Progress = Report_Progress;
    reader.Progress_Context = &progress;
    reader.Progress_At = 0;
  }
  Catch_Stop_Signals(reader);
  if (options.Follow && regular) {
    reader.At_End_Wait = Wait_For_Growth;
    Limits.Followed = input;
    Limits.Followed_Path = from_standard_input ? nullptr : options.Path;
  }
  if (options.Max_Seconds > 0) {
    clock_gettime(CLOCK_MONOTONIC, &Limits.Deadline);
    Limits.Deadline.tv_sec += options.Max_Seconds;
    Limits.Has_Deadline = true;
  }
  if (options.Max_Packets > 0)
    reader.Packet_Limit = options.Max_Packets;

  Follow_Printer printer;
  printer.Json = options.Json;
  Scan_Setup setup;
  setup.Stop_When_Decoded = options.Until_Decoded;
  if (options.Follow) {
    setup.Follow = true;
    setup.On_Decode = Print_If_Changed;
    setup.Decode_Context = &printer;
  }
  static Evidence_Gathering gathering; // its buffers: kept off the stack
  if (options.Explain) {
    Explain_Attach(gathering.Reassembler, gathering.Evidence);
    setup.Consumer = Gather_Evidence;
    setup.Consumer_Context = &gathering;
  }

  const Scan_Outcome outcome = Scan_Capture(reader, setup);
  const int read_errno = errno;
  Clear_Progress(progress);
  Scan_Report report;
  report.Name = name;
  report.Packets = reader.Packets;
  report.Stopped = reader.Stopped;
  report.Health.Packet_Size = reader.Packet_Size;
  report.Health.Sync_Losses = reader.Sync_Losses;
  report.Health.Skipped_Bytes = reader.Skipped_Bytes;
  report.Health.Flagged_Packets = reader.Error_Packets;
  report.Health.Continuity_Errors = reader.Continuity_Errors;
  report.Portals = outcome.Portals;
  const uint64_t tail_bytes = reader.Tail_Bytes;
  const uint64_t bytes_seen = reader.Offset + (reader.End - reader.Start);
  const int32_t other_spacing = reader.Other_Spacing;
  Close_Ts_Reader(reader);
  if (Output_Errno != 0)
    return Fail("standard output", std::strerror(Output_Errno));
  if (outcome.Status == Ts_Read_Result::Read_Error)
    return Fail(name, std::strerror(read_errno));
  if (outcome.Status == Ts_Read_Result::Not_Transport_Stream)
    return Fail(name, Not_Transport_Stream_Reason(bytes_seen, other_spacing).c_str());
  if (tail_bytes > 0)
    std::fprintf(stderr,
                 "%s: %s: ends inside a packet: read up to its last whole packet, the %llu "
                 "bytes after it left out\n",
                 Tool, name, static_cast<unsigned long long>(tail_bytes));

  std::array<Portal_Verdict, Portal_Total> verdicts;
  if (options.Explain) {
    for (std::size_t portal = 0; portal < verdicts.size(); ++portal)
      verdicts[portal] =
          Portal_Explain(gathering.Evidence.Portals[portal], outcome.Portals[portal]);
    report.Evidence = &gathering.Evidence;
    report.Verdicts = &verdicts;
  }
  if (options.Json)
    Write_Out(Json_Report(report, options.Follow));
  else
    Write_Out((printer.Printed_Any ? "\n" : "") + Text_Report(report));
  if (Output_Errno != 0 || std::fclose(stdout) != 0)
    return Fail("standard output", std::strerror(Output_Errno != 0 ? Output_Errno : errno));
  bool all_decoded = true;
  for (const Portal_Result &result : outcome.Portals)
    all_decoded = all_decoded && result.Decoded;
  return options.Until_Decoded && !all_decoded ? Undecoded_Status : 0;
}
