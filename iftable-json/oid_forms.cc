// Names of the interface tables' objects read into the iso. form.
#include "oid_forms.h"

#include "if_mib_columns.h"

namespace {

bool is_label_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The run of label bytes at `at`; its end when a '.', a ' ' or the end of `text` follows
// it, else none.
std::optional<std::size_t> label_end(std::string_view text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && is_label_byte(text[end])) ++end;
  if (end == at) return std::nullopt;
  if (end < text.size() && text[end] != '.' && text[end] != ' ') return std::nullopt;
  return end;
}

// True when `child` is `parent` and one more numeric component.
bool is_child(std::string_view child, std::string_view parent) {
  if (!child.starts_with(parent) || child.size() < parent.size() + 2 ||
      child[parent.size()] != '.') {
    return false;
  }
  for (char c : child.substr(parent.size() + 1)) {
    if (!is_digit(c)) return false;
  }
  return true;
}

// ".iso.org.dod...": each name the child of the one before, up to the first component
// that is a number, a blank or the end.
std::optional<ObjectName> read_name_path(std::string_view text) {
  std::string_view oid;
  std::size_t at = 0;  // at a '.' that may open the next name
  while (at < text.size() && text[at] == '.' && at + 1 < text.size() && !is_digit(text[at + 1])) {
    std::optional<std::size_t> end = label_end(text, at + 1);
    if (!end) return std::nullopt;
    std::string_view label = text.substr(at + 1, *end - at - 1);
    std::string_view next = object_oid(label);
    if (oid.empty() ? label != "iso" : !is_child(next, oid)) return std::nullopt;
    oid = next;
    at = *end;
  }
  if (oid.empty()) return std::nullopt;
  return ObjectName{oid, at};
}

}  // namespace

std::optional<ObjectName> read_object_name(std::string_view text) {
  text = text.substr(0, kNameWindow);
  if (text.starts_with('.')) return read_name_path(text);
  std::size_t start = 0;
  std::size_t module_end = 0;
  while (module_end < text.size() && is_label_byte(text[module_end])) ++module_end;
  if (text.substr(module_end).starts_with("::")) start = module_end + 2;
  std::optional<std::size_t> end = label_end(text, start);
  if (!end) return std::nullopt;
  std::string_view oid = object_oid(text.substr(start, *end - start));
  if (oid.empty() || oid == "iso") return std::nullopt;
  return ObjectName{oid, *end};
}

bool typed_line(std::string_view line, std::size_t name_end) {
  line = line.substr(0, kNameWindow);
  std::size_t blank = line.find(' ', name_end);
  if (blank == std::string_view::npos) return false;
  std::string_view rest = line.substr(blank + 1);
  if (!rest.starts_with("= ")) return false;
  rest.remove_prefix(2);
  if (rest.starts_with("\"\"")) return true;
  std::size_t type = 0;
  while (type < rest.size() && is_label_byte(rest[type])) ++type;
  return type > 0 && !is_digit(rest[0]) && rest.substr(type).starts_with(": ");
}
