// The configuration scanner: one left-to-right pass over a JSON configuration document
// that checks nesting, name and token lengths, quotes and stray characters, records
// every member name in a name tree, and finds where the rule array closes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fault.h"
#include "nametree/name_tree.h"

constexpr std::size_t kTokenBufferSize = 8192;  // string tokens, terminator included

struct ScanResult {
  nametree::TreePtr tree;
  // The `]` before which rule objects go: the last one at level 1, or at level 2
  // while no member named `name` has been completed at level 2.
  std::optional<std::size_t> insertion_point;
  // False once a member named `name` was completed at level 2.
  bool first_rule = true;
  // Asked for with `find_raws`: the values of the `raw` members (however the name is
  // spelled in JSON) whose value is one string, of the objects one level inside the level
  // of the insertion point, between the `[` that opens the rule array and the `]` at the
  // insertion point; decoded as decode_json_string does, and left out when it refuses.
  std::vector<std::string> rule_raws;
};

// Scans `document`. At the first fault in it (of kind kDocument, or kNoMemory when the
// tree cannot be made) adds the fault to `faults` and returns none. A member whose node
// cannot be added for want of memory adds "no more memory at 1:0", and the scan goes on.
std::optional<ScanResult> scan_config(std::string_view document, std::vector<Fault>& faults,
                                      bool find_raws = false);

// True when a value stands before the `]` at `insertion_point`, so the first inserted
// rule object needs a leading comma: the last character before it, spaces and line
// feeds aside, is none of `[`, `{`, `,` and `:`.
bool value_precedes(std::string_view document, std::size_t insertion_point);
