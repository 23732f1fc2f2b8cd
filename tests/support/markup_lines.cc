// The line-at-a-time reading of a stream.
#include "markup_lines.h"

#include <cstdlib>
#include <cstring>

nametree::ParseResult parse_lines(std::string_view input, FILE* err) {
  FILE* stream = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  nametree::ReaderPtr reader = nametree::markup_reader_create(err);
  if (!stream || !reader) std::abort();
  char line[256];
  while (std::fgets(line, sizeof line, stream)) {
    if (!nametree::markup_feed(*reader, std::string_view(line, std::strlen(line)))) break;
  }
  std::fclose(stream);
  return nametree::markup_finish(*reader);
}
