// The record walk on several threads: the same bytes as one thread, in the
// same order, with the same warnings, failures and exit statuses.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "parallel_run.h"
#include "query.h"
#include "test_util.h"

namespace {

// A store of `records` invoices of form `f`: header 0 the number (8 bytes,
// kept in H), 1 a client code (key into clients.db), 2 the client's name
// (derived), 3 an amount, 4 a calculated field; two detail lines of an
// article code, a quantity and a calculated line total. Some lines are
// absent, some client codes missing from the table.
void WriteStore(const TempDir& dir, int records, const std::string& header_formula) {
  dir.Write("f",
            "5 2 3 0\n"
            "1 1 8 0\n"
            "1 1 4 50 clients.db 24 4 20\n"
            "1 1 10 40 1 4 10\n"
            "1 1 7 0\n"
            "1 1 12 30\n"
            "1 1 5 0\n1 1 3 0\n1 1 12 30\n"
            "1 1 5 0\n1 1 3 0\n1 1 12 30\n");
  dir.Write("f.c0", "h04 " + header_formula + "\nd02 d01 2 *\n");
  std::string clients;
  for (int c = 0; c < 50; ++c) {
    char row[32];
    std::snprintf(row, sizeof row, "C%03dClient number %-5d\n", c, c);
    clients += std::string(row, 24);
  }
  dir.Write("clients.db", clients);
  std::string head, doc, h;
  int64_t doc_records = 0;
  for (int n = 0; n < records; ++n) {
    char number[16], client[8], amount[16];
    std::snprintf(number, sizeof number, "%08d", n);
    std::snprintf(client, sizeof client, "C%03d", (n * 7) % 53);  // 50 to 52 are missing
    std::snprintf(amount, sizeof amount, "%7d", (n * 31) % 10000);
    head += std::string(number) + client + amount;
    for (int line = 0; line < 2; ++line) {
      if ((n + line) % 5 == 0) {
        head += "    -1";
        continue;
      }
      char pointer[24], row[32];
      std::snprintf(pointer, sizeof pointer, "%6lld", static_cast<long long>(doc_records++));
      head += pointer;
      // The line's fields, then the 6-byte trailer.
      std::snprintf(row, sizeof row, "A%04d%3d     \n", (n + line) % 997, (n * 3 + line) % 100);
      doc += row;
    }
    head += "\n";
    h += number;
  }
  dir.Write("HEAD", head);
  dir.Write("DOC", doc);
  dir.Write("H", h);
  dir.Write("INFO", std::to_string(records));
}

RunResult RunWithThreads(const TempDir& dir, const std::string& threads, std::vector<std::string> args) {
  args.insert(args.begin(), {"--threads", threads, "f"});
  return RunQueryIn(dir.path(), args);
}

const std::vector<std::string> kJoin = {"h00;", "h02;", "d00;", "d02;", "h04;"};

// What RunParallel prints for `query` over its whole range on `threads`
// threads, in this process; its warnings are added to `warnings`.
std::string PrintedOnThreads(const Query& query, int threads, std::vector<std::string>* warnings) {
  std::string text;
  {
    Output out(&text);
    EXPECT_TRUE(RunParallel(query.engine(), query.selection(), {query.first_record(), query.end_record()}, threads,
                            &out, warnings).ok());
  }
  return text;
}

TEST(ParallelRunTest, EveryThreadCountPrintsTheBytesOfOneThread) {
  TempDir dir;
  WriteStore(dir, 60000, "h03 3 *");
  const RunResult one = RunWithThreads(dir, "1", kJoin);
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_GT(one.out.size(), 1000000u);
  for (const std::string threads : {"2", "3", "7"}) {
    SCOPED_TRACE(threads);
    const RunResult many = RunWithThreads(dir, threads, kJoin);
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(many.err, one.err);
    EXPECT_TRUE(many.out == one.out);
  }
  // A search, and the environment's count.
  const RunResult searched = RunWithThreads(dir, "1", {"h00;", "h01;c004", "d00;a001"});
  ASSERT_EQ(setenv("QUERY_THREADS", "2", 1), 0);
  const RunResult from_environment = RunQueryIn(dir.path(), {"f", "h00;", "h01;c004", "d00;a001"});
  unsetenv("QUERY_THREADS");
  EXPECT_EQ(from_environment.status, 0);
  EXPECT_EQ(from_environment.out, searched.out);
  EXPECT_FALSE(searched.out.empty());
}

// The worker whose chunk's turn it is writes the output, straight from the
// buffers it fills or, for chunks printed before their turn, from theirs;
// however the threads' timing falls, the bytes come out in record order.
TEST(ParallelRunTest, TheTurnToWritePassesBetweenWorkersInRecordOrder) {
  TempDir dir;
  WriteStore(dir, 60000, "h03 3 *");
  ScopedChdir in(dir.path());
  Query query;
  ASSERT_TRUE(query.Start("f", kJoin).ok());
  std::string alone;
  {
    Output out(&alone);
    ASSERT_TRUE(query.Run(&out).ok());
  }
  for (int round = 0; round < 12; ++round) {
    const int threads = 2 + round % 6;
    SCOPED_TRACE(threads);
    std::vector<std::string> warnings;
    const std::string together = PrintedOnThreads(query, threads, &warnings);
    EXPECT_TRUE(warnings.empty());
    ASSERT_TRUE(together == alone) << "first difference at byte "
                                   << std::mismatch(together.begin(), together.end(), alone.begin(), alone.end()).first -
                                          together.begin();
  }
}

TEST(ParallelRunTest, ARunningTotalIsComputedInRecordOrder) {
  // h04 adds the amount to its own value, which still holds the previous
  // record's total: the records must be walked in order, one thread alone.
  TempDir dir;
  WriteStore(dir, 40000, "h04 h03 +");
  const RunResult one = RunWithThreads(dir, "1", {"h00;", "h04;"});
  const RunResult many = RunWithThreads(dir, "4", {"h00;", "h04;"});
  EXPECT_EQ(many.status, 0);
  EXPECT_TRUE(many.out == one.out);
  EXPECT_NE(one.out.find("00039999;199"), std::string::npos) << one.out.substr(one.out.size() - 100);
}

TEST(ParallelRunTest, ThreadsAreUsedOnlyForLargeRangesOfIndependentRecords) {
  TempDir dir;
  WriteStore(dir, 40000, "h03 3 *");
  ScopedChdir in(dir.path());
  Query query;
  ASSERT_TRUE(query.Start("f", {"h00;", "h04;"}).ok());
  const RecordRange all{query.first_record(), query.end_record()};
  EXPECT_EQ(ThreadsFor(query.engine(), all, 2), 2);
  EXPECT_EQ(ThreadsFor(query.engine(), all, 64), static_cast<int>(40000 / kMinRecordsPerThread));
  EXPECT_EQ(ThreadsFor(query.engine(), all, 1), 1);
  Query by_key;  // the key shortcut: one record
  ASSERT_TRUE(by_key.Start("f", {"h00;00000123"}).ok());
  EXPECT_EQ(ThreadsFor(by_key.engine(), {by_key.first_record(), by_key.end_record()}, 2), 1);
  dir.Write("f.c0", "h04 h04 1 +\n");
  Query running;
  ASSERT_TRUE(running.Start("f", {"h00;", "h04;"}).ok());
  EXPECT_EQ(ThreadsFor(running.engine(), all, 2), 1);
}

TEST(ParallelRunTest, HeadThatShrinksEndsTheRunWhereOneThreadWouldEndIt) {
  TempDir dir;
  WriteStore(dir, 40000, "h03 3 *");
  ScopedChdir in(dir.path());
  Query query;
  ASSERT_TRUE(query.Start("f", kJoin).ok());
  // HEAD cut to 25,000 whole records (two lines each) after the count was
  // taken: records from there on are no longer held.
  const std::string head = dir.Read("HEAD");
  const size_t record = head.size() / 40000;
  dir.Write("HEAD", head.substr(0, record * 25000));
  std::vector<std::string> warnings;
  const std::string parallel_text = PrintedOnThreads(query, 3, &warnings);
  Query alone;
  dir.Write("HEAD", head);
  ASSERT_TRUE(alone.Start("f", kJoin).ok());
  dir.Write("HEAD", head.substr(0, record * 25000));
  std::string alone_text;
  {
    Output out(&alone_text);
    ASSERT_TRUE(alone.Run(&out).ok());
  }
  EXPECT_TRUE(parallel_text == alone_text);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "HEAD shrank while it was read and now holds only 25000 records; the rest are not examined");
  EXPECT_EQ(alone.warnings().back(), warnings[0]);
}

TEST(ParallelRunTest, AFailedWriteStopsTheRunWithItsMessage) {
  TempDir dir;
  WriteStore(dir, 40000, "h03 3 *");
  const std::string command = "cd '" + dir.path() + "' && '" + QUERY_BINARY +
                              "' --threads 2 f 'h00;' 'h02;' 'd00;' >/dev/full 2>err";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(dir.Read("err"), "query: cannot write the output: No space left on device\n");
}

// Threads that cannot be started (here no thread's stack fits under the
// limit on address space) leave the walk to the calling thread: the output
// is one thread's, where the query used to stop with "Resource temporarily
// unavailable".
TEST(ParallelRunTest, ThreadsThatCannotStartLeaveTheWalkToTheOthers) {
  TempDir dir;
  WriteStore(dir, 40000, "h03 3 *");
  auto run_limited = [&](const std::string& threads, const std::string& out) {
    const std::string command = "cd '" + dir.path() + "' && ulimit -s 1048576 && ulimit -v 786432 && '" +
                                QUERY_BINARY + "' --threads " + threads + " f 'h00;' 'h02;' 'd00;' 'd02;' >" + out +
                                " 2>" + out + ".err";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  if (run_limited("1", "one") != 0) GTEST_SKIP() << "the query cannot run under a limit on address space here";
  EXPECT_EQ(run_limited("2", "two"), 0);
  EXPECT_EQ(dir.Read("two.err"), "");
  EXPECT_TRUE(dir.Read("two") == dir.Read("one"));
  EXPECT_GT(dir.Read("one").size(), 100000u);
}

// The workers build the tables' indexes and read their files ahead of the
// walk, each a different table; a table whose descriptions cannot be read
// must still fail where one thread's walk fails, with its message. Here the
// keys come from the key index file `clients` and the table file is gone.
TEST(ParallelRunTest, TablesPreparedAheadFailWhereOneThreadFails) {
  TempDir dir;
  WriteStore(dir, 40000, "h03 3 *");
  std::string keys;
  for (int c = 0; c < 50; ++c) keys += dir.Read("clients.db").substr(static_cast<size_t>(c) * 24, 4);
  dir.Write("clients", keys);
  const RunResult whole_one = RunWithThreads(dir, "1", kJoin);
  const RunResult whole_two = RunWithThreads(dir, "2", kJoin);
  EXPECT_EQ(whole_two.status, 0);
  EXPECT_TRUE(whole_two.out == whole_one.out);
  ASSERT_EQ(std::remove((dir.path() + "/clients.db").c_str()), 0);
  const RunResult one = RunWithThreads(dir, "1", kJoin);
  const RunResult two = RunWithThreads(dir, "2", kJoin);
  EXPECT_NE(one.status, 0);
  EXPECT_NE(one.err.find("cannot be opened to read a description"), std::string::npos) << one.err;
  EXPECT_EQ(two.status, one.status);
  EXPECT_EQ(two.err, one.err);
  EXPECT_TRUE(two.out == one.out);
}

TEST(ParallelRunTest, BadThreadCountsAreUsageErrors) {
  TempDir dir;
  WriteStore(dir, 10, "h03 3 *");
  for (const std::string bad : {"0", "-1", "x", "257", "2x"}) {
    SCOPED_TRACE(bad);
    RunResult r = RunWithThreads(dir, bad, {"h00;"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "query: --threads needs a whole number from 1 to 256, not '" + bad + "'\n");
    EXPECT_EQ(r.out, "");
  }
  RunResult r = RunQueryIn(dir.path(), {"--threads"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "query: --threads needs a whole number from 1 to 256\n");
  ASSERT_EQ(setenv("QUERY_THREADS", "many", 1), 0);
  r = RunQueryIn(dir.path(), {"f", "h00;"});
  unsetenv("QUERY_THREADS");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "query: QUERY_THREADS must be a whole number from 1 to 256, not 'many'\n");
}

}  // namespace
