// portal-scan's input: opening the capture the command line names, progress
// on a terminal, the signals (Ctrl+C or SIGTERM end the input where it
// stands), the limits, and waiting for a live input or a followed file to
// grow.
#pragma once

#include "stream/ts_reader.h"
#include "tools/portal_scan_options.h"

#include <cstdint>

struct Scan_Progress {
  bool Shown = false;
  bool Size_Known = false;
  uint64_t Size = 0;
};

struct Scan_Input {
  const char *Name = Standard_Input_Name; // as the user named it, "-" for standard input
  Scan_Progress Progress;
};

// Opens the capture into `reader` and sets it up as the options ask: the
// progress line, the stop signals, following a growing file, the limits.
// False after one line on stderr, the exit status in *status.
bool Open_Scan_Input(const Scan_Options &options, Ts_Reader &reader, Scan_Input &input,
                     int *status);

// Rubs out the progress line, if one was shown.
void Clear_Progress(const Scan_Input &input);

// Ends the input where it stands, as Ctrl+C does (e.g. when stdout fails).
void Request_Stop();
// Whether Ctrl+C, SIGTERM or Request_Stop has ended the input.
bool Stop_Was_Requested();
// Whether --max-seconds' deadline passed while the reader waited.
bool Deadline_Reached();
