#include "harness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tcp.h"

namespace {

std::string ReadAll(std::FILE *file) {
  std::string bytes;
  std::rewind(file);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  return bytes;
}

}  // namespace

ChildRun RunInChild(const std::string &input, const std::function<void()> &body,
                    unsigned seconds_allowed) {
  std::FILE *in = std::tmpfile();
  std::FILE *out = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::fflush(in);
  std::rewind(in);
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t child = fork();
  if (child == 0) {
    alarm(seconds_allowed);
    dup2(fileno(in), 0);
    dup2(fileno(out), 1);
    std::clearerr(stdin);
    body();
    std::fflush(stdout);
    _exit(0);
  }
  ChildRun run;
  int status = 0;
  waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadAll(out);
  std::fclose(in);
  std::fclose(out);
  return run;
}

void SetEntry(int entry, const std::string &bytes) {
  std::memset(tc[entry], 0, sizeof tc[entry]);
  std::memcpy(tc[entry], bytes.data(), std::min<size_t>(bytes.size(), 9));
}

void SetReadableTable() {
  std::memset(tc, 0, sizeof tc);
  TICS = 0;
  start = 0;
  cmpar = 0;
  SetEntry(TC_CURSOR, "[%d;%d]");
  SetEntry(TC_MSG_ON, "<");
  SetEntry(TC_MSG_OFF, ">");
  SetEntry(TC_MSG_ROW, "\x17");
  SetEntry(TC_BOX_BEGIN, "B");
  SetEntry(TC_BOX_END, "E");
  SetEntry(TC_BOX_TOP_RIGHT, "1");
  SetEntry(TC_BOX_TOP_LEFT, "2");
  SetEntry(TC_BOX_BOTTOM_LEFT, "3");
  SetEntry(TC_BOX_BOTTOM_RIGHT, "4");
  SetEntry(TC_BOX_VERTICAL, "|");
  SetEntry(TC_BOX_HORIZONTAL, "-");
}

std::string At(int row, int column) {
  std::string address = "[";
  address += std::to_string(row) + ";" + std::to_string(column) + "]";
  return address;
}
