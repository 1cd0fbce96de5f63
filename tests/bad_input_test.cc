// The inventory of bad input (doc/bad_input.md): each way a file or argument
// the query reads can be malformed, run through the built query on a copy of
// the example store, with the exact message, output and exit status. Rows of
// the inventory name the test that checks them.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "form.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

// A copy of examples/invoices; each test breaks one file of it.
class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), dir_.File(entry.path().filename().string()));
  }
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "fac");
    return RunQueryIn(dir_.path(), args);
  }
  void Remove(const std::string& name) { fs::remove(dir_.File(name)); }
  // Puts a directory where the file `name` belongs.
  void MakeDirectory(const std::string& name) {
    Remove(name);
    fs::create_directory(dir_.File(name));
  }
  // The query's output on the untouched example store.
  RunResult Baseline(std::vector<std::string> args) {
    TempDir clean;
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), clean.File(entry.path().filename().string()));
    args.insert(args.begin(), "fac");
    return RunQueryIn(clean.path(), args);
  }
  // Replaces `bytes.size()` bytes of file `name` at `offset`.
  void Patch(const std::string& name, size_t offset, const std::string& bytes) {
    std::string content = dir_.Read(name);
    content.replace(offset, bytes.size(), bytes);
    dir_.Write(name, content);
  }
  void MakeFifo(const std::string& name) {
    Remove(name);
    ASSERT_EQ(mkfifo(dir_.File(name).c_str(), 0644), 0);
  }
  TempDir dir_;
};

// The example store's layout: HEAD records of 64 bytes whose four detail
// pointers start at byte 39; DOC records of 29 bytes.
constexpr size_t kHeadLength = 64;
constexpr size_t kPointers = 39;
constexpr size_t kDocLength = 29;

std::string ReadPath(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string FormError(const std::string& text) {
  Form form;
  Status s = ParseFormDefinition("f", text, &form);
  EXPECT_FALSE(s.ok()) << "accepted: " << text;
  return s.message();
}

// ---- Form definition file

TEST(BadFormTest, NumbersTooLongForAnyEntryAreOutOfRangeNotOverflowed) {
  // Twenty digits exceed a long; reading them must neither overflow nor wrap
  // into an acceptable value.
  EXPECT_NE(FormError("99999999999999999999 0 0 0").find("header field count"), std::string::npos);
  EXPECT_NE(FormError("1 0 0 0  1 1 -99999999999999999999 0").find("the length"), std::string::npos);
  EXPECT_NE(FormError("1 0 0 0  1 1 6 50 t.db 99999999999999999999 0 0").find("table record length"),
            std::string::npos);
}

TEST_F(BadInputTest, ControlBytesInAFormAreShownNotPrintedRaw) {
  dir_.Write("fac", std::string("9 4\0 5 0\n", 10));
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "query: form 'fac', the counts at the start: expected a number for the detail field "
            "count, found '\\x00'\n");
  dir_.Write("fac", "9 4 5 0\n1 1 \x1b[2J 0\n");
  EXPECT_EQ(Run({"h00;"}).err,
            "query: form 'fac', header field 0: expected a number for the length, found "
            "'\\x1b[2J'\n");
}


TEST(BadFormTest, HugeFieldLengthsCostNoMemoryUntilFilled) {
  // 30,000 header fields of 32,767 bytes: 983 MB of field room, just below
  // the limit, from a form of 360 KB. Only what a record fills may be touched.
  TempDir dir;
  std::string form = "30000 0 0 0\n";
  for (int f = 0; f < 30000; ++f) form += "0 0 32767 0\n";
  dir.Write("f", form);
  dir.Write("INFO", "1");
  dir.Write("HEAD", "abc");
  dir.Write("DOC", "");
  RunResult r = RunQueryIn(dir.path(), {"f", "h00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "abc;\n");
  struct rusage usage;
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 512 * 1024) << "kilobytes at most, of the largest child";
}

// ---- Command line and the form's files

TEST_F(BadInputTest, FormPathThatIsNoRegularFileIsRefusedWithoutBlocking) {
  fs::create_directory(dir_.File("adir"));
  ASSERT_EQ(mkfifo(dir_.File("afifo").c_str(), 0644), 0);
  RunResult r = RunQueryIn(dir_.path(), {"adir", "h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "query: form 'adir' cannot be opened: not a regular file\n");
  // A FIFO with no writer would block an open for reading: it is refused.
  r = RunQueryIn(dir_.path(), {"afifo", "h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: form 'afifo' cannot be opened: not a regular file\n");
  r = RunQueryIn(dir_.path(), {"", "h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: form '' cannot be opened: no such file\n");
}

TEST_F(BadInputTest, UnreadableFilesAreRefusedWhenPermissionsApply) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "running as root, which reads any file; the directory-in-place-of-a-file "
                    "tests cover the same paths";
  }
  fs::permissions(dir_.File("fac"), fs::perms::none);
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: form 'fac' cannot be opened or read\n");
  fs::permissions(dir_.File("fac"), fs::perms::owner_read);
  fs::permissions(dir_.File("HEAD"), fs::perms::none);
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: HEAD cannot be opened for reading: Permission denied\n");
  fs::permissions(dir_.File("HEAD"), fs::perms::owner_read);
  fs::permissions(dir_.File("fac.c0"), fs::perms::none);
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: formula file 'fac.c0' cannot be opened or read\n");
  fs::permissions(dir_.File("fac.c0"), fs::perms::owner_read);
  fs::permissions(dir_.File("INFO"), fs::perms::owner_read);  // read-only fails the check
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No permission ... \r\n");
  EXPECT_EQ(r.err, "query: INFO cannot be opened for reading and writing: Permission denied\n");
}

TEST_F(BadInputTest, TruncatedOrEmptyFormNamesWhatIsMissing) {
  const std::string form = dir_.Read("fac");
  dir_.Write("fac", "");
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "query: form 'fac', the counts at the start: expected a number for the header field "
            "count, found the end of the file\n");
  dir_.Write("fac", form.substr(0, form.find("clients.db")));
  EXPECT_EQ(Run({"h00;"}).err, "query: form 'fac', header field 1: missing the table file name\n");
  dir_.Write("fac", form.substr(0, form.find("60 8 30") + 4));
  EXPECT_EQ(Run({"h00;"}).err,
            "query: form 'fac', detail line 0 field 0: expected a number for the description "
            "size, found the end of the file\n");
  dir_.Write("fac", form.substr(0, form.size() - 6));  // "10 52 12 30" cut to "10 52 "
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "query: form 'fac', detail line 3 field 4: expected a number for the length, found "
            "the end of the file\n");
}

TEST_F(BadInputTest, OutOfRangeNumbersInAFormAreRefused) {
  auto error_for = [&](const std::string& text) {
    dir_.Write("fac", text);
    RunResult r = Run({"h00;"});
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.out, "");
    return r.err;
  };
  EXPECT_EQ(error_for("1 0 0 0\n1 1 40000 0\n"),
            "query: form 'fac', header field 0: the length 40000 is out of range (0 to 32767)\n");
  EXPECT_EQ(error_for("1 0 0 0\n1 1 -3 0\n"),
            "query: form 'fac', header field 0: the length -3 is out of range (0 to 32767)\n");
  EXPECT_EQ(error_for("100001 0 0 0\n"),
            "query: form 'fac', the counts at the start: header field count 100001 exceeds the "
            "limit of 100000\n");
  EXPECT_EQ(error_for("0 1000 1001 0\n"),
            "query: form 'fac', the counts at the start: detail line count times field count "
            "exceeds 1000000\n");
  EXPECT_EQ(error_for("1 0 0 0\n1 1 6 50 t.db 0 0 0\n"),
            "query: form 'fac', header field 0: the table record length 0 is out of range (1 to "
            "2147483647)\n");
  EXPECT_EQ(error_for("1 0 0 0\n1 1 6 40 0 -1 5\n"),
            "query: form 'fac', header field 0: the offset -1 is out of range (0 to 32767)\n");
  EXPECT_EQ(error_for("1 0 0 0\n1 1 6 99999 t.db 5 0 0\n"),
            "query: form 'fac', header field 0: the type 99999 is out of range (-32768 to "
            "32767)\n");
}

TEST_F(BadInputTest, FormLineEndsAndTrailingTokensAreWhiteSpaceAndIgnored) {
  const std::string form = dir_.Read("fac");
  std::string crlf;
  for (char c : form) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  dir_.Write("fac", crlf + "these words follow the last definition 1 2 3\n");
  const std::vector<std::string> args = {"h00;", "h01;", "h02;", "h06;", "d00;", "d01;", "d04;"};
  RunResult r = Run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Baseline(args).out);
}

TEST_F(BadInputTest, DerivedFieldWhoseSourceIsNoKeyStaysEmpty) {
  // Header field 2 (the client's city) derived through field 0, which is no
  // key, or through a field the form does not have.
  const std::string form = dir_.Read("fac");
  std::string no_key = form;
  no_key.replace(no_key.find("2 10 12 40 1 36 20"), 18, "2 10 12 40 0 36 20");
  dir_.Write("fac", no_key);
  RunResult r = Run({"h00;000101", "h02;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "000101;;\n000101;;\n000101;;\n");
  std::string missing = form;
  missing.replace(missing.find("2 10 12 40 1 36 20"), 18, "2 10 12 40 999 36 20");
  dir_.Write("fac", missing);
  EXPECT_EQ(Run({"h00;000101", "h02;"}).out, "000101;;\n000101;;\n000101;;\n");
  // A negative size fetches nothing: the field is all blanks.
  std::string negative = form;
  negative.replace(negative.find("2 10 12 40 1 36 20"), 18, "2 10 12 40 1 36 -5");
  dir_.Write("fac", negative);
  EXPECT_EQ(Run({"h00;000101", "h02;"}).out, "000101;            ;\n000101;            ;\n"
                                                 "000101;            ;\n");
}

TEST_F(BadInputTest, MasksThatAreMissingOrNoFilesOrHugeAreIgnored) {
  MakeDirectory("fac.1");
  dir_.Write("fac.0", std::string(1 << 20, '_'));  // far beyond a screen
  const std::vector<std::string> args = {"h00;", "h01;", "d01;"};
  RunResult r = Run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Baseline(args).out);
}

TEST_F(BadInputTest, ShortTableNameHasNoKeyIndex) {
  // "cdb" has no key index name: the keys come from the table file itself,
  // whatever a file "clients" holds.
  std::string form = dir_.Read("fac");
  form.replace(form.find("clients.db"), 10, "cdb");
  dir_.Write("fac", form);
  fs::rename(dir_.File("clients.db"), dir_.File("cdb"));
  dir_.Write("clients", "nothing useful");
  const std::vector<std::string> args = {"h00;", "h01;", "h02;"};
  RunResult r = Run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Baseline(args).out);
}

// ---- Formula file

TEST_F(BadInputTest, FormulaFileThatIsNoRegularFileStopsTheQuery) {
  MakeDirectory("fac.c0");
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "query: formula file 'fac.c0' cannot be opened: not a regular file\n");
  MakeFifo("fac.c0");
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: formula file 'fac.c0' cannot be opened: not a regular file\n");
}

TEST_F(BadInputTest, FormulaResultsOutOfRangeOrDividedByZero) {
  // A number past the largest double is infinite; a NUL byte ends its line.
  dir_.Write("fac.c0", "h06 " + std::string(400, '9') + "\nh07 h04 0 /\n" +
                           std::string("d04 1 2 3\0 4\n", 14));
  RunResult r = Run({"h00;000101", "h06;", "h07;", "d04;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "000101;inf;/BY0;1.00;\n000101;inf;/BY0;1.00;\n000101;inf;/BY0;1.00;\n");
  EXPECT_EQ(r.err, "query: fac.c0 line 3: a NUL byte ends the formula text\n");
}

// ---- INFO

TEST_F(BadInputTest, InfoThatIsNoRegularFileFailsThePermissionCheck) {
  MakeDirectory("INFO");
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No permission ... \r\n");
  EXPECT_EQ(r.err, "query: INFO cannot be opened for reading and writing: Is a directory\n");
  MakeFifo("INFO");
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No permission ... \r\n");
  EXPECT_EQ(r.err, "query: INFO cannot be opened for reading and writing: not a regular file\n");
}

TEST_F(BadInputTest, InfoWithoutANumberIsAnEmptyStore) {
  for (const std::string info : {"", "   ", "abc", "x12"}) {
    dir_.Write("INFO", info);
    RunResult r = Run({"h00;"});
    EXPECT_EQ(r.status, 0) << info;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "query: INFO holds no record count; the store is taken as empty\n");
  }
  dir_.Write("INFO", "          -5");
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(BadInputTest, RecordCountBeyondHeadIsCutToTheRecordsHeadHolds) {
  // Records beyond the end of HEAD hold nothing: the count is cut to the
  // records HEAD holds, and stderr says so.
  dir_.Write("INFO", "          14");
  RunResult r = Run({"h00;", "h04;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Baseline({"h00;", "h04;"}).out);
  EXPECT_EQ(r.err, "query: INFO counts 14 records, but HEAD holds 12; only those 12 are examined\n");
  // A last record cut short counts as held: its fields hold what is there.
  const std::string head = dir_.Read("HEAD");
  dir_.Write("HEAD", head.substr(0, head.size() - 60));
  dir_.Write("INFO", "          12");
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// ---- HEAD and DOC

TEST_F(BadInputTest, HeadOrDocThatIsMissingOrNoRegularFileStopsTheQuery) {
  struct Case {
    std::string file;
    bool directory;
    std::string err;
  };
  for (const Case& c : {Case{"HEAD", false, "query: HEAD cannot be opened for reading: No such file or directory\n"},
                        Case{"HEAD", true, "query: HEAD cannot be opened for reading: not a regular file\n"},
                        Case{"DOC", true, "query: DOC cannot be opened for reading: not a regular file\n"}}) {
    const std::string saved = dir_.Read(c.file);
    if (c.directory) {
      MakeDirectory(c.file);
    } else {
      Remove(c.file);
    }
    RunResult r = Run({"h00;"});
    EXPECT_EQ(r.status, 1) << c.file;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    fs::remove_all(dir_.File(c.file));
    dir_.Write(c.file, saved);
  }
  MakeFifo("DOC");
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "query: DOC cannot be opened for reading: not a regular file\n");
}

TEST_F(BadInputTest, LineEndInsideAFieldEndsItsReadAndTheNextFieldFollowsIt) {
  // A line end in header field 1 of record 0 ("C0" + line end): that read
  // stops after the line end, which belongs to the text, and the date is read
  // from the byte after it. The store's layout is broken there; nothing more
  // is guessed.
  Patch("HEAD", 8, "\n");
  RunResult r = Run({"h00;000101", "h01|", "h03|"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("000101;C0\n|00105012|\n", 0), 0u) << r.out;
}

TEST_F(BadInputTest, NulInsideAFieldEndsItsText) {
  Patch("HEAD", 9, std::string(1, '\0'));  // client code "C00\0" + "01"
  RunResult r = Run({"h00;000101", "h01;", "h02;"});
  EXPECT_EQ(r.status, 0);
  // "C00" is no client: no description, and as a key cut short it gets no blank fill.
  EXPECT_EQ(r.out, "000101;C00;            ;\n000101;C00;            ;\n000101;C00;            ;\n");
}

TEST_F(BadInputTest, PointerFieldsThatAreBlankNegativeHugeOrSignedWork) {
  // Record 0's four pointers: blank, negative, beyond DOC, and "+3".
  Patch("HEAD", kPointers, "          -7999999    +3");
  RunResult r = Run({"h00;000101", "d00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "000101;A0000005;\n");
  // All absent: the record has no detail and prints once, in header-only mode.
  Patch("HEAD", kPointers, "    -1      abcdef     -");  // "-0" would be record 0
  EXPECT_EQ(Run({"h00;000101", "d00;"}).out, "000101;;\n");
}

TEST_F(BadInputTest, TruncatedHeadAndDocReadWhatIsThere) {
  // The last HEAD record cut after its date: its amount is what was there and
  // its pointers are absent, so it prints once without detail.
  const std::string head = dir_.Read("HEAD");
  dir_.Write("HEAD", head.substr(0, 11 * kHeadLength + 22));
  RunResult r = Run({"h00;000112", "h01;", "h04;", "d00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "000112;C00001|ACME S.A.                     ;  ;;\n");
  // DOC cut inside record 3: its article code is cut short, later records are gone.
  dir_.Write("HEAD", head);
  const std::string doc = dir_.Read("DOC");
  dir_.Write("DOC", doc.substr(0, 3 * kDocLength + 4));
  r = Run({"h00;", "d00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("000102;A000;\n"), std::string::npos);
  dir_.Write("DOC", "");
  r = Run({"h00;", "d00;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("A000"), std::string::npos);  // every line absent
  EXPECT_NE(r.out.find("000101;;\n"), std::string::npos);
}

// ---- The header index H

TEST_F(BadInputTest, HeaderIndexThatIsMissingEmptyShortOrWrongMeansAFullScan) {
  const std::vector<std::string> args = {"h00;000107", "d01;"};
  const std::string expected = Baseline(args).out;
  const std::string h = dir_.Read("H");
  for (const std::string& variant :
       {std::string(), h.substr(0, 40), std::string(h.rbegin(), h.rend()), std::string(72, '\0')}) {
    dir_.Write("H", variant);
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
  MakeDirectory("H");
  EXPECT_EQ(Run(args).out, expected);
  // An index whose key names another record: that record is read, and not
  // printed, since its own field does not hold the search text.
  fs::remove(dir_.File("H"));
  dir_.Write("H", "000107" + h.substr(6));
  EXPECT_EQ(Run(args).out, "");
}

// ---- Lookup tables and key index files

TEST_F(BadInputTest, TableThatIsNoRegularFileStopsTheQuery) {
  // Without a key index the keys come from the table: the system's message.
  fs::rename(dir_.File("clients"), dir_.File("clients.saved"));
  MakeDirectory("clients.db");
  RunResult r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "rddbr : Cannot open =clients.db= 1\r\n");
  EXPECT_EQ(r.err, "query: lookup table 'clients.db' (table 1) cannot be opened: not a regular file\n");
  // With a key index, the keys load and the first description fails.
  fs::rename(dir_.File("clients.saved"), dir_.File("clients"));
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "query: lookup table 'clients.db' (table 1) cannot be opened to read a description: "
            "not a regular file\n");
  // A detail table: the system's message without the pause.
  fs::remove_all(dir_.File("clients.db"));
  fs::copy_file(fs::path(QUERY_EXAMPLES_DIR) / "clients.db", dir_.File("clients.db"));
  MakeFifo("articles.db");
  r = Run({"h00;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "rddbr : Cannot open articles.db\r\n");
  EXPECT_EQ(r.err, "query: lookup table 'articles.db' (table 2) cannot be opened: not a regular file\n");
}

TEST_F(BadInputTest, KeyIndexThatIsNoRegularFileIsIgnored) {
  MakeDirectory("clients");
  MakeFifo("articles");
  const std::vector<std::string> args = {"h00;", "h01;", "h02;", "d01;"};
  RunResult r = Run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Baseline(args).out);
}

TEST_F(BadInputTest, EmptyTruncatedOrShortTablesMissOrShowWhatIsThere) {
  const std::vector<std::string> args = {"h00;000101", "h01;", "d00;", "d01;"};
  // An empty table has no keys: every lookup misses (blanks).
  dir_.Write("articles.db", "");
  RunResult r = Run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "000101;C00001|ACME S.A.                     ;A0000001;                        ;\n"
            "000101;C00001|ACME S.A.                     ;A0000002;                        ;\n"
            "000101;C00001|ACME S.A.                     ;A0000004;                        ;\n");
  // A table cut inside record 1's description: record 0 whole, record 1 what
  // is there, later records missing.
  const std::string articles = ReadPath(fs::path(QUERY_EXAMPLES_DIR) / "articles.db");
  dir_.Write("articles.db", articles.substr(0, 60 + 8 + 5));  // "Tuerc" of record 1
  r = Run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "000101;C00001|ACME S.A.                     ;A0000001;Tornillo 4x20 zincado   ;\n"
            "000101;C00001|ACME S.A.                     ;A0000002;Tuerc                   ;\n"
            "000101;C00001|ACME S.A.                     ;A0000004;                        ;\n");
  // A NUL byte ends a description; a key index cut inside its last key
  // loses that key.
  Patch("clients.db", 9, std::string(1, '\0'));
  dir_.Write("clients", dir_.Read("clients").substr(0, 6 * 5 + 3));
  r = Run({"h00;", "h01;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("000101;C00001|ACM                           ;\n"), std::string::npos);
  EXPECT_NE(r.out.find("000108;C00006                              ;\n"), std::string::npos);
}

// ---- Query arguments

TEST_F(BadInputTest, FieldNumbersThatAreNotTwoDigitsAreReadButSaid) {
  // 'hxx;' reads as header field 0, 'h5;x' as field 5 with the separator 'x'
  // and no search text: stdout as before, and stderr says what was read.
  RunResult r = Run({"h00;000101", "hxx;", "h5;x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Baseline({"h00;000101", "h00;", "h05x"}).out);
  EXPECT_EQ(r.err,
            "query: argument 'hxx;' has no two-digit field number after its letter; it reads as "
            "header field 0 with the separator ';'\n"
            "query: argument 'h5;x' has no two-digit field number after its letter; it reads as "
            "header field 5 with the separator 'x'\n");
  r = Run({"h00;000101", "d", "h 1;", "d04"});
  EXPECT_EQ(r.out, Baseline({"h00;000101", "d00", "h01;", "d04"}).out);
  EXPECT_EQ(r.err,
            "query: argument 'd' has no two-digit field number after its letter; it reads as "
            "detail field 0 without a separator\n");
}


TEST_F(BadInputTest, UnusualArgumentsCompleteNormally) {
  // A search text of 100,000 characters matches nothing.
  RunResult r = Run({"h00;" + std::string(100000, 'a')});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  // 2,000 arguments: one output line per match, each 2,000 fields long.
  r = Run(std::vector<std::string>(2000, "h00;"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.size(), 23u * (2000 * 7 + 1));
  // An empty argument prints nothing, not even a separator; bytes above 127
  // and control bytes in a search text are compared as they are.
  r = Run({"h00;000101", "", "h01;\xe9\x01"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Run({"h00;000101", ""}).out, "000101;\n000101;\n000101;\n");
}

}  // namespace
