// portal-scan's report: what goes to stdout and when. Follow mode's printer
// of changes, the explanation's gatherer beside the pass, and the report
// after the pass with the exit status it ends in.
#pragma once

#include "stream/section_reassembler.h"
#include "tools/eit_survey.h"
#include "tools/portal_explain.h"
#include "tools/portal_scan_input.h"
#include "tools/portal_scan_options.h"
#include "tools/portal_scan_pass.h"

#include <string>

// Writes `text` to stdout and flushes it; a failure is kept for the end and
// ends the input as a stop would.
void Write_Out(const std::string &text);

// The reassembler beside the pass, and what it feeds: the EIT PID's survey
// and, with --explain, the evidence; and where each portal's source section
// last completed (the input offset of the packet it ended in).
struct Evidence_Gathering {
  Section_Reassembler Reassembler;
  Eit_Survey Survey;
  bool Explain = false;
  uint64_t Flagged_Payloads = 0; // PID 0x12 payloads flagged with the transport error indicator
  Capture_Evidence Evidence;
  uint64_t Packet_Offset = 0; // of the payload being reassembled
  bool Completed[Portal_Total] = {};
  uint64_t Completed_At[Portal_Total] = {};
};

// Follow mode: prints a portal's listing whenever it differs from the one
// printed last for it, with the offset of the packet its section ended in.
struct Follow_Printer {
  bool Json = false;
  int Capture = 1; // the followed file's capture being read
  bool Printed_Any = false;
  bool Printed[Portal_Total] = {};
  Portal_Listing Last[Portal_Total];
  uint64_t Last_Decode_At[Portal_Total] = {};
  const Evidence_Gathering *Gathering = nullptr;
};

// Points the pass's setup at what the options ask for: the follow printer,
// the survey and the evidence.
void Attach_Report(const Scan_Options &options, Scan_Setup &setup, Follow_Printer &printer,
                   Evidence_Gathering &gathering);

// After the pass: closes the reader, says on stderr what went wrong or was
// left out (and that a followed file was removed), prints the report and
// returns the exit status.
int Finish_Report(const Scan_Options &options, const Scan_Input &input, Ts_Reader &reader,
                  const Scan_Outcome &outcome, int read_errno, Followed_Change change,
                  const Follow_Printer &printer, Evidence_Gathering &gathering);
// After the pass over a followed file's capture, when the file was written
// anew or replaced: the same for that capture (nothing for one that never
// synced), and the printer and the gathering made ready for the next one.
// Returns 0, or the exit status to end in.
int Report_Capture_Then_Next(const Scan_Options &options, const Scan_Input &input,
                             Ts_Reader &reader, const Scan_Outcome &outcome, int read_errno,
                             Scan_Setup &setup, Follow_Printer &printer,
                             Evidence_Gathering &gathering);
