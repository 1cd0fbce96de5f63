// Timing whole processes for bench_run: a command run in a directory, its
// wall and CPU time, peak memory and exit status, and the medians of runs
// taken in turn.
#ifndef QUERY_BENCH_PROCESS_TIMING_H_
#define QUERY_BENCH_PROCESS_TIMING_H_

#include <string>
#include <vector>

struct Sample {
  double seconds = 0;      // wall time from fork to reaping
  double cpu_seconds = 0;  // user + system
  double system_seconds = 0;  // system alone: the kernel's work for the process, reads included
  double max_rss_mb = 0;   // peak resident set (ru_maxrss)
  int status = -1;         // exit status, 128 + signal when killed
  double reported = -1;    // the seconds the process reported (Job::report_path); -1: none
};

// One command run in a store directory.
struct Job {
  std::string dir;
  std::vector<std::string> argv;
  // Where the command writes "query_seconds S", its own measure of its
  // work, to standard error; empty when it reports nothing.
  std::string report_path = "";
};

struct Summary {
  double median = 0, min = 0, max = 0;  // wall seconds
  double cpu = 0;                       // median user + system seconds
  double system_cpu = 0;                // median system seconds
  double rss = 0;                       // largest peak RSS of the runs, MiB
  bool failed = false;                  // some run did not exit with status 0
  int runs = 0;
  double reported = -1;                 // median of the seconds the process reported; -1: none
};

// Seconds on the monotonic clock.
double Now();
// Runs `job` with its standard output in `out_path` (/dev/null for timing)
// and standard error in `err_path`, under LC_ALL=C and without the caller's
// QUERY_THREADS.
Sample RunOnce(const Job& job, const std::string& out_path, const std::string& err_path = "/dev/null");
// Starts `copies` runs of `job` at once, output discarded, and measures each;
// a run's wall time counts from the start of them all to its own end.
std::vector<Sample> RunTogether(const Job& job, int copies);
// Runs `job` for timing: output discarded, its own report read where it makes one.
Sample RunTimed(const Job& job);
double Median(std::vector<double> v);
Summary Summarize(const std::vector<Sample>& samples);
// Times each job `runs` times after one unmeasured run that warms the page
// cache, taking the jobs in turn so that a burst of load elsewhere on the
// machine hits them alike.
std::vector<Summary> Measure(const std::vector<Job>& jobs, int runs);
// Measure over jobs 0 and 1, then over 2 and 3, and so on: each pair (a
// question asked of the query and of a peer) taken in turn with itself only,
// so that neither of the two follows a heavier question the other never
// follows. The summaries come in the order of `jobs`.
std::vector<Summary> MeasureInPairs(const std::vector<Job>& jobs, int runs);

#endif  // QUERY_BENCH_PROCESS_TIMING_H_
