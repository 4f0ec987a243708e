// portal-scan's input: the capture opened, the progress line, the signals,
// the limits and the waiting.
#include "tools/portal_scan_input.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr long Growth_Poll_Ms = 100;          // --follow on a file: how often to look for growth
constexpr int Stop_Check_Reads = 16;          // reads of a regular file between looks for Ctrl+C
constexpr uint64_t Progress_Step = 16u << 20; // bytes between progress lines
constexpr int Progress_Line_Width = 60;       // characters a progress line may take

// Ts_Reader's progress callback: a line every 16 MiB.
void Report_Progress(Ts_Reader &reader, void *context) {
  const Scan_Progress &progress = *static_cast<const Scan_Progress *>(context);
  const uint64_t offset = reader.Offset;
  reader.Progress_At = offset + Progress_Step;
  if (progress.Size_Known)
    std::fprintf(stderr, "\r%s: %llu of %llu MiB read ", Scan_Tool,
                 static_cast<unsigned long long>(offset >> 20),
                 static_cast<unsigned long long>(progress.Size >> 20));
  else
    std::fprintf(stderr, "\r%s: %llu MiB read ", Scan_Tool,
                 static_cast<unsigned long long>(offset >> 20));
  std::fflush(stderr);
}

// SIGINT and SIGTERM stay blocked except while the reader waits for input
// or for a followed file to grow, so a record is never cut short; arriving
// there they end the input, and the report shows what was read.
volatile std::sig_atomic_t Stop_Requested = 0;
sigset_t Waiting_Mask; // the signal mask while waiting

void On_Stop_Signal(int) {
  Stop_Requested = 1;
}

// The limits on reading, and the followed file.
struct Reading_Limits {
  bool Has_Deadline = false;
  bool Deadline_Passed = false;
  timespec Deadline{};                            // CLOCK_MONOTONIC
  const char *Followed_Path = nullptr;            // a regular file followed by name
  const char *Followed_Name = "";                 // as the user named it
  bool Said_Waiting = false;                      // the note that it is at its end has been given
  struct stat Followed {};                        // what it was when opened
  Followed_Change Change = Followed_Change::None; // what its wait found
};
Reading_Limits Limits;

// Time left before the deadline, at most `most` milliseconds (negative:
// none); false once the deadline has passed.
bool Time_Left(long most, timespec *left) {
  left->tv_sec = most / 1000;
  left->tv_nsec = most % 1000 * 1000000;
  if (!Limits.Has_Deadline)
    return true;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long to_go = (Limits.Deadline.tv_sec - now.tv_sec) * 1000000000LL +
                          (Limits.Deadline.tv_nsec - now.tv_nsec);
  if (to_go <= 0) {
    Limits.Deadline_Passed = true;
    return false;
  }
  if (most < 0 || to_go < most * 1000000LL) {
    left->tv_sec = static_cast<time_t>(to_go / 1000000000LL);
    left->tv_nsec = static_cast<long>(to_go % 1000000000LL);
  }
  return true;
}

// Whether SIGINT or SIGTERM waits, blocked, to be delivered.
bool Stop_Pending() {
  sigset_t pending;
  return sigpending(&pending) == 0 &&
         (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
}

// Ts_Reader's Before_Read callback: waits until the descriptor has data, an
// end or an error for read() to report; false once a stop was asked for or
// the deadline has passed.
bool Wait_For_Input(int descriptor, void *) {
  pollfd wait{descriptor, POLLIN, 0};
  timespec left{};
  while (!Stop_Requested && Time_Left(-1, &left)) {
    const int ready = ppoll(&wait, 1, Limits.Has_Deadline ? &left : nullptr, &Waiting_Mask);
    // A signal that came with the data or the end stays pending (ppoll
    // delivers it only when it returns for it); it comes first.
    if (Stop_Pending())
      Stop_Requested = 1;
    if (Stop_Requested)
      break;
    if (ready > 0 || (ready < 0 && errno != EINTR))
      return true;
  }
  return false;
}

// Ts_Reader's Before_Read callback for a regular file, whose bytes are
// always there to read: false once a stop was asked for or the deadline has
// passed. A pending stop signal is looked for before every
// Stop_Check_Reads-th read only: on a virtual machine a system call costs
// microseconds, and polling before each read took an eighth of the reading
// thread's time on a large file.
bool Look_For_Stop(int, void *) {
  static unsigned reads = 0;
  if (reads++ % Stop_Check_Reads == 0 && Stop_Pending())
    Stop_Requested = 1;
  timespec left{};
  return !Stop_Requested && Time_Left(-1, &left);
}

// Ts_Reader's At_End_Wait callback for a followed regular file: waits a
// moment for it to grow; false once a stop was asked for, the deadline has
// passed, or the file was removed or another put in its place (Change says
// which). (One cut shorter the reader finds itself.)
bool Wait_For_Growth(int descriptor, void *) {
  struct stat now {};
  if (Limits.Followed_Path != nullptr) {
    if (stat(Limits.Followed_Path, &now) != 0)
      Limits.Change = Followed_Change::Removed;
    else if (now.st_dev != Limits.Followed.st_dev || now.st_ino != Limits.Followed.st_ino)
      Limits.Change = Followed_Change::Replaced;
  } else if (fstat(descriptor, &now) != 0 || now.st_nlink == 0) {
    Limits.Change = Followed_Change::Removed;
  }
  if (Limits.Change != Followed_Change::None)
    return false;
  timespec left{};
  if (Stop_Requested || !Time_Left(Growth_Poll_Ms, &left))
    return false;
  if (!Limits.Said_Waiting) {
    Limits.Said_Waiting = true;
    std::fprintf(stderr, "%s: %s: at its end; waiting for it to grow (Ctrl+C ends the scan)\n",
                 Scan_Tool, Limits.Followed_Name);
  }
  ppoll(nullptr, 0, &left, &Waiting_Mask);
  return !Stop_Requested;
}

void Catch_Stop_Signals() {
  sigset_t stop;
  sigemptyset(&stop);
  for (int signal_number : {SIGINT, SIGTERM}) {
    struct sigaction previous {};
    sigaction(signal_number, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN)
      continue; // ignored by whoever started us (a background job): keep it so
    struct sigaction action {};
    action.sa_handler = On_Stop_Signal;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    sigaddset(&stop, signal_number);
  }
  sigprocmask(SIG_BLOCK, &stop, &Waiting_Mask);
  sigdelset(&Waiting_Mask, SIGINT);
  sigdelset(&Waiting_Mask, SIGTERM);
}

bool From_Standard_Input(const Scan_Options &options) {
  return options.Path == nullptr || std::strcmp(options.Path, Standard_Input_Name) == 0;
}

// Sets the opened reader up as the options ask.
void Set_Up_Reader(const Scan_Options &options, Ts_Reader &reader, Scan_Input &input) {
  const bool from_standard_input = From_Standard_Input(options);
  Scan_Progress &progress = input.Progress;
  progress.Shown = isatty(2) != 0 && !options.Follow;
  struct stat status_now {};
  const bool regular = fstat(reader.Descriptor, &status_now) == 0 && S_ISREG(status_now.st_mode);
  if (regular) {
    progress.Size_Known = true;
    progress.Size = static_cast<uint64_t>(status_now.st_size);
  }
  if (progress.Shown) {
    reader.Progress = Report_Progress;
    reader.Progress_Context = &progress;
    reader.Progress_At = 0;
  }
  Catch_Stop_Signals();
  reader.Before_Read = regular ? Look_For_Stop : Wait_For_Input;
  if (options.Follow && regular) {
    reader.At_End_Wait = Wait_For_Growth;
    Limits.Followed = status_now;
    Limits.Followed_Path = from_standard_input ? nullptr : options.Path;
    Limits.Followed_Name = input.Name;
    Limits.Said_Waiting = false;
    Limits.Change = Followed_Change::None;
  }
  if (options.Max_Packets > 0)
    reader.Packet_Limit = options.Max_Packets - input.Packets_Before;
  reader.Sync_Search_Most = Sync_Search_Bytes;
}

} // namespace

bool Open_Scan_Input(const Scan_Options &options, Ts_Reader &reader, Scan_Input &input,
                     int *status) {
  const bool from_standard_input = From_Standard_Input(options);
  if (options.Path == nullptr && isatty(0)) {
    *status = Usage_Error("no capture named, and standard input is a terminal");
    return false;
  }
  input.Name = from_standard_input ? Standard_Input_Name : options.Path;
  if (from_standard_input) {
    Open_Ts_Descriptor(reader, 0);
  } else if (!Open_Ts_File(reader, options.Path)) {
    *status = Fail(input.Name, std::strerror(errno));
    return false;
  }
  if (options.Max_Seconds > 0) {
    clock_gettime(CLOCK_MONOTONIC, &Limits.Deadline);
    Limits.Deadline.tv_sec += options.Max_Seconds;
    Limits.Has_Deadline = true;
  }
  Set_Up_Reader(options, reader, input);
  return true;
}

Followed_Change Followed_File_Change(const Ts_Reader &reader) {
  if (Limits.Change != Followed_Change::None)
    return Limits.Change;
  return reader.Source_Shrank && reader.At_End_Wait != nullptr ? Followed_Change::Written_Anew
                                                               : Followed_Change::None;
}

bool Reopen_Scan_Input(const Scan_Options &options, Ts_Reader &reader, Scan_Input &input,
                       Followed_Change change, uint64_t packets_read, int *status) {
  input.Packets_Before += packets_read;
  ++input.Capture;
  std::fprintf(stderr, "%s: %s: %s: read from its start as capture %d\n", Scan_Tool, input.Name,
               change == Followed_Change::Replaced ? "another file put in its place"
                                                   : "cut shorter than what was read",
               input.Capture);
  if (From_Standard_Input(options)) { // (cut shorter: the same file, from its start)
    if (lseek(0, 0, SEEK_SET) != 0) {
      *status = Fail(input.Name, std::strerror(errno));
      return false;
    }
    Open_Ts_Descriptor(reader, 0);
  } else if (!Open_Ts_File(reader, options.Path)) {
    const int error = errno;
    const int failed = Fail(input.Name, std::strerror(error));
    *status = error == ENOENT ? Input_Gone_Status : failed; // gone again: as if removed
    return false;
  }
  Set_Up_Reader(options, reader, input);
  return true;
}

void Clear_Progress(const Scan_Input &input) {
  if (input.Progress.Shown)
    std::fprintf(stderr, "\r%*s\r", Progress_Line_Width, "");
}

void Request_Stop() {
  Stop_Requested = 1;
}

bool Stop_Was_Requested() {
  return Stop_Requested != 0;
}

bool Deadline_Reached() {
  return Limits.Deadline_Passed;
}
