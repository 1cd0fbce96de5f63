#include "process_timing.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

// The "query_seconds S" a process wrote to `path`; -1 when there is none.
double ReportedSeconds(const std::string& path) {
  std::ifstream in(path);
  std::string name;
  double seconds = -1;
  while (in >> name) {
    if (name == "query_seconds" && in >> seconds) return seconds;
  }
  return -1;
}

}  // namespace

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

namespace {

// Starts `job` with its standard output in `out_path` and standard error in
// `err_path`; -1 when it cannot be started.
pid_t Start(const Job& job, const std::string& out_path, const std::string& err_path) {
  std::vector<char*> argv;
  for (const std::string& a : job.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("bench_run: fork");
    return -1;
  }
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || err < 0 || chdir(job.dir.c_str()) != 0) _exit(126);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    setenv("LC_ALL", "C", 1);
    // The query's thread count is chosen by --threads alone, never by the
    // caller's environment.
    unsetenv("QUERY_THREADS");
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for the process `pid` started at `start` and measures it.
Sample Reap(pid_t pid, double start) {
  Sample s;
  int status = 0;
  rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("bench_run: wait4");
      return s;
    }
  }
  s.seconds = Now() - start;
  s.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  s.system_seconds = static_cast<double>(usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_stime.tv_usec) * 1e-6;
  s.max_rss_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux reports KiB
  s.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return s;
}

}  // namespace

// Runs `job` with its standard output in `out_path` (/dev/null for timing)
// and standard error in `err_path`, under LC_ALL=C.
Sample RunOnce(const Job& job, const std::string& out_path, const std::string& err_path) {
  const double start = Now();
  const pid_t pid = Start(job, out_path, err_path);
  return pid < 0 ? Sample{} : Reap(pid, start);
}

std::vector<Sample> RunTogether(const Job& job, int copies) {
  const double start = Now();
  std::vector<pid_t> pids;
  for (int i = 0; i < copies; ++i) pids.push_back(Start(job, "/dev/null", "/dev/null"));
  std::vector<Sample> samples;
  for (pid_t pid : pids) samples.push_back(pid < 0 ? Sample{} : Reap(pid, start));
  return samples;
}

Sample RunTimed(const Job& job) {
  if (job.report_path.empty()) return RunOnce(job, "/dev/null");
  Sample s = RunOnce(job, "/dev/null", job.report_path);
  s.reported = ReportedSeconds(job.report_path);
  return s;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2;
}

Summary Summarize(const std::vector<Sample>& samples) {
  Summary s;
  std::vector<double> wall, cpu, system, reported;
  for (const Sample& x : samples) {
    wall.push_back(x.seconds);
    cpu.push_back(x.cpu_seconds);
    system.push_back(x.system_seconds);
    s.rss = std::max(s.rss, x.max_rss_mb);
    if (x.status != 0) s.failed = true;
    if (x.reported >= 0) reported.push_back(x.reported);
  }
  if (!reported.empty() && reported.size() == samples.size()) s.reported = Median(reported);
  s.runs = static_cast<int>(samples.size());
  if (!wall.empty()) {
    s.median = Median(wall);
    s.min = *std::min_element(wall.begin(), wall.end());
    s.max = *std::max_element(wall.begin(), wall.end());
    s.cpu = Median(cpu);
    s.system_cpu = Median(system);
  }
  return s;
}

// Times each job `runs` times after one unmeasured run that warms the page
// cache, taking the jobs in turn so that a burst of load elsewhere on the
// machine hits them alike.
std::vector<Summary> Measure(const std::vector<Job>& jobs, int runs) {
  std::vector<std::vector<Sample>> samples(jobs.size());
  for (const Job& job : jobs) RunOnce(job, "/dev/null");
  for (int r = 0; r < runs; ++r)
    for (size_t j = 0; j < jobs.size(); ++j) samples[j].push_back(RunTimed(jobs[j]));
  std::vector<Summary> out;
  for (const auto& s : samples) out.push_back(Summarize(s));
  return out;
}

std::vector<Summary> MeasureInPairs(const std::vector<Job>& jobs, int runs) {
  std::vector<Summary> out;
  for (size_t i = 0; i < jobs.size(); i += 2) {
    std::vector<Job> pair(jobs.begin() + static_cast<std::ptrdiff_t>(i),
                          jobs.begin() + static_cast<std::ptrdiff_t>(std::min(i + 2, jobs.size())));
    for (Summary& summary : Measure(pair, runs)) out.push_back(summary);
  }
  return out;
}
