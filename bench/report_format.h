// The cells and tables of bench_run's report: times, rates and ratios as
// text, and the headline and verdict tables.
#ifndef BENCH_REPORT_FORMAT_H_
#define BENCH_REPORT_FORMAT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "bench_questions.h"
#include "process_timing.h"

// Seconds as milliseconds: one decimal below 100 ms.
std::string Ms(double seconds);
// A summary's median with its fastest and slowest in brackets.
std::string Spread(const Summary& s);
// "12.34 M", "5.1", "3.4×" and "1,234,567".
std::string Millions(double v);
std::string Mb(double v);
std::string Ratio(double v);
// A ratio to two decimals, for one read against a bound it is close to.
std::string FineRatio(double v);
std::string Thousands(int64_t v);
// The standard output of a shell command, trailing blanks and line feeds cut.
std::string CommandOutput(const std::string& command);
// The processor's model name from /proc/cpuinfo.
std::string CpuModel();

// One row of a headline table: the query against awk on one question.
struct Headline {
  std::string question;
  const Store* store;
  Summary query, awk;
  bool per_line;  // report present lines per second
};

// The headline table: each question's query against awk.
void PrintHeadlines(const std::vector<Headline>& rows);

// One target and where the figures stand against it.
struct Verdict {
  std::string target, measured;
  bool met;
};

void PrintVerdicts(const std::vector<Verdict>& verdicts);

#endif  // BENCH_REPORT_FORMAT_H_
