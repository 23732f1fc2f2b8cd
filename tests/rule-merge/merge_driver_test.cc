// Tests for the merge driver over many generated documents: whenever the document is
// valid JSON and the scanner accepts it, the merged output is valid JSON too.
#include "merge_driver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "json_check.h"
#include "process.h"
#include "rule_objects.h"

namespace {

struct Merge {
  bool ok = false;
  std::string out;
  std::string err;  // the faults' messages
};

// Runs the driver in `directory`, whose tmp/ supplies the rules.
Merge merge_in(const std::string& directory, std::string_view document) {
  int original = open(".", O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(chdir(directory.c_str()), 0);
  char* out_buffer = nullptr;
  std::size_t out_size = 0;
  FILE* out = open_memstream(&out_buffer, &out_size);
  Merge m;
  MergeResult result = merge_document(document, out);
  m.ok = result.outcome == MergeOutcome::kMerged;
  for (const Fault& fault : result.faults) m.err += fault.message;
  std::fclose(out);
  m.out.assign(out_buffer, out_size);
  std::free(out_buffer);
  EXPECT_EQ(fchdir(original), 0);
  close(original);
  return m;
}

// A random JSON value, mostly within what the scanner takes: names of rule arrays,
// nested objects and arrays, strings with escapes, numbers and the three words.
class DocumentGenerator {
 public:
  explicit DocumentGenerator(unsigned seed) : random_(seed) {}

  std::string document() {
    std::string text;
    object(text, 0);
    return text;
  }

 private:
  std::size_t pick(std::size_t n) {
    return random_() % n;
  }

  void blank(std::string& text) {
    static constexpr const char* kBlanks[] = {"", "", "", " ", "\n", "  \n ", "\t", "\r\n"};
    text += kBlanks[pick(pick(20) == 0 ? 8 : 6)];
  }

  void string(std::string& text) {
    static constexpr const char* kPieces[] = {"rule", "name",    "a",   "\\\"", "\\\\",
                                              "\\n",  "\\u0041", "x y", "]",    "[",
                                              "{",    "}",       ",",   ":",    "\xc3\xa9"};
    text += '"';
    std::size_t pieces = pick(4);
    for (std::size_t i = 0; i < pieces; ++i) text += kPieces[pick(15)];
    text += '"';
  }

  void value(std::string& text, int depth) {
    switch (pick(depth > 6 ? 6 : 9)) {
      case 0:
        string(text);
        break;
      case 1:
        text += std::to_string(static_cast<int>(pick(2000)) - 1000);
        break;
      case 2:
        text += pick(2) ? "-0.5" : "12.25";
        break;
      case 3:
        text += "true";
        break;
      case 4:
        text += "false";
        break;
      case 5:
        text += "null";
        break;
      case 6:
      case 7:
        object(text, depth + 1);
        break;
      default:
        array(text, depth + 1);
        break;
    }
  }

  void object(std::string& text, int depth) {
    text += '{';
    blank(text);
    std::size_t members = pick(5);
    for (std::size_t i = 0; i < members; ++i) {
      if (i) text += ',';
      blank(text);
      static constexpr const char* kNames[] = {"\"rule\"", "\"name\"", "\"enabled\"", "\"cfg\""};
      if (pick(3)) {
        text += kNames[pick(4)];
      } else {
        string(text);
      }
      blank(text);
      text += ':';
      blank(text);
      value(text, depth);
      blank(text);
    }
    text += '}';
  }

  void array(std::string& text, int depth) {
    text += '[';
    blank(text);
    std::size_t elements = pick(4);
    for (std::size_t i = 0; i < elements; ++i) {
      if (i) text += ',';
      blank(text);
      value(text, depth);
      blank(text);
    }
    text += ']';
  }

  std::mt19937 random_;
};

TEST(MergeDriver, ValidDocumentsGiveValidOutput) {
  ScratchDir dir;
  dir.write("tmp/a.rules", "# one\nalert \"x\" \\ y\n\n\tindented\r\n");
  dir.write("tmp/b/c.rules", "drop\x01\n# last\n");
  DocumentGenerator generator(7);
  int accepted = 0, inserted = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string document = generator.document();
    ASSERT_TRUE(json_valid(document)) << document;
    Merge m = merge_in(dir.path, document);
    SCOPED_TRACE(document);
    if (!m.ok) {
      EXPECT_EQ(m.out, "");
      EXPECT_EQ(std::count(m.err.begin(), m.err.end(), '\n'), 1) << m.err;
      continue;
    }
    ++accepted;
    EXPECT_EQ(m.err, "");
    if (m.out.empty()) continue;
    ++inserted;
    ASSERT_TRUE(json_valid(m.out)) << m.out;
  }
  // The generator must exercise both paths, not just the faults.
  EXPECT_GT(accepted, 5000);
  EXPECT_GT(inserted, 2000);
}

TEST(MergeDriver, WritesTheDocumentAroundTheRules) {
  ScratchDir dir;
  dir.write("tmp/r", "r\n");
  Merge m = merge_in(dir.path, R"({"enabled":false,"rule":[]})");
  EXPECT_TRUE(m.ok);
  EXPECT_EQ(m.out, R"({"enabled":false,"rule":[{"name":"","enabled":false,"raw":"r"}]})");
  EXPECT_EQ(m.err, "");
}

// An output stream that renames a directory under tmp/ as soon as a chosen rule has
// been written, that is while the walk is still inside the directory.
struct RenamingOutput {
  std::string written;
  std::string trigger;
  std::string from, to;
  bool renamed = false;
};

ssize_t write_and_rename(void* cookie, const char* data, std::size_t size) {
  auto& output = *static_cast<RenamingOutput*>(cookie);
  output.written.append(data, size);
  if (!output.renamed && output.written.find(output.trigger) != std::string::npos) {
    output.renamed = rename(output.from.c_str(), output.to.c_str()) == 0;
  }
  return static_cast<ssize_t>(size);
}

TEST(MergeDriver, DirectoryRenamedDuringTheWalkCostsNoOtherEntry) {
  ScratchDir dir;
  dir.write("tmp/a/first", "in a\n");
  dir.write("tmp/a/second", "also in a\n");
  dir.write("tmp/b.rules", "b\n");
  dir.write("tmp/z/z.rules", "z\n");
  RenamingOutput output;
  output.trigger = "in a";
  output.from = dir.path + "/tmp/a";
  output.to = dir.path + "/tmp/z/a";
  cookie_io_functions_t functions{};
  functions.write = write_and_rename;
  FILE* out = fopencookie(&output, "w", functions);
  ASSERT_NE(out, nullptr);
  std::setvbuf(out, nullptr, _IONBF, 0);
  int original = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  MergeResult result = merge_document(kDefaultDocument, out);
  std::fclose(out);
  ASSERT_EQ(fchdir(original), 0);
  close(original);

  EXPECT_TRUE(output.renamed);
  EXPECT_EQ(result.outcome, MergeOutcome::kMerged);
  EXPECT_TRUE(result.faults.empty());
  // tmp/a is read whole through its descriptor; tmp/z is listed after the move, so it
  // now holds a and its files are read a second time.
  EXPECT_EQ(output.written, R"({"enabled":false,"rule":[)" + rule_object("", "in a") + "," +
                                rule_object("", "also in a") + "," + rule_object("", "b") + "," +
                                rule_object("", "in a") + "," + rule_object("", "also in a") + "," +
                                rule_object("", "z") + "]}");
}

}  // namespace
