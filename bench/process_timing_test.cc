// Timing whole processes: exit statuses as the shell reports them, and runs
// started together that really run at the same time.
#include "process_timing.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

Job Shell(const std::string& dir, const std::string& script) { return {dir, {"/bin/sh", "-c", script}}; }

TEST(ProcessTimingTest, ExitStatusesAndSignalsAreReportedAsTheShellDoes) {
  EXPECT_EQ(RunOnce(Shell("/", "exit 0"), "/dev/null").status, 0);
  EXPECT_EQ(RunOnce(Shell("/", "exit 3"), "/dev/null").status, 3);
  EXPECT_EQ(RunOnce(Shell("/", "kill -9 $$"), "/dev/null").status, 128 + 9);
  EXPECT_EQ(RunOnce(Shell("/nonexistent-directory", "exit 0"), "/dev/null").status, 126);
}

// Each copy marks its start, then waits (a bounded while) until every copy
// has: it exits 0 only if all of them were running at once.
TEST(ProcessTimingTest, RunsStartedTogetherRunAtTheSameTime) {
  char name[] = "/tmp/process-timing-test-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const std::string dir = name;
  const Job job = Shell(dir,
                        "mkdir started.$$; i=0; while [ $(ls -d started.* | wc -l) -lt 3 ]; do "
                        "i=$((i+1)); [ $i -gt 500 ] && exit 1; sleep 0.01; done; exit 0");
  const std::vector<Sample> samples = RunTogether(job, 3);
  ASSERT_EQ(samples.size(), 3u);
  for (const Sample& s : samples) {
    EXPECT_EQ(s.status, 0);
    EXPECT_GT(s.seconds, 0);
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

// A question and its peer alternate with each other only: the second pair
// starts once the first is done, so no run follows the other pair's.
TEST(ProcessTimingTest, PairsAreTakenInTurnEachWithItselfOnly) {
  char name[] = "/tmp/process-timing-test-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const std::string dir = name;
  std::vector<Job> jobs;
  for (const char* letter : {"a", "b", "c", "d"}) jobs.push_back(Shell(dir, std::string("printf ") + letter + " >> log"));
  const std::vector<Summary> summaries = MeasureInPairs(jobs, 2);
  ASSERT_EQ(summaries.size(), 4u);
  for (const Summary& s : summaries) {
    EXPECT_EQ(s.runs, 2);
    EXPECT_FALSE(s.failed);
  }
  std::ifstream log(dir + "/log");
  std::string order;
  std::getline(log, order);
  // A warm-up of each, then the timed runs in turn.
  EXPECT_EQ(order, "abababcdcdcd");
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
