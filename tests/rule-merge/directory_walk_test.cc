// Tests for the directory walk where the tree changes while it is walked: a directory
// moved or removed under the walk costs only the entries below it.
#include "directory_walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "process.h"

namespace {

struct Walked {
  std::vector<std::string> paths;
  std::string messages;
  bool complete = false;
};

// Walks tmp/ of `dir`, calling `change` after the file at `trigger` is handed out.
Walked walk(const ScratchDir& dir, const std::string& trigger = "",
            const std::function<void()>& change = {}, WalkSkip skip = {}) {
  int original = open(".", O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(chdir(dir.path.c_str()), 0);
  char* buffer = nullptr;
  std::size_t size = 0;
  FILE* err = open_memstream(&buffer, &size);
  Walked walked;
  {
    DirectoryWalkPtr w = start_walk("tmp", std::move(skip), err);
    std::string path;
    while (next_file(*w, path) >= 0) {
      walked.paths.push_back(path);
      if (path == trigger && change) change();
    }
    walked.complete = walk_complete(*w);
  }
  std::fclose(err);
  walked.messages.assign(buffer, size);
  std::free(buffer);
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
  FileIdentity own;
  ASSERT_TRUE(regular_file_identity(fd, own));
  close(fd);
  ASSERT_EQ(symlink("own", (dir.path + "/tmp/own-link").c_str()), 0);
  Walked w = walk(dir, "", {}, WalkSkip{{own}, {}});
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
      WalkSkip{{}, {{FileIdentity{st.st_dev, st.st_ino}, "out.json"}}});
  EXPECT_EQ(w.paths, (std::vector<std::string>{"tmp/.out.json.AbC12", "tmp/.out.json.AbC12-",
                                               "tmp/out.json2", "tmp/sub/out.json"}));
  EXPECT_EQ(w.messages, "");
  EXPECT_TRUE(w.complete);
}

}  // namespace
