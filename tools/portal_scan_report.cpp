// portal-scan's report: stdout, follow mode's changes, the evidence and the
// report at the end.
#include "tools/portal_scan_report.h"

#include "tools/portal_scan_output.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int Output_Errno = 0; // the first failed write to stdout, 0 if none

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

// The pass's payload consumer: every sound PID 0x12 payload to the survey
// and the reassembler, the flagged ones to the explanation's count.
void Gather_Evidence(const uint8_t *payload, int32_t size, bool unit_start, bool flagged,
                     int32_t continuity, uint64_t packet_offset, void *context) {
  Evidence_Gathering &gathering = *static_cast<Evidence_Gathering *>(context);
  if (flagged) {
    if (gathering.Explain)
      Explain_Take_Flagged(payload, size, unit_start, gathering.Evidence);
    return;
  }
  Survey_Payload(gathering.Survey, size);
  Reassemble_Payload(gathering.Reassembler, payload, size, unit_start, continuity, packet_offset);
}

// The reassembler's sections: each to the survey and, with --explain, to the
// evidence.
void Take_Section(const Reassembled_Section &section, void *context) {
  Evidence_Gathering &gathering = *static_cast<Evidence_Gathering *>(context);
  Survey_Section(gathering.Survey, section);
  if (gathering.Explain)
    Explain_Take_Section(section, &gathering.Evidence);
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
  setup.Feed = options.Feed;
  setup.Stop_When_Decoded = options.Until_Decoded;
  if (options.Follow) {
    setup.Follow = true;
    setup.On_Decode = Print_If_Changed;
    setup.Decode_Context = &printer;
  }
  gathering.Explain = options.Explain;
  gathering.Reassembler.Deliver = Take_Section;
  gathering.Reassembler.Context = &gathering;
  setup.Consumer = Gather_Evidence;
  setup.Consumer_Context = &gathering;
}

int Finish_Report(const Scan_Options &options, const Scan_Input &input, Ts_Reader &reader,
                  const Scan_Outcome &outcome, int read_errno, const Follow_Printer &printer,
                  const Evidence_Gathering &gathering) {
  const char *name = input.Name;
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
  report.Survey = &gathering.Survey;
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
                 Scan_Tool, name, static_cast<unsigned long long>(tail_bytes));

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
