// The merge driver: scan the document, then write it with the collected rule objects
// placed just before the bracket that closes the rule array.
#include "merge_driver.h"

#include <new>
#include <optional>
#include <vector>

#include "config_scanner.h"
#include "replacement_file.h"
#include "rule_collector.h"

namespace {

constexpr std::string_view kRuleDirectory = "tmp";

// Writes the document around the rule objects, placed before the `]` at `point`.
// Returns false when some entry under tmp/ could not be read.
bool write_merged(std::string_view document, std::size_t point, std::vector<FileIdentity> own,
                  FILE* out, FILE* err) {
  // The array itself tells whether the first inserted object follows a value.
  RuleWriter writer = make_rule_writer(out, value_precedes(document, point));
  std::fwrite(document.data(), 1, point, out);
  bool complete = collect_rules(kRuleDirectory, std::move(own), writer, err);
  std::fwrite(document.data() + point, 1, document.size() - point, out);
  return complete;
}

MergeOutcome merge_to_stream(std::string_view document, FILE* out, FILE* err) {
  std::optional<ScanResult> scan = scan_config(document, err);
  if (!scan) return MergeOutcome::kFailed;
  if (!scan->insertion_point) return MergeOutcome::kMerged;  // no rule array: nothing to write
  std::vector<FileIdentity> own;
  FileIdentity identity;
  int fd = fileno(out);
  if (fd >= 0 && regular_file_identity(fd, identity)) own.push_back(identity);
  return write_merged(document, *scan->insertion_point, std::move(own), out, err)
             ? MergeOutcome::kMerged
             : MergeOutcome::kIncomplete;
}

MergeOutcome merge_to_file(std::string_view document, std::string_view path, FILE* err) {
  std::optional<ScanResult> scan = scan_config(document, err);
  if (!scan) return MergeOutcome::kFailed;
  if (!scan->insertion_point) {
    std::fputs("no rule array in the document\n", err);
    return MergeOutcome::kFailed;
  }
  ReplacementFilePtr file = create_replacement(path, err);
  if (!file) return MergeOutcome::kFailed;
  std::vector<FileIdentity> own;
  replacement_identities(*file, own);
  bool complete = write_merged(document, *scan->insertion_point, std::move(own), file->stream, err);
  // A failed write is the greater fault; either way the file stays as it was.
  if (!flush_replacement(*file, err)) return MergeOutcome::kFailed;
  if (!complete) return MergeOutcome::kIncomplete;
  return commit_replacement(*file, err) ? MergeOutcome::kMerged : MergeOutcome::kFailed;
}

MergeOutcome no_memory(FILE* err) {
  // Any output is cut short; a replaced file is left as it was.
  std::fputs("No more memory\n", err);
  return MergeOutcome::kFailed;
}

}  // namespace

MergeOutcome merge_document(std::string_view document, FILE* out, FILE* err) {
  try {
    return merge_to_stream(document, out, err);
  } catch (const std::bad_alloc&) {
    return no_memory(err);
  }
}

MergeOutcome merge_into_file(std::string_view document, std::string_view path, FILE* err) {
  try {
    return merge_to_file(document, path, err);
  } catch (const std::bad_alloc&) {
    return no_memory(err);
  }
}
