// The HTTP service: one server over a registry of forms, with its limits,
// its worker threads, its access log and the watcher that reloads forms.
//
// Limits: a request line of at most 8 KiB and header lines of at most
// 8 KiB (the HTTP library's), no request body beyond 64 KiB, a client that
// sends or reads nothing for `io_timeout_seconds` is cut off, so is one
// that has not sent a whole request `request_timeout_seconds` after it
// began (however it spaces its bytes; responses are not bounded), and at most
// `max_connections` connections are served at once (further ones wait in
// the kernel's queue until one ends).
#ifndef SERVE_SERVICE_H_
#define SERVE_SERVICE_H_

#include <cstdio>
#include <memory>
#include <string>

#include "form_registry.h"
#include "status.h"
#include "text_encoding.h"

struct ServiceOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port (see Service::port)
  TextEncoding encoding = TextEncoding::kCp437;
  int max_connections = 256;
  int io_timeout_seconds = 5;
  int request_timeout_seconds = 10;  // 0: no bound on a request's arrival
  int reload_interval_ms = 1000;
  FILE* access_log = stderr;  // one line per request; nullptr for none
};

class Service {
 public:
  // Binds the listening socket; fails naming the address when it cannot.
  static Status Start(const ServiceOptions& options, std::unique_ptr<FormRegistry> registry,
                      std::unique_ptr<Service>* service);
  ~Service();

  // The port bound (the one chosen when 0 was asked).
  int port() const;
  // Serves until Stop; returns when the last request in flight is answered.
  void Run();
  // Stops taking requests once the streamed responses in flight have
  // ended (waiting at most `drain_seconds` for them). Safe from any thread.
  void Stop(int drain_seconds = 30);

 private:
  struct Impl;
  explicit Service(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

#endif  // SERVE_SERVICE_H_
