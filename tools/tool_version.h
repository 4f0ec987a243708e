// --version for every tool: the project's version, set once, in project()
// in CMakeLists.txt, and handed to each tool as the compile definition
// PICTO_VERSION.
#pragma once

#include <cstdio>

#ifndef PICTO_VERSION
#error "PICTO_VERSION comes from project() in CMakeLists.txt as a compile definition"
#endif

// Prints "TOOL (Pictolandrum) VERSION"; false if standard output failed.
inline bool Print_Version(const char *tool) {
  std::printf("%s (Pictolandrum) %s\n", tool, PICTO_VERSION);
  return std::fflush(stdout) == 0 && !std::ferror(stdout);
}
