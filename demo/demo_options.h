// The demo host's command line: the capture, the module, the pace and the
// headless run with its screenshot.
#pragma once

struct Demo_Options {
  const char *Capture_Path = nullptr; // null: the bundled sample
  const char *Module = "Pictolandrum.dll";
  const char *Screenshot = "demo-screenshot.bmp";
  bool Fast = false;
  int Headless_Seconds = 0; // 0: a normal window until closed
};
extern Demo_Options Options;

// Reads the command line into Options. --help and --version answer and
// exit 0; a wrong command line ends the demo with one line on stderr.
void Read_Options(int argc, char **argv);
