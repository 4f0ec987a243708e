// portal-scan's report: stdout, follow mode's changes, the evidence and the
// report at the end.
#include "tools/portal_scan_report.h"

#include "core/dvb_layout.h"
#include "tools/portal_scan_output.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int Output_Errno = 0; // the first failed write to stdout, 0 if none

// The pass tells where the decode came (the packet that brought the decoder
// enough bytes behind the section); the reassembler where the section ended,
// if it saw that copy whole since the last decode.
void Print_If_Changed(int portal, uint64_t decode_offset, const Portal_Listing &listing,
                      void *context) {
  Follow_Printer &printer = *static_cast<Follow_Printer *>(context);
  const Evidence_Gathering &gathering = *printer.Gathering;
  const uint64_t since = printer.Last_Decode_At[portal];
  printer.Last_Decode_At[portal] = decode_offset;
  const uint64_t offset = gathering.Completed[portal] && gathering.Completed_At[portal] >= since &&
                                  gathering.Completed_At[portal] <= decode_offset
                              ? gathering.Completed_At[portal]
                              : decode_offset;
  if (printer.Printed[portal] && Same_Listing(printer.Last[portal], listing))
    return;
  Write_Out(printer.Json
                ? Json_Change(portal, offset, printer.Capture, listing)
                : Text_Change(portal, offset, printer.Capture, listing, !printer.Printed_Any));
  printer.Printed[portal] = true;
  printer.Printed_Any = true;
  printer.Last[portal] = listing;
}

// The pass's payload consumer: every sound PID 0x12 payload to the survey
// and the reassembler, the flagged ones to the explanation's count.
void Gather_Evidence(const uint8_t *payload, int32_t size, bool unit_start, bool flagged,
                     int32_t continuity, uint64_t packet_offset, void *context) {
  Evidence_Gathering &gathering = *static_cast<Evidence_Gathering *>(context);
  if (flagged) {
    ++gathering.Flagged_Payloads;
    if (gathering.Explain)
      Explain_Take_Flagged(payload, size, unit_start, gathering.Evidence);
    return;
  }
  Survey_Payload(gathering.Survey, size);
  gathering.Packet_Offset = packet_offset;
  Reassemble_Payload(gathering.Reassembler, payload, size, unit_start, continuity, packet_offset);
}

// The reassembler's sections: each to the survey and, with --explain, to the
// evidence.
void Take_Section(const Reassembled_Section &section, void *context) {
  Evidence_Gathering &gathering = *static_cast<Evidence_Gathering *>(context);
  Survey_Section(gathering.Survey, section);
  const int32_t portal = Explain_Source_Portal(section);
  if (portal >= 0) {
    gathering.Completed[portal] = true;
    gathering.Completed_At[portal] = gathering.Packet_Offset;
  }
  if (gathering.Explain)
    Explain_Take_Section(section, &gathering.Evidence);
}

// A sync needs this many packets in a row unless the data begins with one
// (see stream/ts_reader.h).
constexpr uint64_t Sync_Bytes_Least = Ts_Sync_Confirm_Packets * Ts_Packet_Size;

// Why the input is no transport stream, for the one line on stderr.
std::string Not_Transport_Stream_Reason(const Scan_Options &options, uint64_t bytes_seen,
                                        int32_t other_spacing, bool gave_up) {
  if (bytes_seen == 0 && Deadline_Reached())
    return "no data arrived within " + std::to_string(options.Max_Seconds) +
           (options.Max_Seconds == 1 ? " second" : " seconds");
  if (bytes_seen == 0 && Stop_Was_Requested())
    return "no data arrived before the scan was stopped";
  if (bytes_seen == 0)
    return "not a transport stream (no data)";
  if (bytes_seen < static_cast<uint64_t>(Ts_Packet_Size))
    return "too short for a transport stream: " + std::to_string(bytes_seen) +
           " bytes, less than one " + std::to_string(Ts_Packet_Size) + "-byte packet";
  if (bytes_seen < Sync_Bytes_Least && other_spacing == 0)
    return "no packet found in its " + std::to_string(bytes_seen) + " bytes: a sync needs " +
           std::to_string(Ts_Sync_Confirm_Packets) +
           " packets in a row unless the data begins with one";
  if (other_spacing > 0)
    return "not a transport stream of 188-, 192- or 204-byte packets: its 0x47 sync bytes "
           "are " +
           std::to_string(other_spacing) + " bytes apart";
  if (gave_up)
    return "not a transport stream: no sync found in its first " +
           std::to_string(Sync_Search_Bytes >> 20) +
           " MiB (no 0x47 sync bytes 188, 192 or 204 bytes apart), so the scan gave up";
  return "not a transport stream (no 0x47 sync bytes 188, 192 or 204 bytes apart)";
}

} // namespace

void Write_Out(const std::string &text) {
  if (Output_Errno != 0)
    return;
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    Output_Errno = errno != 0 ? errno : EIO;
    Request_Stop();
  }
}

void Attach_Report(const Scan_Options &options, Scan_Setup &setup, Follow_Printer &printer,
                   Evidence_Gathering &gathering) {
  printer.Json = options.Json;
  printer.Gathering = &gathering;
  setup.Feed = options.Feed;
  setup.Stop_When_Decoded = options.Until_Decoded;
  if (options.Follow) {
    setup.Follow = true;
    setup.On_Decode = Print_If_Changed;
    setup.Decode_Context = &printer;
  }
  gathering.Explain = options.Explain;
  if (options.Explain)
    Explain_Observe(setup, gathering.Evidence);
  gathering.Reassembler.Deliver = Take_Section;
  gathering.Reassembler.Context = &gathering;
  setup.Consumer = Gather_Evidence;
  setup.Consumer_Context = &gathering;
}

namespace {

// The capture's report on stdout, after what went wrong or was left out on
// stderr; closes the reader. Returns 0, or the status to end in.
int Write_Capture_Report(const Scan_Options &options, const Scan_Input &input, Ts_Reader &reader,
                         const Scan_Outcome &outcome, int read_errno, const Follow_Printer &printer,
                         Evidence_Gathering &gathering) {
  const char *name = input.Name;
  Scan_Report report;
  report.Name = name;
  report.Capture = input.Capture;
  report.Packets = reader.Packets;
  // Ended by Ctrl+C or the deadline (which a followed file's wait for more
  // does not tell the reader) or by a limit, with input left behind.
  report.Stopped =
      Stop_Was_Requested() || Deadline_Reached() ? Ts_Input_Left(reader) : reader.Stopped;
  report.Health.Packet_Size = reader.Packet_Size;
  report.Health.Sync_Losses = reader.Sync_Losses;
  report.Health.Skipped_Bytes = reader.Skipped_Bytes;
  report.Health.Flagged_Packets = reader.Error_Packets;
  report.Health.Continuity_Errors = reader.Continuity_Errors;
  report.Time.Pcr_Pid = reader.Pcr_Pid;
  report.Time.Pcr_Count = reader.Pcr_Count;
  report.Time.Pcr_Steps = reader.Pcr_Steps;
  report.Time.Pcr_Seconds =
      static_cast<double>(reader.Pcr_Ticks) / static_cast<double>(Pcr_Ticks_Per_Second);
  report.Time.Utc_Seen = reader.Utc_Seen;
  report.Time.Utc_First = reader.Utc_First;
  report.Time.Utc_Last = reader.Utc_Last;
  const uint64_t bytes_read = reader.Offset;
  report.Portals = outcome.Portals;
  report.Survey = &gathering.Survey;
  report.Flagged_Eit_Packets = gathering.Flagged_Payloads;
  const uint64_t tail_bytes = report.Stopped ? 0 : reader.Tail_Bytes;
  report.Health.Cut_Packet_Bytes = tail_bytes;
  const uint64_t trailing_junk = reader.At_End && !report.Stopped ? reader.Trailing_Junk : 0;
  const uint64_t bytes_seen = reader.Offset + (reader.End - reader.Start);
  const int32_t other_spacing = reader.Other_Spacing;
  const bool gave_up = reader.Gave_Up;
  const bool shrank = reader.Source_Shrank && !options.Follow;
  Close_Ts_Reader(reader);
  if (Output_Errno != 0)
    return Fail("standard output", std::strerror(Output_Errno));
  if (outcome.Status == Ts_Read_Result::Read_Error)
    return Fail(name, std::strerror(read_errno));
  if (shrank)
    return Fail(name, "the capture shrank while it was read");
  if (outcome.Status == Ts_Read_Result::Not_Transport_Stream)
    return Fail(name,
                Not_Transport_Stream_Reason(options, bytes_seen, other_spacing, gave_up).c_str());
  if (tail_bytes > 0)
    std::fprintf(stderr,
                 "%s: %s: ends inside a packet: read up to its last whole packet, the %llu "
                 "bytes after it left out\n",
                 Scan_Tool, name, static_cast<unsigned long long>(tail_bytes));
  if (trailing_junk > 0)
    std::fprintf(stderr,
                 "%s: %s: the last %llu bytes after the last packet hold no packet: skipped\n",
                 Scan_Tool, name, static_cast<unsigned long long>(trailing_junk));

  std::array<Portal_Verdict, Portal_Total> verdicts;
  // The time between a portal's copies from their distance in the input, at
  // the capture's own pace.
  const double seconds = report.Time.Pcr_Pid >= 0 && report.Time.Pcr_Seconds > 0
                             ? report.Time.Pcr_Seconds
                             : static_cast<double>(report.Time.Utc_Last - report.Time.Utc_First);
  for (Portal_Evidence &evidence : gathering.Evidence.Portals)
    if (evidence.Repetitions >= 2 && seconds > 0 && bytes_read > 0)
      evidence.Repeat_Seconds = static_cast<double>(evidence.Last_At - evidence.First_At) /
                                (evidence.Repetitions - 1) * seconds /
                                static_cast<double>(bytes_read);
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
  return Output_Errno != 0 ? Fail("standard output", std::strerror(Output_Errno)) : 0;
}

} // namespace

int Finish_Report(const Scan_Options &options, const Scan_Input &input, Ts_Reader &reader,
                  const Scan_Outcome &outcome, int read_errno, Followed_Change change,
                  const Follow_Printer &printer, Evidence_Gathering &gathering) {
  const int status =
      Write_Capture_Report(options, input, reader, outcome, read_errno, printer, gathering);
  if (status != 0)
    return status;
  if (std::fclose(stdout) != 0)
    return Fail("standard output", std::strerror(errno));
  if (change == Followed_Change::Removed) {
    std::fprintf(stderr, "%s: %s: removed while it was followed: the scan ends there\n", Scan_Tool,
                 input.Name);
    return Input_Gone_Status;
  }
  bool all_decoded = true;
  for (const Portal_Result &result : outcome.Portals)
    all_decoded = all_decoded && result.Decoded;
  return options.Until_Decoded && !all_decoded ? Undecoded_Status : 0;
}

int Report_Capture_Then_Next(const Scan_Options &options, const Scan_Input &input,
                             Ts_Reader &reader, const Scan_Outcome &outcome, int read_errno,
                             Scan_Setup &setup, Follow_Printer &printer,
                             Evidence_Gathering &gathering) {
  if (outcome.Status == Ts_Read_Result::Not_Transport_Stream) {
    Close_Ts_Reader(reader); // no packet yet: nothing to report
  } else {
    const int status =
        Write_Capture_Report(options, input, reader, outcome, read_errno, printer, gathering);
    if (status != 0)
      return status;
  }
  const bool printed_any =
      printer.Printed_Any || outcome.Status != Ts_Read_Result::Not_Transport_Stream;
  printer = Follow_Printer{};
  printer.Printed_Any = printed_any;
  printer.Capture = input.Capture + 1;
  gathering = Evidence_Gathering{};
  Attach_Report(options, setup, printer, gathering);
  return 0;
}
