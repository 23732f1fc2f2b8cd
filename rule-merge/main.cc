// rule-merge: merges the rule lines of the files under tmp/ into a JSON configuration.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "merge_driver.h"

namespace {

constexpr char kUsage[] =
    "usage: rule-merge [document]\n"
    "Checks the JSON configuration document (default: "
    R"({"enabled":false,"rule":[]}))"
    ")\nand writes it to standard output with one disabled rule object\n"
    R"({"name":...,"enabled":false,"raw":...})"
    " inserted into its rule array for every rule\n"
    "line of the files under tmp/. A '#' comment line just above a rule names it.\n"
    "Exit status: 0 on success, 1 on a fault in the document or a write error.\n";

}  // namespace

int main(int argc, char** argv) {
  std::string_view document = kDefaultDocument;
  if (argc > 1 && argv[1][0] != '\0') {
    std::string_view arg = argv[1];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    if (arg == "--version") {
      std::fputs("rule-merge " RULE_TOOLS_VERSION "\n", stdout);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    document = arg;
  }
  bool ok = merge_document(document, stdout, stderr);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("write error\n", stderr);
    return 1;
  }
  return ok ? 0 : 1;
}
