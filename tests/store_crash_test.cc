// Crash tests: the writer stopped after every write and every flush of every
// kind of change, then the store recovered, as a killed process leaves it
// and as a machine that lost every write not yet flushed leaves it.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "store_check.h"
#include "store_journal.h"
#include "store_writer.h"
#include "test_util.h"
#include "writer_test_support.h"

namespace {

const StoreFile kFiles[] = {StoreFile::kInfo, StoreFile::kHead, StoreFile::kDoc, StoreFile::kIndex, StoreFile::kJournal};

// What a machine keeps of the store's files when it loses everything not
// flushed: each file's bytes at its last flush, and the journal's directory
// entry as of the last flush of the directory.
class DurableImage {
 public:
  explicit DurableImage(const TempDir& dir) : dir_(dir) {
    for (StoreFile f : kFiles) Note(f, &flushed_[f]);
    journal_entry_ = flushed_[StoreFile::kJournal].has_value();
  }
  // Follows one step of the writer.
  void Step(const WriteStep& step) {
    if (step.kind == WriteStep::Kind::kFlush) Note(step.file, &flushed_[step.file]);
    if (step.kind == WriteStep::Kind::kFlushDirectory) {
      journal_entry_ = std::filesystem::exists(dir_.File(StoreFileName(StoreFile::kJournal)));
      if (!journal_entry_) flushed_[StoreFile::kJournal].reset();
    }
  }
  // Writes the image into `to` (a copy of the store's other files). With
  // `keep` set for a file, its current bytes stand in for the flushed ones:
  // a machine may also keep some unflushed writes.
  void WriteTo(const TempDir& to, const std::map<StoreFile, bool>& keep) const {
    for (StoreFile f : kFiles) {
      const std::string name = StoreFileName(f);
      std::optional<std::string> bytes = flushed_.at(f);
      const bool kept = keep.count(f) && keep.at(f);
      if (kept) Note(f, &bytes);
      if (f == StoreFile::kJournal && !kept && !journal_entry_) bytes.reset();
      if (f == StoreFile::kJournal && journal_entry_ && !bytes) bytes = "";  // the entry without its data
      std::filesystem::remove(to.File(name));
      if (bytes) to.Write(name, *bytes);
    }
  }

 private:
  void Note(StoreFile f, std::optional<std::string>* out) const {
    const std::string path = dir_.File(StoreFileName(f));
    if (std::filesystem::exists(path)) *out = dir_.Read(StoreFileName(f)); else out->reset();
  }
  const TempDir& dir_;
  std::map<StoreFile, std::optional<std::string>> flushed_;
  bool journal_entry_ = false;
};

struct Outcome {
  std::vector<std::string> before, after;  // every document described
};

// Makes one change of `kind` to a copy of `base` in `dir`, stopping after
// step `stop` (0: never). Returns the steps made; fills the states.
int RunChange(ChangeKind kind, const TempDir& base, const TempDir& dir, int stop, Outcome* outcome,
              DurableImage** image) {
  CopyStore(base.path(), dir.path());
  const Form form = LoadFac(dir.path());
  StoreWriter writer;
  EXPECT_TRUE(writer.Open(form, dir.path()).ok());
  outcome->before = DescribeStore(form, dir.path());
  outcome->after = outcome->before;
  static DurableImage* current = nullptr;
  delete current;
  current = new DurableImage(dir);
  *image = current;
  int steps = 0;
  writer.SetStepHook([&](const WriteStep& step) {
    current->Step(step);
    return ++steps != stop;
  });
  TestRandom rnd(static_cast<uint64_t>(kind) + 11);
  Status s;
  if (kind == ChangeKind::kAdd) {
    DocumentValues d = RandomDocument(&rnd, "NEWDOC", form.line_count);
    outcome->after.push_back(Describe(form, d));
    int64_t record;
    s = writer.Add(d, &record);
  } else {
    // The first document from 4 on that the change can act on.
    LoadedDocument before;
    DocumentValues d;
    for (int64_t n = 4; writer.Load(n, &before).ok(); ++n) {
      d = before.values;
      if (ChangeDocument(&rnd, kind, 77, &d)) break;
    }
    outcome->after[static_cast<size_t>(before.record)] = Describe(form, d);
    s = writer.Save(before, d);
  }
  EXPECT_EQ(s.ok(), stop == 0 || stop > steps) << s.message();
  return steps;
}

// After recovery, the store checks clean and holds the whole change or none.
void ExpectBeforeOrAfter(const std::string& dir, const Outcome& o, bool must_be_after, const std::string& where) {
  const Form form = LoadFac(dir);
  ASSERT_TRUE(RollBackStore(dir, nullptr).ok()) << where;
  CheckReport report;
  ASSERT_TRUE(CheckStore(form, dir, &report).ok());
  EXPECT_TRUE(report.problems.empty()) << where << ": " << report.problems[0];
  const std::vector<std::string> now = DescribeStore(form, dir);
  if (must_be_after) {
    EXPECT_EQ(now, o.after) << where;
  } else {
    EXPECT_TRUE(now == o.before || now == o.after) << where;
  }
}

class CrashTest : public ::testing::TestWithParam<ChangeKind> {};

TEST_P(CrashTest, EveryStopLeavesTheChangeWholeOrAbsentAfterRecovery) {
  TempDir base;
  WriteReferenceStore(base.path(), 12, 4);
  DurableImage* image = nullptr;
  Outcome outcome;
  TempDir dir;
  const int steps = RunChange(GetParam(), base, dir, 0, &outcome, &image);
  ASSERT_GE(steps, 8);  // journal, its flushes, the store's writes and flushes
  ASSERT_NE(outcome.before, outcome.after);
  // A change reported saved survives the loss of everything unflushed.
  TempDir lost;
  CopyStore(dir.path(), lost.path());
  image->WriteTo(lost, {});
  ExpectBeforeOrAfter(lost.path(), outcome, true, "saved, then power lost");
  TestRandom rnd(5);
  for (int stop = 1; stop <= steps; ++stop) {
    TempDir killed;
    RunChange(GetParam(), base, killed, stop, &outcome, &image);
    const std::string where = std::string(ChangeName(GetParam())) + " stopped after step " + std::to_string(stop);
    // Power lost: the flushed state alone, and mixtures with unflushed writes.
    for (int mix = 0; mix < 6; ++mix) {
      std::map<StoreFile, bool> keep;
      for (StoreFile f : kFiles) keep[f] = mix > 0 && rnd.Between(0, 1) == 1;
      TempDir crashed;
      CopyStore(killed.path(), crashed.path());
      image->WriteTo(crashed, keep);
      ExpectBeforeOrAfter(crashed.path(), outcome, false, where + ", power lost, mixture " + std::to_string(mix));
    }
    // Killed: the files as they are; the roll-back itself stopped at each
    // of its steps first.
    for (int again = 1; again < 12; ++again) {
      TempDir twice;
      CopyStore(killed.path(), twice.path());
      int n = 0;
      const StepHook stop_rollback = [&](const WriteStep&) { return ++n != again; };
      RollBackStore(twice.path(), &stop_rollback);
      ExpectBeforeOrAfter(twice.path(), outcome, false, where + ", roll-back stopped after step " + std::to_string(again));
    }
    ExpectBeforeOrAfter(killed.path(), outcome, false, where + ", killed");
  }
}

INSTANTIATE_TEST_SUITE_P(EveryChange, CrashTest, ::testing::ValuesIn(kAllChanges),
                         [](const ::testing::TestParamInfo<ChangeKind>& info) { return ChangeName(info.param); });

TEST(CrashRecoveryTest, AQueryRollsBackTheChangeOfAWriterThatDiedAndPrintsTheStateBefore) {
  TempDir dir;
  WriteReferenceStore(dir.path(), 12, 4);
  const std::vector<std::string> args = {"fac", "h00;", "h04;", "d00;", "d02;"};
  const RunResult before = RunQueryIn(dir.path(), args);
  const Form form = LoadFac(dir.path());
  StoreWriter writer;
  ASSERT_TRUE(writer.Open(form, dir.path()).ok());
  // Stop right after HEAD's record was overwritten.
  writer.SetStepHook([](const WriteStep& step) { return !(step.kind == WriteStep::Kind::kWrite && step.file == StoreFile::kHead); });
  LoadedDocument doc;
  ASSERT_TRUE(writer.Load(3, &doc).ok());
  DocumentValues after = doc.values;
  after.header[4] = "1.00";
  after.lines[0] = LineValues();
  ASSERT_FALSE(writer.Save(doc, after).ok());
  ASSERT_TRUE(std::filesystem::exists(dir.File("JOURNAL")));
  const RunResult r = RunQueryIn(dir.path(), args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, before.out);
  EXPECT_FALSE(std::filesystem::exists(dir.File("JOURNAL")));
}

}  // namespace
