// portal-scan's output: the report after a scan and, in follow mode, a
// record per change, each as text or JSON. Entry names are the entry's bytes
// up to the NUL read as ISO-8859-1 and written as UTF-8 (in text, control
// characters as '?').
#pragma once

#include "tools/portal_scan_pass.h"

#include <cstdint>
#include <string>

struct Capture_Evidence; // tools/portal_explain.h

enum class Json_Text {
  Latin1, // ISO-8859-1 bytes: every byte is a character
  Utf8,   // UTF-8 expected (a file name): each byte outside valid UTF-8 becomes U+FFFD
};

// A JSON string literal of `bytes`.
std::string Json_String(const std::string &bytes, Json_Text text);

// ISO-8859-1 text as UTF-8 for a terminal, control characters as '?'.
std::string Printable_Latin1(const std::string &bytes);
// A line of the text entry table: index, name (ISO-8859-1), TS id, service id.
std::string Entry_Row(int32_t index, const std::string &name, int32_t transport_stream_id,
                      int32_t service_id);

// The report: "file", "packets" and per portal whether it was decoded, its
// count and all 17 entries. `name` is the input as the user named it ("-"
// for standard input). With `evidence` (--explain), each portal's
// explanation and verdict too: in JSON its "explain" member, in text its
// lines under the portal's entries.
void Print_Json(const char *name, uint64_t packets, const Scan_Outcome &outcome,
                const Capture_Evidence *evidence);
void Print_Text(const char *name, uint64_t packets, const Scan_Outcome &outcome,
                const Capture_Evidence *evidence);

// Follow mode: a portal's listing after a decode at input offset `offset`.
// JSON: one object on one line. Text: a block, with a blank line in front of
// all but the first.
void Print_Change_Json(int portal, uint64_t offset, const Portal_Listing &listing);
void Print_Change_Text(int portal, uint64_t offset, const Portal_Listing &listing, bool first);
