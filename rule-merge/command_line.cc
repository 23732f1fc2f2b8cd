// The command line of rule-merge: `-o FILE`, `--output FILE` or `--output=FILE`, -n or
// --new-only, `--`, -h, --help and --version; anything else that looks like an option is refused,
// since no document begins with `-` and a letter, nor with `--`.
#include "command_line.h"

const char kHelpText[] =
    "usage: rule-merge [-n] [-o file] [--] [document]\n"
    "       rule-merge -h | --help | --version\n"
    "\n"
    "Checks the JSON configuration document (default: {\"enabled\":false,\"rule\":[]})\n"
    "and writes it with one disabled rule object {\"name\":...,\"enabled\":false,\"raw\":...}\n"
    "inserted before the bracket that closes its rule array for every rule line of the\n"
    "files under tmp/ of the working directory. A '#' comment line just above a rule\n"
    "line names the rule.\n"
    "\n"
    "  -o, --output file  write to file instead of standard output; file is replaced\n"
    "                     only by a complete merge and left as it was otherwise\n"
    "  -n, --new-only     insert no rule line whose raw text is already the raw of an\n"
    "                     object in the rule array, or was met earlier in the run, nor\n"
    "                     one longer than 8191 bytes written (\"too long rule for -n\")\n"
    "  --                 the next argument is the document, even if it starts with -\n"
    "\n"
    "A file under tmp/ that is not text (a zero byte in its first 4096 bytes, or the\n"
    "magic bytes of gzip, bzip2, xz, zstd, zip or tar) is skipped: \"skipped binary\n"
    "file\", and the rest is merged. Bytes outside valid UTF-8 are written \\u00XX.\n"
    "\n"
    "Exit status: 0 when the document was written (or, without -o, has no rule array);\n"
    "1 when the document is refused or has no rule array for -o, on an unknown option,\n"
    "or when memory runs out or the output cannot be written; 2 when the document was\n"
    "merged, but some entries under tmp/ could not be read (the -o file is then left as\n"
    "it was), or binary files or rules too long for -n were skipped (it is written).\n";

namespace {

constexpr std::string_view kUsageLine = "usage: rule-merge [-o file] [--] [document]\n";

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool looks_like_option(std::string_view arg) {
  return (arg.size() > 1 && arg[0] == '-' && is_letter(arg[1])) ||
         (arg.size() > 2 && arg.starts_with("--"));
}

}  // namespace

std::optional<CommandLine> read_command_line(int argc, const char* const* argv,
                                             std::vector<Fault>& faults) {
  CommandLine line;
  bool options = true;
  bool have_document = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!options || (arg != "--" && !looks_like_option(arg))) {
      if (!have_document) line.document = arg;
      have_document = true;
      continue;
    }
    if (arg == "--") {
      options = false;
    } else if (arg == "-h" || arg == "--help") {
      line.action = CommandLine::kHelp;
      return line;
    } else if (arg == "-n" || arg == "--new-only") {
      line.new_only = true;
    } else if (arg == "--version") {
      line.action = CommandLine::kVersion;
      return line;
    } else if (arg == "-o" || arg == "--output" || arg.starts_with("--output=")) {
      std::string_view file = arg.starts_with("--output=") ? arg.substr(9)
                              : i + 1 < argc               ? std::string_view(argv[++i])
                                                           : std::string_view();
      if (file.empty()) {
        faults.push_back({FaultKind::kCommandLine, std::string(kUsageLine)});
        return std::nullopt;
      }
      line.output = file;
    } else {
      faults.push_back(fault_showing(FaultKind::kCommandLine, "unknown option ", arg));
      return std::nullopt;
    }
  }
  return line;
}
