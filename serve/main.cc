// query-serve: the document store on the web.
//
//   query-serve [--listen ADDR:PORT] [--store DIR] [--encoding cp437|latin1|utf8] FORM...
//
// `main` only parses the command line, sets the process up (signals) and
// wires the registry of forms to the service.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "escape.h"
#include "file_io.h"
#include "form_registry.h"
#include "service.h"

namespace {

constexpr char kUsage[] =
    "usage: query-serve [--listen ADDR:PORT] [--store DIR] [--encoding cp437|latin1|utf8] FORM...\n";

struct Arguments {
  ServiceOptions service;
  std::string store_dir = ".";
  std::vector<std::string> forms;
};

void PrintMessage(const std::string& message) {
  std::fprintf(stderr, "query-serve: %s\n", EscapeControlBytes(message).c_str());
}

bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > 65535) return false;
  *port = n;
  return true;
}

// "ADDR:PORT", "[ADDR]:PORT" or ":PORT" (the default address).
bool ParseListen(const std::string& text, ServiceOptions* options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || !ParsePort(text.substr(colon + 1), &options->port)) return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (!host.empty()) options->host = host;
  return true;
}

// Parses the command line; on a bad one prints why and returns false.
bool ParseCommandLine(int argc, char** argv, Arguments* args) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--listen" && has_value) {
      if (!ParseListen(argv[++i], &args->service)) {
        PrintMessage(std::string("--listen needs ADDR:PORT, not '") + argv[i] + "'");
        return false;
      }
    } else if (arg == "--store" && has_value) {
      args->store_dir = argv[++i];
    } else if (arg == "--encoding" && has_value) {
      if (!ParseTextEncoding(argv[++i], &args->service.encoding)) {
        PrintMessage(std::string("--encoding must be cp437, latin1 or utf8, not '") + argv[i] + "'");
        return false;
      }
    } else if (arg.rfind("--", 0) == 0) {
      PrintMessage("unknown option '" + arg + "'" + (has_value ? "" : " or its value missing"));
      return false;
    } else {
      args->forms.push_back(arg);
    }
  }
  if (args->forms.empty()) {
    std::fputs(kUsage, stderr);
    return false;
  }
  return true;
}

// SIGTERM and SIGINT are taken by one thread that stops the service; every
// other thread has them blocked. A client that goes away must not kill the
// process, so SIGPIPE is ignored and the write fails instead.
sigset_t BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);  // from main itself: the service has ended
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return set;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    std::fputs("\nServes the named forms of the store in DIR (default: the working directory)\n"
               "at http://ADDR:PORT/ (default 127.0.0.1:8080). See query-serve(1).\n",
               stdout);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs("query-serve 1.0\n", stdout);
    return 0;
  }
  Arguments args;
  if (!ParseCommandLine(argc, argv, &args)) return 2;
  const sigset_t stop_signals = BlockStopSignals();
  EnableMappedReads();
  try {
    std::unique_ptr<FormRegistry> registry;
    std::vector<std::string> warnings;
    Status s = FormRegistry::Open(args.store_dir, args.forms, &registry, &warnings);
    for (const std::string& w : warnings) PrintMessage(w);
    if (!s.ok()) {
      PrintMessage(s.message());
      return 1;
    }
    std::unique_ptr<Service> service;
    s = Service::Start(args.service, std::move(registry), &service);
    if (!s.ok()) {
      PrintMessage(s.message());
      return 1;
    }
    std::thread stopper([&] {
      int signal_number = 0;
      sigwait(&stop_signals, &signal_number);
      if (signal_number == SIGUSR1) return;
      PrintMessage(std::string("stopping on ") + (signal_number == SIGTERM ? "SIGTERM" : "SIGINT") +
                   ": finishing the requests in flight");
      service->Stop();
    });
    std::fprintf(stderr, "query-serve: serving %zu form(s) of '%s' at http://%s:%d/\n", args.forms.size(),
                 EscapeControlBytes(args.store_dir).c_str(), args.service.host.c_str(), service->port());
    service->Run();
    // Run returns after Stop, or when the listening socket fails; a stopper
    // still waiting is woken to end.
    pthread_kill(stopper.native_handle(), SIGUSR1);
    stopper.join();
    return 0;
  } catch (const std::exception& e) {
    PrintMessage(std::string("stopped by an unexpected failure: ") + e.what());
  }
  return 1;
}
