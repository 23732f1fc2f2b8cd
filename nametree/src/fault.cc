// Names of the fault kinds.
#include "nametree/fault.h"

#include <array>

namespace nametree {

namespace {

constexpr std::array<const char*, 29> kFaultKindNames = {
    "none",
    "no-input",
    "no-memory",
    "tag-already-opened",
    "tag-not-yet-opened",
    "closed-at-zero-level",
    "not-properly-paired",
    "incomplete",
    "read-error",
    "not-utf-8",
    "not-well-formed",
    "bad-character",
    "unclosed-element",
    "no-root-element",
    "second-root",
    "text-outside-root",
    "attribute-without-value",
    "unquoted-value",
    "duplicate-attribute",
    "less-than-in-value",
    "bad-reference",
    "unknown-entity",
    "bad-character-reference",
    "unclosed-comment",
    "unclosed-cdata",
    "unclosed-instruction",
    "unclosed-tag",
    "unclosed-declaration",
    "misplaced-declaration",
};
static_assert(kFaultKindNames.size() ==
                  static_cast<std::size_t>(FaultKind::kMisplacedDeclaration) + 1,
              "one name per kind");

}  // namespace

const char* fault_kind_name(FaultKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  return index < kFaultKindNames.size() ? kFaultKindNames[index] : "unknown";
}

}  // namespace nametree
