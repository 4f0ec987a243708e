// make-sample-stream [--] OUT.ts | -: writes the demo capture
// (stream/sample_stream.h) to OUT.ts, or with '-' to standard output; the
// status line goes to stderr. An argument starting with '-' (but '-' alone)
// is an option unless it follows "--", so a mistyped option never becomes a
// file.
#include "stream/sample_stream.h"
#include "stream/ts_writer.h"
#include "tools/tool_version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char Program_Name[] = "make-sample-stream";
constexpr int Error_Status = 2;
constexpr const char *Standard_Output_Name = "-";

void Print_Usage(std::FILE *to) {
  std::fprintf(to,
               "usage: %s [--] OUT.ts | -\n"
               "Writes the demo capture (the sample transport stream the demo host plays) "
               "to OUT.ts,\n"
               "or with '-' to standard output (not a terminal); a status line goes to "
               "stderr.\n"
               "  -h, --help    print this help and exit\n"
               "  --version     print the version and exit\n"
               "  --            take the next argument as OUT.ts even if it starts with '-'\n"
               "Exit status: 0 when written; 2 with one line on stderr for bad usage or a "
               "failed write.\n",
               Program_Name);
}

int Usage_Error(const std::string &reason) {
  std::fprintf(stderr, "%s: %s (see --help)\n", Program_Name, reason.c_str());
  return Error_Status;
}

// Writes the capture to standard output; false (errno telling why) if it
// could not be written whole.
bool Write_Standard_Output(const Byte_Vector &stream) {
  const bool written = std::fwrite(stream.data(), 1, stream.size(), stdout) == stream.size();
  const int write_errno = errno;
  if (std::fflush(stdout) != 0 || !written) {
    errno = written ? errno : write_errno;
    return false;
  }
  return true;
}

// Writes the capture to `path`; false (errno telling why) if it could not
// be written whole, and then no half-written file is left.
bool Write_File(const Byte_Vector &stream, const char *path) {
  std::FILE *file = std::fopen(path, "wb");
  if (file == nullptr)
    return false;
  const bool written = std::fwrite(stream.data(), 1, stream.size(), file) == stream.size();
  const int write_errno = errno;
  if (std::fclose(file) != 0 || !written) {
    const int failure = written ? errno : write_errno;
    struct stat status;
    if (stat(path, &status) == 0 && S_ISREG(status.st_mode))
      std::remove(path); // no half-written capture left behind, but never a device
    errno = failure;
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  const char *path = nullptr;
  bool options_done = false;
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      Print_Usage(stdout);
      return 0;
    }
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (std::strcmp(argv[i], "--version") == 0)
      return Print_Version(Program_Name) ? 0 : Error_Status;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!options_done && argument == "--")
      options_done = true;
    else if (!options_done && argument.size() > 1 && argument[0] == '-')
      return Usage_Error("unknown option '" + argument + "'");
    else if (path != nullptr)
      return Usage_Error("unexpected argument '" + argument + "'");
    else if (argument.empty())
      return Usage_Error("empty file name");
    else
      path = argv[i];
  }
  if (path == nullptr)
    return Usage_Error("missing OUT.ts (or '-' for standard output)");
  const bool to_standard_output = std::strcmp(path, Standard_Output_Name) == 0 && !options_done;
  if (to_standard_output && isatty(1))
    return Usage_Error("standard output is a terminal: give OUT.ts, or redirect it");

  const Byte_Vector stream = Make_Sample_Stream();
  const bool written =
      to_standard_output ? Write_Standard_Output(stream) : Write_File(stream, path);
  const char *shown = to_standard_output ? "standard output" : path;
  if (!written) {
    std::fprintf(stderr, "%s: %s: %s\n", Program_Name, shown, std::strerror(errno));
    return Error_Status;
  }
  std::fprintf(stderr, "%s: wrote %zu packets to %s\n", Program_Name,
               stream.size() / Ts_Packet_Size, shown);
  return 0;
}
