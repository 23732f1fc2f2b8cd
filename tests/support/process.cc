// Test support: runs programs through posix_spawn with pipes, and manages scratch dirs.
#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  check(pipe2(in_pipe, O_CLOEXEC) == 0, "pipe");
  check(pipe2(out_pipe, O_CLOEXEC) == 0, "pipe");
  check(pipe2(err_pipe, O_CLOEXEC) == 0, "pipe");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  if (options.stdout_path.empty()) {
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, options.stdout_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());

  // The child starts with default signal dispositions, SIGPIPE included.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
  for (const std::string& e : options.env) env_strings.push_back(e);
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    errno = rc;
    check(false, "posix_spawn");
  }

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

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "rule-tools-XXXXXX").string();
  check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path = pattern;
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

void ScratchDir::write(const std::string& relative, const std::string& content) const {
  std::filesystem::path file = std::filesystem::path(path) / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream stream(file, std::ios::binary);
  stream.write(content.data(), static_cast<std::streamsize>(content.size()));
  check(stream.good(), "write");
}

void ScratchDir::make_dir(const std::string& relative) const {
  std::filesystem::create_directories(std::filesystem::path(path) / relative);
}
