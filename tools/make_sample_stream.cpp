// make-sample-stream OUT.ts: writes the demo capture (stream/sample_stream.h).
#include "stream/sample_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-sample-stream OUT.ts\n");
    return 2;
  }
  const Byte_Vector stream = Make_Sample_Stream();
  std::FILE *file = std::fopen(argv[1], "wb");
  if (file == nullptr || std::fwrite(stream.data(), 1, stream.size(), file) != stream.size() ||
      std::fclose(file) != 0) {
    std::fprintf(stderr, "make-sample-stream: %s: %s\n", argv[1], std::strerror(errno));
    return 2;
  }
  std::printf("make-sample-stream: wrote %zu packets to %s\n", stream.size() / 188, argv[1]);
  return 0;
}
