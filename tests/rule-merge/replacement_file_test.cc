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

// The temporary file, named or not, takes the target's place; a name of up to 255 bytes
// is replaced too, the temporary name holding as much of it as fits.
TEST(ReplacementFile, NamedTemporaryFileTakesTheTargetsPlace) {
  for (const std::string& name :
       {std::string("out.json"), std::string(248, 'n'), std::string(255, 'n')}) {
    for (bool unnamed : {false, true}) {
      SCOPED_TRACE(testing::Message() << name.size() << (unnamed ? " unnamed" : " named"));
      ScratchDir dir;
      dir.write(name, "old");
      ReplacementFilePtr file = create_replacement(dir.path + "/" + name, unnamed);
      ASSERT_TRUE(file);
      std::fputs("new", file->stream);
      ASSERT_TRUE(commit_replacement(*file));
      EXPECT_EQ(listing(dir.path), std::vector<std::string>{name});
      EXPECT_EQ(read_file(dir.path + "/" + name), "new");
      std::string temporary = temporary_name_prefix(name) + "Ab12Cd";
      EXPECT_LE(temporary.size(), 255u);
      EXPECT_TRUE(is_temporary_name(temporary, name));
    }
  }
}

// A signal ends the run and takes the named temporary file with it; one the caller
// ignores (nohup, a job started in the background) stays ignored, and the run goes on.
TEST(ReplacementFile, SignalsRemoveTheNamedTemporaryFile) {
  struct Case {
    int signal_number;
    bool ignored;
  };
  for (const Case c : {Case{SIGINT, false}, Case{SIGTERM, false}, Case{SIGHUP, false},
                       Case{SIGPIPE, false}, Case{SIGINT, true}, Case{SIGHUP, true}}) {
    SCOPED_TRACE(testing::Message() << c.signal_number << (c.ignored ? " ignored" : ""));
    ScratchDir dir;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The test may have been started with the signal ignored or blocked (nohup, a
      // background job of a shell without job control): the case's disposition is meant.
      signal(c.signal_number, c.ignored ? SIG_IGN : SIG_DFL);
      sigset_t wanted;
      sigemptyset(&wanted);
      sigaddset(&wanted, c.signal_number);
      sigprocmask(SIG_UNBLOCK, &wanted, nullptr);
      ReplacementFilePtr file = create_replacement(dir.path + "/out.json", false);
      if (!file || file->temporary.empty()) _exit(1);
      std::fputs("partial", file->stream);
      std::fflush(file->stream);
      raise(c.signal_number);
      _exit(commit_replacement(*file) ? 3 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (c.ignored) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
      EXPECT_EQ(listing(dir.path), std::vector<std::string>{"out.json"});
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number) << status;
      EXPECT_TRUE(listing(dir.path).empty());
    }
  }
}

}  // namespace
