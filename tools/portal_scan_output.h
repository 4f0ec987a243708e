// portal-scan's output: the report after a scan and, in follow mode, a
// record per change, each as text or JSON; with --explain the evidence and
// verdict of each portal too. Entry names are the entry's bytes up to the NUL
// read as ISO-8859-1 and written as UTF-8 (in text, control characters as
// '?'). Everything goes to stdout; nothing here decides anything.
#pragma once

#include "tools/portal_explain.h"
#include "tools/portal_listing.h"

#include <array>
#include <cstdint>
#include <string>

// What the report shows. `Name` is the input as the user named it ("-" for
// standard input). With --explain, `Evidence` and `Verdicts` point at each
// portal's; otherwise both are nullptr.
struct Scan_Report {
  const char *Name = "";
  uint64_t Packets = 0;
  std::array<Portal_Result, Portal_Total> Portals{};
  const Capture_Evidence *Evidence = nullptr;
  const std::array<Portal_Verdict, Portal_Total> *Verdicts = nullptr;
};

// The report: "file", "packets" and per portal whether it was decoded, its
// count and all 17 entries; with --explain, each portal's explanation and
// verdict too: in JSON its "explain" member, in text its lines under the
// portal's entries.
void Print_Json(const Scan_Report &report);
void Print_Text(const Scan_Report &report);

// Lines to print under the portal's own output, each indented and ending in
// a newline.
std::string Explain_Text(const Portal_Evidence &evidence, const Portal_Verdict &verdict);
// The JSON object for the portal's "explain" member, on one line.
std::string Explain_Json(const Portal_Evidence &evidence, const Portal_Verdict &verdict);

// Follow mode: a portal's listing after a decode at input offset `offset`.
// JSON: one object on one line. Text: a block, with a blank line in front of
// all but the first.
void Print_Change_Json(int portal, uint64_t offset, const Portal_Listing &listing);
void Print_Change_Text(int portal, uint64_t offset, const Portal_Listing &listing, bool first);
