// Search verdicts remembered by table record: a reader that remembers them
// accepts exactly the lines that testing every line's text accepts, however
// the lines fetch the same records, and whatever else writes a field.
#include "search_memo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine.h"
#include "output.h"
#include "print_loop.h"
#include "test_util.h"

namespace {

// Form 'f': h00 the number (8). Three detail lines of d00 an article key (5)
// into ar.db (table 1, 18-byte records), d01 its description (12 bytes at
// 5), d02 a quantity (3), d03 calculated by `line_formula`. Line 1 shows
// only 5 characters of the description, so the same article has another
// text there; on line 2 d01 is a calculated field, which a formula writes
// after the lookup.
void WriteStore(const TempDir& dir, int records, const std::string& line_formula = "d03 d02 3 *") {
  dir.Write("f",
            "1 3 4 0\n"
            "1 1 8 0\n"
            "1 1 5 50 ar.db 18 5 12\n1 1 12 40 0 5 12\n1 1 3 0\n1 1 9 30\n"
            "1 1 5 50\n1 1 5 40\n1 1 3 0\n1 1 9 30\n"
            "1 1 5 50\n1 1 12 30\n1 1 3 0\n1 1 9 30\n");
  dir.Write("f.c0", "d01 d02 2 *\n" + line_formula + "\n");
  const std::vector<std::string> descriptions = {"Tornillo M8 ", "Tuerca M8   ", "Arandela 300",
                                                 "TORNILLO M10", "Clavo       "};
  std::string articles;
  for (int a = 0; a < 40; ++a) {
    char key[8];
    std::snprintf(key, sizeof key, "A%04d", a % 37);  // the last three repeat earlier keys
    articles += std::string(key) + descriptions[static_cast<size_t>(a) % descriptions.size()] + "\n";
  }
  dir.Write("ar.db", articles);
  std::string head, doc, h;
  int64_t doc_records = 0;
  for (int n = 0; n < records; ++n) {
    char number[16];
    std::snprintf(number, sizeof number, "%08d", n);
    head += number;
    for (int line = 0; line < 3; ++line) {
      if ((n + line) % 4 == 0) {
        head += "    -1";
        continue;
      }
      char pointer[24], row[32];
      std::snprintf(pointer, sizeof pointer, "%6lld", static_cast<long long>(doc_records++));
      head += pointer;
      std::snprintf(row, sizeof row, "A%04d%3d     \n", (n * 3 + line) % 43, n % 200);  // 37 to 42 are missing
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

// The engine of the store in `dir`, loaded without a warning.
std::unique_ptr<Engine> LoadStore(const TempDir& dir) {
  std::unique_ptr<Engine> engine;
  std::vector<std::string> warnings;
  EXPECT_TRUE(Engine::Load({dir.path(), dir.File("f")}, &engine, &warnings).ok());
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  return engine;
}

// The verdict on every present line of every record, by one reader that
// remembers verdicts, as "record.line" texts; and the same by testing each
// line's text.
void Verdicts(const Engine& engine, RecordReader* reader, const Selection& selection, std::string* remembered,
              std::string* tested) {
  for (int64_t n = 0; n < reader->record_count(); ++n) {
    RecordReader::Outcome outcome;
    ASSERT_TRUE(reader->ReadRecord(n, &outcome).ok());
    for (int line = 0; line < engine.form().line_count; ++line) {
      if (!reader->LinePresent(line)) continue;
      const std::string at = std::to_string(n) + "." + std::to_string(line) + " ";
      if (reader->AcceptsLine(selection, line)) *remembered += at;
      if (selection.AcceptsLine(engine.form(), reader->values(), line)) *tested += at;
    }
  }
}

TEST(SearchMemoTest, RememberedVerdictsAreThoseOfTestingEveryLine) {
  TempDir dir;
  WriteStore(dir, 400);
  std::unique_ptr<Engine> engine = LoadStore(dir);
  ASSERT_NE(engine, nullptr);
  RecordReader reader;
  ASSERT_TRUE(reader.Open(*engine).ok());
  // "ill" is in a description's first twelve characters but not its first
  // five; "00" only in line 2's calculated text; "m1" in one article's.
  const std::vector<Selection> selections = {
      Selection::FromText({"h00;", "d01;ill"}), Selection::FromText({"d01;tor"}),
      Selection::FromText({"d01;00"}),          Selection::FromText({"h00;0", "d01;m1", "d02;1"}),
      Selection::FromText({"d01;ill"}),         Selection::FromText({"d01;", "d01;tor", "d01;m10"}),
      Selection::FromText({"d01;tor", "d01;ill"}),
  };
  // Each selection twice, in turns: the reader replans for each, and a
  // copy is the selection it was made from.
  for (int round = 0; round < 2; ++round) {
    for (const Selection& original : selections) {
      const Selection selection = original;
      SCOPED_TRACE(selection.arguments().back().text);
      std::string remembered, tested;
      Verdicts(*engine, &reader, selection, &remembered, &tested);
      EXPECT_EQ(remembered, tested);
      EXPECT_NE(tested.find(' '), std::string::npos);  // some line is accepted
    }
  }
}

// What the print loop prints, computed line by line without remembered
// verdicts: every present line resolved and tested.
std::string PrintedLineByLine(const Engine& engine, const Selection& selection, RecordRange range = {0, -1}) {
  RecordReader reader;
  EXPECT_TRUE(reader.Open(engine).ok());
  const Form& form = engine.form();
  std::string text;
  Output out(&text);
  if (range.end < 0) range.end = reader.record_count();
  for (int64_t n = range.first; n < range.end; ++n) {
    RecordReader::Outcome outcome;
    EXPECT_TRUE(reader.ReadRecord(n, &outcome).ok());
    for (int line = 0; line < form.line_count; ++line) {
      if (reader.LinePresent(line) && selection.AcceptsLine(form, reader.values(), line))
        PrintRow(selection, reader.values(), line, &out);
    }
  }
  out.Flush();
  return text;
}

// The same by the print loop, as the command line runs it.
std::string PrintedByTheLoop(const Engine& engine, const Selection& selection) {
  RecordReader reader;
  EXPECT_TRUE(reader.Open(engine).ok());
  reader.DeferFieldsOutputOnly(selection);
  std::string text;
  Output out(&text);
  int64_t head_ended_at = 0;
  EXPECT_TRUE(PrintMatches(&reader, engine.form(), selection, {0, reader.record_count()}, &out, &head_ended_at).ok());
  out.Flush();
  return text;
}

// Readers of one engine given the same selection trade the verdicts they
// found at the start and the end of each walk. Readers on three threads,
// each walking every third chunk of records with the print loop, so that
// each takes verdicts the others found on other records, print what
// resolving every line prints.
TEST(SearchMemoTest, ReadersOnSeveralThreadsTradeTheirVerdictsBetweenWalks) {
  TempDir dir;
  WriteStore(dir, 2000);
  std::unique_ptr<Engine> engine = LoadStore(dir);
  ASSERT_NE(engine, nullptr);
  const Selection selection = Selection::FromText({"h00;", "d01;tor", "d01;m1"});
  constexpr int kReaders = 3;
  constexpr int64_t kChunk = 50;
  std::vector<std::string> printed(2000 / kChunk);
  std::vector<std::thread> threads;
  for (int i = 0; i < kReaders; ++i) {
    threads.emplace_back([&, i] {
      RecordReader reader;
      if (!reader.Open(*engine).ok()) return;
      reader.DeferFieldsOutputOnly(selection);
      for (size_t c = static_cast<size_t>(i); c < printed.size(); c += kReaders) {
        Output out(&printed[c]);
        int64_t head_ended_at = 0;
        const int64_t first = static_cast<int64_t>(c) * kChunk;
        if (!PrintMatches(&reader, engine->form(), selection, {first, first + kChunk}, &out, &head_ended_at).ok())
          return;
        out.Flush();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (size_t c = 0; c < printed.size(); ++c) {
    const int64_t first = static_cast<int64_t>(c) * kChunk;
    EXPECT_EQ(printed[c], PrintedLineByLine(*engine, selection, {first, first + kChunk})) << "chunk " << c;
  }
  EXPECT_NE(PrintedLineByLine(*engine, selection), "");
}

// The print loop leaves unresolved the lines a remembered verdict rejects.
// It must print what resolving every line prints, calculated fields and
// missing keys included, and where a line formula keeps a running total
// (each line's d03 adds to the last record's), it must resolve them all.
TEST(SearchMemoTest, ThePrintLoopPrintsWhatResolvingEveryLinePrints) {
  for (const std::string formula : {"d03 d02 3 *", "d03 d03 d02 +"}) {
    SCOPED_TRACE(formula);
    TempDir dir;
    WriteStore(dir, 3000, formula);
    std::unique_ptr<Engine> engine = LoadStore(dir);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->RecordsIndependent(), formula == "d03 d02 3 *");
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"h00;", "d00;", "d01;", "d03;", "d01;ill"},
             {"d01;", "d03;", "d01;00"},
             {"h00;", "d01;", "d02;", "d01;m"},
             {"h00;1", "d03;", "d01;tor", "d02;1"},
             {"d00;", "d01;tor", "d01;m8"}}) {
      const Selection selection = Selection::FromText(arguments);
      SCOPED_TRACE(arguments.back());
      const std::string want = PrintedLineByLine(*engine, selection);
      EXPECT_GT(want.size(), 1000u);
      EXPECT_TRUE(PrintedByTheLoop(*engine, selection) == want);
    }
  }
}

}  // namespace
