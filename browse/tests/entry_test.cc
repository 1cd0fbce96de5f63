// Document entry: the editing logic on the example form, and whole entries
// typed through browse --edit's key loop with the fake screen on a copy of
// the example store.
#include "entry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "browser.h"
#include "engine.h"
#include "harness.h"
#include "masks.h"
#include "tcp.h"

namespace fs = std::filesystem;

namespace {

Form ExampleForm() {
  Form form;
  EXPECT_TRUE(LoadForm(std::string(QUERY_EXAMPLES_DIR) + "/fac", &form).ok());
  return form;
}

// A copy of the example store in a fresh directory, removed at the end.
class StoreCopy {
 public:
  StoreCopy() {
    char name[] = "/tmp/browse-entry-XXXXXX";
    dir_ = mkdtemp(name) != nullptr ? name : "";
    for (const auto& entry : fs::directory_iterator(QUERY_EXAMPLES_DIR))
      fs::copy_file(entry.path(), dir_ / entry.path().filename());
  }
  ~StoreCopy() { fs::remove_all(dir_); }
  const fs::path& dir() const { return dir_; }
  std::string Files() const {
    std::string all;
    for (const char* name : {"INFO", "HEAD", "DOC", "H"}) {
      std::FILE* f = std::fopen((dir_ / name).c_str(), "rb");
      if (f == nullptr) continue;
      for (int c; (c = std::fgetc(f)) != EOF;) all.push_back(static_cast<char>(c));
      std::fclose(f);
    }
    return all;
  }

 private:
  fs::path dir_;
};

// browse's key loop over `keys` on the store in `dir`, with editing on or
// off; the child then writes "#" and the record shown.
ChildRun BrowseIn(const fs::path& dir, const std::string& keys, bool editing) {
  return RunInChild(keys, [&dir, editing] {
    SetReadableTable();
    SetEntry(22, "\x1bOQ");  // F2
    TICS = 23;
    tcpmode(TCP_MODE_MODERN);
    if (chdir(dir.c_str()) != 0) _exit(3);
    std::unique_ptr<Engine> engine;
    std::vector<std::string> warnings;
    if (!Engine::Load({".", "fac"}, &engine, &warnings).ok()) _exit(4);
    std::vector<std::string> header_mask, detail_mask;
    if (!LoadMask("fac.0", &header_mask).ok() || !LoadMask("fac.1", &detail_mask).ok()) _exit(5);
    Browser browser(*engine, header_mask, detail_mask, {24, 80});
    browser.set_editing(editing);
    if (!browser.Start().ok()) _exit(6);
    bool done = false;
    while (!done) {
      if (!browser.HandleKey(getin1(), &done).ok()) _exit(7);
    }
    std::printf("#%lld", static_cast<long long>(browser.navigator().current()));
  });
}

std::string Output(const fs::path& dir, const std::string& args) {
  const std::string command = "cd '" + dir.string() + "' && '" QUERY_BINARY "' fac " + args;
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  if (pipe == nullptr) return out;
  for (int c; (c = std::fgetc(pipe)) != EOF;) out.push_back(static_cast<char>(c));
  pclose(pipe);
  return out;
}

TEST(DocumentEntryTest, FieldsGoInScreenOrderAndOneMoreLineIsOffered) {
  const Form form = ExampleForm();
  DocumentEntry entry = DocumentEntry::Blank(form);
  std::vector<EntryField> order = entry.Order();
  // Header: h00, h01 (row 1), h03 (row 1, column 60), h04, h05, h08 (row 3);
  // then line 0's stored fields d00, d02, d03. Derived and calculated fields
  // are passed over.
  const std::vector<EntryField> expected = {{-1, 0}, {-1, 1}, {-1, 3}, {-1, 4}, {-1, 5},
                                            {-1, 8}, {0, 0},  {0, 2},  {0, 3}};
  EXPECT_EQ(order, expected);
  entry.SetText({0, 0}, "A0000001");
  EXPECT_TRUE(entry.values().lines[0].present);
  EXPECT_EQ(entry.Order().size(), expected.size() + 3);  // line 1 offered
  for (int line = 1; line < form.line_count; ++line) entry.SetText({line, 0}, "A0000001");
  EXPECT_EQ(entry.Order().size(), expected.size() - 3 + 3 * static_cast<size_t>(form.line_count));  // no more
}

TEST(DocumentEntryTest, ALineIsPresentWhileSomeFieldHoldsTextAndDeletedIsAbsent) {
  const Form form = ExampleForm();
  DocumentEntry entry = DocumentEntry::Blank(form);
  entry.SetText({1, 2}, "5");
  EXPECT_TRUE(entry.values().lines[1].present);
  EXPECT_EQ(entry.Refusal({}), "line 2 d00 is blank; a line needs it");
  entry.SetText({1, 2}, "   ");
  EXPECT_FALSE(entry.values().lines[1].present);
  entry.SetText({2, 0}, "A0000002");
  entry.SetText({2, 2}, "3");
  entry.DeleteLine(2);
  EXPECT_FALSE(entry.values().lines[2].present);
  EXPECT_EQ(entry.values().lines[2].fields[2], "");
  EXPECT_FALSE(entry.Typed().lines[2].has_value());
  entry.SetText({-1, 2}, "derived");  // not stored: ignored
  EXPECT_EQ(entry.Text({-1, 2}), "");
  EXPECT_EQ(entry.Text({9, 0}), "");  // beyond the form
}

TEST(DocumentEntryTest, TypedValuesAreTheStoredBytesAndRefusalsNameTheField) {
  const Form form = ExampleForm();
  DocumentEntry entry = DocumentEntry::Blank(form);
  entry.SetText({-1, 4}, "12.5");
  entry.SetText({0, 0}, "A0000001");
  const TypedRecord typed = entry.Typed();
  EXPECT_EQ(typed.header[4], "     12.50");
  EXPECT_EQ(typed.header[5], "    0");  // a number left blank is 0
  EXPECT_EQ(typed.lines[0]->at(2), "    0");
  EXPECT_FALSE(typed.lines[1].has_value());
  EXPECT_EQ(typed.lines[0]->at(0), "A0000001");
  EXPECT_EQ(entry.Refusal({{-1, 1}}), "h01: no '' in clients.db");
  entry.SetText({-1, 1}, "C99999");
  EXPECT_EQ(entry.MissingKeyText({-1, 1}), "h01: no 'C99999' in clients.db");
  entry.SetText({-1, 4}, "12345678901");
  EXPECT_NE(entry.Refusal({}).find("h04: the value "), std::string::npos);
}

TEST(DocumentEntryTest, ChangedComparesWithTheValuesLoaded) {
  const Form form = ExampleForm();
  LoadedDocument loaded;
  loaded.record = 3;
  loaded.values.header = {"000104", "X99999"};
  DocumentEntry entry = DocumentEntry::Change(form, loaded);
  EXPECT_FALSE(entry.is_new());
  EXPECT_FALSE(entry.changed());
  entry.SetText({-1, 4}, "1");
  EXPECT_TRUE(entry.changed());
  entry.SetText({-1, 4}, "");
  EXPECT_FALSE(entry.changed());
  entry.SetText({0, 2}, "1");
  EXPECT_TRUE(entry.changed());
  EXPECT_TRUE(DocumentEntry::Blank(form).is_new());
}

TEST(EntryKeysTest, WithoutEditNAndEWriteNothing) {
  StoreCopy store;
  const std::string before = store.Files();
  ChildRun run = BrowseIn(store.dir(), "n000113\tC00001\x1bOQ" "e\x1bOQ", /*editing=*/false);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("browse shows documents only"), std::string::npos);
  EXPECT_EQ(store.Files(), before);
}

TEST(EntryKeysTest, ANewDocumentIsSavedWithF2AndShown) {
  StoreCopy store;
  ChildRun run = BrowseIn(store.dir(), "n000113\tC00003\t15032024\t50\t\t2\tA0000005\t4\t7.35\t\x1bOQ", true);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("saved  000113  13 of 13"), std::string::npos);
  EXPECT_EQ(run.out.substr(run.out.rfind('#')), "#12");
  EXPECT_EQ(Output(store.dir(), "'h00;000113' 'h02;' 'h06;' 'h07;' 'd01;' 'd04'"),
            "000113;Sevilla     ;50.00;25.00;Tubo cobre 15mm         ;29.40\n");
}

TEST(EntryKeysTest, ARefusedSaveKeepsWhatWasTyped) {
  StoreCopy store;
  const std::string before = store.Files();
  // A key its table lacks, then a document key already in use.
  ChildRun run = BrowseIn(store.dir(), "n000114\tC77777\t\x1bOQ", true);
  EXPECT_NE(run.out.find("not saved: h01: no 'C77777' in clients.db"), std::string::npos);
  run = BrowseIn(store.dir(), "n000101\tC00001\t\x1bOQ", true);
  EXPECT_NE(run.out.find("not saved: the key '000101' is already"), std::string::npos);
  EXPECT_EQ(store.Files(), before);
}

TEST(EntryKeysTest, EscapeAsksOnlyWhenSomethingChanged) {
  StoreCopy store;
  ChildRun run = BrowseIn(store.dir(), "e\x1b\x1b", true);  // a lone Escape after the wait
  EXPECT_EQ(run.out.find("discard the changes?"), std::string::npos);
  EXPECT_NE(run.out.find("nothing saved"), std::string::npos);
  run = BrowseIn(store.dir(), "e\t\t\t9\x1b\x1bn", true);
  EXPECT_NE(run.out.find("discard the changes?"), std::string::npos);
}

}  // namespace
