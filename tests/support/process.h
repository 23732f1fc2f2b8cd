// Test support: run a built program as a user would, and scratch directories on disk.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, or 128 + the signal number that ended the program
};

struct RunOptions {
  std::string input;             // written to the program's standard input
  std::string cwd;               // working directory; empty keeps the test's own
  std::string stdout_path;       // when set, standard output goes to this file (e.g. /dev/full)
  std::vector<std::string> env;  // extra NAME=value entries for the environment
  // When the test runs as root, run the program as this unprivileged user instead, so
  // that permissions are enforced on it (root reads every file).
  bool drop_root = false;
  // When set, the program's address space is limited to this many bytes.
  unsigned long long address_space_limit = 0;
};

// The user id a program started with `drop_root` runs as.
constexpr unsigned kUnprivilegedUid = 65534;

// Runs argv[0] (a path) with the given arguments, feeding `input` and collecting
// standard output and standard error. No shell is involved. When the environment
// variable RULE_TOOLS_TEST_WRAPPER holds a command (words separated by spaces, the first
// an absolute path, such as valgrind with its options), the program runs under it,
// except under an address-space limit, within which such a tool cannot work.
ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

// A fresh directory under the system's temporary folder, removed with all it holds.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Writes `content` to the file at `relative` (parents are created).
  void write(const std::string& relative, const std::string& content) const;
  // Creates the directory at `relative` and its parents.
  void make_dir(const std::string& relative) const;

  std::string path;
};
