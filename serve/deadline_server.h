// The HTTP server with a deadline on each request's arrival: a client must
// deliver a whole request (request line, headers and body) within a bounded
// time, however it spaces its bytes, or its connection is closed. The I/O
// timeout alone bounds only the pause between two bytes, so a client that
// sends one byte every few seconds would hold a worker for ever.
//
// Responses are not bounded: a result that streams for minutes is written
// under the write timeout only. The clock of the first request of a
// connection starts when a worker takes the connection up; that of a later
// request on a kept-alive connection, when its first byte is there.
//
// It replaces the library's per-connection step (the one the library's own
// TLS server replaces too) with one that reads through a stream of its own;
// everything else (parsing, routing, writing) stays the library's.
#ifndef SERVE_DEADLINE_SERVER_H_
#define SERVE_DEADLINE_SERVER_H_

#include <chrono>
#include <functional>
#include <string>

#include <httplib.h>

class DeadlineServer : public httplib::Server {
 public:
  // Called (from the connection's worker) when a request did not arrive
  // whole in time, with the client's address; the connection is then closed.
  using LateRequestHandler = std::function<void(const std::string& remote_addr)>;

  // Each request must arrive whole within `limit`; zero or less turns the
  // limit off (the library's own behaviour).
  DeadlineServer& set_request_timeout(std::chrono::milliseconds limit);
  DeadlineServer& set_late_request_handler(LateRequestHandler handler);

 private:
  class ConnectionStream;

  // Serves the requests of one connection, then closes it.
  bool process_and_close_socket(socket_t sock) override;
  // Waits until the next request's first byte is there (true), or the
  // keep-alive timeout passes or the server stops (false).
  bool WaitForNextRequest(const ConnectionStream& stream) const;

  std::chrono::milliseconds request_timeout_{0};
  LateRequestHandler late_request_handler_;
};

#endif  // SERVE_DEADLINE_SERVER_H_
