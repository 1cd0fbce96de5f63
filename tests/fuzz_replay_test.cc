// Replays every fuzz seed and every kept fuzz find through its target in the
// ordinary test run, so that what a fuzzer once broke stays mended in every
// build, the sanitizer build included. A target aborts on a broken promise,
// which fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine_targets.h"
#include "tcp_targets.h"

namespace {

namespace fs = std::filesystem;

// The files of fuzz/corpus/<target> and fuzz/regressions/<target>, sorted.
std::vector<fs::path> Inputs(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* kind : {"corpus", "regressions"}) {
    fs::path dir = fs::path(QUERY_FUZZ_DIR) / kind / target;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Contents(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void Replay(const std::string& target, void (*run)(std::string_view)) {
  std::vector<fs::path> files = Inputs(target);
  ASSERT_FALSE(files.empty()) << "no seed corpus for " << target;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    run(Contents(file));
  }
}

TEST(FuzzReplayTest, FormDefinitions) { Replay("form", FuzzFormDefinition); }
TEST(FuzzReplayTest, FormulaFiles) { Replay("formula", FuzzFormulas); }
TEST(FuzzReplayTest, WholeStores) { Replay("store", FuzzStoreQuery); }
TEST(FuzzReplayTest, QueryArguments) { Replay("arguments", FuzzQueryArguments); }
TEST(FuzzReplayTest, TerminalTables) { Replay("terminal_table", FuzzTerminalTable); }
TEST(FuzzReplayTest, KeyDecoder) { Replay("key_decoder", FuzzKeyDecoder); }
TEST(FuzzReplayTest, Punto) { Replay("punto", FuzzPunto); }
TEST(FuzzReplayTest, FieldEditor) { Replay("field_editor", FuzzFieldEditor); }

}  // namespace
