// Nothing written, nothing lost: a realistic run of queries, failing ones
// included, leaves every file of the store byte for byte as it was, with the
// same modification and change times, and adds or removes no file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

struct FileState {
  std::string bytes;
  struct timespec modified;
  struct timespec changed;
  mode_t mode;

  bool operator==(const FileState& o) const {
    return bytes == o.bytes && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec && mode == o.mode;
  }
};

// Every entry of `dir` (the directory itself as ".") with its state.
std::map<std::string, FileState> Snapshot(const TempDir& dir) {
  std::map<std::string, FileState> files;
  std::vector<std::string> names = {"."};
  for (const auto& entry : fs::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  for (const std::string& name : names) {
    struct stat st;
    EXPECT_EQ(lstat(dir.File(name).c_str(), &st), 0) << name;
    files[name] = {S_ISREG(st.st_mode) ? dir.Read(name) : std::string(), st.st_mtim, st.st_ctim,
                   st.st_mode};
  }
  return files;
}

TEST(StoreUntouchedTest, QueriesGoodAndBadLeaveEveryStoreFileAsItWas) {
  TempDir store;
  for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
    fs::copy_file(entry.path(), store.File(entry.path().filename().string()));
  // Times far in the past, so that any write, even within the file system's
  // time resolution of the copy, would show.
  const struct timespec past[2] = {{978307200, 0}, {978307200, 0}};
  for (const auto& entry : fs::directory_iterator(store.path()))
    ASSERT_EQ(utimensat(AT_FDCWD, entry.path().c_str(), past, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, store.path().c_str(), past, 0), 0);

  // Forms kept outside the store: one naming a table the store lacks, one
  // that breaks off in the middle.
  TempDir forms;
  forms.Write("missing_table", "2 1 1 0\n1 1 6 0\n1 1 6 50 nosuch.db 80 6 30\n1 1 8 0\n");
  forms.Write("broken", "9 4 5 0\n1 1 6 0\n1 10 six 50\n");
  const std::map<std::string, FileState> before = Snapshot(store);

  struct Query {
    std::vector<std::string> args;
    int status;
  };
  const std::vector<Query> queries = {
      {{"fac", "h00;", "h01;", "d01;", "d04;"}, 0},
      {{"fac", "h00;000107", "h01;", "d01;"}, 0},              // through the header index
      {{"fac", "h00;", "d00;", "d01;tornillo", "d04"}, 0},
      {{"fac", "h00;*", "h04;", "h05;", "h06;", "h07;", "h08"}, 0},
      {{"fac", "h07;by0", "h00"}, 0},                          // a calculated field searched
      {{"fac", "h00;nothing-matches"}, 0},
      {{"fac", "hxx;", "h99;x", "", "d9"}, 0},                 // bad arguments
      {{"fac"}, 0},
      {{"nosuchform", "h00;"}, 1},                             // missing form
      {{"fac.c0", "h00;"}, 1},                                 // not a form
      {{".", "h00;"}, 1},                                      // a directory as the form
      {{forms.File("broken"), "h00;"}, 1},
      {{forms.File("missing_table"), "h00;"}, 1},              // missing lookup table
      {{}, 2},                                                 // no form at all
      {{"--help"}, 0},
      {{"--version"}, 0},
  };
  for (const Query& q : queries) {
    RunResult r = RunQueryIn(store.path(), q.args);
    EXPECT_EQ(r.status, q.status) << (q.args.empty() ? "(no arguments)" : q.args[0]) << " " << r.err;
  }

  const std::map<std::string, FileState> after = Snapshot(store);
  ASSERT_EQ(after.size(), before.size()) << "a file appeared in or vanished from the store";
  for (const auto& [name, state] : before) {
    auto it = after.find(name);
    ASSERT_NE(it, after.end()) << name << " vanished";
    EXPECT_TRUE(it->second == state) << name << " was changed";
  }
}

}  // namespace
