// The forms snmpwalk writes an object in when MIB modules are loaded, turned into the
// iso. form that the column table reads: a column name with or without its module
// (IF-MIB::ifDescr.4, ifDescr.4), the full name path of -Of
// (.iso.org.dod.internet.mgmt.mib-2.interfaces.ifTable.ifEntry.ifDescr.4) and a number
// below a module's mib-2 (SNMPv2-SMI::mib-2.2.2.1.2.4). The numeric forms (iso.3.6.1...
// and .1.3.6.1...) are read as they are.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// Only the first bytes of a line say whether it names an object: its name, and for a line
// of the walk the type of its value, lie within them.
inline constexpr std::size_t kNameWindow = 256;

// True when `text` does not begin in a numeric form but may begin with a name: with a
// letter (other than the "iso" of the iso. form) or with a dot and a letter.
inline bool named_form(std::string_view text) {
  if (text.empty()) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (text[0] == '.') return text.size() > 1 && letter(text[1]);
  if (!letter(text[0])) return false;
  return !(text.starts_with("iso") && (text.size() == 3 || text[3] == '.' || text[3] == ' '));
}

// A name at the start of a text: the OID it stands for, in the iso. form, and its length.
struct ObjectName {
  std::string_view oid;
  std::size_t length = 0;
};

// The name at the start of `text`, followed by a '.', a ' ' or the end of the text, all
// within the first kNameWindow bytes: a name of the interface tables with or without
// "<module>::" before it, or "." and a path of names from "iso" down, each the child of
// the one before. None for any other text.
std::optional<ObjectName> read_object_name(std::string_view text);

// True when the line, whose name ends at `name_end`, goes on as a line of the walk with a
// typed value within its first kNameWindow bytes: the rest of the object up to a blank,
// "= ", then "\"\"" or a type ("STRING", "INTEGER", "Hex-STRING"...) and ": ". A line
// with no type (-OQ: "IF-MIB::ifDescr.4 = eth0") is not.
bool typed_line(std::string_view line, std::size_t name_end);
