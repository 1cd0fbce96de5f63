// Helpers for tests: temporary store directories and running the built query.
#ifndef QUERY_TESTS_TEST_UTIL_H_
#define QUERY_TESTS_TEST_UTIL_H_

#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

// Changes the working directory for the life of the object.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir);
  ~ScopedChdir();

 private:
  std::string previous_;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs the built `query` in `dir` with the given arguments (form first).
RunResult RunQueryIn(const std::string& dir, const std::vector<std::string>& arguments);

#endif  // QUERY_TESTS_TEST_UTIL_H_
