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
  // When the test runs as root, run the program as an unprivileged user instead, so
  // that permissions are enforced on it (root reads every file). The program then runs
  // from a copy in a scratch folder, since that user may not reach the build folder.
  // Tests that rely on it first ask permission_tests_unavailable().
  bool drop_root = false;
  // When set, the program's address space is limited to this many bytes.
  unsigned long long address_space_limit = 0;
  // False for a system tool that only sets a test up (tar, say): it runs without the
  // test wrapper, whose checks are for the project's own programs.
  bool wrapped = true;
};

// The user id a program started with `drop_root` runs as.
constexpr unsigned kUnprivilegedUid = 65534;

// The environment of this process with the NAME=value entries of `extra` in place of
// those of the same names (a name set twice would leave the first one in force).
std::vector<std::string> environment_with(const std::vector<std::string>& extra);

// Runs argv[0] (a path) with the given arguments, feeding `input` and collecting
// standard output and standard error. No shell is involved. When the environment
// variable RULE_TOOLS_TEST_WRAPPER holds a command (words separated by spaces, the first
// an absolute path, such as valgrind with its options), the program runs under it,
// except under an address-space limit, within which such a tool cannot work.
ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

// Why a program started with `drop_root` would not have file permissions enforced on it
// here, or "" when it would. Root cannot give up its privileges in a user namespace that
// refuses setgroups or does not map kUnprivilegedUid; a user holding CAP_DAC_OVERRIDE
// reads files whatever their mode; and the unprivileged user must reach the temporary
// folder, where the program's copy goes.
std::string permission_tests_unavailable();

// The path of the program `name`, looked for in the folders of PATH (an empty entry is the
// working folder) and then in /usr/sbin, /usr/bin, /sbin and /bin, where system tools such
// as snmpd live even when PATH leaves them out; "" when it is nowhere.
std::string find_program(const std::string& name);

// True where the environment variable CI is set (to anything but "", "0" or "false").
bool running_in_ci();

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

// Ends the current test for want of a tool or library it needs: a skip on a developer's
// machine, a failure in CI, where everything the tests need is installed and a test that
// skips would let CI pass without running it. Use in a test body, like GTEST_SKIP().
#define SKIP_UNLESS_CI(reason)                                                   \
  do {                                                                           \
    if (running_in_ci()) FAIL() << reason << " (CI is set: this must not skip)"; \
    GTEST_SKIP() << reason;                                                      \
  } while (false)
