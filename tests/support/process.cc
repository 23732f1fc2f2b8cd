// Test support: runs programs with pipes (fork and exec, no shell), and manages scratch dirs.
#include "process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// The words of RULE_TOOLS_TEST_WRAPPER, to be put before the program's own.
std::vector<std::string> wrapper_words() {
  std::vector<std::string> words;
  const char* wrapper = std::getenv("RULE_TOOLS_TEST_WRAPPER");
  std::string_view rest = wrapper ? wrapper : "";
  for (;;) {
    std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    std::size_t end = std::min(rest.find(' '), rest.size());
    words.emplace_back(rest.substr(0, end));
    rest.remove_prefix(end);
  }
  return words;
}

// A copy of the program at `path` in `dir`, executable by anyone.
std::string copy_program(const std::string& path, const ScratchDir& dir) {
  std::filesystem::path copy =
      std::filesystem::path(dir.path) / std::filesystem::path(path).filename();
  std::filesystem::copy_file(path, copy);
  check(chmod(copy.c_str(), 0755) == 0, "chmod");
  return copy.string();
}

// Gives up root's privileges for good: no supplementary groups, kUnprivilegedUid as user
// and group. Returns false where the system refuses. Safe between fork and exec.
bool drop_privileges() {
  return setgroups(0, nullptr) == 0 && setgid(kUnprivilegedUid) == 0 &&
         setuid(kUnprivilegedUid) == 0;
}

}  // namespace

std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
  // The name of an entry, with its `=`; an entry without one is its own name.
  auto name_of = [](std::string_view entry) { return entry.substr(0, entry.find('=') + 1); };
  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e) {
    std::string_view entry = *e;
    bool replaced = std::any_of(extra.begin(), extra.end(),
                                [&](const std::string& x) { return name_of(x) == name_of(entry); });
    if (!replaced) entries.emplace_back(entry);
  }
  entries.insert(entries.end(), extra.begin(), extra.end());
  return entries;
}

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
  // A program that exits before reading all its input must not take the test with it.
  signal(SIGPIPE, SIG_IGN);
  int in_pipe[2], out_pipe[2], err_pipe[2];
  check(pipe2(in_pipe, O_CLOEXEC) == 0, "pipe");
  check(pipe2(out_pipe, O_CLOEXEC) == 0, "pipe");
  check(pipe2(err_pipe, O_CLOEXEC) == 0, "pipe");

  std::vector<std::string> command;
  if (options.wrapped && options.address_space_limit == 0) command = wrapper_words();
  command.insert(command.end(), argv.begin(), argv.end());
  bool dropping = options.drop_root && geteuid() == 0;
  // The build folder may lie in a folder of mode 0700 (a home folder, say), which the
  // unprivileged user cannot pass through: it runs a copy of the program instead.
  std::unique_ptr<ScratchDir> program_dir;
  if (dropping) {
    program_dir = std::make_unique<ScratchDir>();
    std::size_t program = command.size() - argv.size();
    command[program] = copy_program(command[program], *program_dir);
  }
  std::vector<char*> args;
  for (const std::string& a : command) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_strings = environment_with(options.env);
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  int out_target = -1;
  if (!options.stdout_path.empty()) {
    out_target = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(out_target >= 0, "open stdout");
  }

  pid_t pid = fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    // The child: only async-signal-safe calls from here to exec.
    dup2(in_pipe[0], 0);
    dup2(out_target >= 0 ? out_target : out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    signal(SIGPIPE, SIG_DFL);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.address_space_limit != 0) {
      rlimit limit{options.address_space_limit, options.address_space_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (dropping && !drop_privileges()) _exit(126);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (out_target >= 0) close(out_target);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);

  // Feed the input and drain both outputs together, so no pipe fills and blocks.
  ProcessResult result;
  std::size_t written = 0;
  int in_fd = in_pipe[1];
  if (options.input.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  int out_fd = out_pipe[0], err_fd = err_pipe[0];
  char buffer[65536];
  while (in_fd >= 0 || out_fd >= 0 || err_fd >= 0) {
    pollfd fds[3];
    int n = 0;
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
    if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      check(false, "poll");
    }
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      int fd = fds[i].fd;
      if (fd == in_fd) {
        ssize_t k = write(fd, options.input.data() + written, options.input.size() - written);
        if (k > 0) written += static_cast<std::size_t>(k);
        if (k < 0 && errno != EAGAIN) written = options.input.size();  // the reader is gone
        if (written == options.input.size()) {
          close(in_fd);
          in_fd = -1;
        }
      } else {
        ssize_t k = read(fd, buffer, sizeof buffer);
        if (k > 0) {
          (fd == out_fd ? result.out : result.err).append(buffer, static_cast<std::size_t>(k));
        } else if (k == 0 || errno != EINTR) {
          close(fd);
          (fd == out_fd ? out_fd : err_fd) = -1;
        }
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string permission_tests_unavailable() {
  // A child takes the same steps as run_process with drop_root, then tries a file of mode
  // 0 and the temporary folder; its exit status says what it found.
  enum Finding { kEnforced, kNoSetgroups, kNoUnprivilegedUid, kTempUnreachable, kUnenforced };
  ScratchDir dir;
  dir.write("locked", "");
  dir.write("program", "");
  check(chmod((dir.path + "/locked").c_str(), 0) == 0, "chmod");
  check(chmod((dir.path + "/program").c_str(), 0755) == 0, "chmod");
  std::string program = dir.path + "/program";
  pid_t pid = fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    if (chdir(dir.path.c_str()) != 0) _exit(kTempUnreachable);
    if (geteuid() == 0) {
      if (setgroups(0, nullptr) != 0) _exit(kNoSetgroups);
      if (setgid(kUnprivilegedUid) != 0 || setuid(kUnprivilegedUid) != 0) {
        _exit(kNoUnprivilegedUid);
      }
      if (access(program.c_str(), X_OK) != 0) _exit(kTempUnreachable);
    }
    int fd = open("locked", O_RDONLY);
    _exit(fd >= 0 ? kUnenforced : kEnforced);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  int finding = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::string uid = std::to_string(kUnprivilegedUid);
  switch (finding) {
    case kEnforced:
      return "";
    case kNoSetgroups:
      return "root cannot give up its privileges here: setgroups is refused (a user namespace?)";
    case kNoUnprivilegedUid:
      return "root cannot become uid " + uid + " here (a user namespace that does not map it?)";
    case kTempUnreachable:
      return "uid " + uid + " cannot reach the temporary folder " +
             std::filesystem::temp_directory_path().string() +
             "; set TMPDIR to a folder it can reach";
    case kUnenforced:
      return "file permissions are not enforced on this user (it holds CAP_DAC_OVERRIDE or "
             "CAP_DAC_READ_SEARCH)";
    default:
      return "the permission check ended with status " + std::to_string(status);
  }
}

bool running_in_ci() {
  const char* ci = std::getenv("CI");
  if (ci == nullptr) return false;
  std::string_view value = ci;
  return !value.empty() && value != "0" && value != "false";
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "rule-tools-XXXXXX").string();
  check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path = pattern;
  chmod(path.c_str(), 0755);  // reachable by a program run without root's rights
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Give back any permission a test took away, so everything can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0755);
  }
  chmod(path.c_str(), 0755);
  std::filesystem::remove_all(path, ec);
}

namespace {

// Creates the directories of `relative` below `root` that are missing, each of mode 0755
// whatever the umask, so a program run without root's rights can pass through them.
void make_directories(const std::string& root, const std::filesystem::path& relative) {
  std::filesystem::path at = root;
  for (const std::filesystem::path& part : relative) {
    at /= part;
    if (mkdir(at.c_str(), 0755) == 0) {
      check(chmod(at.c_str(), 0755) == 0, "chmod");
    } else {
      check(errno == EEXIST, "mkdir");
    }
  }
}

}  // namespace

void ScratchDir::write(const std::string& relative, const std::string& content) const {
  std::filesystem::path file = std::filesystem::path(path) / relative;
  make_directories(path, std::filesystem::path(relative).parent_path());
  bool existed = std::filesystem::exists(std::filesystem::symlink_status(file));
  std::ofstream stream(file, std::ios::binary);
  stream.write(content.data(), static_cast<std::streamsize>(content.size()));
  check(stream.good(), "write");
  // A new file is readable by anyone whatever the umask; an existing one keeps its mode.
  if (!existed) check(chmod(file.c_str(), 0644) == 0, "chmod");
}

void ScratchDir::make_dir(const std::string& relative) const {
  make_directories(path, relative);
}

std::string find_program(const std::string& name) {
  std::string dirs = "/usr/sbin:/usr/bin:/sbin:/bin";
  if (const char* path = std::getenv("PATH")) dirs = std::string(path) + ":" + dirs;
  std::istringstream list(dirs);
  std::string dir;
  while (std::getline(list, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}
