// Writes bytes to a file in the test's temporary folder, for tests that hand
// captures to the reader or to portal-scan by path.
#pragma once

#include "stream/eit_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

inline std::string Temp_File(const std::string &name, const Byte_Vector &bytes) {
  const std::string path = testing::TempDir() + name;
  std::FILE *file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return path;
}
