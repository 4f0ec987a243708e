// portal-scan [--json] [--follow | --explain] [FILE.ts | -]: runs a transport
// stream capture through the plug-in's own decoder and shows what each
// portal's buttons would hold. One read of the input feeds a decoder per
// portal (see portal_scan_pass.h) and, with --explain, a section reassembler
// gathering each portal's evidence (see portal_explain.h); the command line,
// the input, progress, Ctrl+C in follow mode and the exit status are handled
// here.
#include "stream/section_reassembler.h"
#include "tools/portal_explain.h"
#include "tools/portal_scan_output.h"
#include "tools/portal_scan_pass.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char *Tool = "portal-scan";
constexpr const char *Standard_Input_Name = "-";
constexpr int Usage_Status = 2;
constexpr int Input_Status = 2;
constexpr uint64_t Progress_Step = 16u << 20; // bytes between progress lines
constexpr int Progress_Line_Width = 60;       // characters a progress line may take

void Print_Usage() {
  std::printf(
      R"(usage: %s [--json] [--follow | --explain] [FILE.ts | -]
Runs a transport stream capture through the plug-in's own decoder and shows what
each of the %d portals' buttons would hold. One read of the input feeds a decoder
per portal, set up as the plug-in's is when its window shows that portal and the
filter runs; each takes the payload of every PID 0x12 packet until its first decode.

  FILE.ts     the capture: a file, FIFO or device; '-' for standard input (a pipe),
              which is also read when no FILE.ts is given and it is no terminal
  --json      JSON instead of text
  --follow    for live streams: read until the input ends or SIGINT/SIGTERM (Ctrl+C,
              exit 0), re-arm each decoder after its decode as the window's refresh
              does, and print a portal's list each time it differs from the one
              printed last for it (no report at the end)
  --explain   also reassemble the PID 0x12 sections the standard way and tell per
              portal how its source section is on air (copies, versions, CRC failures,
              at a payload start or packed behind another section, the entries of the
              last sound copy) and why the plug-in shows what it shows: a verdict of
              shown, not on air, only packed, damaged or disagree (saying how); not
              with --follow
  -h, --help  print this help and exit
  --          end of options: the next argument is the capture

Output: "FILE.ts: N packets" (188-byte packets found, all PIDs), then per portal
whether its source section was decoded, its count and its entries (#, name, TS id,
service id). Names: the entry's bytes as ISO-8859-1, written as UTF-8. With
--explain, indented under each portal's entries: the counts, the entries of the
last sound copy unless the verdict is shown, and "verdict: " with the verdict's line.
With --json one object:
  {"file", "packets", "portals": [{"portal", "name", "decoded", "count", "entries":
  [%d x {"name", "descriptor_length", "transport_stream_id", "service_id"}]}]}
  "file" is "-" for standard input; its bytes that are not UTF-8 become U+FFFD.
  With --explain each portal object also has "explain": {"repetitions", "versions",
  "crc_failures", "at_payload_start", "packed", "entries": [{"name",
  "transport_stream_id", "service_id"}], "verdict", "says"}: "verdict" is "shown",
  "not_on_air", "only_packed", "damaged" or "disagree", "says" the verdict's line.
With --follow, per change: "Portal P  NAME: source section decoded at offset N,
count C" and the entries, N being the input offset of the packet that completed
the section; with --json too, one line per change:
  {"offset", "portal", "name", "count", "entries"}
On stderr: a progress line when it is a terminal (not with --follow); a note when
the input ends inside a packet (it is read up to its last whole packet).
A regular file is read up to the end it has when reached; to follow a growing one:
  tail -c +1 -f FILE.ts | %s --follow -
Exit status: 0 after a scan (with --follow also after Ctrl+C); 2 with one line on
stderr for bad usage, or an input that cannot be read or is not a transport stream
(no 0x47 sync at 188-byte spacing).
)",
      Tool, Portal_Total, Portal_Entry_Total, Tool);
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
  const char *Path = nullptr; // nullptr: none named
};

// Parses the arguments into `options`; false after printing a usage error,
// whose status goes to *status.
bool Parse_Options(int argc, char **argv, Options &options, int *status) {
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const char *argument = argv[i];
    const bool is_option = !options_ended && argument[0] == '-' && argument[1] != 0;
    if (is_option && std::strcmp(argument, "--") == 0) {
      options_ended = true;
    } else if (is_option && std::strcmp(argument, "--json") == 0) {
      options.Json = true;
    } else if (is_option && std::strcmp(argument, "--follow") == 0) {
      options.Follow = true;
    } else if (is_option && std::strcmp(argument, "--explain") == 0) {
      options.Explain = true;
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

bool Asks_For_Help(int argc, char **argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
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

// Follow mode: SIGINT and SIGTERM stay blocked except while the reader waits
// for input, so a record is never cut short; arriving there they end the
// input.
volatile std::sig_atomic_t Stop_Requested = 0;
sigset_t Waiting_Mask; // the signal mask while waiting for input

void On_Stop_Signal(int) {
  Stop_Requested = 1;
}

// Ts_Reader's Before_Read callback: waits until the descriptor has data, an
// end or an error for read() to report; false once a stop was asked for.
bool Wait_For_Input(int descriptor, void *) {
  pollfd wait{descriptor, POLLIN, 0};
  while (!Stop_Requested)
    if (ppoll(&wait, 1, nullptr, &Waiting_Mask) >= 0 || errno != EINTR)
      return true;
  return false;
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
  if (printer.Json)
    Print_Change_Json(portal, offset, listing);
  else
    Print_Change_Text(portal, offset, listing, !printer.Printed_Any);
  std::fflush(stdout);
  printer.Printed[portal] = true;
  printer.Printed_Any = true;
  printer.Last[portal] = listing;
}

// ---- explain --------------------------------------------------------------------

// The pass's payload consumer: every PID 0x12 payload to the reassembler.
void Reassemble(const uint8_t *payload, int32_t size, bool unit_start, int32_t continuity,
                uint64_t packet_offset, void *context) {
  Reassemble_Payload(*static_cast<Section_Reassembler *>(context), payload, size, unit_start,
                     continuity, packet_offset);
}

} // namespace

int main(int argc, char **argv) {
  if (Asks_For_Help(argc, argv)) {
    Print_Usage();
    return 0;
  }
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
  if (fstat(reader.Descriptor, &input) == 0 && S_ISREG(input.st_mode)) {
    progress.Size_Known = true;
    progress.Size = static_cast<uint64_t>(input.st_size);
  }
  if (progress.Shown) {
    reader.Progress = Report_Progress;
    reader.Progress_Context = &progress;
    reader.Progress_At = 0;
  }
  Follow_Printer printer;
  printer.Json = options.Json;
  Scan_Setup setup;
  if (options.Follow) {
    Catch_Stop_Signals(reader);
    setup.Follow = true;
    setup.On_Decode = Print_If_Changed;
    setup.Decode_Context = &printer;
  }
  static Section_Reassembler reassembler; // its buffers: kept off the stack
  static Capture_Evidence evidence;
  if (options.Explain) {
    Explain_Attach(reassembler, evidence);
    setup.Consumer = Reassemble;
    setup.Consumer_Context = &reassembler;
  }

  const Scan_Outcome outcome = Scan_Capture(reader, setup);
  const int read_errno = errno;
  Clear_Progress(progress);
  const uint64_t packets = reader.Packets;
  const uint64_t tail_bytes = reader.Tail_Bytes;
  const bool stopped = reader.Stopped;
  Close_Ts_Reader(reader);
  if (stopped)
    return 0;
  if (outcome.Status == Ts_Read_Result::Read_Error)
    return Fail(name, std::strerror(read_errno));
  if (outcome.Status == Ts_Read_Result::Not_Transport_Stream)
    return Fail(name, "not a transport stream (no 0x47 sync at 188-byte spacing)");
  if (tail_bytes > 0)
    std::fprintf(stderr,
                 "%s: %s: ends inside a packet: read up to its last whole packet, the %llu "
                 "bytes after it left out\n",
                 Tool, name, static_cast<unsigned long long>(tail_bytes));
  if (options.Follow)
    return 0;
  Scan_Report report;
  report.Name = name;
  report.Packets = packets;
  report.Portals = outcome.Portals;
  std::array<Portal_Verdict, Portal_Total> verdicts;
  if (options.Explain) {
    for (std::size_t portal = 0; portal < verdicts.size(); ++portal)
      verdicts[portal] = Portal_Explain(evidence.Portals[portal], outcome.Portals[portal]);
    report.Evidence = &evidence;
    report.Verdicts = &verdicts;
  }
  if (options.Json)
    Print_Json(report);
  else
    Print_Text(report);
  return 0;
}
