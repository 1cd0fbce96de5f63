// Writers killed at random moments, readers scanning while a writer
// writes, and writers racing one another: real processes each.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "store_check.h"
#include "store_writer.h"
#include "test_util.h"
#include "writer_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// Starts the change tool; its standard output goes to `out_path`.
pid_t StartTool(const std::string& mode, const std::string& dir, int64_t seed, int64_t count,
                const std::string& out_path = "/dev/null") {
  const pid_t pid = fork();
  if (pid == 0) {
    FILE* out = std::freopen(out_path.c_str(), "w", stdout);
    if (out == nullptr) _exit(126);
    const std::string s = std::to_string(seed), c = std::to_string(count);
    execl(CHANGE_TOOL, CHANGE_TOOL, mode.c_str(), dir.c_str(), s.c_str(), c.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double KillLoopSeconds() {
  const char* text = std::getenv("QUERY_KILL_LOOP_SECONDS");
  return text != nullptr && std::atof(text) > 0 ? std::atof(text) : 20;
}

void ExpectClean(const Form& form, const std::string& dir, const std::string& where) {
  CheckReport report;
  ASSERT_TRUE(CheckStore(form, dir, &report).ok());
  EXPECT_TRUE(report.problems.empty()) << where << ": " << report.problems[0];
}

TEST(KillLoopTest, AWriterKilledAtRandomMomentsLosesNothingItReportedSaved) {
  TempDir dir, log;
  WriteReferenceStore(dir.path(), 30, 4);
  const Form form = LoadFac(dir.path());
  std::vector<std::string> expected = DescribeStore(form, dir.path());
  TestRandom rnd(99);
  const auto end = Clock::now() + std::chrono::duration<double>(KillLoopSeconds());
  int rounds = 0, in_flight_landed = 0;
  for (; Clock::now() < end; ++rounds) {
    const pid_t pid = StartTool("random", dir.path(), rounds + 1, 0, log.File("out"));
    usleep(static_cast<useconds_t>(rnd.Between(0, 30000)));
    kill(pid, SIGKILL);
    Wait(pid);
    // Replay what the tool reported: each "saved" makes its "begin" state
    // the expected one; a last "begin" without an answer may or may not
    // have landed.
    std::istringstream lines(log.Read("out"));
    std::string line, pending_target, pending_state;
    bool pending = false;
    while (std::getline(lines, line)) {
      if (line.rfind("begin ", 0) == 0) {
        const size_t space = line.find(' ', 6);
        pending_target = line.substr(6, space - 6);
        pending_state = line.substr(space + 1);
        pending = true;
      } else if (line.rfind("saved ", 0) == 0) {
        const size_t n = std::stoul(line.substr(6));
        if (n >= expected.size()) expected.resize(n + 1);
        expected[n] = pending_state;
        pending = false;
      } else if (line.rfind("refused", 0) == 0) {
        pending = false;
      }
    }
    std::vector<std::string> now = DescribeStore(form, dir.path());  // rolls back first
    if (pending && now != expected) {
      std::vector<std::string> landed = expected;
      if (pending_target == "new") landed.push_back(pending_state); else landed[std::stoul(pending_target)] = pending_state;
      ASSERT_EQ(now, landed) << "round " << rounds;
      expected = landed;
      ++in_flight_landed;
    } else {
      ASSERT_EQ(now, expected) << "round " << rounds;
    }
    ExpectClean(form, dir.path(), "round " + std::to_string(rounds));
  }
  std::printf("%d writers killed; %d killed after their change was durable but before they said so\n", rounds,
              in_flight_landed);
  EXPECT_GT(rounds, 10);
}

// Every line of 'h00;' 'h04;' 'd02;' 'd03;' shows one version: the amount,
// quantity and price a version-mode change gave the document together.
bool LineShowsOneVersion(const std::string& line) {
  std::vector<std::string> f;
  std::stringstream in(line);
  for (std::string part; std::getline(in, part, ';');) f.push_back(part);
  if (f.size() != 4) return false;
  auto trim = [](std::string s) { return s.substr(s.find_first_not_of(' ')); };
  const std::string amount = trim(f[1]), price = trim(f[3]);
  return amount == price && std::to_string(std::atoll(amount.c_str()) % 100000) == trim(f[2]);
}

TEST(ReadersAndWritersTest, QueriesScanningWhileAWriterWritesPrintOnlyStatesRecordsHad) {
  // 300 documents of version 0, one line each, written directly: more than
  // the query's first HEAD window holds, so that HEAD is read again after
  // DOC, while the writer appends to DOC.
  TempDir dir;
  WriteReferenceStore(dir.path(), 0, 4);
  std::string head, doc, index;
  char record[128];
  for (int n = 0; n < 300; ++n) {
    const std::string key = std::string("D").append(std::to_string(n));
    std::snprintf(record, sizeof record, "%-8s%-7s%-8s%11s%3s%6d    -1    -1    -1\n", key.c_str(), "C000001", "01012024",
                  "0.00", "0", n);
    head += record;
    std::snprintf(record, sizeof record, "%-8s%5s%9s%5d\n", "A0000001", "0", "0.00", n);
    doc += record;
    index += key + std::string(8 - key.size(), ' ');
  }
  dir.Write("HEAD", head);
  dir.Write("DOC", doc);
  dir.Write("H", index);
  dir.Write("INFO", "         300");
  const Form form = LoadFac(dir.path());
  ExpectClean(form, dir.path(), "the store before");
  const pid_t pid = StartTool("versions", dir.path(), 1, 0);
  const auto end = Clock::now() + std::chrono::seconds(4);
  int scans = 0, lines = 0;
  for (; Clock::now() < end; ++scans) {
    RunResult r = RunQueryIn(dir.path(), {"fac", "h00;", "h04;", "d02;", "d03;"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::stringstream out(r.out);
    for (std::string line; std::getline(out, line); ++lines) ASSERT_TRUE(LineShowsOneVersion(line)) << line;
  }
  kill(pid, SIGKILL);
  Wait(pid);
  std::vector<std::string> now = DescribeStore(form, dir.path());
  EXPECT_EQ(now.size(), 300u);
  ExpectClean(form, dir.path(), "after the readers");
  EXPECT_GT(scans, 5);
  EXPECT_GT(lines, 300 * scans);
}

TEST(ReadersAndWritersTest, TwoWritersRacingOnOneDocumentLoseNoChange) {
  TempDir dir;
  WriteReferenceStore(dir.path(), 5, 4);
  const Form form = LoadFac(dir.path());
  StoreWriter writer;
  ASSERT_TRUE(writer.Open(form, dir.path()).ok());
  LoadedDocument doc;
  ASSERT_TRUE(writer.Load(0, &doc).ok());
  DocumentValues start = doc.values;
  start.header[4] = "0.00";
  ASSERT_TRUE(writer.Save(doc, start).ok());
  const pid_t a = StartTool("counter", dir.path(), 1, 60), b = StartTool("counter", dir.path(), 2, 60);
  EXPECT_EQ(Wait(a), 0);
  EXPECT_EQ(Wait(b), 0);
  ASSERT_TRUE(writer.Load(0, &doc).ok());
  EXPECT_EQ(doc.values.header[4], "120.00");
  ExpectClean(form, dir.path(), "after the race");
}

TEST(ReadersAndWritersTest, TwoWritersAddingAtOnceBothLandOnceEach) {
  TempDir dir;
  WriteReferenceStore(dir.path(), 5, 4);
  const Form form = LoadFac(dir.path());
  const pid_t a = StartTool("adds", dir.path(), 1, 40), b = StartTool("adds", dir.path(), 2, 40);
  EXPECT_EQ(Wait(a), 0);
  EXPECT_EQ(Wait(b), 0);
  StoreWriter writer;
  ASSERT_TRUE(writer.Open(form, dir.path()).ok());
  int64_t count = 0;
  ASSERT_TRUE(writer.Count(&count).ok());
  ASSERT_EQ(count, 85);
  std::map<std::string, int> keys;
  for (int64_t n = 0; n < count; ++n) {
    LoadedDocument doc;
    ASSERT_TRUE(writer.Load(n, &doc).ok());
    ++keys[doc.values.header[0]];
  }
  EXPECT_EQ(keys.size(), 85u);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(keys["P1" + std::string(4 - std::to_string(i).size(), '0') + std::to_string(i)], 1);
  }
  ExpectClean(form, dir.path(), "after the adds");
}

}  // namespace
