// Writes one of the markup reader's benchmark documents to a file: the catalogue unless
// told.
//
// usage: make_markup_document <path> <megabytes> [catalogue|journal]
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "markup_document.h"

int main(int argc, char** argv) {
  const std::string_view kind = argc == 4 ? argv[3] : "catalogue";
  if ((argc != 3 && argc != 4) || (kind != "catalogue" && kind != "journal")) {
    std::fputs("usage: make_markup_document <path> <megabytes> [catalogue|journal]\n", stderr);
    return 2;
  }
  FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  const std::size_t megabytes = std::strtoul(argv[2], nullptr, 10);
  const bool written = kind == "journal" ? write_journal_document(out, megabytes << 20)
                                         : write_markup_document(out, megabytes << 20);
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "%s: write error\n", argv[1]);
    return 1;
  }
  return 0;
}
