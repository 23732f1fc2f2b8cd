// What a test reads back: a file's bytes, a stream's bytes, a directory's names.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The whole content of the file at `path`, or "" when it cannot be read.
std::string read_file(const std::string& path);

// Everything written to `stream` so far, read from its start.
std::string stream_text(FILE* stream);

// The names in the directory at `path`, sorted.
std::vector<std::string> listing(const std::string& path);
