// browse refuses what the query refuses, with the same message and exit
// status, before it writes anything to the terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class BrowseBadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("browse-bad-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), dir_ / entry.path().filename());
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `program` with the form argument `form` in the copy, standard input
  // from /dev/null.
  ProgramRun Start(const std::string& program, const std::string& form, const std::string& more = "") {
    const std::string command = "cd '" + dir_.string() + "' && '" + program + "' '" + form + "' " + more +
                                " < /dev/null > out 2> err";
    ProgramRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(dir_ / "out");
    run.err = ReadFile(dir_ / "err");
    return run;
  }

  // browse and the query (with one argument) end alike: same status, same
  // standard output, same message after the program's name.
  void ExpectSameRefusal(const std::string& form = "fac") {
    ProgramRun browse = Start(BROWSE_BINARY, form);
    ProgramRun query = Start(QUERY_BINARY, form, "'h00;'");
    EXPECT_NE(query.status, 0);
    EXPECT_EQ(browse.status, query.status);
    EXPECT_EQ(browse.out, query.out);
    ASSERT_EQ(browse.err.rfind("browse: ", 0), 0u) << browse.err;
    ASSERT_EQ(query.err.rfind("query: ", 0), 0u) << query.err;
    EXPECT_EQ(browse.err.substr(8), query.err.substr(7));
  }

  fs::path dir_;
};

TEST_F(BrowseBadInputTest, MissingOrMalformedFormIsRefusedAsTheQueryRefusesIt) {
  ExpectSameRefusal("nosuchform");
  std::ofstream(dir_ / "fac") << "9 4 5 0\n1 1 x 0\n";
  ExpectSameRefusal();
}

TEST_F(BrowseBadInputTest, MissingStoreFileOrTableIsRefusedAsTheQueryRefusesIt) {
  fs::remove(dir_ / "HEAD");
  ExpectSameRefusal();
  fs::copy_file(fs::path(QUERY_EXAMPLES_DIR) / "HEAD", dir_ / "HEAD");
  fs::remove(dir_ / "DOC");
  fs::create_directory(dir_ / "DOC");
  ExpectSameRefusal();
}

TEST_F(BrowseBadInputTest, BadFormulaFileIsRefusedAsTheQueryRefusesIt) {
  fs::remove(dir_ / "fac.c0");
  fs::create_directory(dir_ / "fac.c0");
  ExpectSameRefusal();
}

TEST_F(BrowseBadInputTest, BadMaskIsNamedAndNothingReachesTheTerminal) {
  std::ofstream(dir_ / "fac.1") << std::string((64 << 10) + 1, '_');
  ProgramRun run = Start(BROWSE_BINARY, "fac");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("fac.1"), std::string::npos) << run.err;
}

TEST_F(BrowseBadInputTest, NoTerminalIsSaidBeforeAnythingIsDrawn) {
  ProgramRun run = Start(BROWSE_BINARY, "fac");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("must be a terminal"), std::string::npos) << run.err;
}

TEST_F(BrowseBadInputTest, UsageWithoutForm) {
  ProgramRun run = Start(BROWSE_BINARY, "fac", "extra");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "usage: browse [--encoding cp437|latin1|utf8] [--edit] <form>\n");
}

}  // namespace
