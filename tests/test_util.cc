#include "test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "query-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream f(File(name), std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream f(File(name), std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

ScopedChdir::ScopedChdir(const std::string& dir) {
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(dir);
}

ScopedChdir::~ScopedChdir() { std::filesystem::current_path(previous_); }

RunResult RunQueryIn(const std::string& dir, const std::vector<std::string>& arguments) {
  TempDir capture;
  std::string out_path = capture.File("out"), err_path = capture.File("err");
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(dir.c_str()) != 0) _exit(126);
    // A query that hangs is killed (status 128 + SIGALRM) instead of stalling
    // the test run; the alarm survives the exec.
    alarm(60);
    std::vector<char*> argv;
    std::string binary = QUERY_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copies(arguments);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  RunResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = capture.Read("out");
  r.err = capture.Read("err");
  return r;
}
