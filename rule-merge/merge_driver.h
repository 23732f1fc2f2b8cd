// The merge driver: checks a configuration document and writes it back with the rule
// objects collected from tmp/ inserted before the bracket that closes its rule array.
#pragma once

#include <cstdio>
#include <string_view>
#include <vector>

#include "fault.h"

constexpr std::string_view kDefaultDocument = R"({"enabled":false,"rule":[]})";

enum class MergeOutcome {
  kMerged,      // the whole document, with every rule
  kSkipped,     // the whole document, with every rule but those of binary files, or those
                // too long for --new-only
  kIncomplete,  // the whole document, but some entries under tmp/ could not be read
  kFailed,      // the output is empty or cut short
};

// How a run went, and its faults in the order they were met.
struct MergeResult {
  MergeOutcome outcome = MergeOutcome::kMerged;
  std::vector<Fault> faults;
};

// With `new_only` (--new-only), a rule line is not inserted when its raw text already
// stands as the `raw` of an object in the rule array, or an earlier line gave it.

// One whole run writing to `out`. Fails on a fault in the document (nothing is written
// to `out` then) or when memory runs out ("No more memory"). A document with no rule
// array is not a fault: nothing is written. A regular file open as `out` is never read
// back as a rule file: when the identity of `out` cannot be had, nothing under tmp/ is
// read ("failed to read tmp/").
MergeResult merge_document(std::string_view document, FILE* out, bool new_only = false);

// One whole run writing to the file at `path`, which is replaced only once the merge is
// complete (kMerged or kSkipped): after any other outcome it is left as it was. Here a document
// with no rule array is a fault ("no rule array in the document"), as it would leave nothing to
// write.
MergeResult merge_into_file(std::string_view document, std::string_view path,
                            bool new_only = false);
