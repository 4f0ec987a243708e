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
  int Capture = 1;             // a followed file's captures: one more each time it is written anew
  uint64_t Packets_Before = 0; // packets of the earlier captures (--max-packets counts them all)
};

// Opens the capture into `reader` and sets it up as the options ask: the
// progress line, the stop signals, following a growing file, the limits.
// False after one line on stderr, the exit status in *status.
bool Open_Scan_Input(const Scan_Options &options, Ts_Reader &reader, Scan_Input &input,
                     int *status);

// What became of a followed regular file once its pass has ended: nothing
// (or no file followed); written anew (cut shorter than what was read, as a
// recorder that starts over truncates it); replaced (another file put in its
// place, found by its name); removed.
enum class Followed_Change { None, Written_Anew, Replaced, Removed };
// Asks before the reader is closed.
Followed_Change Followed_File_Change(const Ts_Reader &reader);
// After a followed file was written anew or replaced: says so on stderr and
// opens it again, from its start, as the next capture (`reader` closed
// before). False after one line on stderr, the exit status in *status.
bool Reopen_Scan_Input(const Scan_Options &options, Ts_Reader &reader, Scan_Input &input,
                       Followed_Change change, uint64_t packets_read, int *status);

// Rubs out the progress line, if one was shown.
void Clear_Progress(const Scan_Input &input);

// Ends the input where it stands, as Ctrl+C does (e.g. when stdout fails).
void Request_Stop();
// Whether Ctrl+C, SIGTERM or Request_Stop has ended the input.
bool Stop_Was_Requested();
// Whether --max-seconds' deadline passed while the reader waited.
bool Deadline_Reached();
