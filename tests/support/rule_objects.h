// Test support: what the rule lines of a file stand for, and the rule objects written for
// them, read back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A rule object as the programs write it, {"name":"<name>","enabled":false,"raw":"<raw>"},
// with `name` and `raw` given as written (already escaped).
std::string rule_object(std::string_view name, std::string_view raw);

// A rule object's name and raw text, decoded (so in UTF-8).
using RuleObject = std::pair<std::string, std::string>;

// The rule objects the lines of a whole rule file stand for: a rule line is everything
// but its final newline or space; its name is the comment line right above it, less the
// `#` and the blanks after it, unless that name escaped is longer than 999 characters.
// Names and raws are given as the written JSON stands for them: a byte that is not part
// of valid UTF-8 is read as Latin-1.
std::vector<RuleObject> rules_of_lines(std::string_view file);

// The rule objects in `written` (objects joined by commas, none before the first),
// decoded; none when it holds anything else.
std::optional<std::vector<RuleObject>> read_rule_objects(std::string_view written);
