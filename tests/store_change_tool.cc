// store_change_tool: a test program that changes a store of form `fac`
// again and again, for the tests that kill it or race it against others.
//
//   store_change_tool MODE DIR SEED COUNT
//
// Modes (COUNT changes each, 0 for no end):
//   random    random adds and changes; before each it prints
//             "begin <record|new> <document described>" and after it
//             "saved <record>" or "refused <why>", each line flushed;
//   versions  sets a document's amount to a new version V and every present
//             line's quantity and price to V as well, adding or deleting a
//             line now and then: any line a reader prints shows one V;
//   counter   adds 1 to document 0's amount, reloading when another
//             writer came first;
//   adds      adds documents keyed "P<seed><n>".
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "store_writer.h"
#include "writer_test_support.h"

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "store_change_tool: %s\n", what.c_str());
  return 1;
}

std::string Number(const char* format, int64_t v) {
  char text[48];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

bool RandomChange(StoreWriter& w, const Form& form, TestRandom& rnd, int64_t i, int64_t seed) {
  int64_t count = 0;
  if (!w.Count(&count).ok()) return false;
  const int64_t unique = (seed % 100) * 100000 + i;
  if (count == 0 || rnd.Between(0, 3) == 0) {
    DocumentValues d = RandomDocument(&rnd, Number("N%07" PRId64, unique), form.line_count);
    std::printf("begin new %s\n", Describe(form, d).c_str());
    std::fflush(stdout);
    int64_t record;
    Status s = w.Add(d, &record);
    if (s.ok()) std::printf("saved %" PRId64 "\n", record); else std::printf("refused %s\n", s.message().c_str());
    std::fflush(stdout);
    return true;
  }
  const int64_t n = rnd.Between(0, count - 1);
  LoadedDocument before;
  if (!w.Load(n, &before).ok()) return false;
  DocumentValues after = before.values;
  const ChangeKind kind = kAllChanges[rnd.Between(1, 5)];
  if (!ChangeDocument(&rnd, kind, unique, &after)) return true;
  std::printf("begin %" PRId64 " %s\n", n, Describe(form, after).c_str());
  std::fflush(stdout);
  Status s = w.Save(before, after);
  if (s.ok()) std::printf("saved %" PRId64 "\n", n); else std::printf("refused %s\n", s.message().c_str());
  std::fflush(stdout);
  return true;
}

bool VersionChange(StoreWriter& w, TestRandom& rnd, int64_t version) {
  int64_t count = 0;
  if (!w.Count(&count).ok() || count == 0) return false;
  LoadedDocument before;
  if (!w.Load(rnd.Between(0, count - 1), &before).ok()) return false;
  DocumentValues after = before.values;
  after.header[4] = Number("%" PRId64 ".00", version);
  int present = 0;
  for (LineValues& l : after.lines) present += l.present;
  const int64_t pick = rnd.Between(0, static_cast<int64_t>(after.lines.size()) - 1);
  LineValues& line = after.lines[static_cast<size_t>(pick)];
  if (!line.present && rnd.Between(0, 1) == 0) {
    line.present = true;
    line.fields = {"A0000001", "", "", "", ""};
  } else if (line.present && present > 1 && rnd.Between(0, 3) == 0) {
    line = LineValues();
  }
  for (LineValues& l : after.lines) {
    if (!l.present) continue;
    l.fields[2] = Number("%" PRId64, version % 100000);
    l.fields[3] = Number("%" PRId64 ".00", version);
  }
  Status s = w.Save(before, after);
  return s.ok() || s.message().find("changed by someone else") != std::string::npos;
}

bool Increment(StoreWriter& w) {
  for (;;) {
    LoadedDocument before;
    if (!w.Load(0, &before).ok()) return false;
    DocumentValues after = before.values;
    after.header[4] = Number("%" PRId64 ".00", std::atoll(after.header[4].c_str()) + 1);
    Status s = w.Save(before, after);
    if (s.ok()) return true;
    if (s.message().find("changed by someone else") == std::string::npos) return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return Fail("usage: store_change_tool MODE DIR SEED COUNT");
  const std::string mode = argv[1], dir = argv[2];
  const int64_t seed = std::atoll(argv[3]), changes = std::atoll(argv[4]);
  Form form;
  Status s = LoadForm(dir + "/fac", &form);
  StoreWriter w;
  if (!s.ok() || !(s = w.Open(form, dir)).ok()) return Fail(s.message());
  TestRandom rnd(static_cast<uint64_t>(seed));
  for (int64_t i = 0; changes == 0 || i < changes; ++i) {
    bool ok = true;
    if (mode == "random") {
      ok = RandomChange(w, form, rnd, i, seed);
    } else if (mode == "versions") {
      ok = VersionChange(w, rnd, seed * 100000 + i + 1);
    } else if (mode == "counter") {
      ok = Increment(w);
    } else if (mode == "adds") {
      DocumentValues d = RandomDocument(&rnd, Number("P%" PRId64, seed * 10000 + i), form.line_count);
      int64_t record;
      ok = w.Add(d, &record).ok();
    } else {
      return Fail("unknown mode " + mode);
    }
    if (!ok) return Fail("change " + std::to_string(i) + " failed");
  }
  return 0;
}
