// portal-scan [--json] [--follow | --explain] [--until-decoded] [--feed payloads|packets]
// [--max-packets N] [--max-seconds S] [FILE.ts | -]: runs a transport stream capture through the
// plug-in's own decoder and shows what each portal's buttons would hold. One
// read of the input feeds a decoder per portal (see portal_scan_pass.h) and,
// with --explain, a section reassembler gathering each portal's evidence (see
// portal_explain.h). The command line is portal_scan_options', the input,
// the signals and the limits portal_scan_input's, what goes to stdout and the
// exit status portal_scan_report's; this file puts them in order, and
// starts over when a followed file is written anew.
#include "tools/portal_scan_input.h"
#include "tools/portal_scan_options.h"
#include "tools/portal_scan_pass.h"
#include "tools/portal_scan_report.h"
#include "tools/tool_version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  if (Asks_For(argc, argv, "-h", "--help")) {
    Print_Usage();
    // The text is longer than stdout's buffer: a failed write may come before the flush.
    return std::fflush(stdout) == 0 && !std::ferror(stdout)
               ? 0
               : Fail("standard output", std::strerror(errno != 0 ? errno : EIO));
  }
  if (Asks_For(argc, argv, nullptr, "--version"))
    return Print_Version(Scan_Tool) ? 0 : Fail("standard output", std::strerror(errno));
  Scan_Options options;
  int status = 0;
  if (!Parse_Options(argc, argv, options, &status))
    return status;

  Ts_Reader reader;
  Scan_Input input;
  if (!Open_Scan_Input(options, reader, input, &status))
    return status;
  Scan_Setup setup;
  Follow_Printer printer;
  static Evidence_Gathering gathering; // its buffers: kept off the stack
  Attach_Report(options, setup, printer, gathering);

  for (;;) {
    const Scan_Outcome outcome = Scan_Capture(reader, setup);
    const int read_errno = errno;
    Clear_Progress(input);
    // A followed file written anew or replaced: its capture's report, then
    // the new one from its start.
    const Followed_Change change = Followed_File_Change(reader);
    if (change != Followed_Change::Written_Anew && change != Followed_Change::Replaced)
      return Finish_Report(options, input, reader, outcome, read_errno, change, printer, gathering);
    const uint64_t packets_read = reader.Packets;
    status = Report_Capture_Then_Next(options, input, reader, outcome, read_errno, setup, printer,
                                      gathering);
    if (status != 0 || !Reopen_Scan_Input(options, reader, input, change, packets_read, &status))
      return status;
  }
}
