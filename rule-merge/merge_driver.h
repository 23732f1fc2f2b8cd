// The merge driver: checks a configuration document and writes it back with the rule
// objects collected from tmp/ inserted before the bracket that closes its rule array.
#pragma once

#include <cstdio>
#include <string_view>

constexpr std::string_view kDefaultDocument = R"({"enabled":false,"rule":[]})";

// One whole run. Returns false after writing one fault message to `err`: a fault in
// the document (nothing is written to `out` then), or a rule line too long for the
// memory there is ("No more memory", the output is cut short). A document with no
// rule array is not a fault.
bool merge_document(std::string_view document, FILE* out, FILE* err);
