// The default reading of a stream as a line-at-a-time read takes it: what the stream
// entry point, reading larger blocks, must match.
#pragma once

#include <cstdio>
#include <string_view>

#include "nametree/markup_reader.h"

// Reads `input` as fgets would, a line at a time into 256 bytes, a NUL byte ending the
// piece it is read in, and feeds each piece to a reader writing its faults to `err`.
nametree::ParseResult parse_lines(std::string_view input, FILE* err);
