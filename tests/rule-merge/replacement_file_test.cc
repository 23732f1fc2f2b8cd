// Tests for the replacement file: the named temporary file of a file system without
// O_TMPFILE goes when a signal ends the run.
#include "replacement_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "file_text.h"
#include "process.h"

namespace {

TEST(ReplacementFile, NamedTemporaryFileTakesTheTargetsPlace) {
  ScratchDir dir;
  dir.write("out.json", "old");
  ReplacementFilePtr file = create_replacement(dir.path + "/out.json", stderr, false);
  ASSERT_TRUE(file);
  std::fputs("new", file->stream);
  ASSERT_TRUE(commit_replacement(*file, stderr));
  EXPECT_EQ(listing(dir.path), std::vector<std::string>{"out.json"});
  EXPECT_EQ(read_file(dir.path + "/out.json"), "new");
}

TEST(ReplacementFile, SignalsRemoveTheNamedTemporaryFile) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(signal_number);
    ScratchDir dir;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The test may have been started with the signal ignored or blocked (nohup, a
      // background job of a shell without job control): the program's own default is meant.
      signal(signal_number, SIG_DFL);
      sigset_t wanted;
      sigemptyset(&wanted);
      sigaddset(&wanted, signal_number);
      sigprocmask(SIG_UNBLOCK, &wanted, nullptr);
      ReplacementFilePtr file = create_replacement(dir.path + "/out.json", stderr, false);
      if (!file || file->temporary.empty()) _exit(1);
      std::fputs("partial", file->stream);
      std::fflush(file->stream);
      raise(signal_number);
      _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    EXPECT_TRUE(listing(dir.path).empty());
  }
}

// A signal the caller ignores (nohup, a job started in the background) stays ignored
// while the named temporary file is there.
TEST(ReplacementFile, IgnoredSignalsStayIgnored) {
  for (int signal_number : {SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    ScratchDir dir;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(signal_number, SIG_IGN);
      ReplacementFilePtr file = create_replacement(dir.path + "/out.json", stderr, false);
      if (!file || file->temporary.empty()) _exit(1);
      raise(signal_number);
      _exit(commit_replacement(*file, stderr) ? 3 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_EQ(listing(dir.path), std::vector<std::string>{"out.json"});
  }
}

}  // namespace
