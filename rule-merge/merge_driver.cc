// The merge driver: scan the document, then write it with the collected rule objects
// placed just before the bracket that closes the rule array.
#include "merge_driver.h"

#include <new>

#include "config_scanner.h"
#include "rule_collector.h"

bool merge_document(std::string_view document, FILE* out, FILE* err) {
  std::optional<ScanResult> scan = scan_config(document, err);
  if (!scan) return false;
  if (!scan->insertion_point) return true;  // no rule array: nothing to write
  std::size_t point = *scan->insertion_point;
  // The array itself tells whether the first inserted object follows a value.
  bool first_rule = !value_precedes(document, point);
  std::fwrite(document.data(), 1, point, out);
  try {
    collect_rules(first_rule, out, err);
  } catch (const std::bad_alloc&) {
    // A rule line too long to hold: the output is cut short, so the run fails.
    std::fputs("No more memory\n", err);
    return false;
  }
  std::fwrite(document.data() + point, 1, document.size() - point, out);
  return true;
}
