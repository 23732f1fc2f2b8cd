// The merge driver: checks a configuration document and writes it back with the rule
// objects collected from tmp/ inserted before the bracket that closes its rule array.
#pragma once

#include <cstdio>
#include <string_view>

constexpr std::string_view kDefaultDocument = R"({"enabled":false,"rule":[]})";

// One whole run. Returns false after writing one fault message to `err` (nothing is
// written to `out` then); a document with no rule array is not a fault.
bool merge_document(std::string_view document, FILE* out, FILE* err);
