// Fuzz target for the position file's reader: any bytes as a file. Whatever
// it reads must come back unchanged through the writer and the reader.
#include "core/plugin_state.h"
#include "core/settings.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

static char Round_Trip_Path[64];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (Round_Trip_Path[0] == '\0')
    std::snprintf(Round_Trip_Path, sizeof Round_Trip_Path, "/tmp/settings_fuzz_%d.INI",
                  static_cast<int>(getpid()));
  Window_X = Default_Window_X;
  Window_Y = Default_Window_Y;
  FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (file == nullptr)
    return 0; // fmemopen refuses an empty buffer
  Read_Settings_File(file);
  std::fclose(file);

  const int32_t x = Window_X, y = Window_Y;
  Write_Settings(Round_Trip_Path);
  Window_X = 0;
  Window_Y = 0;
  Read_Settings(Round_Trip_Path);
  if (Window_X != x || Window_Y != y)
    std::abort();
  return 0;
}
