// make-sample-stream [--] OUT.ts: writes the demo capture
// (stream/sample_stream.h) to OUT.ts. An argument starting with '-' is an
// option unless it follows "--", so a mistyped option never becomes a file.
#include "stream/sample_stream.h"
#include "stream/ts_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

constexpr char Program_Name[] = "make-sample-stream";
constexpr int Error_Status = 2;

void Print_Usage(std::FILE *to) {
  std::fprintf(to,
               "usage: %s [--] OUT.ts\n"
               "Writes the demo capture (the sample transport stream the demo host plays) "
               "to OUT.ts.\n"
               "  -h, --help    print this help and exit\n"
               "  --            take the next argument as OUT.ts even if it starts with '-'\n",
               Program_Name);
}

int Usage_Error(const std::string &reason) {
  std::fprintf(stderr, "%s: %s (see --help)\n", Program_Name, reason.c_str());
  return Error_Status;
}

} // namespace

int main(int argc, char **argv) {
  const char *path = nullptr;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!options_done && (argument == "-h" || argument == "--help")) {
      Print_Usage(stdout);
      return 0;
    }
    if (!options_done && argument == "--")
      options_done = true;
    else if (!options_done && !argument.empty() && argument[0] == '-')
      return Usage_Error("unknown option '" + argument + "'");
    else if (path != nullptr)
      return Usage_Error("unexpected argument '" + argument + "'");
    else if (argument.empty())
      return Usage_Error("empty file name");
    else
      path = argv[i];
  }
  if (path == nullptr)
    return Usage_Error("missing OUT.ts");

  const Byte_Vector stream = Make_Sample_Stream();
  std::FILE *file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: %s: %s\n", Program_Name, path, std::strerror(errno));
    return Error_Status;
  }
  const bool written = std::fwrite(stream.data(), 1, stream.size(), file) == stream.size();
  const int write_errno = errno;
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "%s: %s: %s\n", Program_Name, path,
                 std::strerror(written ? errno : write_errno));
    struct stat status;
    if (stat(path, &status) == 0 && S_ISREG(status.st_mode))
      std::remove(path); // no half-written capture left behind, but never a device
    return Error_Status;
  }
  std::printf("%s: wrote %zu packets to %s\n", Program_Name, stream.size() / Ts_Packet_Size, path);
  return 0;
}
