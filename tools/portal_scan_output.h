// portal-scan's output: the report after a scan and, in follow mode, a
// record per change, each as text or JSON; with --explain the evidence and
// verdict of each portal too. Entry names are the entry's bytes up to the NUL
// read as ISO-8859-1 and written as UTF-8 (in text, control characters as
// '?'). Everything goes to stdout; nothing here decides anything.
#pragma once

#include "tools/eit_survey.h"
#include "tools/portal_explain.h"
#include "tools/portal_listing.h"

#include <array>
#include <cstdint>
#include <string>

// The JSON layout's version, its "format_version" member: raised whenever a
// member changes meaning or goes.
constexpr int Json_Format_Version = 2;

// What the input was like: the packet size found and the damage seen.
struct Input_Health {
  int32_t Packet_Size = 0;        // 188, 192 or 204
  uint64_t Sync_Losses = 0;       // times sync was lost and searched for again
  uint64_t Skipped_Bytes = 0;     // bytes passed over looking for sync
  uint64_t Flagged_Packets = 0;   // packets dropped for the transport error indicator
  uint64_t Continuity_Errors = 0; // on PID 0x12
  uint64_t Cut_Packet_Bytes = 0;  // at the end: the bytes of a packet cut short, left out
};

// The capture's time span, where a clock in it gives one.
struct Capture_Time {
  int32_t Pcr_Pid = -1;   // -1: no PCR seen
  uint64_t Pcr_Count = 0; // PCRs on it
  uint64_t Pcr_Steps = 0; // steps between them summed in Pcr_Seconds; none: no span
  double Pcr_Seconds = 0;
  bool Utc_Seen = false; // a TDT or TOT
  int64_t Utc_First = 0, Utc_Last = 0;
};

// What the report shows. `Name` is the input as the user named it ("-" for
// standard input). With --explain, `Evidence` and `Verdicts` point at each
// portal's; otherwise both are nullptr.
struct Scan_Report {
  const char *Name = "";
  int Capture = 1; // a followed file's captures, counted when it is written anew
  uint64_t Packets = 0;
  Input_Health Health;
  Capture_Time Time;
  bool Stopped = false; // read only up to Ctrl+C or a limit
  std::array<Portal_Result, Portal_Total> Portals{};
  const Eit_Survey *Survey = nullptr; // what PID 0x12 carries, if surveyed
  uint64_t Flagged_Eit_Packets = 0;   // PID 0x12 packets left out of it for the error flag
  const Capture_Evidence *Evidence = nullptr;
  const std::array<Portal_Verdict, Portal_Total> *Verdicts = nullptr;
};

// The report: the input's name, packets, packet size and health, then per
// portal whether it was decoded, its count and its entries; with --explain,
// each portal's explanation and verdict too: in JSON its "explain" member,
// in text its lines under the portal's entries. JSON on one line when
// `one_line` (among follow mode's lines).
std::string Json_Report(const Scan_Report &report, bool one_line);
std::string Text_Report(const Scan_Report &report);

// Lines to print under the portal's own output, each indented and ending in
// a newline.
std::string Explain_Text(const Portal_Evidence &evidence, const Portal_Verdict &verdict);
// The JSON object for the portal's "explain" member, on one line.
std::string Explain_Json(const Portal_Evidence &evidence, const Portal_Verdict &verdict);

// Follow mode: a portal's listing after a decode at input offset `offset`
// of the followed file's capture `capture` (named from the second on).
// JSON: one object on one line. Text: a block, with a blank line in front of
// all but the first.
std::string Json_Change(int portal, uint64_t offset, int capture, const Portal_Listing &listing);
std::string Text_Change(int portal, uint64_t offset, int capture, const Portal_Listing &listing,
                        bool first);
