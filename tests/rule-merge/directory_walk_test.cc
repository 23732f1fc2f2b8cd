// Tests for the directory walk where the tree changes while it is walked: a directory
// moved or removed under the walk costs only the entries below it.
#include "directory_walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "process.h"

namespace {

struct Walked {
  std::vector<std::string> paths;
  std::string messages;  // the faults' messages
  bool complete = false;
};

// Walks tmp/ of `dir`, calling `change` after the file at `trigger` is handed out.
Walked walk(const ScratchDir& dir, const std::string& trigger = "",
            const std::function<void()>& change = {}, WalkSkip skip = {}) {
  int original = open(".", O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(chdir(dir.path.c_str()), 0);
  std::vector<Fault> faults;
  Walked walked;
  {
    DirectoryWalkPtr w = start_walk("tmp", std::move(skip), faults);
    std::string path;
    while (next_file(*w, path) >= 0) {
      walked.paths.push_back(path);
      if (path == trigger && change) change();
    }
    walked.complete = walk_complete(*w);
  }
  for (const Fault& fault : faults) {
    EXPECT_EQ(fault.kind, FaultKind::kEntry);
    walked.messages += fault.message;
  }
  EXPECT_EQ(fchdir(original), 0);
  close(original);
  return walked;
}

TEST(DirectoryWalk, ListsFilesInOrder) {
  ScratchDir dir;
  dir.write("tmp/b", "");
  dir.write("tmp/a/y", "");
  dir.write("tmp/a/x/deep", "");
  Walked w = walk(dir);
  EXPECT_EQ(w.paths, (std::vector<std::string>{"tmp/a/x/deep", "tmp/a/y", "tmp/b"}));
  EXPECT_EQ(w.messages, "");
  EXPECT_TRUE(w.complete);
}

TEST(DirectoryWalk, AncestorMovedDuringTheWalkCostsNothing) {
  ScratchDir dir;
  dir.write("tmp/a/b/f1", "");
  dir.write("tmp/a/b/f2", "");
  dir.write("tmp/a/z", "");
  dir.write("tmp/b.rules", "");
  Walked w = walk(dir, "tmp/a/b/f1",
                  [&] { std::filesystem::rename(dir.path + "/tmp/a", dir.path + "/tmp/moved"); });
  // Paths are given as the directories were when they were entered.
  EXPECT_EQ(w.paths,
            (std::vector<std::string>{"tmp/a/b/f1", "tmp/a/b/f2", "tmp/a/z", "tmp/b.rules"}));
  EXPECT_EQ(w.messages, "");
  EXPECT_TRUE(w.complete);
}

TEST(DirectoryWalk, DirectoryMovedOutOfTheTreeCostsOnlyItsOwnEntries) {
  ScratchDir dir;
  dir.write("tmp/a/b/f1", "");
  dir.write("tmp/a/b/f2", "");
  dir.write("tmp/a/z", "");
  dir.write("tmp/c", "");
  Walked w = walk(dir, "tmp/a/b/f1", [&] {
    // a goes away, and b is left elsewhere: the walk can no longer climb from b to a.
    std::filesystem::rename(dir.path + "/tmp/a/b", dir.path + "/b");
    std::filesystem::rename(dir.path + "/tmp/a", dir.path + "/a");
  });
  EXPECT_EQ(w.paths, (std::vector<std::string>{"tmp/a/b/f1", "tmp/a/b/f2", "tmp/c"}));
  EXPECT_EQ(w.messages, "failed to read tmp/a\n");
  EXPECT_FALSE(w.complete);
}

TEST(DirectoryWalk, DirectoryRemovedDuringTheWalk) {
  ScratchDir dir;
  dir.write("tmp/a/deep/f1", "");
  dir.write("tmp/a/deep/f2", "");
  dir.write("tmp/a/z", "");
  dir.write("tmp/b", "");
  Walked w = walk(dir, "tmp/a/deep/f1", [&] { std::filesystem::remove_all(dir.path + "/tmp/a"); });
  EXPECT_EQ(w.paths, (std::vector<std::string>{"tmp/a/deep/f1", "tmp/b"}));
  // Every entry that was listed but is gone is named.
  EXPECT_EQ(w.messages, "failed to open tmp/a/deep/f2\nfailed to open tmp/a/z\n");
  EXPECT_FALSE(w.complete);
}

TEST(DirectoryWalk, DirectoryFinishedBeforeItIsRemovedIsNoLoss) {
  ScratchDir dir;
  dir.write("tmp/a/b/f", "");
  dir.write("tmp/c", "");
  Walked w = walk(dir, "tmp/a/b/f", [&] { std::filesystem::remove_all(dir.path + "/tmp/a"); });
  EXPECT_EQ(w.paths, (std::vector<std::string>{"tmp/a/b/f", "tmp/c"}));
  EXPECT_EQ(w.messages, "");
  EXPECT_TRUE(w.complete);
}

TEST(DirectoryWalk, SkipsTheFilesItIsTold) {
  ScratchDir dir;
  dir.write("tmp/a", "");
  dir.write("tmp/own", "");
  dir.write("tmp/z", "");
  int fd = open((dir.path + "/tmp/own").c_str(), O_RDONLY);
  std::optional<FileStatus> own = file_status(fd);
  ASSERT_TRUE(own && own->regular);
  close(fd);
  ASSERT_EQ(symlink("own", (dir.path + "/tmp/own-link").c_str()), 0);
  Walked w = walk(dir, "", {}, WalkSkip{{own->identity}, {}});
  EXPECT_EQ(w.paths, (std::vector<std::string>{"tmp/a", "tmp/z"}));
  EXPECT_EQ(w.messages, "");
  EXPECT_TRUE(w.complete);
}

// Another run's output, finished or not, is passed over by its place, whatever its
// identity: the output's own name and its temporary files' leftovers, in its directory.
TEST(DirectoryWalk, SkipsTheOutputsPlaceAndItsLeftovers) {
  ScratchDir dir;
  for (const char* name : {".out.json.AbC123", ".out.json.AbC12", ".out.json.AbC12-", "out.json",
                           "out.json2", "sub/out.json"}) {
    dir.write(std::string("tmp/") + name, "");
  }
  dir.write("tmp/.out.json.Gone01", "");
  struct stat st;
  ASSERT_EQ(stat((dir.path + "/tmp").c_str(), &st), 0);
  // Another run renames its temporary file over the output after the listing: gone
  // before the walk reaches it, it is not missed.
  Walked w = walk(
      dir, "tmp/.out.json.AbC12",
      [&] {
        std::filesystem::rename(dir.path + "/tmp/.out.json.Gone01", dir.path + "/tmp/out.json");
      },
      WalkSkip{{}, {{FileIdentity{st.st_dev, st.st_ino}, "tmp", "out.json"}}});
  EXPECT_EQ(w.paths, (std::vector<std::string>{"tmp/.out.json.AbC12", "tmp/.out.json.AbC12-",
                                               "tmp/out.json2", "tmp/sub/out.json"}));
  EXPECT_EQ(w.messages, "");
  EXPECT_TRUE(w.complete);
}

// Another run writing the same output renames its file over it while this run walks: a
// link to the output, or to that run's temporary file, leads to a file this run never
// knew, and is passed over all the same.
TEST(DirectoryWalk, SkipsTheOutputHoweverItIsReached) {
  ScratchDir dir;
  dir.write("out.json", "old");
  dir.write(".out.json.Xy12Z9", "another run's");
  dir.write("tmp/a", "");
  for (const char* link : {"to-output", "to-temporary"}) {
    ASSERT_EQ(symlink(link[3] == 'o' ? "../out.json" : "../.out.json.Xy12Z9",
                      (dir.path + "/tmp/" + link).c_str()),
              0);
  }
  int fd = open((dir.path + "/out.json").c_str(), O_RDONLY);
  std::optional<FileStatus> old_output = file_status(fd);
  ASSERT_TRUE(old_output);
  close(fd);
  struct stat st;
  ASSERT_EQ(stat(dir.path.c_str(), &st), 0);
  dir.write("newer.json", "the other run's document");
  ASSERT_EQ(rename((dir.path + "/newer.json").c_str(), (dir.path + "/out.json").c_str()), 0);
  Walked w = walk(
      dir, "", {},
      WalkSkip{{old_output->identity}, {{FileIdentity{st.st_dev, st.st_ino}, ".", "out.json"}}});
  EXPECT_EQ(w.paths, (std::vector<std::string>{"tmp/a"}));
  EXPECT_EQ(w.messages, "");
}

}  // namespace
