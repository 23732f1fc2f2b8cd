// Fuzzes the configuration scanner through the merge driver, with any bytes as the
// document and a fixed tmp/ of two rules. The run either fails with exactly one of the
// scanner's messages, naming an offset where the fault really is, and writes nothing;
// or writes the document unchanged around the rule objects, placed before a `]`, with a
// leading comma exactly when a value stands before that bracket. A document that is
// valid JSON must come out as valid JSON.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fuzz_support.h"
#include "json_check.h"
#include "merge_driver.h"

namespace {

constexpr std::string_view kRuleFile = "# first\nalert tcp any any -> any 22\n\ndrop \"x\" \\ y\n";
constexpr std::string_view kRuleObjects =
    R"({"name":"first","enabled":false,"raw":"alert tcp any any -> any 22"},)"
    R"({"name":"","enabled":false,"raw":"drop \"x\" \\ y"})";

std::string scratch;

void remove_scratch() {
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
}

// Whether a value stands before `point`: the last character before it, spaces and line
// feeds aside, is none of `[`, `{`, `,` and `:`.
bool value_before(std::string_view doc, std::size_t point) {
  std::string_view before = doc.substr(0, point);
  std::size_t last = before.find_last_not_of(" \n");
  return last != std::string_view::npos &&
         std::string_view("[{,:").find(before[last]) == std::string_view::npos;
}

// The offset at the end of a message ending in " at <offset>\n", or none.
std::optional<std::size_t> trailing_offset(std::string_view message, std::string_view prefix) {
  if (!message.starts_with(prefix) || !message.ends_with('\n')) return {};
  return whole_number(message.substr(prefix.size(), message.size() - prefix.size() - 1));
}

void check_fault(std::string_view doc, std::string_view err) {
  auto at = [&](std::string_view prefix) {
    std::optional<std::size_t> offset = trailing_offset(err, prefix);
    expect(offset && *offset <= doc.size(), "fault offset within the document", err);
    return *offset;
  };
  if (err.starts_with("level remained ")) {
    std::optional<std::size_t> level = trailing_offset(err, "level remained ");
    expect(level && *level >= 1 && *level <= 19, "level remained names an open level", err);
  } else if (err.starts_with("level goes above 20 at ")) {
    expect(doc[at("level goes above 20 at ")] == '{', "level goes above 20 at a {", err);
  } else if (err.starts_with("level goes below zero at ")) {
    expect(doc[at("level goes below zero at ")] == '}', "level goes below zero at a }", err);
  } else if (err.starts_with("no enclosing object at ")) {
    char c = doc[at("no enclosing object at ")];
    expect(c == ':' || c == '{', "no enclosing object at a : or {", err);
  } else if (err.starts_with("impaired quotes at ")) {
    std::size_t offset = at("impaired quotes at ");
    expect(offset > 0 && doc[offset - 1] == '"', "impaired quotes just past a quote", err);
    // Every later quote is escaped by an odd run of backslashes.
    std::size_t backslashes = 0;
    for (std::size_t i = offset; i < doc.size(); ++i) {
      if (doc[i] == '"') expect(backslashes % 2 == 1, "impaired quotes has no closing quote", err);
      backslashes = doc[i] == '\\' ? backslashes + 1 : 0;
    }
  } else if (err.starts_with("too long string value at ")) {
    std::size_t offset = at("too long string value at ");
    expect(offset > 0 && doc[offset - 1] == '"', "too long string value just past a quote", err);
  } else if (err.starts_with("too long integer value at ")) {
    std::size_t offset = at("too long integer value at ");
    // Fifty number characters are stored; the fault is at the one that would be the 51st.
    expect(offset >= 50 && offset < doc.size(), "too long integer value inside the document", err);
    expect(
        doc.substr(offset - 50, 50).find_first_not_of("0123456789.-") == std::string_view::npos &&
            std::string_view("0123456789.").find(doc[offset]) != std::string_view::npos,
        "too long integer value after 50 number characters", err);
  } else if (err.starts_with("too long name ")) {
    std::size_t split = err.rfind(" at ");
    expect(split != std::string_view::npos && split >= 14, "too long name has an offset", err);
    std::optional<std::size_t> offset = whole_number(err.substr(split + 4, err.size() - split - 5));
    expect(offset && *offset < doc.size() && doc[*offset] == ':' && err.ends_with('\n'),
           "too long name at a :", err);
    // Control bytes in the name are shown escaped, so the message stays one line.
    std::string_view shown = std::string_view(err).substr(14, split - 14);
    expect(shown.size() > 39, "too long name is longer than 39", err);
    expect(std::count(err.begin(), err.end(), '\n') == 1, "too long name is one line", err);
  } else if (err.starts_with("unexpected character ")) {
    // The character as shown: itself, or \n \r \t \xHH for a control byte and \\ for a
    // backslash.
    std::string_view shown = std::string_view(err).substr(21);
    char c = shown.empty() ? '\0' : shown[0];
    std::size_t width = 1;
    if (c == '\\' && shown.size() >= 2 &&
        std::string_view("nrt\\").find(shown[1]) != std::string_view::npos) {
      c = shown[1] == 'n' ? '\n' : shown[1] == 'r' ? '\r' : shown[1] == 't' ? '\t' : '\\';
      width = 2;
    } else if (c == '\\' && shown.size() >= 4 && shown[1] == 'x') {
      c = static_cast<char>(std::stoi(std::string(shown.substr(2, 2)), nullptr, 16));
      width = 4;
    }
    expect(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f && c != '\\' ? width == 1 : width > 1,
           "unexpected character is escaped exactly when it is a control byte or a backslash", err);
    std::optional<std::size_t> offset = trailing_offset(shown.substr(width), " at ");
    expect(offset && *offset < doc.size() && doc[*offset] == c, "unexpected character is there",
           err);
    expect(std::string_view("[]{}\",:-0123456789 \n").find(c) == std::string_view::npos,
           "unexpected character is not one the scanner takes", err);
    std::string_view rest = doc.substr(*offset);
    expect(!rest.starts_with("null") && !rest.starts_with("true") && !rest.starts_with("false"),
           "unexpected character does not start a literal", err);
  } else {
    fail("fault message is one of the scanner's", err);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (std::filesystem::temp_directory_path() / "config-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  scratch = pattern;
  std::atexit(remove_scratch);
  std::filesystem::create_directory(scratch + "/tmp");
  std::ofstream(scratch + "/tmp/rules", std::ios::binary) << kRuleFile;
  // The collector walks tmp/ of the working directory.
  if (chdir(scratch.c_str()) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view doc = as_text(data, size);
  Capture out_capture;
  MergeResult result = merge_document(doc, out_capture.file);
  expect(result.outcome != MergeOutcome::kIncomplete, "the fixed rule file is always read");
  bool ok = result.outcome == MergeOutcome::kMerged;
  std::string out = out_capture.take();
  std::string err;
  for (const Fault& fault : result.faults) {
    expect(fault.kind == FaultKind::kDocument, "a fault is one of the document", fault.message);
    err += fault.message;
  }

  if (!ok) {
    expect(out.empty(), "a fault writes no output", out);
    check_fault(doc, err);
    return 0;
  }
  expect(err.empty(), "a sound document writes no message", err);
  if (out.empty()) return 0;  // no rule array

  bool comma = out.size() == doc.size() + kRuleObjects.size() + 1;
  expect(comma || out.size() == doc.size() + kRuleObjects.size(),
         "output is the document and the rule objects", out);
  std::string inserted = (comma ? "," : "") + std::string(kRuleObjects);
  std::size_t same = 0;
  while (same < doc.size() && out[same] == doc[same]) ++same;
  // The insertion point is a `]` at or before the first difference, with the rest of the
  // document after the rule objects.
  bool found = false;
  for (std::size_t point = same;; --point) {
    if (point < doc.size() && doc[point] == ']' &&
        out.compare(point, inserted.size(), inserted) == 0 &&
        std::string_view(out).substr(point + inserted.size()) == doc.substr(point)) {
      expect(comma == value_before(doc, point), "leading comma exactly after a value", out);
      found = true;
      break;
    }
    if (point == 0) break;
  }
  expect(found, "rule objects stand before a ] of the document", out);
  if (json_valid(doc)) expect(json_valid(out), "valid JSON stays valid JSON", out);
  return 0;
}
