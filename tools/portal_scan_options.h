// portal-scan's command line: the options it takes, their parsing, the usage
// text and the one-line complaints on stderr.
#pragma once

#include "tools/portal_scan_pass.h"

#include <cstdint>
#include <string>

constexpr const char *Scan_Tool = "portal-scan";
constexpr const char *Standard_Input_Name = "-";
constexpr int Usage_Status = 2;
constexpr int Input_Status = 2;
constexpr int Undecoded_Status = 1;     // --until-decoded: a portal was not decoded
constexpr int Input_Gone_Status = 3;    // --follow: the followed file was removed
constexpr int Seconds_Most = 7 * 86400; // --max-seconds: a week
// An input that brings no packet in its first this many bytes (e.g. a
// device of zeros) is given up on as no transport stream.
constexpr uint64_t Sync_Search_Bytes = uint64_t{16} << 20;

struct Scan_Options {
  bool Json = false;
  bool Follow = false;
  bool Explain = false;
  bool Until_Decoded = false;
  Feed_Unit Feed = Feed_Unit::Payloads; // --feed
  uint64_t Max_Packets = 0;             // 0: no limit
  int Max_Seconds = 0;                  // 0: no limit
  const char *Path = nullptr;           // nullptr: none named
};

void Print_Usage();
// "portal-scan: WHAT (see --help)" on stderr; returns Usage_Status.
int Usage_Error(const std::string &what);
// "portal-scan: NAME: WHY" on stderr; returns Input_Status.
int Fail(const char *name, const char *why);

// Whether an argument before "--" is `short_name` or `long_name`.
bool Asks_For(int argc, char **argv, const char *short_name, const char *long_name);
// Parses the arguments into `options`; false after printing a usage error,
// whose status goes to *status.
bool Parse_Options(int argc, char **argv, Scan_Options &options, int *status);
