// The demo host's command line: usage, the options and their checks.
#include "demo/demo_options.h"

#include "demo/demo_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

Demo_Options Options;

namespace {

constexpr char Usage_Text[] =
    "usage: pictolandrum-demo [--fast] [--headless SECONDS] [--screenshot FILE.bmp] "
    "[--module DLL] [CAPTURE.ts]\n"
    "Plays a capture (default: the bundled sample) through the plug-in as a receiver would.\n"
    "  --fast                 16 times the normal pace (4000 packets a second)\n"
    "  --headless SECONDS     walk through the portal window, play until SECONDS have passed,\n"
    "                         write the screenshot and exit\n"
    "  --screenshot FILE.bmp  where --headless writes its screenshot (default "
    "demo-screenshot.bmp)\n"
    "  --module DLL           the plug-in to load (default Pictolandrum.dll)\n"
    "  --                     take the next argument as CAPTURE.ts even if it starts with '-'\n"
    "  -h, --help             print this help and exit\n"
    "  --version              print the version and exit\n";
// The limit ./run and demo/run-demo.sh hold too, set once in
// demo/demo-options.sh (demo/CMakeLists.txt hands it over).
constexpr long Headless_Max_Seconds = Picto_Headless_Max_Seconds;

[[noreturn]] void Usage_Error(const std::string &reason) {
  std::fprintf(stderr, "pictolandrum-demo: %s (see --help)\n", reason.c_str());
  std::exit(Usage_Status);
}

// A whole number of seconds from 1 to Headless_Max_Seconds.
int Headless_Seconds(const std::string &text) {
  char *end = nullptr;
  const long seconds = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || seconds < 1 ||
      seconds > Headless_Max_Seconds)
    Usage_Error("--headless: not a whole number of seconds from 1 to " +
                std::to_string(Headless_Max_Seconds) + ": '" + text + "'");
  return static_cast<int>(seconds);
}

// Prints the help or the version, exit 0; 2 if standard output cannot be
// written.
[[noreturn]] void Answer(const char *text) {
  const bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
  if (!written)
    Fail("cannot write to standard output", Usage_Status);
  std::exit(0);
}

} // namespace

void Read_Options(int argc, char **argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
      Answer(Usage_Text);
    if (std::strcmp(argv[i], "--version") == 0)
      Answer("pictolandrum-demo (Pictolandrum) " Picto_Version "\n");
  }
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const bool takes_value =
        option == "--headless" || option == "--screenshot" || option == "--module";
    if (!options_done && takes_value && i + 1 >= argc)
      Usage_Error(option + " needs a value");
    if (options_done || option.empty() || option[0] != '-') {
      if (Options.Capture_Path != nullptr)
        Usage_Error("unexpected argument '" + option + "' (one capture at most)");
      Options.Capture_Path = argv[i];
    } else if (option == "--") {
      options_done = true;
    } else if (option == "--fast") {
      Options.Fast = true;
    } else if (option == "--headless") {
      Options.Headless_Seconds = Headless_Seconds(argv[++i]);
    } else if (option == "--screenshot") {
      Options.Screenshot = argv[++i];
    } else if (option == "--module") {
      Options.Module = argv[++i];
    } else {
      Usage_Error("unknown option '" + option + "'");
    }
  }
}
