// The merge driver: scan the document, then write it with the collected rule objects
// placed just before the bracket that closes the rule array.
#include "merge_driver.h"

#include <new>

#include "config_scanner.h"
#include "rule_collector.h"

namespace {

bool merge(std::string_view document, FILE* out, FILE* err) {
  std::optional<ScanResult> scan = scan_config(document, err);
  if (!scan) return false;
  if (!scan->insertion_point) return true;  // no rule array: nothing to write
  std::size_t point = *scan->insertion_point;
  // The array itself tells whether the first inserted object follows a value.
  bool first_rule = !value_precedes(document, point);
  std::fwrite(document.data(), 1, point, out);
  collect_rules(first_rule, out, err);
  std::fwrite(document.data() + point, 1, document.size() - point, out);
  return true;
}

}  // namespace

bool merge_document(std::string_view document, FILE* out, FILE* err) {
  try {
    return merge(document, out, err);
  } catch (const std::bad_alloc&) {
    // Most likely a rule line too long to hold; any output is cut short.
    std::fputs("No more memory\n", err);
    return false;
  }
}
