// The merge driver: scan the document, then write it with the collected rule objects
// placed just before the bracket that closes the rule array.
#include "merge_driver.h"

#include <sys/stat.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "config_scanner.h"
#include "replacement_file.h"
#include "rule_collector.h"
#include "rule_set.h"

namespace {

constexpr std::string_view kRuleDirectory = "tmp";

// What the run is: the document as scanned, and with --new-only the raw texts of the
// rule array.
struct Merge {
  std::string_view document;
  ScanResult scan;
  std::optional<RuleSet> seen;
};

std::optional<Merge> start_merge(std::string_view document, FILE* err, bool new_only) {
  std::optional<ScanResult> scan = scan_config(document, err, new_only);
  if (!scan) return std::nullopt;
  Merge merge{document, std::move(*scan), std::nullopt};
  if (new_only) {
    merge.seen.emplace();
    for (const std::string& raw : merge.scan.rule_raws) add_rule(*merge.seen, hash_raw(raw));
  }
  return merge;
}

// Writes the document around the rule objects, placed before the `]` of the rule array.
// Returns false when some entry under tmp/ could not be read.
bool write_merged(Merge& merge, WalkSkip skip, FILE* out, FILE* err) {
  std::string_view document = merge.document;
  std::size_t point = *merge.scan.insertion_point;
  // The array itself tells whether the first inserted object follows a value.
  RuleWriter writer = make_rule_writer(out, value_precedes(document, point));
  std::fwrite(document.data(), 1, point, out);
  bool complete = collect_rules(kRuleDirectory, std::move(skip), writer, err,
                                merge.seen ? &*merge.seen : nullptr);
  std::fwrite(document.data() + point, 1, document.size() - point, out);
  return complete;
}

// Writes the document without a rule: what is under tmp/ cannot be told from the output.
bool write_unmerged(const Merge& merge, FILE* out, FILE* err) {
  std::fwrite(merge.document.data(), 1, merge.document.size(), out);
  std::fprintf(err, "failed to read %.*s/\n", static_cast<int>(kRuleDirectory.size()),
               kRuleDirectory.data());
  return false;
}

MergeOutcome merge_to_stream(std::string_view document, FILE* out, FILE* err, bool new_only) {
  std::optional<Merge> merge = start_merge(document, err, new_only);
  if (!merge) return MergeOutcome::kFailed;
  if (!merge->scan.insertion_point) return MergeOutcome::kMerged;  // no rule array
  WalkSkip skip;
  int fd = fileno(out);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) != 0) {
    write_unmerged(*merge, out, err);
    return MergeOutcome::kIncomplete;
  }
  if (fd >= 0 && S_ISREG(st.st_mode)) skip.files.push_back({st.st_dev, st.st_ino});
  return write_merged(*merge, std::move(skip), out, err) ? MergeOutcome::kMerged
                                                         : MergeOutcome::kIncomplete;
}

MergeOutcome merge_to_file(std::string_view document, std::string_view path, FILE* err,
                           bool new_only) {
  std::optional<Merge> merge = start_merge(document, err, new_only);
  if (!merge) return MergeOutcome::kFailed;
  if (!merge->scan.insertion_point) {
    std::fputs("no rule array in the document\n", err);
    return MergeOutcome::kFailed;
  }
  ReplacementFilePtr file = create_replacement(path, err);
  if (!file) return MergeOutcome::kFailed;
  WalkSkip skip;
  bool complete = replacement_skip(*file, skip)
                      ? write_merged(*merge, std::move(skip), file->stream, err)
                      : write_unmerged(*merge, file->stream, err);
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

MergeOutcome merge_document(std::string_view document, FILE* out, FILE* err, bool new_only) {
  try {
    return merge_to_stream(document, out, err, new_only);
  } catch (const std::bad_alloc&) {
    return no_memory(err);
  }
}

MergeOutcome merge_into_file(std::string_view document, std::string_view path, FILE* err,
                             bool new_only) {
  try {
    return merge_to_file(document, path, err, new_only);
  } catch (const std::bad_alloc&) {
    return no_memory(err);
  }
}
