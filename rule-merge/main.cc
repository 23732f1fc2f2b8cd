// rule-merge: merges the rule lines of the files under tmp/ into a JSON configuration.
#include <cstdio>
#include <string_view>

#include "merge_driver.h"

namespace {

constexpr char kUsage[] =
    "usage: rule-merge [document]\n"
    "       rule-merge -h | --help | --version\n"
    "\n"
    "Checks the JSON configuration document (default: {\"enabled\":false,\"rule\":[]})\n"
    "and writes it to standard output with one disabled rule object\n"
    "{\"name\":...,\"enabled\":false,\"raw\":...} inserted before the bracket that closes\n"
    "its rule array for every rule line of the files under tmp/ of the working\n"
    "directory. A '#' comment line just above a rule line names the rule.\n"
    "\n"
    "Exit status: 0 when the document was written (or has no rule array), 1 when\n"
    "the document is refused, memory runs out or standard output cannot be written.\n";

// Standard output is checked once, at the end: a full disk must not look like success.
int finish(bool ok) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("write error\n", stderr);
    return 1;
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  static char output_buffer[1 << 16];  // rule objects stream out in large writes
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  std::string_view document = kDefaultDocument;
  if (argc > 1 && argv[1][0] != '\0') {
    std::string_view arg = argv[1];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return finish(true);
    }
    if (arg == "--version") {
      std::fputs("rule-merge " RULE_TOOLS_VERSION "\n", stdout);
      return finish(true);
    }
    document = arg;
  }
  return finish(merge_document(document, stdout, stderr));
}
