// The rule collector: turns the lines of the plain-text files under tmp/ into disabled
// rule objects {"name":…,"enabled":false,"raw":…}, streamed to the output as read.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

constexpr std::size_t kMaxRuleNameLength = 999;  // longer comment names give no name

// Walks the directory `tmp` of the working directory and writes one rule object per
// rule line of every regular file below it, comma-separated; `first_rule` true means
// the first object takes no leading comma. Entries that cannot be read are reported
// to `err` as "failed to open <path>" and skipped. Returns the flag after writing.
bool collect_rules(bool first_rule, FILE* out, FILE* err);

// Writes the rule objects for the lines read from the open descriptor `fd`.
// Returns the flag after writing; `read_failed`, when given, tells whether reading
// stopped on an error rather than at the end of the file.
bool collect_file_rules(int fd, bool first_rule, FILE* out, bool* read_failed = nullptr);

// Appends `text` to `escaped` as the inside of a JSON string: backslashes and quotes
// get a backslash, bytes below 0x20 become \b \t \n \f \r or \u00XX, all else as read.
void append_json_escaped(std::string& escaped, std::string_view text);
