// The merge driver: scan the document, then write it with the collected rule objects
// placed just before the bracket that closes the rule array.
#include "merge_driver.h"

#include <sys/stat.h>

#include <new>
#include <optional>
#include <string>

#include "config_scanner.h"
#include "directory_walk.h"
#include "file_identity.h"
#include "replacement_file.h"
#include "rule_collector.h"
#include "rule_set.h"

namespace {

constexpr std::string_view kRuleDirectory = "tmp";

// Under --new-only a merged raw must be read back by the next run.
static_assert(kMaxNewOnlyRaw == kTokenBufferSize - 1);

// What the run is: the document as scanned, and with --new-only the raw texts of the
// rule array.
struct Merge {
  std::string_view document;
  ScanResult scan;
  std::optional<RuleSet> seen;
};

std::optional<Merge> start_merge(std::string_view document, std::vector<Fault>& faults,
                                 bool new_only) {
  std::optional<ScanResult> scan = scan_config(document, faults, new_only);
  if (!scan) return std::nullopt;
  Merge merge{document, std::move(*scan), std::nullopt};
  if (new_only) {
    merge.seen.emplace();
    for (const std::string& raw : merge.scan.rule_raws) add_rule(*merge.seen, hash_raw(raw));
  }
  return merge;
}

// Writes the document around the rule objects, placed before the `]` of the rule array.
MergeOutcome write_merged(Merge& merge, WalkSkip skip, FILE* out, std::vector<Fault>& faults) {
  std::string_view document = merge.document;
  std::size_t point = *merge.scan.insertion_point;
  // The array itself tells whether the first inserted object follows a value.
  RuleWriter writer = make_rule_writer(out, value_precedes(document, point));
  std::fwrite(document.data(), 1, point, out);
  Collected collected = collect_rules(kRuleDirectory, std::move(skip), writer, faults,
                                      merge.seen ? &*merge.seen : nullptr);
  std::fwrite(document.data() + point, 1, document.size() - point, out);
  switch (collected) {
    case Collected::kWhole:
      return MergeOutcome::kMerged;
    case Collected::kSkipped:
      return MergeOutcome::kSkipped;
    case Collected::kIncomplete:
      break;
  }
  return MergeOutcome::kIncomplete;
}

// Writes the document without a rule: what is under tmp/ cannot be told from the output.
MergeOutcome write_unmerged(const Merge& merge, FILE* out, std::vector<Fault>& faults) {
  std::fwrite(merge.document.data(), 1, merge.document.size(), out);
  faults.push_back(
      fault_showing(FaultKind::kEntry, "failed to read ", std::string(kRuleDirectory) + "/"));
  return MergeOutcome::kIncomplete;
}

// What the walk must pass over when writing to a replacement file: the temporary file
// and the target when it exists, by identity, and the places of the destination (with
// its temporary files) and of the target. False when an identity cannot be had.
bool output_skip(const ReplacementFile& file, WalkSkip& skip) {
  if (file.existing) skip.files.push_back(*file.existing);
  FileIdentity identity;
  if (!file_identity(fileno(file.stream), identity)) return false;
  skip.files.push_back(identity);
  if (!file_identity(file.directory_fd, identity)) return false;
  skip.places.push_back({identity, file.directory, file.name});
  // A link named as the output leads to the output too, whatever it replaced.
  if (file.target != file.destination) {
    std::string directory = directory_of(file.target);
    struct stat st;
    if (stat(directory.c_str(), &st) != 0) return false;
    skip.places.push_back(
        {{st.st_dev, st.st_ino}, directory, file.target.substr(file.target.rfind('/') + 1)});
  }
  return true;
}

void merge_to_stream(std::string_view document, FILE* out, bool new_only, MergeResult& result) {
  std::optional<Merge> merge = start_merge(document, result.faults, new_only);
  if (!merge) {
    result.outcome = MergeOutcome::kFailed;
    return;
  }
  if (!merge->scan.insertion_point) return;  // no rule array
  WalkSkip skip;
  int fd = fileno(out);
  std::optional<FileStatus> status;
  if (fd >= 0 && !(status = file_status(fd))) {
    result.outcome = write_unmerged(*merge, out, result.faults);
    return;
  }
  if (status && status->regular) skip.files.push_back(status->identity);
  result.outcome = write_merged(*merge, std::move(skip), out, result.faults);
}

void merge_to_file(std::string_view document, std::string_view path, bool new_only,
                   MergeResult& result) {
  std::vector<Fault>& faults = result.faults;
  result.outcome = MergeOutcome::kFailed;
  std::optional<Merge> merge = start_merge(document, faults, new_only);
  if (!merge) return;
  if (!merge->scan.insertion_point) {
    faults.push_back({FaultKind::kDocument, "no rule array in the document\n"});
    return;
  }
  ReplacementFilePtr file = create_replacement(path);
  if (!file) {
    faults.push_back(write_fault(path));
    return;
  }
  WalkSkip skip;
  MergeOutcome written = output_skip(*file, skip)
                             ? write_merged(*merge, std::move(skip), file->stream, faults)
                             : write_unmerged(*merge, file->stream, faults);
  // A failed write is the greater fault; either way the file stays as it was.
  if (!flush_replacement(*file)) {
    faults.push_back(write_fault(path));
    return;
  }
  if (written == MergeOutcome::kIncomplete) {
    result.outcome = written;
    return;
  }
  if (!commit_replacement(*file)) {
    faults.push_back(write_fault(path));
    return;
  }
  result.outcome = written;
}

void no_memory(MergeResult& result) {
  // Any output is cut short; a replaced file is left as it was.
  result.outcome = MergeOutcome::kFailed;
  const Fault fault{FaultKind::kNoMemory, "No more memory\n"};
  try {
    result.faults.push_back(fault);
  } catch (const std::bad_alloc&) {
    // Room for the one message that matters now.
    result.faults.clear();
    result.faults.shrink_to_fit();
    result.faults.push_back(fault);
  }
}

}  // namespace

MergeResult merge_document(std::string_view document, FILE* out, bool new_only) {
  MergeResult result;
  try {
    merge_to_stream(document, out, new_only, result);
  } catch (const std::bad_alloc&) {
    no_memory(result);
  }
  return result;
}

MergeResult merge_into_file(std::string_view document, std::string_view path, bool new_only) {
  MergeResult result;
  try {
    merge_to_file(document, path, new_only, result);
  } catch (const std::bad_alloc&) {
    no_memory(result);
  }
  return result;
}
