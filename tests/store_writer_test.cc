// The store writer's format, its refusals, and the checker.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "store_check.h"
#include "store_journal.h"
#include "store_writer.h"
#include "stored_value.h"
#include "test_util.h"
#include "writer_test_support.h"

namespace {

std::string Stored(int length, int type, const std::string& value, FieldPlace place = FieldPlace::kAnywhere) {
  FieldDef def;
  def.length = static_cast<int16_t>(length);
  def.type = static_cast<int16_t>(type);
  std::string out, why;
  return FormatStoredValue(def, place, value, &out, &why) ? out : "refused: " + why;
}

std::string StoreBytes(const TempDir& dir) {
  std::string all;
  for (const char* name : {"INFO", "HEAD", "DOC", "H"}) all += dir.Read(name) + "\x01";
  return all + (std::filesystem::exists(dir.File("JOURNAL")) ? "journal" : "");
}

// A store of the generator's form with `documents` documents.
struct FacStore {
  explicit FacStore(int64_t documents, int lines = 4) {
    WriteReferenceStore(dir.path(), documents, lines);
    form = LoadFac(dir.path());
    EXPECT_TRUE(writer.Open(form, dir.path()).ok());
  }
  TempDir dir;
  Form form;
  StoreWriter writer;
};

TEST(StoredValueTest, NumbersAreRightAlignedWithTheirDecimalsAndDatesAndTextLeftAligned) {
  EXPECT_EQ(Stored(10, 3, "12.5"), "     12.50");
  EXPECT_EQ(Stored(10, 3, " -0012.50 "), "    -12.50");
  EXPECT_EQ(Stored(5, 1, "7.00"), "    7");
  EXPECT_EQ(Stored(6, 3, ".5"), "  0.50");
  EXPECT_EQ(Stored(6, 3, ""), "      ");
  EXPECT_EQ(Stored(8, 8, "05/01/2024"), "05012024");
  EXPECT_EQ(Stored(10, 9, "29022024"), "29022024  ");
  EXPECT_EQ(Stored(8, 0, "abc  "), "abc     ");
  EXPECT_EQ(Stored(8, 51, "A01"), "A01     ");
  // A line's first field is left-aligned whatever its type: a leading blank
  // would make the line read as deleted.
  EXPECT_EQ(Stored(6, 1, "42", FieldPlace::kFirstOfLine), "42    ");
}

TEST(StoredValueTest, ValuesThatCannotBeStoredAreRefusedWithTheReason) {
  EXPECT_EQ(Stored(10, 3, "1.555"), "refused: has 3 decimals; the field takes 2");
  EXPECT_EQ(Stored(10, 3, "12a"), "refused: is not a number");
  EXPECT_EQ(Stored(5, 3, "1234.00"), "refused: is 7 characters wide; the field holds 5");
  EXPECT_EQ(Stored(8, 8, "30022024"), "refused: is no day of the calendar");
  EXPECT_EQ(Stored(8, 8, "2024-01-05"), "refused: is not a date ddmmyyyy or dd/mm/yyyy");
  EXPECT_EQ(Stored(8, 0, "a\nb"), "refused: holds a line feed");
  EXPECT_EQ(Stored(8, 0, std::string("a\0b", 3)), "refused: holds a NUL byte");
  EXPECT_EQ(Stored(8, 0, "a\rb"), "refused: holds the control byte 0x0d");
  EXPECT_EQ(Stored(8, 0, " x", FieldPlace::kFirstOfLine),
            "refused: begins with a blank; a line whose first field does reads as deleted");
  EXPECT_NE(Stored(8, 0, "", FieldPlace::kFirstOfLine).find("refused: is empty"), std::string::npos);
}

TEST(StoreWriterTest, AStoreWrittenByTheWriterReadsAsTheGeneratorsStore) {
  TempDir reference, written;
  WriteReferenceStore(reference.path(), 300, 4);
  WriteReferenceStore(written.path(), 0, 4);  // the form and tables alone
  for (const char* name : {"INFO", "HEAD", "DOC", "H"}) std::filesystem::remove(written.File(name));
  ASSERT_TRUE(CreateStore(written.path(), 0644).ok());
  const Form form = LoadFac(reference.path());
  StoreWriter from, to;
  ASSERT_TRUE(from.Open(form, reference.path()).ok());
  ASSERT_TRUE(to.Open(form, written.path()).ok());
  for (int64_t n = 0; n < 300; ++n) {
    LoadedDocument doc;
    ASSERT_TRUE(from.Load(n, &doc).ok());
    int64_t record = -1;
    Status s = to.Add(doc.values, &record);
    ASSERT_TRUE(s.ok()) << s.message();
    ASSERT_EQ(record, n);
  }
  EXPECT_EQ(written.Read("INFO"), reference.Read("INFO"));
  EXPECT_EQ(written.Read("H"), reference.Read("H"));
  const std::string head = written.Read("HEAD"), ref_head = reference.Read("HEAD");
  ASSERT_EQ(head.size(), ref_head.size());
  const size_t length = static_cast<size_t>(form.header_record_length), stored = length - 1 - 6 * 4;
  for (size_t at = 0; at < head.size(); at += length) ASSERT_EQ(head.compare(at, stored, ref_head, at, stored), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"fac", "h00;", "h01;", "h02;", "h03;", "h04;", "h05;", "h06;"},
        {"fac", "h00;", "d00;", "d01;", "d02;", "d03;", "d04;"}, {"fac", "h00;", "d01;tornillo"}}) {
    RunResult a = RunQueryIn(reference.path(), args), b = RunQueryIn(written.path(), args);
    EXPECT_EQ(a.status, 0);
    EXPECT_FALSE(a.out.empty());
    EXPECT_EQ(b.out, a.out) << args[1];
    EXPECT_EQ(b.err, a.err);
  }
  CheckReport report;
  ASSERT_TRUE(CheckStore(form, written.path(), &report).ok());
  EXPECT_TRUE(report.problems.empty()) << report.problems[0];
}

TEST(StoreWriterTest, ASaveChangesFieldsLinesAndKeyAndKeepsWhatDidNotChange) {
  FacStore s(20);
  LoadedDocument before;
  ASSERT_TRUE(s.writer.Load(7, &before).ok());
  DocumentValues after = before.values;
  after.header[0] = "X0000007";
  after.header[4] = "4.50";
  after.lines = {LineValues{true, {"A0000003", "", "12", "1.25", ""}}, LineValues(), before.values.lines[2],
                 LineValues{true, {"A0000009", "", "1", "9.00", ""}}};
  const std::vector<std::string> others = DescribeStore(s.form, s.dir.path());
  ASSERT_TRUE(s.writer.Save(before, after).ok());
  LoadedDocument again;
  ASSERT_TRUE(s.writer.Load(7, &again).ok());
  EXPECT_EQ(Describe(s.form, again.values), Describe(s.form, after));
  EXPECT_EQ(again.head_record.substr(0, 8), "X0000007");
  EXPECT_EQ(s.dir.Read("H").substr(7 * 8, 8), "X0000007");
  EXPECT_EQ(again.pointers[1], -1);
  EXPECT_EQ(again.pointers[2], before.pointers[2]);  // an unchanged line keeps its DOC record
  std::vector<std::string> now = DescribeStore(s.form, s.dir.path());
  now[7] = others[7];
  EXPECT_EQ(now, others);
  CheckReport report;
  ASSERT_TRUE(CheckStore(s.form, s.dir.path(), &report).ok());
  EXPECT_TRUE(report.problems.empty()) << report.problems[0];
  // Saving what is already there writes nothing.
  const std::string bytes = StoreBytes(s.dir);
  ASSERT_TRUE(s.writer.Save(again, again.values).ok());
  EXPECT_EQ(StoreBytes(s.dir), bytes);
}

TEST(StoreWriterTest, RefusedChangesWriteNothingAndSayWhy) {
  FacStore s(5);
  TestRandom rnd(1);
  const std::string bytes = StoreBytes(s.dir);
  int64_t record;
  auto refusal = [&](const DocumentValues& d) {
    Status st = s.writer.Add(d, &record);
    EXPECT_EQ(StoreBytes(s.dir), bytes);
    return st.ok() ? std::string("saved") : st.message();
  };
  EXPECT_NE(refusal(RandomDocument(&rnd, "   ", 4)).find("key (header field 0) is blank"), std::string::npos);
  EXPECT_NE(refusal(RandomDocument(&rnd, "00000003", 4)).find("already the key of document 3"), std::string::npos);
  DocumentValues wide = RandomDocument(&rnd, "NEW", 4);
  wide.header[4] = "123456789.00";
  EXPECT_NE(refusal(wide).find("header field 4: the value '123456789.00' is 12 characters wide"), std::string::npos);
  DocumentValues feed = RandomDocument(&rnd, "NEW", 4);
  feed.lines[0].fields[0] = "A\n";
  EXPECT_NE(refusal(feed).find("detail line 0, field 0: the value 'A\n' holds a line feed"), std::string::npos);
  // A change of key to one another document has is refused as well.
  LoadedDocument before;
  ASSERT_TRUE(s.writer.Load(1, &before).ok());
  DocumentValues after = before.values;
  after.header[0] = "00000002";
  Status st = s.writer.Save(before, after);
  EXPECT_NE(st.message().find("already the key of document 2"), std::string::npos);
  EXPECT_EQ(StoreBytes(s.dir), bytes);
}

TEST(StoreWriterTest, ADocumentChangedOnDiskSinceItWasLoadedIsNotOverwritten) {
  FacStore s(5);
  LoadedDocument mine, theirs;
  ASSERT_TRUE(s.writer.Load(2, &mine).ok());
  ASSERT_TRUE(s.writer.Load(2, &theirs).ok());
  DocumentValues first = theirs.values, second = mine.values;
  first.header[4] = "1.00";
  second.header[4] = "2.00";
  ASSERT_TRUE(s.writer.Save(theirs, first).ok());
  Status st = s.writer.Save(mine, second);
  EXPECT_NE(st.message().find("changed by someone else since it was loaded; reload it"), std::string::npos);
  LoadedDocument now;
  ASSERT_TRUE(s.writer.Load(2, &now).ok());
  EXPECT_EQ(now.values.header[4], "1.00");
}

TEST(StoreWriterTest, ALineThatWouldNeedAPointerBeyond999999IsRefused) {
  FacStore s(3);
  // DOC as long as a million records, without the disk: a sparse file.
  ASSERT_EQ(truncate(s.dir.File("DOC").c_str(), kMaxDocRecords * s.form.detail_record_length), 0);
  TestRandom rnd(2);
  const std::string head = s.dir.Read("HEAD");
  int64_t record;
  Status st = s.writer.Add(RandomDocument(&rnd, "NEW", 4), &record);
  EXPECT_NE(st.message().find("more than 1,000,000 records"), std::string::npos);
  EXPECT_EQ(s.dir.Read("HEAD"), head);
  DocumentValues no_lines = RandomDocument(&rnd, "NEW", 4);
  no_lines.lines.clear();
  EXPECT_TRUE(s.writer.Add(no_lines, &record).ok());
}

TEST(StoreWriterTest, TheJournalHasTheStoresPermissionsAndIsNeverALink) {
  FacStore s(3);
  ASSERT_EQ(chmod(s.dir.File("INFO").c_str(), 0640), 0);
  mode_t seen = 0;
  s.writer.SetStepHook([&](const WriteStep& step) {
    struct stat st;
    if (step.kind == WriteStep::Kind::kCreate && stat(s.dir.File("JOURNAL").c_str(), &st) == 0) seen = st.st_mode & 07777;
    return true;
  });
  TestRandom rnd(3);
  int64_t record;
  ASSERT_TRUE(s.writer.Add(RandomDocument(&rnd, "NEW1", 4), &record).ok());
  EXPECT_EQ(seen, 0640u);
  // A link planted in the journal's place is neither followed nor removed.
  TempDir elsewhere;
  elsewhere.Write("target", "precious");
  ASSERT_EQ(symlink(elsewhere.File("target").c_str(), s.dir.File("JOURNAL").c_str()), 0);
  const std::string bytes = StoreBytes(s.dir);
  Status st = s.writer.Add(RandomDocument(&rnd, "NEW2", 4), &record);
  EXPECT_NE(st.message().find("JOURNAL"), std::string::npos) << st.message();
  EXPECT_EQ(StoreBytes(s.dir), bytes);
  EXPECT_EQ(elsewhere.Read("target"), "precious");
}

// A FIFO planted as JOURNAL is never opened: neither a query nor a writer
// blocks on it, takes it for a journal, or writes the store.
TEST(StoreWriterTest, AJournalThatIsNoRegularFileIsNeverOpened) {
  FacStore s(3);
  ASSERT_EQ(mkfifo(s.dir.File("JOURNAL").c_str(), 0644), 0);
  const std::string bytes = StoreBytes(s.dir);
  RunResult r = RunQueryIn(s.dir.path(), {"fac", "h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("JOURNAL is no regular file"), std::string::npos) << r.err;
  TestRandom rnd(5);
  int64_t record;
  Status st = s.writer.Add(RandomDocument(&rnd, "NEW3", 4), &record);
  EXPECT_NE(st.message().find("JOURNAL"), std::string::npos) << st.message();
  EXPECT_EQ(StoreBytes(s.dir), bytes);
}

TEST(StoreWriterTest, AStoreFileThatIsALinkIsNotWrittenThrough) {
  FacStore s(3);
  TempDir elsewhere;
  elsewhere.Write("HEAD", s.dir.Read("HEAD"));
  ASSERT_EQ(std::remove(s.dir.File("HEAD").c_str()), 0);
  ASSERT_EQ(symlink(elsewhere.File("HEAD").c_str(), s.dir.File("HEAD").c_str()), 0);
  const std::string target = elsewhere.Read("HEAD");
  TestRandom rnd(4);
  int64_t record;
  Status st = s.writer.Add(RandomDocument(&rnd, "NEW", 4), &record);
  EXPECT_NE(st.message().find("HEAD in " + s.dir.path() + " cannot be opened for writing"), std::string::npos)
      << st.message();
  EXPECT_EQ(elsewhere.Read("HEAD"), target);
}

TEST(StoreCheckTest, TheCheckerPassesAGoodStoreAndNamesEachFault) {
  TempDir dir;
  CopyStore(QUERY_EXAMPLES_DIR, dir.path());
  RunResult good = RunQueryIn(dir.path(), {"--check", "fac"});
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_EQ(good.out, "the store holds: 12 documents, 23 detail lines\n");
  const std::string head = dir.Read("HEAD"), info = dir.Read("INFO"), h = dir.Read("H");
  struct Fault {
    std::string file, bytes, expected;
  };
  std::string no_feed = head, outside = head, shared = head, other_key = h;
  no_feed[64 * 2 - 1] = ' ';
  outside.replace(64 - 1 - 6 * 4, 6, "   999");
  shared.replace(64 * 2 - 1 - 6 * 4, 6, "     0");
  other_key.replace(0, 6, "999999");
  for (const Fault& f : {Fault{"INFO", "          13", "INFO counts 13 documents of 64 bytes, but HEAD holds 768 bytes"},
                         Fault{"HEAD", no_feed, "HEAD record 1 does not end in a line feed"},
                         Fault{"HEAD", outside, "document 0, line 0: points to DOC record 999, outside DOC"},
                         Fault{"HEAD", shared, "document 1, line 0: shares DOC record 0 with document 0, line 0"},
                         Fault{"H", other_key, "H holds '999999' for document 0, whose header field 0 is '000101'"},
                         Fault{"JOURNAL", "x", "a journal (JOURNAL) is left behind"}}) {
    dir.Write(f.file, f.bytes);
    RunResult r = RunQueryIn(dir.path(), {"--check", "fac"});
    EXPECT_EQ(r.status, 1) << f.expected;
    EXPECT_NE(r.out.find(f.expected), std::string::npos) << r.out;
    EXPECT_EQ(dir.Read(f.file), f.bytes);  // the checker never writes
    dir.Write("INFO", info);
    dir.Write("HEAD", head);
    dir.Write("H", h);
    std::filesystem::remove(dir.File("JOURNAL"));
  }
  EXPECT_EQ(RunQueryIn(dir.path(), {"--check"}).status, 2);
}

}  // namespace
