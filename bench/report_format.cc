// The cells and tables of bench_run's report.
#include "report_format.h"

#include <cstdio>
#include <fstream>

namespace {

// `v` through a printf format that takes one double.
std::string Formatted(const char* format, double v) {
  char b[32];
  std::snprintf(b, sizeof b, format, v);
  return b;
}

}  // namespace

std::string Ms(double seconds) { return Formatted(seconds < 0.1 ? "%.1f" : "%.0f", seconds * 1000); }

std::string Spread(const Summary& s) {
  return Ms(s.median) + " (" + Ms(s.min) + "–" + Ms(s.max) + ")" + (s.failed ? " FAILED" : "");
}

std::string Millions(double v) { return Formatted("%.2f M", v / 1e6); }

std::string Mb(double v) { return Formatted("%.1f", v); }

std::string Ratio(double v) { return Formatted("%.1f×", v); }

std::string FineRatio(double v) { return Formatted("%.2f×", v); }

std::string Thousands(int64_t v) {
  std::string digits = std::to_string(v), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char b[512];
    while (std::fgets(b, sizeof b, p) != nullptr) out += b;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      size_t colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(colon + 2);
    }
  }
  return "unknown CPU";
}

void PrintHeadlines(const std::vector<Headline>& rows) {
  std::printf(
      "\n| question | store | query ms | CPU ms | lines/s | RSS MiB | awk ms | awk CPU ms | "
      "awk RSS MiB | awk ÷ query | in CPU time |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Headline& r : rows) {
    const StoreParams& p = r.store->params;
    std::printf("| %s | %s docs × %d lines, %s present | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n",
                r.question.c_str(), Thousands(p.documents).c_str(), p.lines,
                Thousands(r.store->stats.present_lines).c_str(), Spread(r.query).c_str(),
                Ms(r.query.cpu).c_str(),
                r.per_line ? Millions(r.store->stats.present_lines / r.query.median).c_str() : "—",
                Mb(r.query.rss).c_str(), Spread(r.awk).c_str(), Ms(r.awk.cpu).c_str(),
                Mb(r.awk.rss).c_str(), Ratio(r.awk.median / r.query.median).c_str(),
                Ratio(r.awk.cpu / r.query.cpu).c_str());
  }
}

void PrintVerdicts(const std::vector<Verdict>& verdicts) {
  std::printf("\n| target | measured | |\n|---|---|---|\n");
  for (const Verdict& v : verdicts)
    std::printf("| %s | %s | %s |\n", v.target.c_str(), v.measured.c_str(),
                v.met ? "met" : "**missed**");
}
