// tcp-table: writes the terminal table of a terminal from the system's
// terminal database, or shows an existing table.
//
//   tcp-table [-T NAME] [--plain-box] [--lines N] [--entries N]
//             [--entry N=STRING]... [--install | --output FILE]
//   tcp-table --dump FILE
//
// Without --install or --output the table goes to standard output (refused
// when that is a terminal). Exit status 0 when the table was written or
// shown, 1 when it was not (unknown terminal, a terminal without cursor
// addressing, unwritable or hostile target, unreadable table), 2 on a usage
// error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "file_install.h"
#include "table_builder.h"
#include "table_file.h"
#include "terminfo_source.h"

namespace {

using namespace tcptable;

constexpr const char *kUsage =
    "usage: tcp-table [-T NAME] [--plain-box] [--lines N] [--entries N] [--entry N=STRING]...\n"
    "                 [--install | --output FILE]\n"
    "       tcp-table --dump FILE\n";

enum class Action { kStdout, kInstall, kOutput, kDump };

struct Arguments {
  std::string terminal;  // empty: $TERM
  BuildOptions build;
  Action action = Action::kStdout;
  std::string file;  // for --output and --dump
  bool building_options = false;
};

int Usage(const std::string &problem) {
  std::fprintf(stderr, "tcp-table: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

int Fail(const std::string &problem) {
  std::fprintf(stderr, "tcp-table: %s\n", problem.c_str());
  return 1;
}

// A decimal number from lo to hi, or nullopt.
std::optional<int> Number(const char *text, int lo, int hi) {
  char *end = nullptr;
  errno = 0;
  long n = std::strtol(text, &end, 10);
  if (text[0] == '\0' || *end != '\0' || errno != 0 || n < lo || n > hi) return std::nullopt;
  return static_cast<int>(n);
}

// --entry N=STRING; returns an error text, or nullopt when stored.
std::optional<std::string> EntryOverride(const char *text, BuildOptions &options) {
  const char *equals = std::strchr(text, '=');
  if (equals == nullptr) return "--entry wants N=STRING, not '" + std::string(text) + "'";
  std::string number(text, equals);
  auto n = Number(number.c_str(), 0, kEntries - 1);
  if (!n) return "--entry: '" + number + "' is no entry number from 0 to 39";
  std::string error;
  auto bytes = Unescape(equals + 1, &error);
  if (!bytes) return "--entry " + number + ": " + error;
  options.overrides.emplace_back(*n, *bytes);
  return std::nullopt;
}

// Parses the command line; returns nullopt when it is fine, else the exit
// status after the usage message.
std::optional<int> ParseArguments(int argc, char **argv, Arguments &args) {
  bool action_seen = false;
  auto set_action = [&](Action action) -> bool {
    if (action_seen) return false;
    action_seen = true;
    args.action = action;
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-T" && has_value) {
      args.terminal = argv[++i];
      if (args.terminal.empty()) return Usage("-T wants a terminal name");
      args.building_options = true;
    } else if (arg == "--plain-box") {
      args.build.plain_box = true;
      args.building_options = true;
    } else if (arg == "--lines" && has_value) {
      auto n = Number(argv[++i], 1, 128);
      if (!n) return Usage("--lines wants a number from 1 to 128, not '" + std::string(argv[i]) + "'");
      args.build.lines = *n;
      args.building_options = true;
    } else if (arg == "--entries" && has_value) {
      auto n = Number(argv[++i], 0, kEntries);
      if (!n) return Usage("--entries wants a number from 0 to 40, not '" + std::string(argv[i]) + "'");
      args.build.entries = *n;
      args.building_options = true;
    } else if (arg == "--entry" && has_value) {
      if (auto error = EntryOverride(argv[++i], args.build)) return Usage(*error);
      args.building_options = true;
    } else if (arg == "--install") {
      if (!set_action(Action::kInstall)) return Usage("give one of --install, --output, --dump");
    } else if ((arg == "--output" || arg == "--dump") && has_value) {
      if (!set_action(arg == "--output" ? Action::kOutput : Action::kDump))
        return Usage("give one of --install, --output, --dump");
      args.file = argv[++i];
      if (args.file.empty()) return Usage(arg + " wants a file name");
    } else if (arg == "-T" || arg == "--lines" || arg == "--entries" || arg == "--entry" || arg == "--output" ||
               arg == "--dump") {
      return Usage(arg + " wants a value");
    } else {
      return Usage("unknown argument '" + arg + "'");
    }
  }
  if (args.action == Action::kDump && args.building_options)
    return Usage("--dump shows a table as it is and takes no other option");
  return std::nullopt;
}

int Dump(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail("cannot open '" + path + "': " + std::strerror(errno));
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return Fail("'" + path + "' is no regular file");
  }
  std::string bytes(kMaxFileBytes + 1, '\0');
  size_t have = 0;
  while (have < bytes.size()) {
    ssize_t n = read(fd, &bytes[have], bytes.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return Fail("cannot read '" + path + "': " + std::strerror(errno));
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  close(fd);
  bool too_long = have > kMaxFileBytes;
  bytes.resize(too_long ? kMaxFileBytes : have);
  Parsed parsed = Parse(bytes);
  if (too_long)
    parsed.problems.push_back("the file is longer than " + std::to_string(kMaxFileBytes) +
                              " bytes; only those are read");
  std::fputs(Dump(parsed).c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the dump");
}

int Write(const Arguments &args, const std::string &bytes) {
  switch (args.action) {
    case Action::kInstall: {
      const char *tty = ttyname(STDIN_FILENO);
      if (tty == nullptr)
        return Fail("standard input is no terminal: --install writes the table of the terminal on standard input");
      std::string path = std::string("/tmp/") + tty;
      if (auto error = InstallFile(path, bytes)) return Fail("cannot install the table: " + *error);
      // "/tmp//dev/pts/3" is the file /tmp/dev/pts/3: shown without the doubled slash.
      std::fprintf(stderr, "tcp-table: wrote the table for %s at /tmp%s\n", args.terminal.c_str(), tty);
      return 0;
    }
    case Action::kOutput:
      if (auto error = WriteFileReplacing(args.file, bytes)) return Fail(*error);
      return 0;
    default:
      if (isatty(STDOUT_FILENO))
        return Fail("standard output is a terminal; use --install, --output FILE, or redirect it");
      if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
        return Fail("cannot write the table to standard output");
      return 0;
  }
}

}  // namespace

int main(int argc, char **argv) {
  Arguments args;
  if (auto status = ParseArguments(argc, argv, args)) return *status;
  if (args.action == Action::kDump) return Dump(args.file);
  if (args.terminal.empty()) {
    const char *term = std::getenv("TERM");
    if (term == nullptr || term[0] == '\0') return Fail("TERM is not set; name the terminal with -T NAME");
    args.terminal = term;
  }
  std::string error;
  std::optional<Capabilities> caps = ReadCapabilities(args.terminal, &error);
  if (!caps) return Fail(error);
  Built built = BuildTable(*caps, args.build);
  for (const std::string &note : built.notes) std::fprintf(stderr, "tcp-table: %s\n", note.c_str());
  // Without a cursor address no form can be placed: a table would load as
  // if it worked and write every field at the cursor's last place.
  if (built.table.entries.size() < 2 || built.table.entries[1].empty())
    return Fail(args.terminal + " has no cursor addressing, which every program of the library needs; no table written");
  return Write(args, Serialize(built.table));
}
