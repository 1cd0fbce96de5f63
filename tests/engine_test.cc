// The engine as a library: one engine loaded from a named directory, read by
// several readers at once, each getting what a lone reader gets.
#include "engine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "output.h"
#include "print_loop.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<Engine> LoadExample(const TempDir& dir, std::vector<std::string>* warnings) {
  for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
    fs::copy_file(entry.path(), dir.File(entry.path().filename().string()));
  std::unique_ptr<Engine> engine;
  // The store is named, not the working directory; the form path is the
  // caller's own.
  Status s = Engine::Load({dir.path(), dir.File("fac")}, &engine, warnings);
  EXPECT_TRUE(s.ok()) << s.message();
  return engine;
}

// What a reader shows of the record it read last, as text.
std::string Shown(const Engine& engine, const RecordReader& reader) {
  const Form& form = engine.form();
  std::string text;
  for (int f = 0; f < form.header_count; ++f) text.append(reader.values().HeaderText(f)).push_back('|');
  for (int line = 0; line < form.line_count; ++line) {
    if (!reader.LinePresent(line)) continue;
    for (int f = 0; f < form.field_count; ++f) text.append(reader.values().DetailText(line, f)).push_back('|');
  }
  return text;
}

// Everything a reader shows of every record, as text.
std::string ReadAll(const Engine& engine) {
  RecordReader reader;
  if (!reader.Open(engine).ok()) return "cannot open";
  std::string text;
  for (int64_t n = 0; n < reader.record_count(); ++n) {
    RecordReader::Outcome outcome;
    if (!reader.ReadRecord(n, &outcome).ok()) return "cannot read";
    text += Shown(engine, reader) + "\n";
  }
  return text;
}

TEST(EngineTest, ReadersOnSeveralThreadsEachSeeWhatALoneReaderSees) {
  TempDir dir;
  std::vector<std::string> warnings;
  std::unique_ptr<Engine> engine = LoadExample(dir, &warnings);
  ASSERT_NE(engine, nullptr);
  const std::string alone = ReadAll(*engine);
  ASSERT_NE(alone.find("ACME S.A."), std::string::npos);
  std::vector<std::string> seen(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 20; ++round) seen[i] = ReadAll(*engine);
    });
  }
  for (std::thread& t : threads) t.join();
  for (const std::string& text : seen) EXPECT_EQ(text, alone);
}

// A reader told which records come reads two ahead of the one asked for and
// swaps its buffers with them; whatever the order of the reads within the
// range (in turn, skipping, stepping back, past the end), each must show
// what a reader reading that record alone shows.
TEST(EngineTest, ReadingAheadShowsWhatReadingEachRecordAloneShows) {
  TempDir dir;
  std::vector<std::string> warnings;
  std::unique_ptr<Engine> engine = LoadExample(dir, &warnings);
  ASSERT_NE(engine, nullptr);
  ASSERT_TRUE(engine->RecordsIndependent());
  RecordReader alone;
  ASSERT_TRUE(alone.Open(*engine).ok());
  const int64_t count = alone.record_count();
  ASSERT_GE(count, 10);
  std::vector<std::string> want;
  for (int64_t n = 0; n < count; ++n) {
    RecordReader::Outcome outcome;
    ASSERT_TRUE(alone.ReadRecord(n, &outcome).ok());
    want.push_back(Shown(*engine, alone));
  }
  const std::vector<std::vector<int64_t>> orders = {
      {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
      {0, 3, 6, 9, 1, 2, 11},
      {1, 0, 2, 4, 3, 5, 5, 7, 6, 11, 10},
      {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
  };
  for (const RecordRange range : {RecordRange{0, count}, RecordRange{2, 7}}) {
    for (const std::vector<int64_t>& order : orders) {
      RecordReader ahead;
      ASSERT_TRUE(ahead.Open(*engine).ok());
      ahead.ExpectRecords(range);
      for (int64_t n : order) {
        if (n >= count) continue;
        RecordReader::Outcome outcome;
        ASSERT_TRUE(ahead.ReadRecord(n, &outcome).ok());
        EXPECT_FALSE(outcome.beyond_head);
        EXPECT_EQ(Shown(*engine, ahead), want[static_cast<size_t>(n)]) << "record " << n;
      }
    }
  }
}

TEST(EngineTest, PrintsWhatTheCommandLinePrintsFromAnotherDirectory) {
  TempDir dir;
  std::vector<std::string> warnings;
  std::unique_ptr<Engine> engine = LoadExample(dir, &warnings);
  ASSERT_NE(engine, nullptr);
  const std::vector<std::string> arguments = {"h00;", "h01;", "d01;tornillo", "d04;"};
  const Selection selection = Selection::FromText(arguments);
  RecordReader reader;
  ASSERT_TRUE(reader.Open(*engine).ok());
  reader.DeferFieldsOutputOnly(selection);
  std::string printed;
  {
    Output out(&printed);
    int64_t head_ended_at = 0;
    ASSERT_TRUE(PrintMatches(&reader, engine->form(), selection, engine->RangeFor(selection), &out, &head_ended_at).ok());
    EXPECT_EQ(head_ended_at, -1);
  }
  std::vector<std::string> command = {"fac"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(printed, RunQueryIn(dir.path(), command).out);
  EXPECT_FALSE(printed.empty());
}

TEST(EngineTest, KeysAreFoundWholeAndTheShortcutNarrowsTheRange) {
  TempDir dir;
  std::vector<std::string> warnings;
  std::unique_ptr<Engine> engine = LoadExample(dir, &warnings);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->FindRecordByKey("000107"), 6);
  EXPECT_EQ(engine->FindRecordByKey("00010"), -1);  // a part of a key is no key
  EXPECT_EQ(engine->FindRecordByKey("0001070"), -1);
  const RecordRange one = engine->RangeFor(Selection::FromText({"h00;000107"}));
  EXPECT_EQ(one.first, 6);
  EXPECT_EQ(one.size(), 1);
  EXPECT_EQ(engine->RangeFor(Selection::FromText({"h00;000107", "h01;acme"})).size(), 12);
}

TEST(EngineTest, AReaderOpenedLaterSeesRecordsAddedSinceLoading) {
  TempDir dir;
  std::vector<std::string> warnings;
  std::unique_ptr<Engine> engine = LoadExample(dir, &warnings);
  ASSERT_NE(engine, nullptr);
  RecordReader first;
  ASSERT_TRUE(first.Open(*engine).ok());
  EXPECT_EQ(first.record_count(), 12);
  const std::string head = dir.Read("HEAD");
  dir.Write("HEAD", head + head.substr(0, head.size() / 12));
  dir.Write("INFO", "13");
  RecordReader later;
  ASSERT_TRUE(later.Open(*engine).ok());
  EXPECT_EQ(later.record_count(), 13);
  EXPECT_EQ(engine->record_count(), 12);
}

TEST(EngineTest, ArgumentsMadeFromTheirPartsEqualThoseParsed) {
  for (const auto& [letter, field, separator, search] :
       {std::tuple<char, int, char, std::string>{'h', 0, ';', ""}, {'d', 1, ';', "Tornillo"}, {'h', 12, '|', "x"},
        {'d', 4, '\0', ""}}) {
    const QueryArgument made = MakeQueryArgument(letter, field, separator, search);
    char number[8];
    std::snprintf(number, sizeof number, "%02d", field);
    std::string text = std::string(1, letter) + number;
    if (separator != '\0') text += std::string(1, separator) + search;
    const QueryArgument parsed = ParseQueryArgument(text);
    EXPECT_EQ(made.text, parsed.text);
    EXPECT_EQ(made.letter, parsed.letter);
    EXPECT_EQ(made.field, parsed.field);
    EXPECT_EQ(made.has_separator, parsed.has_separator);
    EXPECT_EQ(made.separator, parsed.separator);
    EXPECT_EQ(made.search, parsed.search);
  }
}

TEST(EngineTest, AStoreThatIsGoneFailsTheReaderAsItFailsTheLoad) {
  TempDir dir;
  std::vector<std::string> warnings;
  std::unique_ptr<Engine> engine = LoadExample(dir, &warnings);
  ASSERT_NE(engine, nullptr);
  RecordReader first;  // takes what loading opened
  ASSERT_TRUE(first.Open(*engine).ok());
  fs::remove(dir.File("HEAD"));
  RecordReader second;
  const Status s = second.Open(*engine);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("HEAD cannot be opened"), std::string::npos) << s.message();
}

}  // namespace

// Typed values resolve as the same values read from the store: the record
// read, then given back to Resolve field by field, shows the same texts.
TEST(EngineTest, TypedValuesResolveAsTheStoredRecordReads) {
  TempDir dir;
  std::vector<std::string> warnings;
  std::unique_ptr<Engine> engine = LoadExample(dir, &warnings);
  ASSERT_NE(engine, nullptr);
  const Form& form = engine->form();
  RecordReader stored, typed_reader;
  ASSERT_TRUE(stored.Open(*engine).ok());
  ASSERT_TRUE(typed_reader.Open(*engine).ok());
  for (int64_t n : {0, 2}) {
    RecordReader::Outcome outcome;
    ASSERT_TRUE(stored.ReadRecord(n, &outcome).ok());
    // A reader that read another record first: nothing of it may remain.
    ASSERT_TRUE(typed_reader.ReadRecord(n == 0 ? 3 : 0, &outcome).ok());
    TypedRecord typed;
    // Stored text as the store holds it: the field's bytes.
    std::string head_record = dir.Read("HEAD").substr(static_cast<size_t>(n) * 64, 64);
    int at = 0;
    for (int f = 0; f < form.header_count; ++f) {
      const FieldDef& def = form.ph[static_cast<size_t>(f)];
      typed.header.push_back(IsStoredType(def.type) ? head_record.substr(static_cast<size_t>(at), static_cast<size_t>(def.length)) : "");
      if (IsStoredType(def.type)) at += def.length;
    }
    for (int line = 0; line < form.line_count; ++line) {
      if (!stored.LinePresent(line)) {
        typed.lines.emplace_back();
        continue;
      }
      std::vector<std::string> fields;
      for (int f = 0; f < form.field_count; ++f) fields.emplace_back(stored.values().DetailText(line, f));
      typed.lines.emplace_back(fields);
    }
    std::vector<MissingKey> missing;
    ASSERT_TRUE(typed_reader.Resolve(typed, &missing).ok());
    EXPECT_TRUE(missing.empty());
    for (int f = 0; f < form.header_count; ++f)
      EXPECT_EQ(typed_reader.values().HeaderText(f), stored.values().HeaderText(f)) << "record " << n << " h" << f;
    for (int line = 0; line < form.line_count; ++line) {
      EXPECT_EQ(typed_reader.LinePresent(line), stored.LinePresent(line));
      if (!stored.LinePresent(line)) continue;
      for (int f = 0; f < form.field_count; ++f)
        EXPECT_EQ(typed_reader.values().DetailText(line, f), stored.values().DetailText(line, f));
    }
  }
}

TEST(EngineTest, ResolveNamesEveryKeyItsTableLacksAndComputesFormulas) {
  TempDir dir;
  std::vector<std::string> warnings;
  std::unique_ptr<Engine> engine = LoadExample(dir, &warnings);
  ASSERT_NE(engine, nullptr);
  RecordReader reader;
  ASSERT_TRUE(reader.Open(*engine).ok());
  TypedRecord typed;
  typed.header = {"000200", "C99999", "", "01022024", "     10.00", "   50", "", "", "   4"};
  typed.lines.emplace_back(std::vector<std::string>{"A0000002", "", "    3", "      2.50", ""});
  typed.lines.emplace_back();
  typed.lines.emplace_back(std::vector<std::string>{"A9999999", "", "    1", "      1.00", ""});
  std::vector<MissingKey> missing;
  ASSERT_TRUE(reader.Resolve(typed, &missing).ok());
  EXPECT_EQ(missing, (std::vector<MissingKey>{{-1, 1}, {2, 0}}));
  EXPECT_EQ(reader.values().HeaderText(6), "5.00");   // 10 - 10 * 50 / 100
  EXPECT_EQ(reader.values().HeaderText(7), "1.25");   // 5 / 4
  EXPECT_EQ(reader.values().DetailText(0, 4), "7.50");
  EXPECT_EQ(reader.values().DetailText(0, 1).substr(0, 9), "Tuerca M4");
  EXPECT_FALSE(reader.LinePresent(1));
  EXPECT_FALSE(reader.LinePresent(3));

  // Corrected, the key resolves and its derived field shows.
  typed.header[1] = "C00002";
  typed.lines[2]->at(0) = "A0000001";
  ASSERT_TRUE(reader.Resolve(typed, &missing).ok());
  EXPECT_TRUE(missing.empty());
  EXPECT_EQ(reader.values().HeaderText(2).substr(0, 6), "Bilbao");
  EXPECT_EQ(reader.values().HeaderText(1).substr(0, 23), "C00002|Ferreteria Norte");
}
