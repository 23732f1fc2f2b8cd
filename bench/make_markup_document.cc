// Writes the markup reader's benchmark document to a file.
//
// usage: make_markup_document <path> <megabytes>
#include <cstdio>
#include <cstdlib>

#include "markup_document.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: make_markup_document <path> <megabytes>\n", stderr);
    return 2;
  }
  FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  const std::size_t megabytes = std::strtoul(argv[2], nullptr, 10);
  const bool written = write_markup_document(out, megabytes << 20);
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "%s: write error\n", argv[1]);
    return 1;
  }
  return 0;
}
